// The colour picture of the largest colour product (816 framelets, 45 MB): three bands read at
// sub-pixel positions, registered and combined, against the time of one corrected stack of its
// reference band, measured right after it. Goal: at most 4 times that stack. A travel of whole
// rows (11) repeats every framelet, so rows read alike; a travel with a fraction of a row and a
// horizontal travel (10.874, -0.312) comes back to the same cells only every few framelets, in
// each of 64; and the travel Find travel measures for this product (about 11.3 and -0.001, as
// the travel fields take it, to three decimals): all three are measured.
#include <benchmark/benchmark.h>

#include <chrono>
#include <exception>
#include <string>
#include <tuple>
#include <utility>

#include "BenchFixtures.h"
#include "Floors.h"
#include "assembly/ColourComposite.h"
#include "assembly/PictureBuilder.h"
#include "assembly/TravelFinder.h"
#include "util/Errors.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kColourGoal = 4.0;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void ColourCase(benchmark::State& state, bool corrected, int32_t threads, Real vertical,
                Real horizontal, bool stretch = false) {
  const BenchProduct& product = ColourProduct();
  ColourRequest colour;
  colour.Bands = {7, 5, 3};
  colour.VerticalTravel = vertical;
  colour.HorizontalTravel = horizontal;
  colour.CorrectDistortion = colour.CorrectVertically = corrected;
  colour.SettingsPath = DefaultSettingsPath();
  colour.Threads = threads;
  colour.Stretch.Enabled = stretch;  // the default percentiles
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
  // The colour picture is built into one picture every time, as the window builds it into the
  // one it shows (and as the stack below refills its own).
  Picture built;
  FloorPairs pairs;
  int64_t bytes = 0;
  try {
    for (auto _ : state) {
      const Clock::time_point start = Clock::now();
      const ColourResult result = BuildColourComposite(product.loaded, colour, port, built);
      const double caseSeconds = Seconds(start);
      state.PauseTiming();
      if (!result.Channels[0].Measured || !result.Channels[2].Measured) {
        throw QuelmarError("check failed: both channels are registered by measurement");
      }
      bytes = int64_t{built.Stride()} * built.Height();
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
enum class Travel { Whole, Fractional, Found };

// The travel Find travel measures for the product's reference band, in the stack's layout, to
// the three decimals the travel fields show.
std::pair<Real, Real> FoundTravel(bool corrected) {
  StripGeometry geometry;
  geometry.Band = 5;
  geometry.CorrectDistortion = geometry.CorrectVertically = corrected;
  geometry.SettingsPath = DefaultSettingsPath();
  SilentPort port;
  const TravelEstimate e = MeasureTravel(ColourProduct().loaded, geometry, port);
  if (!e.Found) throw QuelmarError("the travel was not found: " + e.Reason);
  return {TravelAsShown(e.Vertical), TravelAsShown(e.Horizontal)};
}

const bool kRegistered = [] {
  for (const Travel travel : {Travel::Whole, Travel::Fractional, Travel::Found}) {
    for (const bool corrected : {true, false}) {
      for (const int32_t threads : {0, 1}) {
        const std::string name = std::string(corrected ? "ColourCorrectedHV/CE" : "Colour/CE") +
                                 (travel == Travel::Fractional ? "/fractional-travel"
                                  : travel == Travel::Found    ? "/found-travel"
                                                               : "") +
                                 "/against-stack" + (threads == 1 ? "/one-core" : "");
        benchmark::RegisterBenchmark(name.c_str(),
                                     [=](benchmark::State& s) {
                                       Real vertical = 11, horizontal = 0;
                                       if (travel == Travel::Fractional) {
                                         vertical = 10.874L;
                                         horizontal = -0.312L;
                                       } else if (travel == Travel::Found) {
                                         try {
                                           std::tie(vertical, horizontal) = FoundTravel(corrected);
                                         } catch (const std::exception& e) {
                                           s.SkipWithError(e.what());
                                           return;
                                         }
                                       }
                                       ColourCase(s, corrected, threads, vertical, horizontal);
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
    }
  }
  // Enhanced colour: the fractional travel, every channel stretched between its percentiles.
  benchmark::RegisterBenchmark(
      "ColourCorrectedHV/CE/fractional-travel/stretched/against-stack",
      [](benchmark::State& s) { ColourCase(s, true, 0, 10.874L, -0.312L, true); })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  return true;
}();

}  // namespace
}  // namespace quelmar::bench
