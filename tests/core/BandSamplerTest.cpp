// A band read at sub-pixel positions: rows that reuse what earlier rows worked out (the row cache
// of a corrected band, the rows a band keeps on cells) read exactly what the rows worked out
// afresh read, on products long enough for them to be used, with and without a drift, for
// visible and ultraviolet bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Simulator.h"
#include "SimulatorFiles.h"
#include "assembly/BandSampler.h"
#include "assembly/CameraSettings.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"
#include "support/Simulated.h"
#include "support/TestFiles.h"
#include "util/RunParts.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;
using testing::TempDir;

// A simulated colour product of 40 framelets, loaded, and the camera settings a missing file
// gives.
struct SimulatedColourProduct {
  TempDir dir;
  LoadedProduct product = testing::LoadSimulated(sim::ProductKind::CE, 40, 11, dir);
  ScriptedPort port;
  CameraSettings settings = ReadCameraSettings(dir.File("no-settings-here.ini"));
  BandSampler Sampler(const BandSamplerRequest& request) {
    return BandSampler(product, request, settings, port);
  }
};

// Band 5, corrected, at a travel of no whole number of rows or columns.
BandSamplerRequest CorrectedAtAFractionalTravel() {
  BandSamplerRequest request;
  request.Band = 5;
  request.VerticalTravel = 10.874L;
  request.HorizontalTravel = -0.312L;
  request.CorrectDistortion = request.CorrectVertically = true;
  return request;
}

// The same for another band: an ultraviolet band travels a quarter as far.
BandSamplerRequest CorrectedAtAFractionalTravel(int32_t band) {
  BandSamplerRequest request = CorrectedAtAFractionalTravel();
  request.Band = band;
  if (band <= 2) {
    request.VerticalTravel /= 4;
    request.HorizontalTravel /= 4;
  }
  return request;
}

TEST(BandSampler, CachedCorrectedRowsReadWhatFreshRowsRead) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());

  // Without a horizontal travel and with a travel of whole rows, the rows of every framelet read
  // alike; with a horizontal travel they do not, and with a fractional one too they never repeat.
  for (const bool invert : {false, true}) {
    for (const int32_t band : {1, 5}) {
      for (const Real across : {0.0L, 1.0L, -0.312L}) {
        const bool uv = band <= 2;
        const Real travel = across < 0 ? 10.874L : 11;
        BandSamplerRequest request;
        request.Band = band;
        request.VerticalTravel = uv ? travel / 4 : travel;
        request.HorizontalTravel = uv ? across / 4 : across;
        request.Invert = invert;
        request.CorrectDistortion = request.CorrectVertically = true;
        const BandSampler sampler = simulated.Sampler(request);
        const int32_t width = sampler.StackWidth() + 8;
        // Whole rows at a fractional place, then a drift: rows read alike either way, at the
        // nearest 1/32 row and 1/256 column, which changes a sample by little.
        for (const Real drift : {0.0L, 0.0013L}) {
          BandSampler::RowCache cache;
          std::vector<int16_t> exact(static_cast<size_t>(width)), fresh(static_cast<size_t>(width)),
              cached(static_cast<size_t>(width));
          int64_t compared = 0, difference = 0;
          for (int32_t row = 0; row < sampler.StackHeight(); ++row) {
            const Real y = row + 0.37L + drift * row, x0 = -4.3L + drift * row;
            const Real dx = uv ? 0.25L : 1;
            BandSampler::RowCache empty;
            sampler.SampleRow(y, x0, dx, width, exact.data());
            sampler.SampleRow(y, x0, dx, width, fresh.data(), empty);
            sampler.SampleRow(y, x0, dx, width, cached.data(), cache);
            ASSERT_EQ(fresh, cached) << "band " << band << " row " << row << " drift " << drift;
            for (size_t i = 0; i < exact.size(); ++i) {
              if (exact[i] < 0 || cached[i] < 0) continue;
              ++compared;
              difference += std::abs(exact[i] - cached[i]);
            }
          }
          // A mean difference below half a grey level (values x 16).
          EXPECT_LT(static_cast<double>(difference) / static_cast<double>(compared), 8.0);
          EXPECT_GT(compared, int64_t{sampler.StackHeight()} * sampler.StackWidth() / 2);
        }
      }
    }
  }
}

