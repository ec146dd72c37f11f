// The colour picture of the largest colour product (816 framelets, 45 MB): three bands read at
// sub-pixel positions, registered and combined, against the time of one corrected stack of its
// reference band, measured right after it. Goal: at most 4 times that stack. The product's own
// travel (11 rows) repeats every framelet, so rows read alike; a travel as the finder reports it
// (a fraction of a row, a horizontal travel) never repeats: both are measured.
#include <benchmark/benchmark.h>

#include <chrono>
#include <exception>
#include <string>

#include "BenchFixtures.h"
#include "Floors.h"
#include "assembly/ColourComposite.h"
#include "assembly/PictureBuilder.h"
#include "util/Errors.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kColourGoal = 4.0;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void ColourCase(benchmark::State& state, bool corrected, int32_t threads, Real vertical,
                Real horizontal) {
  const BenchProduct& product = ColourProduct();
  ColourRequest colour;
  colour.Bands = {7, 5, 3};
  colour.VerticalTravel = vertical;
  colour.HorizontalTravel = horizontal;
  colour.CorrectDistortion = colour.CorrectVertically = corrected;
  colour.SettingsPath = DefaultSettingsPath();
  colour.Threads = threads;
  PictureRequest stack;
  stack.Stacked = true;
  stack.VerticalTravel = vertical;
  stack.HorizontalTravel = horizontal;
  stack.CorrectDistortion = stack.CorrectVertically = corrected;
  stack.ReadBand = [] { return 5; };
  stack.ReadShift = [] { return 0; };
  stack.SettingsPath = DefaultSettingsPath();
  SilentPort port;
  DisplayedImageInfo shown;
  Picture picture;
  FloorPairs pairs;
  int64_t bytes = 0;
  try {
    for (auto _ : state) {
      const Clock::time_point start = Clock::now();
      const ColourResult result = BuildColourComposite(product.loaded, colour, port);
      const double caseSeconds = Seconds(start);
      state.PauseTiming();
      if (!result.Channels[0].Measured || !result.Channels[2].Measured) {
        throw QuelmarError("check failed: both channels are registered by measurement");
      }
      bytes = int64_t{result.Image.Stride()} * result.Image.Height();
      const Clock::time_point stackStart = Clock::now();
      DisplayImage(product.loaded, stack, port, shown, picture);
      pairs.Add(caseSeconds, Seconds(stackStart));
      state.ResumeTiming();
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.counters["floor_ratio"] = pairs.MedianRatio();
  state.counters["goal"] = kColourGoal;
  state.counters["case_ms"] = pairs.MedianCase() * 1e3;
  state.counters["floor_ms"] = pairs.MedianFloor() * 1e3;
  state.counters["bytes"] = static_cast<double>(bytes);
}

// Registered with the other cases' settings: milliseconds, real time. The picture is sampled
// by every core, and (the ".../one-core" cases) by one.
const bool kRegistered = [] {
  for (const bool fractional : {false, true}) {
    for (const bool corrected : {true, false}) {
      for (const int32_t threads : {0, 1}) {
        const std::string name = std::string(corrected ? "ColourCorrectedHV/CE" : "Colour/CE") +
                                 (fractional ? "/fractional-travel" : "") + "/against-stack" +
                                 (threads == 1 ? "/one-core" : "");
        const Real vertical = fractional ? 10.874L : 11, horizontal = fractional ? -0.312L : 0;
        benchmark::RegisterBenchmark(
            name.c_str(),
            [=](benchmark::State& s) { ColourCase(s, corrected, threads, vertical, horizontal); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
    }
  }
  return true;
}();

}  // namespace
}  // namespace quelmar::bench
