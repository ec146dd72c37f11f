// Saving as PNG and making the view's reduced copies, on the colour product at its real size.
// No goals: reported beside the memcpy floor of the picture's bytes, for comparison with the
// bitmap cases.
#include <benchmark/benchmark.h>

#include <chrono>
#include <exception>
#include <stdexcept>
#include <vector>

#include "BenchFixtures.h"
#include "Floors.h"
#include "assembly/PictureBuilder.h"
#include "assembly/ReducedCopies.h"
#include "output/PngWriter.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The colour product's raw picture, or its visible band stacked with a travel of 11.
Picture ColourPicture(bool stacked) {
  const BenchProduct& product = ColourProduct();
  PictureRequest request;
  request.VerticalTravel = stacked ? 11 : product.loaded.FrameletHeight;
  request.Stacked = stacked;
  const int32_t band = product.visibleBand;
  request.ReadBand = [band] { return band; };
  request.ReadShift = [] { return 0; };
  Picture picture;
  SilentPort port;
  DisplayedImageInfo shown;
  if (DisplayImage(product.loaded, request, port, shown, picture) != DisplayOutcome::Shown)
    throw std::runtime_error("the picture is not shown");
  return picture;
}

template <typename Work>
void Timed(benchmark::State& state, const Picture& picture, Work work) {
  const auto bytes = static_cast<size_t>(picture.Stride()) * picture.Height();
  std::vector<double> cases, floors, ratios;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    work();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.PauseTiming();
    const double floor = MemcpyFloorSeconds(bytes);
    cases.push_back(seconds);
    floors.push_back(floor);
    ratios.push_back(seconds / floor);
    state.ResumeTiming();
  }
  state.counters["floor_ratio"] = Median(ratios);
  state.counters["goal"] = 0;
  state.counters["case_ms"] = Median(cases) * 1e3;
  state.counters["floor_ms"] = Median(floors) * 1e3;
  state.counters["bytes"] = static_cast<double>(bytes);
}

void PngEncodeCase(benchmark::State& state, bool stacked) {
  try {
    const Picture picture = ColourPicture(stacked);
    size_t size = 0;
    Timed(state, picture, [&] { size = EncodePng(picture).size(); });
    state.counters["png_bytes"] = static_cast<double>(size);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void CopiesCase(benchmark::State& state) {
  try {
    const Picture picture = ColourPicture(false);
    Timed(state, picture, [&] {
      ReducedCopies copies;
      copies.Reset(&picture);
      copies.BuildAll();
    });
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

BENCHMARK_CAPTURE(PngEncodeCase, CE415, true)
    ->Name("PngEncode/CE415")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(PngEncodeCase, CEraw, false)
    ->Name("PngEncode/CE raw")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(CopiesCase)->Name("ReducedCopies/CE raw")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quelmar::bench