// A picture's rows on cells (a constant travel of no whole number of rows or columns): the band
// keeps the rows it reads for every row that comes back to the same place on the cells, so a row
// reads the same whichever framelet first read it (the rows read top to bottom on one sampler,
// bottom to top on another), and within what moving its points by up to 1/16 pixel gives of the
// row read as finely as the maps.
TEST(BandSampler, RowsOnCellsReadAlikeWhicheverFrameletReadThemFirst) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  for (const int32_t band : {1, 5}) {
    for (const Real across : {0.0L, -0.312L, 1.45L}) {
      const bool uv = band <= 2;
      BandSamplerRequest request;
      request.Band = band;
      request.VerticalTravel = uv ? 10.874L / 4 : 10.874L;
      request.HorizontalTravel = uv ? across / 4 : across;
      request.Invert = across > 1;
      request.CorrectDistortion = request.CorrectVertically = true;
      const BandSampler down = simulated.Sampler(request), up = simulated.Sampler(request);
      const int32_t width = (uv ? 4 : 1) * down.StackWidth() + 8, height = down.StackHeight();
      const Real dx = uv ? 0.25L : 1, step = uv ? 0.25L : 1;
      const auto rowY = [&](int32_t r) { return r * step + 0.37L + 0.0013L * r; };
      const auto rowX = [&](int32_t r) { return -4.3L + 0.0007L * r; };
      std::vector<std::vector<int16_t>> first(static_cast<size_t>(height));
      BandSampler::RowCache forward, backward;
      forward.ReadOnCells();
      backward.ReadOnCells();
      int64_t compared = 0, difference = 0;
      std::vector<int16_t> exact(static_cast<size_t>(width));
      for (int32_t r = 0; r < height; ++r) {
        auto& row = first[static_cast<size_t>(r)];
        row.resize(static_cast<size_t>(width));
        down.SampleRow(rowY(r), rowX(r), dx, width, row.data(), forward);
        down.SampleRow(rowY(r), rowX(r), dx, width, exact.data());
        for (size_t i = 0; i < exact.size(); ++i) {
          if (exact[i] < 0 || row[i] < 0) continue;
          ++compared;
          difference += std::abs(exact[i] - row[i]);
        }
      }
      std::vector<int16_t> row(static_cast<size_t>(width));
      for (int32_t r = height - 1; r >= 0; --r) {
        up.SampleRow(rowY(r), rowX(r), dx, width, row.data(), backward);
        ASSERT_EQ(row, first[static_cast<size_t>(r)]) << "band " << band << " row " << r;
      }
      // A mean difference below half a grey level (values x 16).
      EXPECT_LT(static_cast<double>(difference) / static_cast<double>(compared), 8.0);
      EXPECT_GT(compared, int64_t{height} * down.StackWidth() / 2);
    }
  }
}

// A band read on cells at two steps along the row (a picture and a closer look at it) keeps each
// step's rows apart: read in turn on one sampler, each reads what a sampler read at that step
// alone reads.
TEST(BandSampler, RowsOnCellsAtTwoStepsKeepTheirOwnRows) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  const BandSamplerRequest request = CorrectedAtAFractionalTravel();
  const BandSampler both = simulated.Sampler(request), wide = simulated.Sampler(request),
                    close = simulated.Sampler(request);
  const int32_t width = 2 * both.StackWidth();
  BandSampler::RowCache inTurn, wideOnly, closeOnly;
  for (BandSampler::RowCache* cache : {&inTurn, &wideOnly, &closeOnly}) cache->ReadOnCells();
  std::vector<int16_t> got(static_cast<size_t>(width)), alone(got);
  for (int32_t r = 0; r < both.StackHeight(); ++r) {
    const Real y = r + 0.37L;
    both.SampleRow(y, -4, 1, width, got.data(), inTurn);
    wide.SampleRow(y, -4, 1, width, alone.data(), wideOnly);
    ASSERT_EQ(got, alone) << "row " << r << " step 1";
    both.SampleRow(y, -4, 0.5L, width, got.data(), inTurn);
    close.SampleRow(y, -4, 0.5L, width, alone.data(), closeOnly);
    ASSERT_EQ(got, alone) << "row " << r << " step 1/2";
  }
}

