#pragma once
// The physical floor of each benchmark case, measured in the same run as the case: what the
// memory (or the page cache) needs to move the bytes the case must move, with no work of ours.
// Each case is reported as the ratio of its time to its floor, so the figure holds on a machine
// whose speed varies from run to run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quelmar::bench {

// Seconds of one memcpy of `bytes` between two buffers that are already mapped (the memory's
// speed, with no page faults), at places the previous copies left alone, so that a small floor
// is not timed from the processor's cache.
double MemcpyFloorSeconds(size_t bytes);

// Seconds to read the whole file once from the page cache in 1 MiB blocks into one buffer.
double ReadFileFloorSeconds(const std::string& path);

// Seconds to open the file for appending, write `text` and close it (the file grows by it).
double AppendFloorSeconds(const std::string& path, const std::string& text);

// Seconds to save `bytes` safely over the file at `path` by plain calls: one write to a new file
// beside it, then a rename over it (what the file system needs for a save that never leaves a
// half-written file).
double ReplaceFileFloorSeconds(const std::string& path, const std::string& bytes);

// Pairs of (case seconds, floor seconds), one per iteration, each floor measured right after its
// case so both see the same machine.
class FloorPairs {
 public:
  void Add(double caseSeconds, double floorSeconds);
  size_t Size() const { return cases_.size(); }
  // Medians: of the case times, of the floor times, and of the per-pair ratios (0 when empty).
  double MedianCase() const;
  double MedianFloor() const;
  double MedianRatio() const;

 private:
  std::vector<double> cases_, floors_, ratios_;
};

double Median(std::vector<double> values);

}  // namespace quelmar::bench
