// Peak memory of the commands on the largest colour product: a counting allocator gives the
// peak of the heap above what was held before the command, and the kernel's high-water mark of
// resident memory (reset before each scenario) confirms it. The goal: a load followed by a
// corrected stack stays below 3 x the product's size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <string>

#include "BenchFixtures.h"
#include "assembly/PictureBuilder.h"
#include "product/EdrLoader.h"
#include "util/MemoryPolicy.h"

namespace {

size_t heapNow = 0;
size_t heapPeak = 0;

// Each block carries its size in front of it, so that a release knows what it gives back.
constexpr size_t kHeader = 16;

void* Take(size_t n) {
  void* block = std::malloc(n + kHeader);
  if (!block) return nullptr;
  *static_cast<size_t*>(block) = n;
  heapNow += n;
  if (heapNow > heapPeak) heapPeak = heapNow;
  return static_cast<char*>(block) + kHeader;
}

// The same for blocks aligned beyond the usual: the size sits `alignment` bytes in front.
void* TakeAligned(size_t n, std::align_val_t alignment) {
  const size_t a = std::max(static_cast<size_t>(alignment), kHeader);
  void* block = std::aligned_alloc(a, (n + a + a - 1) / a * a);
  if (!block) return nullptr;
  *static_cast<size_t*>(block) = n;
  heapNow += n;
  if (heapNow > heapPeak) heapPeak = heapNow;
  return static_cast<char*>(block) + a;
}

void GiveAligned(void* p, std::align_val_t alignment) noexcept {
  if (!p) return;
  const size_t a = std::max(static_cast<size_t>(alignment), kHeader);
  char* block = static_cast<char*>(p) - a;
  heapNow -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}

void Give(void* p) noexcept {
  if (!p) return;
  char* block = static_cast<char*>(p) - kHeader;
  heapNow -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}

}  // namespace

void* operator new(size_t n) {
  if (void* p = Take(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  if (void* p = Take(n)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  return Take(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept {
  return Take(n);
}
void operator delete(void* p) noexcept {
  Give(p);
}
void operator delete[](void* p) noexcept {
  Give(p);
}
void operator delete(void* p, size_t) noexcept {
  Give(p);
}
void operator delete[](void* p, size_t) noexcept {
  Give(p);
}
void* operator new(size_t n, std::align_val_t a) {
  if (void* p = TakeAligned(n, a)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n, std::align_val_t a) {
  if (void* p = TakeAligned(n, a)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return TakeAligned(n, a);
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return TakeAligned(n, a);
}
void operator delete(void* p, std::align_val_t a) noexcept {
  GiveAligned(p, a);
}
void operator delete[](void* p, std::align_val_t a) noexcept {
  GiveAligned(p, a);
}
void operator delete(void* p, size_t, std::align_val_t a) noexcept {
  GiveAligned(p, a);
}
void operator delete[](void* p, size_t, std::align_val_t a) noexcept {
  GiveAligned(p, a);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Give(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Give(p);
}

namespace {

using namespace quelmar;

// A field of /proc/self/status in kB ("VmHWM", "VmRSS"), or -1 when it cannot be read.
long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

// Lowers the resident high-water mark to the current resident size.
bool ResetResidentPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

struct Measured {
  double heapPeakBytes = 0;
  double residentPeakBytes = -1;
};

Measured Measure(const std::function<void()>& scenario) {
  const size_t heapBefore = heapNow;
  heapPeak = heapNow;
  const bool residentOk = ResetResidentPeak();
  const long rssBefore = StatusKb("VmRSS");
  scenario();
  Measured m;
  m.heapPeakBytes = static_cast<double>(heapPeak - heapBefore);
  const long hwm = StatusKb("VmHWM");
  if (residentOk && hwm >= 0 && rssBefore >= 0) m.residentPeakBytes = (hwm - rssBefore) * 1024.0;
  return m;
}

PictureRequest Corrected(int32_t band, bool vertical) {
  PictureRequest r;
  r.Stacked = true;
  r.VerticalTravel = 11;
  r.CorrectDistortion = true;
  r.CorrectVertically = vertical;
  r.ReadBand = [band] { return band; };
  r.ReadShift = [] { return 0; };
  r.SettingsPath = bench::DefaultSettingsPath();
  return r;
}

PictureRequest Raw() {
  return PictureRequest{};
}

}  // namespace

int main() {
  quelmar::KeepFreedMemoryForReuse();  // as the programs do
  constexpr double kGoal = 3.0;
  std::string path;
  int64_t productBytes = 0;
  int32_t band = 0;
  try {
    // Simulated, written and checked; everything the simulator held is released here.
    const bench::BenchProduct product =
        bench::MakeBenchProduct(bench::ColourShape(), bench::RunFolder().Path());
    path = product.path;
    productBytes = product.fileBytes;
    band = product.visibleBand;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "peak memory: cannot make the product: %s\n", e.what());
    return 1;
  }

  struct Scenario {
    const char* name;
    bool withRaw;
    bool vertical;
    bool hasGoal;
  };
  const Scenario scenarios[] = {
      {"load + corrected stack (horizontal)", false, false, true},
      {"load + corrected stack (horizontal and vertical)", false, true, true},
      {"load + raw + corrected stack (the window's order)", true, false, false},
  };
  std::printf("Peak memory above the start, %s (%.1f MB):\n", path.c_str(), productBytes / 1e6);
  bool allMet = true;
  for (const Scenario& s : scenarios) {
    bool shown = false;
    const Measured m = Measure([&] {
      LoadedProduct loaded;
      bench::SilentPort port;
      DisplayedImageInfo info;
      Picture picture;
      if (LoadEdrProduct(path, loaded, port, nullptr) != LoadOutcome::ImageRead) return;
      if (s.withRaw) DisplayImage(loaded, Raw(), port, info, picture);
      shown = DisplayImage(loaded, Corrected(band, s.vertical), port, info, picture) ==
              DisplayOutcome::Shown;
    });
    const double ratio = m.heapPeakBytes / static_cast<double>(productBytes);
    const bool met = ratio < kGoal;
    if (s.hasGoal) allMet = allMet && met && shown;
    std::printf("  %-52s heap %7.1f MB = %.2f x product", s.name, m.heapPeakBytes / 1e6, ratio);
    if (m.residentPeakBytes >= 0) std::printf(", resident +%.1f MB", m.residentPeakBytes / 1e6);
    if (!shown) std::printf("  [the picture was not built]");
    if (s.hasGoal) std::printf("  goal < %.0f x: %s", kGoal, met ? "met" : "MISSED");
    std::printf("\n");
  }
  return allMet ? 0 : 3;
}