// Two cores reading a picture's rows on cells: each gives back the rows it compiled, once both
// are done reading; rows a core compiled stay until that core gives them back (or the sampler
// goes).
TEST(BandSampler, EachCoreGivesBackTheRowsOnCellsItCompiled) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  const BandSamplerRequest request = CorrectedAtAFractionalTravel();
  const BandSampler sampler = simulated.Sampler(request);
  const int32_t width = sampler.StackWidth(), height = sampler.StackHeight();
  // (The program's own meeting: the standard barrier of the Windows build's library can miss a
  // wake-up under Wine and wait for good.)
  PartsMeeting meeting(2);
  std::array<int32_t, 3> heldAfter{};  // reading, the first core's giving back, the second's
  const auto core = [&](int32_t k) {
    BandSampler::RowCache cache;
    cache.ReadOnCells();
    std::vector<int16_t> row(static_cast<size_t>(width));
    // The framelets' rows in turn, so that each core compiles rows of its own.
    for (int32_t r = 0; r < height; ++r) {
      if (r / 11 % 2 == k) sampler.SampleRow(r + 0.37L, -0.3L, 1, width, row.data(), cache);
    }
    meeting.ArriveAndWait();
    if (k == 0) heldAfter[0] = sampler.CellRowsHeld();
    meeting.ArriveAndWait();
    if (k == 0) {
      sampler.ReleaseCellRows(0, 2);
      heldAfter[1] = sampler.CellRowsHeld();
    }
    meeting.ArriveAndWait();
    if (k == 1) {
      sampler.ReleaseCellRows(1, 2);
      heldAfter[2] = sampler.CellRowsHeld();
    }
  };
  std::thread second(core, 1);
  core(0);
  second.join();
  EXPECT_GT(heldAfter[0], 20);
  EXPECT_GT(heldAfter[1], 0);
  EXPECT_LT(heldAfter[1], heldAfter[0]);
  EXPECT_EQ(heldAfter[2], 0);
}

// Rows beyond every framelet's band (a colour picture's rows above or below one channel's stack)
// have no data, and the band works nothing out for them: read on cells, it keeps none. The rows
// about the first and last framelets, where the corrected band's curve still brings in samples
// at the sides, have data where a row read without the cache has (on whole 1/32 rows and 1/256
// columns, as the cache reads them).
TEST(BandSampler, RowsBeyondEveryFrameletHaveNoDataAndKeepNothing) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  for (const bool invert : {false, true}) {
    for (const int32_t band : {1, 5}) {
      const bool uv = band <= 2;
      BandSamplerRequest request = CorrectedAtAFractionalTravel(band);
      request.Invert = invert;
      const BandSampler sampler = simulated.Sampler(request);
      const int32_t width = sampler.StackWidth() + 8, height = sampler.StackHeight();
      const Real x0 = -4.25L, dx = uv ? 0.25L : 1;
      std::vector<int16_t> alone(static_cast<size_t>(width)), cached(alone);
      const auto empty = [](const std::vector<int16_t>& row) {
        return std::all_of(row.begin(), row.end(), [](int16_t v) { return v < 0; });
      };
      BandSampler::RowCache cache;
      std::vector<int64_t> withData;  // points with data, per row read
      for (const auto& [from, to] : {std::pair{-30, 12}, std::pair{height - 20, height + 30}}) {
        for (int32_t k = from * 32; k < to * 32; k += 3) {
          const Real y = static_cast<Real>(k) / 32;
          sampler.SampleRow(y, x0, dx, width, alone.data());
          sampler.SampleRow(y, x0, dx, width, cached.data(), cache);
          for (size_t i = 0; i < alone.size(); ++i) {
            ASSERT_EQ(alone[i] < 0, cached[i] < 0)
                << "band " << band << " invert " << invert << " row " << y << " point " << i;
          }
          withData.push_back(
              std::count_if(alone.begin(), alone.end(), [](int16_t v) { return v >= 0; }));
        }
      }
      // Many rows without data, and a good few with some of the samples a row holds.
      const int64_t most = *std::max_element(withData.begin(), withData.end());
      EXPECT_GT(std::count(withData.begin(), withData.end(), 0), 300);
      EXPECT_GT(std::count_if(withData.begin(), withData.end(),
                              [&](int64_t n) { return n > 0 && n < most * 9 / 10; }),
                5);
      BandSampler::RowCache cells;
      cells.ReadOnCells();
      for (const Real y : {-25.3L, -12.0L, height + 12.6L, height + 40.0L}) {
        sampler.SampleRow(y, x0, dx, width, cached.data(), cells);
        EXPECT_TRUE(empty(cached)) << y;
      }
      EXPECT_EQ(sampler.CellRowsHeld(), 0);
    }
  }
}

