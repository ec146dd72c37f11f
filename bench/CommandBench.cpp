// Every command users wait for, at the sizes they load, each beside its physical floor measured
// in the same run. Counters of each case:
//   floor_ratio  median over iterations of (case time / floor time), the figure that matters
//   goal         the ratio the case should stay within (0: no goal, reported only)
//   case_ms      median case time; floor_ms median floor time
//   bytes        the bytes the floor moves
#include <benchmark/benchmark.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "BenchFixtures.h"
#include "BenchRegister.h"
#include "Floors.h"
#include "assembly/PictureBuilder.h"
#include "output/BmpWriter.h"
#include "output/CalibrationFile.h"
#include "output/SaveCommand.h"
#include "product/EdrLoader.h"
#include "support/IndexLookup.h"
#include "util/Errors.h"
#include "util/MemoryPolicy.h"

namespace quelmar::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kCopyGoal = 3.0;       // load, raw, stack, BMP
constexpr double kCorrectedGoal = 4.0;  // corrected stacks
constexpr double kSupportGoal = 2.0;    // index lookup against one read of the file
constexpr double kNoGoal = 0.0;

// Runs `run` once per iteration and its floor right after it, then reports the pair's medians.
void AgainstFloor(benchmark::State& state, double goal, int64_t floorBytes,
                  const std::function<void()>& run, const std::function<double()>& floor) {
  FloorPairs pairs;
  try {
    for (auto _ : state) {
      const Clock::time_point start = Clock::now();
      run();
      const double caseSeconds = std::chrono::duration<double>(Clock::now() - start).count();
      state.PauseTiming();
      pairs.Add(caseSeconds, floor());
      state.ResumeTiming();
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  state.counters["floor_ratio"] = pairs.MedianRatio();
  state.counters["goal"] = goal;
  state.counters["case_ms"] = pairs.MedianCase() * 1e3;
  state.counters["floor_ms"] = pairs.MedianFloor() * 1e3;
  state.counters["bytes"] = static_cast<double>(floorBytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * floorBytes);
}

std::function<double()> MemcpyFloor(int64_t bytes) {
  return [bytes] { return MemcpyFloorSeconds(static_cast<size_t>(bytes)); };
}

int64_t PictureBytes(const Picture& picture) {
  return int64_t{picture.Stride()} * picture.Height();
}

// Fails the case (without timing it) when a result is not what the command must give.
void Require(bool ok, const std::string& what) {
  if (!ok) throw QuelmarError("check failed: " + what);
}

struct Stack {
  int32_t band = 0;
  double travel = 11;
  bool correct = false;
  bool vertical = false;
};

PictureRequest RequestFor(const Stack* stack) {
  PictureRequest request;
  if (stack) {
    request.Stacked = true;
    request.VerticalTravel = stack->travel;
    request.CorrectDistortion = stack->correct;
    request.CorrectVertically = stack->vertical;
    const int32_t band = stack->band;
    request.ReadBand = [band] { return band; };
    request.ReadShift = [] { return 0; };
    request.SettingsPath = DefaultSettingsPath();
  }
  return request;
}

// Builds the picture once and checks its size: raw pictures hold every framelet, stacks
// Round((FrameletCount - 1) x travel) + H rows.
void BuildChecked(const BenchProduct& product, const PictureRequest& request, Picture& picture) {
  SilentPort port;
  DisplayedImageInfo shown;
  Require(DisplayImage(product.loaded, request, port, shown, picture) == DisplayOutcome::Shown,
          "the picture is shown");
  const LoadedProduct& p = product.loaded;
  if (!request.Stacked) {
    Require(
        picture.Width() == p.Rows.Width() && picture.Height() == p.FrameletCount * p.FrameletHeight,
        "raw picture size");
  } else {
    Require(shown.Stacked && picture.Height() > p.FrameletCount &&
                picture.Width() >= p.Rows.Width() / 8,
            "stacked picture size");
  }
}

void LoadCase(benchmark::State& state, const BenchProduct& (*which)()) {
  const BenchProduct& product = which();
  LoadedProduct loaded;
  SilentPort port;
  AgainstFloor(
      state, kCopyGoal, product.fileBytes,
      [&] {
        Require(LoadEdrProduct(product.path, loaded, port, nullptr) == LoadOutcome::ImageRead &&
                    loaded.RowCount == product.loaded.RowCount,
                "the product loads");
      },
      MemcpyFloor(product.fileBytes));
}

// The first load of a session: the image block is fresh memory, which the system must map page
// by page. No goal: that cost is the system's, not the loader's.
void FreshLoadCase(benchmark::State& state) {
  const BenchProduct& product = ColourProduct();
  auto loaded = std::make_unique<LoadedProduct>();
  SilentPort port;
  AgainstFloor(
      state, kNoGoal, product.fileBytes,
      [&] {
        Require(LoadEdrProduct(product.path, *loaded, port, nullptr) == LoadOutcome::ImageRead,
                "the product loads");
      },
      [&] {
        loaded = std::make_unique<LoadedProduct>();
        return MemcpyFloorSeconds(static_cast<size_t>(product.fileBytes));
      });
}

void PictureCase(benchmark::State& state, const BenchProduct& (*which)(), Stack stack, bool stacked,
                 double goal) {
  const BenchProduct& product = which();
  const PictureRequest request = RequestFor(stacked ? &stack : nullptr);
  Picture picture;
  SilentPort port;
  DisplayedImageInfo shown;
  try {
    BuildChecked(product, request, picture);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  AgainstFloor(
      state, goal, PictureBytes(picture),
      [&] { DisplayImage(product.loaded, request, port, shown, picture); },
      MemcpyFloor(PictureBytes(picture)));
}

// The colour product's visible band stacked with a travel of 11, the picture users save most.
const Picture& SavedStack() {
  static const Picture picture = [] {
    Picture p;
    Stack stack;
    stack.band = ColourProduct().visibleBand;
    BuildChecked(ColourProduct(), RequestFor(&stack), p);
    return p;
  }();
  return picture;
}

void BmpEncodeCase(benchmark::State& state) {
  const Picture& picture = SavedStack();
  const int64_t bytes = static_cast<int64_t>(EncodeBmp(picture).size());
  AgainstFloor(
      state, kCopyGoal, bytes, [&] { benchmark::DoNotOptimize(EncodeBmp(picture).size()); },
      MemcpyFloor(bytes));
}

// Saving goes to disk through the file system: its floor is the same safe save (a new file, then
// a rename over the old one) done by plain calls with the bytes ready in memory.
void BmpWriteCase(benchmark::State& state) {
  const Picture& picture = SavedStack();
  const std::string path = RunFolder().File("saved_415nm.bmp");
  const std::string floorPath = RunFolder().File("saved_floor.bmp");
  const std::string bytes = EncodeBmp(picture);
  AgainstFloor(
      state, kCopyGoal, static_cast<int64_t>(bytes.size()), [&] { WriteBmp(picture, path); },
      [&] { return ReplaceFileFloorSeconds(floorPath, bytes); });
}

void SupportCase(benchmark::State& state) {
  const IndexFileInfo& index = LargeIndex();
  const std::string& id = ColourProduct().loaded.ProductId;
  AgainstFloor(
      state, kSupportGoal, index.bytes,
      [&] {
        const std::optional<SupportDataInfo> found = FindIndexRecord(index.path, id);
        Require(found && found->Available, "the product is found in the index");
      },
      [&] { return ReadFileFloorSeconds(index.path); });
}

void CalibrationCase(benchmark::State& state) {
  const BenchProduct& product = ColourProduct();
  const Picture& picture = SavedStack();
  const std::string bitmapPath = RunFolder().File("saved_415nm.bmp");
  const std::string calPath = RunFolder().File("WAC_Images_DYRA_CalibrationData.txt");
  const std::string floorPath = RunFolder().File("append-floor.txt");

  std::optional<SupportDataInfo> support;
  std::string indexPath = RunFolder().File("one-line-index.TAB");
  try {
    WriteIndexFile(indexPath, product.indexLine, product.loaded.ProductId, 1, 1);
    support = FindIndexRecord(indexPath, product.loaded.ProductId);
    Require(support.has_value(), "the product's index line is found");
    AppendToCalibrationFile(calPath, CalibrationFileHeader());
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  DisplayedImageInfo shown;
  shown.Stacked = true;
  shown.Wavelength = "415";
  shown.VStep = 11;
  shown.Correction = "Uncorrected for distortion";
  std::string productId = product.loaded.ProductId;
  std::string calibrationFilePath = calPath;
  CalibrationContext context{productId, product.loaded.FrameletCount, shown, indexPath,
                             *support,  calibrationFilePath};
  const std::string record =
      CalibrationRecord(*support, bitmapPath, picture.Width(), picture.Height(), shown,
                        product.loaded.FrameletCount) +
      "\r\n";
  SilentPort port;
  AgainstFloor(
      state, kNoGoal, static_cast<int64_t>(record.size()),
      [&] {
        WriteCalibrationRecord(bitmapPath, picture.Width(), picture.Height(), context, port);
        Require(port.questions == 0 && port.messages == 0, "the record is appended silently");
      },
      [&] { return AppendFloorSeconds(floorPath, record); });
}

void RegisterAll() {
  using Which = const BenchProduct& (*)();
  const std::pair<const char*, Which> products[] = {
      {"CE", &ColourProduct}, {"ME", &MonoProduct}, {"UE", &UvProduct}};

  for (const auto& [code, which] : products) {
    RegisterCase(std::string("Load/") + code,
                 [which = which](benchmark::State& s) { LoadCase(s, which); });
  }
  RegisterCase("Load/CE/first", FreshLoadCase);
  for (const auto& [code, which] : products) {
    RegisterCase(std::string("Raw/") + code, [which = which](benchmark::State& s) {
      PictureCase(s, which, Stack{}, false, kCopyGoal);
    });
  }
  // Visible bands: the colour product's 415 nm band and the monochrome band, travel 11.
  const std::pair<const char*, Which> visible[] = {{"CE", &ColourProduct}, {"ME", &MonoProduct}};
  for (const auto& [code, which] : visible) {
    const std::string tail = std::string("/") + code + "/travel:11";
    RegisterCase("Stack" + tail, [which = which](benchmark::State& s) {
      PictureCase(s, which, Stack{which().visibleBand, 11, false, false}, true, kCopyGoal);
    });
    RegisterCase("StackCorrectedH" + tail, [which = which](benchmark::State& s) {
      PictureCase(s, which, Stack{which().visibleBand, 11, true, false}, true, kCorrectedGoal);
    });
    RegisterCase("StackCorrectedHV" + tail, [which = which](benchmark::State& s) {
      PictureCase(s, which, Stack{which().visibleBand, 11, true, true}, true, kCorrectedGoal);
    });
  }
  // Ultraviolet bands, corrected: the colour product's 321 nm band and the UV product's first.
  const std::pair<const char*, Which> uv[] = {{"CE", &ColourProduct}, {"UE", &UvProduct}};
  for (const auto& [code, which] : uv) {
    RegisterCase(
        std::string("UvCorrectedH/") + code + "/travel:2.15", [which = which](benchmark::State& s) {
          PictureCase(s, which, Stack{which().uvBand, 2.15, true, false}, true, kCorrectedGoal);
        });
  }
  RegisterCase("BmpEncode/CE415", BmpEncodeCase);
  RegisterCase("BmpWrite/CE415", BmpWriteCase);
  RegisterCase("Support/index:200000", SupportCase);
  RegisterCase("CalibrationAppend", CalibrationCase);
}

}  // namespace
}  // namespace quelmar::bench

int main(int argc, char** argv) {
  // As the programs keep their freed memory (see KeepFreedMemoryForReuse).
  quelmar::KeepFreedMemoryForReuse();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  quelmar::bench::RegisterAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
