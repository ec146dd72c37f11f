// The picture view's speed, offscreen: a repaint of the whole picture frame at every zoom, and
// a travel step (a corrected stack built again and repainted). Each case's goal is a time
// budget; the counters say it as the table script reads them:
//   case_ms      median time of one repaint (or step)
//   floor_ms     the budget (16 ms: one frame at 60 Hz; 50 ms for a travel step)
//   floor_ratio  case_ms / floor_ms, to stay within goal = 1
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchFixtures.h"
#include "BenchRegister.h"
#include "app/PictureView.h"
#include "assembly/PictureBuilder.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The picture frame at the designed window size.
constexpr int kFrameWidth = 833;
constexpr int kFrameHeight = 393;
constexpr double kRepaintBudgetMs = 16;
constexpr double kStepBudgetMs = 50;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void Report(benchmark::State& state, const std::vector<double>& ms, double budget) {
  const double median = Median(ms);
  state.counters["case_ms"] = median;
  state.counters["floor_ms"] = budget;
  state.counters["floor_ratio"] = median / budget;
  state.counters["goal"] = 1;
  state.counters["bytes"] = 0;
}

// The part of the view in the frame when the frame shows the middle of the picture.
QRect MiddleOfView(const PictureView& view) {
  const int x = std::max(0, (view.width() - kFrameWidth) / 2);
  const int y = std::max(0, (view.height() - kFrameHeight) / 2);
  return {x, y, kFrameWidth, kFrameHeight};
}

// One repaint: the frame's area of the view drawn onto a frame-sized screen image.
void Repaint(PictureView& view, QImage& screen) {
  const QRect area = MiddleOfView(view);
  QPainter painter(&screen);
  painter.translate(-area.topLeft());
  view.Draw(painter, area);
}

PictureRequest RawRequest(const LoadedProduct& p) {
  PictureRequest request;
  request.VerticalTravel = p.FrameletHeight;
  return request;
}

PictureRequest CorrectedStack(int32_t band, double travel) {
  PictureRequest request;
  request.Stacked = true;
  request.VerticalTravel = travel;
  request.CorrectDistortion = true;
  request.ReadBand = [band] { return band; };
  request.ReadShift = [] { return 0; };
  request.SettingsPath = DefaultSettingsPath();
  return request;
}

const Picture& RawColourPicture() {
  static const Picture picture = [] {
    Picture p;
    SilentPort port;
    DisplayedImageInfo shown;
    const LoadedProduct& product = ColourProduct().loaded;
    if (DisplayImage(product, RawRequest(product), port, shown, p) != DisplayOutcome::Shown)
      throw std::runtime_error("the raw picture is not shown");
    return p;
  }();
  return picture;
}

void RepaintCase(benchmark::State& state, double zoom) {
  PictureView view;
  view.ShowPicture(RawColourPicture());
  view.SetZoom(zoom);
  QImage screen(kFrameWidth, kFrameHeight, QImage::Format_RGB32);
  Repaint(view, screen);  // the first repaint at a zoom builds the reduced copies it needs
  std::vector<double> ms;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    Repaint(view, screen);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  Report(state, ms, kRepaintBudgetMs);
}

// A travel step: the corrected stack of the visible band built again at a travel 0.05 further,
// shown and repainted, at 1:1 and with the whole picture in the frame.
void TravelStepCase(benchmark::State& state, bool whole) {
  const BenchProduct& product = ColourProduct();
  SilentPort port;
  DisplayedImageInfo shown;
  Picture picture;
  PictureView view;
  double travel = 11;
  DisplayImage(product.loaded, CorrectedStack(product.visibleBand, travel), port, shown, picture);
  view.ShowPicture(picture);
  if (whole) {
    view.SetZoom(std::min(kFrameWidth / static_cast<double>(picture.Width()),
                          kFrameHeight / static_cast<double>(picture.Height())));
  }
  QImage screen(kFrameWidth, kFrameHeight, QImage::Format_RGB32);
  std::vector<double> ms;
  for (auto _ : state) {
    travel = travel >= 12 ? 10 : travel + 0.05;
    const Clock::time_point start = Clock::now();
    if (DisplayImage(product.loaded, CorrectedStack(product.visibleBand, travel), port, shown,
                     picture) != DisplayOutcome::Shown) {
      state.SkipWithError("the corrected stack is not shown");
      return;
    }
    view.ShowPicture(picture);
    Repaint(view, screen);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  Report(state, ms, kStepBudgetMs);
}

void RegisterAll() {
  // From the whole 63,648-row strip in the frame to 16 screen pixels per picture pixel.
  const std::pair<const char*, double> zooms[] = {{"whole", kFrameHeight / 63648.0},
                                                  {"1/16", 1 / 16.0},
                                                  {"0.3", 0.3},
                                                  {"1/2", 0.5},
                                                  {"0.8", 0.8},
                                                  {"1:1", 1},
                                                  {"2.5", 2.5},
                                                  {"16", 16}};
  for (const auto& [name, zoom] : zooms) {
    RegisterCase(std::string("Repaint/CE raw/zoom:") + name,
                 [zoom = zoom](benchmark::State& s) { RepaintCase(s, zoom); });
  }
  RegisterCase("TravelStep/CE corrected/zoom:1:1",
               [](benchmark::State& s) { TravelStepCase(s, false); });
  RegisterCase("TravelStep/CE corrected/zoom:whole",
               [](benchmark::State& s) { TravelStepCase(s, true); });
}

}  // namespace
}  // namespace quelmar::bench

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  quelmar::bench::RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