// A shift that moves every row further than the product reaches, up to the largest the shift
// field takes: no point has data (as with a shift just past the product), and the band is
// prepared without positions or maps out of range. A shift of a few rows still reads data.
TEST(BandSampler, AShiftBeyondTheProductLeavesNoDataHoweverLarge) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  const int32_t past =
      simulated.product.FrameletCount * simulated.product.FrameletHeight + 2 * 14 + 64;
  for (const int32_t band : {1, 5}) {
    const bool uv = band <= 2;
    for (const int32_t shift : {3, past + 40, -past - 40, 1000000, INT32_MAX, INT32_MIN}) {
      BandSamplerRequest request = CorrectedAtAFractionalTravel(band);
      request.Shift = shift;
      const BandSampler sampler = simulated.Sampler(request);
      const int32_t width = sampler.StackWidth();
      const Real dx = uv ? 0.25L : 1;
      std::vector<int16_t> row(static_cast<size_t>(width));
      BandSampler::RowCache cache, cells;
      cells.ReadOnCells();
      int64_t withData = 0;
      for (int32_t y = 0; y < sampler.StackHeight(); y += 7) {
        for (BandSampler::RowCache* c : {&cache, &cells}) {
          sampler.SampleRow(y + 0.4L, 0, dx, width, row.data(), *c);
          withData += std::count_if(row.begin(), row.end(), [](int16_t v) { return v >= 0; });
        }
        sampler.SampleRow(y + 0.4L, 0, dx, width, row.data());
        withData += std::count_if(row.begin(), row.end(), [](int16_t v) { return v >= 0; });
      }
      if (shift == 3) {
        EXPECT_GT(withData, 0) << "band " << band;
      } else {
        EXPECT_EQ(withData, 0) << "band " << band << " shift " << shift;
      }
    }
  }
}

// Rows read between cells (each blended from the cells either side of it) follow their position
// as the rows read through the maps do, where rows on their nearest cell move by up to 1/16 row:
// they lie well under half as far from the rows read through the maps.
TEST(BandSampler, RowsBetweenCellsFollowTheirPositionAsTheMapsDo) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  for (const Real across : {0.0L, -0.312L}) {
    BandSamplerRequest request;
    request.Band = 5;
    request.VerticalTravel = 10.874L;
    request.HorizontalTravel = across;
    request.CorrectDistortion = request.CorrectVertically = true;
    const BandSampler sampler = simulated.Sampler(request);
    const int32_t width = sampler.StackWidth(), height = sampler.StackHeight();
    BandSampler::RowCache nearest, between;
    nearest.ReadOnCells();
    between.ReadBetweenCells();
    std::vector<int16_t> exact(static_cast<size_t>(width)), onCell(exact), blended(exact);
    int64_t compared = 0, offCell = 0, offBetween = 0;
    for (int32_t r = 0; r < height; ++r) {
      const Real y = r + 0.37L + 0.0013L * r, x0 = -0.3L + 0.0007L * r;
      sampler.SampleRow(y, x0, 1, width, exact.data());
      sampler.SampleRow(y, x0, 1, width, onCell.data(), nearest);
      sampler.SampleRow(y, x0, 1, width, blended.data(), between);
      for (size_t i = 0; i < exact.size(); ++i) {
        if (exact[i] < 0 || onCell[i] < 0 || blended[i] < 0) continue;
        ++compared;
        offCell += std::abs(exact[i] - onCell[i]);
        offBetween += std::abs(exact[i] - blended[i]);
      }
    }
    EXPECT_GT(compared, int64_t{height} * width / 2);
    EXPECT_LT(offBetween * 2, offCell) << "travel across " << across;
  }
}

