#include "Floors.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "util/Errors.h"

namespace quelmar::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Each floor is the best of a few runs: a floor is what the machine can do, and one slow moment
// must not make a case look fast.
constexpr int kFloorRepeats = 3;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Keeps the compiler from dropping a copy whose result is never read.
void Touch(const void* p) {
  asm volatile("" : : "g"(p) : "memory");
}

// Small memcpy floors copy between places that the copies just before did not touch. A case's
// bytes come from a product far larger than the processor core's own cache; a floor that copied
// the same small block three times over would time that cache instead, several times faster
// than memory (an ultraviolet strip's 0.7 MB picture: 14 us from it, 70 to 100 us otherwise).
// Floors of more than kRotatedCopy bytes cannot sit in a core's cache and copy at the buffers'
// start every time.
constexpr size_t kRotatedCopy = size_t{4} << 20;
constexpr size_t kCopySpan = size_t{16} << 20;
constexpr size_t kPage = 4096;

// Two buffers, grown on demand and kept for the run, every page written once so that the floor
// pays no page faults.
struct CopyBuffers {
  std::unique_ptr<unsigned char[]> from, to;
  size_t size = 0;

  void Reserve(size_t bytes) {
    if (bytes <= size) return;
    from.reset(new unsigned char[bytes]);
    to.reset(new unsigned char[bytes]);
    std::memset(from.get(), 0x5A, bytes);
    std::memset(to.get(), 0, bytes);
    size = bytes;
  }
};

CopyBuffers& Buffers() {
  static CopyBuffers buffers;
  return buffers;
}

FileError FloorFileError(const std::string& what, const std::string& path) {
  return FileError("Cannot " + what + " " + path +
                   " for a floor measurement: " + std::strerror(errno));
}

double ReadFileOnce(const std::string& path) {
  constexpr size_t kBlock = size_t{1} << 20;
  CopyBuffers& b = Buffers();
  b.Reserve(kBlock);
  const Clock::time_point start = Clock::now();
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) throw FloorFileError("open", path);
  for (;;) {
    const ssize_t got = read(fd, b.to.get(), kBlock);
    if (got < 0) {
      close(fd);
      throw FloorFileError("read", path);
    }
    if (got == 0) break;
    Touch(b.to.get());
  }
  close(fd);
  return SecondsSince(start);
}

// The best time of kFloorRepeats runs of `once` (each giving its own seconds).
template <typename Once>
double BestOf(const Once& once) {
  double best = 0;
  for (int i = 0; i < kFloorRepeats; ++i) {
    const double seconds = once();
    if (i == 0 || seconds < best) best = seconds;
  }
  return best;
}

}  // namespace

double MemcpyFloorSeconds(size_t bytes) {
  CopyBuffers& b = Buffers();
  const bool rotated = bytes <= kRotatedCopy;
  b.Reserve(std::max<size_t>({bytes, rotated ? kCopySpan : 0, 1}));
  static size_t next = 0;  // where the next small copy starts, in both buffers
  return BestOf([&] {
    size_t at = 0;
    if (rotated) {
      if (next + bytes > kCopySpan) next = 0;
      at = next;
      next += (bytes + kPage - 1) / kPage * kPage;
    }
    const Clock::time_point start = Clock::now();
    std::memcpy(b.to.get() + at, b.from.get() + at, bytes);
    Touch(b.to.get() + at);
    return SecondsSince(start);
  });
}

double ReadFileFloorSeconds(const std::string& path) {
  return BestOf([&] { return ReadFileOnce(path); });
}

double AppendFloorSeconds(const std::string& path, const std::string& text) {
  const Clock::time_point start = Clock::now();
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (fd < 0) throw FloorFileError("open", path);
  const ssize_t wrote = write(fd, text.data(), text.size());
  close(fd);
  if (wrote != static_cast<ssize_t>(text.size())) throw FloorFileError("append to", path);
  return SecondsSince(start);
}

double ReplaceFileFloorSeconds(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".floor-tmp";
  return BestOf([&] {
    const Clock::time_point start = Clock::now();
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw FloorFileError("create", temporary);
    const ssize_t wrote = write(fd, bytes.data(), bytes.size());
    close(fd);
    if (wrote != static_cast<ssize_t>(bytes.size())) throw FloorFileError("write", temporary);
    if (rename(temporary.c_str(), path.c_str()) != 0) throw FloorFileError("rename over", path);
    return SecondsSince(start);
  });
}

void FloorPairs::Add(double caseSeconds, double floorSeconds) {
  cases_.push_back(caseSeconds);
  floors_.push_back(floorSeconds);
  ratios_.push_back(floorSeconds > 0 ? caseSeconds / floorSeconds : 0.0);
}

double FloorPairs::MedianCase() const {
  return Median(cases_);
}
double FloorPairs::MedianFloor() const {
  return Median(floors_);
}
double FloorPairs::MedianRatio() const {
  return Median(ratios_);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
  const double upper = values[mid];
  if (values.size() % 2 != 0) return upper;
  const double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2.0;
}

}  // namespace quelmar::bench
