// Measuring the travel of the largest colour product's visible band, against stacking that band
// with the same options: the command users run before the stack should take no longer than it.
// The travel is measured on every core and, in the OneCore cases, on one. The CE321 case does the
// same for its first ultraviolet band: a stack of its thin binned strips takes a fraction of a
// millisecond, while its travel is matched against the neighbouring band over every span of
// some twenty framelets.
// Counters as in CommandBench.cpp, with the stack in the place of the floor:
//   floor_ratio  median over iterations of (travel time / stack time); goal 1
//   case_ms      median travel time; floor_ms median stack time; bytes the stack's picture
#include <benchmark/benchmark.h>

#include <chrono>
#include <exception>
#include <string>

#include "BenchFixtures.h"
#include "Floors.h"
#include "assembly/PictureBuilder.h"
#include "assembly/TravelFinder.h"
#include "util/Errors.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kStackGoal = 1.0;

double SecondsOf(const std::function<void()>& run) {
  const Clock::time_point start = Clock::now();
  run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void TravelCase(benchmark::State& state, bool correct, int32_t threads, bool ultraviolet) {
  const BenchProduct& product = ColourProduct();
  const int32_t band = ultraviolet ? product.uvBand : product.visibleBand;
  StripGeometry geometry;
  geometry.Band = band;
  geometry.CorrectDistortion = correct;
  geometry.CorrectVertically = correct;
  geometry.SettingsPath = DefaultSettingsPath();
  PictureRequest stack;
  stack.Stacked = true;
  stack.VerticalTravel = ultraviolet ? 2.75L : 11;  // binned 4 x 4: a quarter of the travel
  stack.CorrectDistortion = correct;
  stack.CorrectVertically = correct;
  stack.ReadBand = [band] { return band; };
  stack.ReadShift = [] { return 0; };
  stack.SettingsPath = DefaultSettingsPath();
  SilentPort port;
  DisplayedImageInfo shown;
  Picture picture;
  // The bench product flies at the simulator's default travel: the measure must find it.
  const TravelEstimate first = MeasureTravel(product.loaded, geometry, port);
  if (!first.Found || first.PairsUsed < first.Pairs * 9 / 10) {
    state.SkipWithError(("the travel was not found: " + first.Reason).c_str());
    return;
  }
  FloorPairs pairs;
  for (auto _ : state) {
    const double travel = SecondsOf([&] {
      benchmark::DoNotOptimize(MeasureTravel(product.loaded, geometry, port, threads).Vertical);
    });
    state.PauseTiming();
    pairs.Add(travel,
              SecondsOf([&] { DisplayImage(product.loaded, stack, port, shown, picture); }));
    state.ResumeTiming();
  }
  state.counters["floor_ratio"] = pairs.MedianRatio();
  state.counters["goal"] = kStackGoal;
  state.counters["case_ms"] = pairs.MedianCase() * 1e3;
  state.counters["floor_ms"] = pairs.MedianFloor() * 1e3;
  state.counters["bytes"] = static_cast<double>(int64_t{picture.Stride()} * picture.Height());
  state.counters["vertical"] = static_cast<double>(first.Vertical);
}

void Register(const char* name, bool correct, int32_t threads, bool ultraviolet = false) {
  benchmark::RegisterBenchmark(name,
                               [correct, threads, ultraviolet](benchmark::State& state) {
                                 try {
                                   TravelCase(state, correct, threads, ultraviolet);
                                 } catch (const std::exception& e) {
                                   state.SkipWithError(e.what());
                                 }
                               })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

// Registered before the main runs, beside the commands' own cases.
const bool kRegistered = [] {
  Register("TravelVsStack/CE415", false, 0);
  Register("TravelVsStackCorrectedHV/CE415", true, 0);
  // The same on one core.
  Register("TravelVsStackOneCore/CE415", false, 1);
  Register("TravelVsStackCorrectedHVOneCore/CE415", true, 1);
  Register("TravelVsStackCorrectedHV/CE321", true, 0, true);
  return true;
}();

}  // namespace
}  // namespace quelmar::bench