// A corrected row read for the first time works its points out a run at a time and eight at
// once: each point reads what it reads alone (a row of one point, as fresh), across the stack's
// width with a horizontal travel, a fractional travel and rows read upward.
TEST(BandSampler, CorrectedRowsReadWhatTheirPointsReadAlone) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  for (const bool invert : {false, true}) {
    for (const Real across : {0.0L, -0.312L, 0.45L}) {
      BandSamplerRequest request;
      request.Band = 5;
      request.VerticalTravel = 10.874L;
      request.HorizontalTravel = across;
      request.Invert = invert;
      request.CorrectDistortion = request.CorrectVertically = true;
      const BandSampler sampler = simulated.Sampler(request);
      const int32_t width = sampler.StackWidth() + 6;
      std::vector<int16_t> row(static_cast<size_t>(width));
      int64_t compared = 0;
      for (int32_t r = -2; r < sampler.StackHeight() + 2; r += 3) {
        const Real y = r + 0.37L, x0 = -3.27L;
        BandSampler::RowCache cache;
        sampler.SampleRow(y, x0, 1, width, row.data(), cache);
        for (int32_t i = 0; i < width; ++i) {
          int16_t alone = 0;
          BandSampler::RowCache fresh;
          sampler.SampleRow(y, x0 + i, 1, 1, &alone, fresh);
          ASSERT_EQ(row[static_cast<size_t>(i)], alone)
              << "travel " << across << " invert " << invert << " row " << r << " point " << i;
          compared += alone >= 0;
        }
      }
      EXPECT_GT(compared, int64_t{sampler.StackHeight()} * 704 / 4);
    }
  }
}

// An uncorrected row blends the run inside the band in one go: each of its points reads what it
// reads alone (a row of one point with a column step of 0, which is read point by point).
TEST(BandSampler, UncorrectedRowsReadWhatTheirPointsReadAlone) {
  SimulatedColourProduct simulated;
  ASSERT_TRUE(simulated.product.HasImage());
  // With a horizontal travel, and without one (where the points beyond the band's columns are
  // taken in short).
  for (const bool invert : {false, true}) {
    for (const int32_t band : {1, 5, -1, -5}) {
      const bool uv = std::abs(band) <= 2, across = band > 0;
      BandSamplerRequest request;
      request.Band = std::abs(band);
      request.VerticalTravel = uv ? 11.3L / 4 : 11.3L;
      request.HorizontalTravel = !across ? 0 : uv ? -0.1L : -0.4L;
      request.Invert = invert;
      const BandSampler sampler = simulated.Sampler(request);
      // An ultraviolet band's samples lie in the middle 128 columns of the product's rows.
      const int32_t width = uv ? 4 * 140 : sampler.StackWidth() + 6;
      const Real dx = uv ? 0.25L : 1;
      std::vector<int16_t> row(static_cast<size_t>(width));
      int64_t compared = 0;
      // Rows a row apart, taken alternately with their first point a quarter of a pixel before
      // and after the band's first column (the last one within half a pixel of its last).
      for (int32_t r = -2; r < sampler.StackHeight() + 2; r += 3) {
        const Real y = r + 0.61L, x0 = (uv ? 282.27L : -3.27L) - (r % 2 != 0 ? 0.46L : 0);
        sampler.SampleRow(y, x0, dx, width, row.data());
        for (int32_t i = 0; i < width; ++i) {
          int16_t alone = 0;
          sampler.SampleRow(y, x0 + dx * i, 0, 1, &alone);
          ASSERT_EQ(row[static_cast<size_t>(i)], alone)
              << "band " << band << " row " << r << " point " << i;
          compared += alone >= 0;
        }
      }
      EXPECT_GT(compared, int64_t{sampler.StackHeight()} * (uv ? 4 * 128 : width) / 6);
    }
  }
}

}  // namespace
}  // namespace quelmar
