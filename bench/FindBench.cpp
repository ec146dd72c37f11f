// The search by place and light over an index of archive length: 500,000 synthetic lines (about
// 450 MB), written once by the simulator into the bench build folder and kept there. The floor
// is one plain sequential read of the same file from the page cache. The resident memory's
// high-water mark during the search is reported beside the time: the index is streamed, so it
// must stay flat whatever the file's size.
//   peak_rss_mb    the process's resident peak during the search
//   rss_growth_mb  that peak above the resident memory before the search
#include <benchmark/benchmark.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "Floors.h"
#include "SyntheticIndex.h"
#include "support/IndexSearch.h"
#include "util/Errors.h"
#include "util/Paths.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kIndexLines = 500000;
constexpr uint32_t kIndexSeed = 7;
constexpr double kFindGoal = 2.0;  // search against one read of the file

// A field of /proc/self/status in kB, or -1.
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  return -1;
}

// The index, made on first use (about 20 s) and kept for later runs.
const std::string& FindIndexPath() {
  static const std::string path = [] {
    const std::string folder = ExecutableFolder() + "../bench-data/";
    std::filesystem::create_directories(FsPath(folder));
    const std::string file = folder + "CUMINDEX-" + std::to_string(kIndexLines) + ".TAB";
    const std::optional<int64_t> size = FileSize(file);
    if (!size || *size < kIndexLines * 880) sim::WriteSyntheticIndex(file, kIndexLines, kIndexSeed);
    return file;
  }();
  return path;
}

void FindCase(benchmark::State& state, bool nearIncidence) {
  try {
    const std::string& path = FindIndexPath();
    const std::optional<int64_t> bytes = FileSize(path);
    SearchRequest request;
    request.point = {10, 100};
    if (nearIncidence) {
      request.nearIncidence = 45;
      request.emissionMax = 60;
      request.kinds = kKindCE | kKindVE;
    }
    ReadFileFloorSeconds(path);  // into the page cache
    FloorPairs pairs;
    double peakMb = 0, growthMb = 0;
    int64_t hits = 0;
    for (auto _ : state) {
      const long rssBefore = StatusKb("VmRSS");
      {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";  // the resident high-water mark starts again from here
      }
      const Clock::time_point start = Clock::now();
      const SearchResult result = SearchIndex(path, request);
      const double caseSeconds = std::chrono::duration<double>(Clock::now() - start).count();
      const long hwm = StatusKb("VmHWM");
      state.PauseTiming();
      if (result.lines != kIndexLines || result.skippedLines != 0 || result.matches == 0) {
        throw QuelmarError("the search did not read the synthetic index as written");
      }
      hits = result.matches;
      peakMb = std::max(peakMb, hwm / 1024.0);
      growthMb = std::max(growthMb, (hwm - rssBefore) / 1024.0);
      pairs.Add(caseSeconds, ReadFileFloorSeconds(path));
      state.ResumeTiming();
    }
    state.counters["floor_ratio"] = pairs.MedianRatio();
    state.counters["goal"] = kFindGoal;
    state.counters["case_ms"] = pairs.MedianCase() * 1e3;
    state.counters["floor_ms"] = pairs.MedianFloor() * 1e3;
    state.counters["bytes"] = static_cast<double>(bytes.value_or(0));
    state.counters["hits"] = static_cast<double>(hits);
    state.counters["peak_rss_mb"] = peakMb;
    state.counters["rss_growth_mb"] = growthMb;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.value_or(0));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

const bool kRegistered = [] {
  benchmark::RegisterBenchmark("Find/index:500000", [](benchmark::State& s) { FindCase(s, false); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("Find/index:500000/filtered,near",
                               [](benchmark::State& s) { FindCase(s, true); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  return true;
}();

}  // namespace
}  // namespace quelmar::bench
