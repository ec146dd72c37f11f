#include "assembly/StackStrips.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>

#include "assembly/CameraSettings.h"
#include "assembly/Distortion.h"
#include "util/Errors.h"
#include "util/ProcessorFeatures.h"
#include "util/RunParts.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUELMAR_X86_VECTORS 1
#endif

namespace quelmar {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
// Ground rows kept beyond each side of a band corrected vertically. Across a wide strip a visible
// band's rows curve and spread over about four ground rows more than the band's own; the binned
// rows of an ultraviolet band, four times as large, over less.
constexpr int32_t kGroundMargin = 4;
constexpr int32_t kUltravioletGroundMargin = 2;
// Steps of the table of the model's scale per pixel of ground radius.
constexpr double kScaleSteps = 4;

// The radial model: the detector point at radius d (pixels) sees the ground point at radius
// d / (1 + k1 (d s)^2 + k2 (d s)^3).
double GroundRadius(double d, double k1, double k2, double s) {
  const double x = std::fabs(d) * s;
  return d / (1 + x * x * (k1 + k2 * x));
}

// The detector radius that sees ground radius rho (Newton's method from `start`); NaN where the
// model folds over or has no such radius. The steps end once one moves less than a billionth,
// and the next is taken: from there the method is good to the last digits, from any start.
double DetectorRadius(double rho, double k1, double k2, double s, double start) {
  double d = start;
  for (int i = 0; i < 30; ++i) {
    const double x = d * s;
    const double poly = 1 + x * x * (k1 + k2 * x);
    const double f = d - rho * poly;
    const double slope = 1 - rho * s * x * (2 * k1 + 3 * k2 * x);
    if (!(poly > 0) || !(slope > 0)) return std::numeric_limits<double>::quiet_NaN();
    const double next = d - f / slope;
    if (std::fabs(next - d) < 1e-9 * (1 + d)) return next;
    d = next;
  }
  return d;
}

// Taps first .. end - 1 of a corrected line: each the bilinear blend of the two bytes from
// `at` on and the two a row below; a tap of -1 gives NaN (no data). At a position
// inside the band (as the correction's maps hold), the same blend as SampleBilinear, without
// its checks.
inline void BlendTaps(const uint8_t* band, int32_t wsrc, const int32_t* at, const float* tx,
                      const float* ty, int32_t first, int32_t end, float* out) {
  for (int32_t i = first; i < end; ++i) {
    if (at[i] < 0) {
      out[i] = kNaN;
      continue;
    }
    const uint8_t* r0 = band + at[i];
    const uint8_t* r1 = r0 + wsrc;
    const float top = r0[0] + (static_cast<float>(r0[1]) - r0[0]) * tx[i];
    const float bottom = r1[0] + (static_cast<float>(r1[1]) - r1[0]) * tx[i];
    out[i] = top + (bottom - top) * ty[i];
  }
}

#if QUELMAR_X86_VECTORS
const bool kHasWideVectors = ProcessorHasWideVectors();

// Eight taps blended, whose bytes lie in the sixteen from `base` on (and the sixteen a row
// below): `offsets` gives each tap's first byte from there.
__attribute__((target("avx2"), always_inline)) inline __m256 BlendEight(const uint8_t* band,
                                                                        int32_t wsrc, int32_t base,
                                                                        __m256i offsets,
                                                                        const float* tx,
                                                                        const float* ty) {
  // A shuffle index with bit 7 set gives 0: each dword takes one byte, its upper three zero.
  const __m256i oneByte = _mm256_set1_epi32(static_cast<int32_t>(0x80808000u));
  const __m256i row0 =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(band + base)));
  const __m256i row1 = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(band + base + wsrc)));
  const __m256i left = _mm256_or_si256(offsets, oneByte);
  const __m256i right = _mm256_or_si256(_mm256_add_epi32(offsets, _mm256_set1_epi32(1)), oneByte);
  const __m256 a0 = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(row0, left));
  const __m256 a1 = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(row0, right));
  const __m256 b0 = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(row1, left));
  const __m256 b1 = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(row1, right));
  const __m256 fx = _mm256_loadu_ps(tx), fy = _mm256_loadu_ps(ty);
  const __m256 top = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_sub_ps(a1, a0), fx));
  const __m256 bottom = _mm256_add_ps(b0, _mm256_mul_ps(_mm256_sub_ps(b1, b0), fx));
  return _mm256_add_ps(top, _mm256_mul_ps(_mm256_sub_ps(bottom, top), fy));
}

// BlendTaps on eight taps at once where they lie within sixteen bytes of each other (the
// corrected columns of a run sample neighbouring bytes): both rows' sixteen bytes are loaded
// once and each tap's bytes shuffled out of them, where to find them planned beforehand (see
// StackStrips::TapBlock). The same operations in the same order (no fused multiply-adds), so the
// same values to the last bit; other blocks take BlendTaps.
__attribute__((target("avx2"))) void BlendTapBlocksWide(const uint8_t* band, int32_t wsrc,
                                                        const StackStrips::TapBlock* blocks,
                                                        const int32_t* at, const float* tx,
                                                        const float* ty, int32_t n, float* out) {
  const __m256i none = _mm256_set1_epi32(0xff);
  const __m256 nan = _mm256_set1_ps(kNaN);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const StackStrips::TapBlock& block = blocks[i / 8];
    if (block.base == StackStrips::TapBlock::kEmpty) {
      _mm256_storeu_ps(out + i, nan);
      continue;
    }
    if (block.base == StackStrips::TapBlock::kApart) {
      BlendTaps(band, wsrc, at, tx, ty, i, i + 8, out);
      continue;
    }
    const __m256i stored =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(block.offsets)));
    const __m256i invalid = _mm256_cmpeq_epi32(stored, none);
    const __m256i offsets = _mm256_andnot_si256(invalid, stored);
    const __m256 v = BlendEight(band, wsrc, block.base, offsets, tx + i, ty + i);
    _mm256_storeu_ps(out + i, _mm256_blendv_ps(v, nan, _mm256_castsi256_ps(invalid)));
  }
  BlendTaps(band, wsrc, at, tx, ty, i, n, out);
}
#endif

// The blocks of eight taps of one line of n, as BlendTapBlocksWide reads them (a last block of
// fewer is read tap by tap).
void PlanTapBlocks(const int32_t* taps, int32_t n, StackStrips::TapBlock* blocks) {
  using TapBlock = StackStrips::TapBlock;
  for (int32_t b = 0; b < n / 8; ++b, taps += 8) {
    TapBlock& block = blocks[b];
    int32_t least = INT32_MAX;
    for (int32_t j = 0; j < 8; ++j)
      if (taps[j] >= 0) least = std::min(least, taps[j]);
    block.base = least == INT32_MAX ? TapBlock::kEmpty : least;
    if (least == INT32_MAX) continue;
    for (int32_t j = 0; j < 8; ++j) {
      if (taps[j] < 0) {
        block.offsets[j] = TapBlock::kNoTap;
      } else if (taps[j] - least <= TapBlock::kReach) {
        block.offsets[j] = static_cast<uint8_t>(taps[j] - least);
      } else {
        block.base = TapBlock::kApart;
        break;
      }
    }
  }
}

}  // namespace

std::optional<StackStrips> StackStrips::Open(const LoadedProduct& product, const StripGeometry& g,
                                             UserPort& port, std::string& problem, int32_t parts) {
  StackStrips s;
  s.product_ = &product;
  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, product.FrameletHeight);
  s.strip_ = StripOfBand(bounds, product.BandCount, g.Band);
  s.wavelength_ = product.BandWavelengths[static_cast<size_t>(g.Band) - 1];
  s.invert_ = g.Invert;
  const int32_t wsrc = product.Rows.Width();
  s.width_ = wsrc;
  s.lines_ = s.strip_.H;
  if (!g.CorrectDistortion) return s;

  // The same settings, filter and line maps as a corrected stack of this band.
  const CameraSettings settings = ReadCameraSettings(g.SettingsPath);
  const int32_t filter = ChooseFilter(settings, s.wavelength_, port);
  const CorrectionConstants constants = DeriveCorrectionConstants(settings, filter);
  if (auto p = CorrectionSettingsProblem(constants, g.SettingsPath)) {
    problem = *p;
    return std::nullopt;
  }
  RadialTable table = BuildRadialTable(kRadiusLimit, constants.K1, constants.K2, constants.Pitch);
  if (auto p = RadialTableProblem(table, constants, g.SettingsPath)) {
    problem = *p;
    return std::nullopt;
  }
  DistortionGeometry geometry(std::move(table.Entries), constants, s.strip_.H, wsrc);
  geometry.SearchWidth();
  s.width_ = geometry.Width();
  // Corrected vertically, a band's rows curve over the ground (more so away from the optical
  // axis), so the ground rows a little above and below the band are still seen in part of the
  // strip: they are kept, where thin overlaps need every row they can get. Toward the sides of
  // the strip, consecutive strips share rows there even where, at its middle, they share none.
  const int32_t margin = !g.CorrectVertically ? 0
                         : s.strip_.H == 4    ? kUltravioletGroundMargin
                                              : kGroundMargin;
  s.lines_ = s.strip_.H + 2 * margin;
  s.sourceX_.assign(static_cast<size_t>(s.lines_) * static_cast<size_t>(s.width_), kNaN);
  s.sourceY_ = s.sourceX_;
  const double k1 = static_cast<double>(constants.K1), k2 = static_cast<double>(constants.K2);
  const double pitch = static_cast<double>(constants.Pitch);
  const double h = s.strip_.H, offset = static_cast<double>(constants.OffsetPixels);
  // Detector offset from the optical centre of the band row b (1-based), and back.
  const auto detectorY = [&](double b) { return h / 2 + offset - b; };
  // Vertically corrected lines are centred on the ground point the band's centre sees.
  const double centreY =
      g.CorrectVertically ? GroundRadius(detectorY((h + 1) / 2), k1, k2, pitch) : 0.0;
  if (g.CorrectVertically) {
    // Row r (from 0) stands for ground centreY + (h + 1) / 2 + margin - 1 - r, or turned over,
    // centreY - (h + 1) / 2 - margin + 1 + r.
    s.onGround_ = true;
    const double half = (h + 1) / 2 + margin - 1;
    s.groundRow_ = g.Invert ? half - centreY : centreY + half;
    s.groundColumn_ = geometry.OutputCentre();
  }
  // The scale from ground to detector of each distance from the centre column (NaN: none): the
  // pixels either side of the centre lie at the same radius.
  const int32_t centre = geometry.OutputCentre();
  const int32_t reach = std::max(centre, s.width_ - 1 - centre);
  // The band row (from 1) line (from 1) stands for, and the ground row.
  const auto bandRowOf = [&](int32_t line) {
    return g.Invert ? s.strip_.H - (line - margin) + 1 : line - margin;
  };
  const auto groundOf = [&](int32_t line) {
    const int32_t b = bandRowOf(line);
    return g.CorrectVertically ? centreY + (h + 1) / 2 - b : detectorY(b);
  };
  // The model's scale (detector radius over ground radius) every kScaleSteps-th of a pixel of
  // ground radius out to the farthest pixel, solved there and blended between: a solve for each
  // pixel of every line cost far more, and the blend is good to a few hundred-thousandths of a
  // pixel (visible bands: a few millionths), no coarser than the single precision the positions
  // are kept in.
  double farthest = 0;
  for (int32_t line = 1; line <= s.lines_; ++line) {
    farthest =
        std::max(farthest, std::hypot(static_cast<double>(std::max(reach, 0)), groundOf(line)));
  }
  if (auto p = GroundReachProblem(farthest, constants, g.SettingsPath)) {
    problem = *p;
    return std::nullopt;
  }
  const auto steps = static_cast<size_t>(std::ceil(farthest * kScaleSteps)) + 2;
  // Solved in parts, each part its own share.
  std::vector<double> scaleTable(steps);
  const auto solveScales = [&](size_t from, size_t to) {
    double lastScale = 0;
    for (size_t i = from; i < to; ++i) {
      const double rho = static_cast<double>(i) / kScaleSteps;
      const double d = DetectorRadius(rho, k1, k2, pitch, lastScale > 0 ? rho * lastScale : rho);
      lastScale = !std::isfinite(d) ? 0 : rho > 0 ? d / rho : 1.0;
      scaleTable[i] = lastScale > 0 ? lastScale : std::numeric_limits<double>::quiet_NaN();
    }
  };
  const int32_t shares = std::clamp(parts, 1, std::max(1, s.lines_));
  RunParts(shares, [&](int32_t k) {
    solveScales(steps * static_cast<size_t>(k) / static_cast<size_t>(shares),
                steps * static_cast<size_t>(k + 1) / static_cast<size_t>(shares));
  });
  // Where each pixel's blend starts in the band and its weights, worked out once: every
  // framelet's strip has the same geometry.
  const bool blends = wsrc >= 2 && s.strip_.H >= 2;
  if (blends) {
    s.wholeAt_.assign(s.sourceX_.size(), -1);
    s.wholeX_.assign(s.sourceX_.size(), 0.0f);
    s.wholeY_.assign(s.sourceX_.size(), 0.0f);
  }
  // Lines from .. to - 1 (from 1), each with its own scales; each pixel's source and, from the
  // position kept, its blend.
  const double sourceCentre = geometry.SourceCentre(), top = h / 2 + offset;
  const double lastColumn = wsrc - 1, lastRow = h - 1;
  const auto layLines = [&](int32_t fromLine, int32_t toLine) {
    std::vector<double> scales(static_cast<size_t>(std::max(0, reach) + 1));
    for (int32_t line = fromLine; line < toLine; ++line) {
      const int32_t b = bandRowOf(line);
      const double groundY = groundOf(line), groundY2 = groundY * groundY;
      for (int32_t dx = 0; dx <= reach; ++dx) {
        const double u = std::sqrt(static_cast<double>(dx) * dx + groundY2) * kScaleSteps;
        const auto i = std::min(static_cast<size_t>(u), steps - 2);
        const double t = u - static_cast<double>(i);
        scales[static_cast<size_t>(dx)] =
            scaleTable[i] + (scaleTable[i + 1] - scaleTable[i]) * t;  // NaN beside a NaN
      }
      const size_t first = static_cast<size_t>(line - 1) * static_cast<size_t>(s.width_);
      float* sourceX = s.sourceX_.data() + first;
      float* sourceY = s.sourceY_.data() + first;
      int32_t* wholeAt = blends ? s.wholeAt_.data() + first : nullptr;
      float* wholeX = blends ? s.wholeX_.data() + first : nullptr;
      float* wholeY = blends ? s.wholeY_.data() + first : nullptr;
      const double* scaleAt = scales.data();
      const double bandRow = b - 1.0;
      for (int32_t a = 0; a < s.width_; ++a) {
        // The ground point this pixel stands for, and the detector point that sees it.
        const double dx = a - centre;
        const double scale = scaleAt[std::abs(a - centre)];
        if (std::isnan(scale)) continue;
        const double column = sourceCentre + dx * scale;
        const double row = g.CorrectVertically ? top - groundY * scale - 1 : bandRow;
        if (column < 0 || column > lastColumn || row < 0 || row > lastRow) continue;
        const auto px = static_cast<float>(column), py = static_cast<float>(row);
        sourceX[a] = px;
        sourceY[a] = py;
        if (!blends) continue;
        const int32_t ix = std::min(static_cast<int32_t>(px), wsrc - 2);
        const int32_t iy = std::min(static_cast<int32_t>(py), s.strip_.H - 2);
        wholeAt[a] = iy * wsrc + ix;
        wholeX[a] = static_cast<float>(static_cast<double>(px) - ix);
        wholeY[a] = static_cast<float>(static_cast<double>(py) - iy);
      }
    }
  };
  // Each line is laid out on its own: in parts, a share of the lines each.
  RunParts(shares, [&](int32_t k) {
    layLines(1 + k * s.lines_ / shares, 1 + (k + 1) * s.lines_ / shares);
  });
  if (blends) {
    const int32_t perLine = s.width_ / 8;
    s.wholeBlocks_.resize(static_cast<size_t>(s.lines_) * static_cast<size_t>(perLine));
    for (int32_t line = 0; line < s.lines_; ++line)
      PlanTapBlocks(s.wholeAt_.data() + static_cast<size_t>(line) * static_cast<size_t>(s.width_),
                    s.width_, s.wholeBlocks_.data() + static_cast<size_t>(line) * perLine);
  }
  return s;
}

GreyImage StackStrips::Read(int32_t framelet, int32_t firstLine, int32_t lines) const {
  GreyImage image;
  ReadInto(framelet, firstLine, lines, image);
  return image;
}

void StackStrips::ReadInto(int32_t framelet, int32_t firstLine, int32_t lines,
                           GreyImage& image) const {
  const LoadedProduct& p = *product_;
  if (lines < 0) throw RangeError("A strip cannot have a negative number of lines");
  image.Width = width_;
  image.Height = lines;
  // Every sample is written below (NaN where there is no data), so the storage is not cleared.
  image.Values.resize(static_cast<size_t>(width_) * static_cast<size_t>(lines));
  const int64_t base = int64_t{framelet} * p.FrameletHeight;
  const int64_t lastRow = int64_t{p.RowCount} - 1;
  const int64_t wsrc = p.Rows.Width();
  for (int32_t y = 0; y < lines; ++y) {
    const int32_t line = firstLine + y + 1;  // 1..H
    float* out = image.Row(y);
    if (sourceX_.empty()) {
      const int64_t source = invert_ ? base + strip_.B - line : base + strip_.T + line - 1;
      const uint8_t* in = p.Rows.Row(static_cast<int32_t>(std::clamp<int64_t>(source, 0, lastRow)));
      for (int32_t x = 0; x < width_; ++x) out[x] = in[x];
    } else {
      // The band's rows of this framelet (the last framelet may be cut short by the rows read).
      const int64_t first = base + strip_.T;
      const int32_t rows =
          static_cast<int32_t>(std::clamp<int64_t>(lastRow + 1 - first, 0, strip_.H));
      if (rows < strip_.H) {
        std::fill(out, out + width_, kNaN);
        continue;
      }
      const ByteStrip band{p.Rows.Row(static_cast<int32_t>(first)), static_cast<ptrdiff_t>(wsrc),
                           static_cast<int32_t>(wsrc), strip_.H};
      const size_t row = static_cast<size_t>(line - 1) * static_cast<size_t>(width_);
      if (!wholeAt_.empty()) {
        BlendLine(band.data, static_cast<int32_t>(wsrc), first, wholeAt_.data() + row,
                  wholeX_.data() + row, wholeY_.data() + row, width_, out,
                  wholeBlocks_.empty()
                      ? nullptr
                      : wholeBlocks_.data() + static_cast<size_t>(line - 1) * (width_ / 8));
      } else {
        const float* sx = sourceX_.data() + row;
        const float* sy = sourceY_.data() + row;
        for (int32_t x = 0; x < width_; ++x)
          out[x] = std::isnan(sx[x]) ? kNaN : SampleBilinear(band, sx[x], sy[x]);
      }
    }
    for (const int32_t x : emptyColumns_) out[x] = kNaN;
  }
}

void StackStrips::SelectColumns(const std::vector<int32_t>& columns) {
  selected_ = static_cast<int32_t>(columns.size());
  runs_.clear();
  const size_t n = static_cast<size_t>(lines_) * columns.size();
  tapAt_.assign(n, -1);
  tapX_.assign(n, 0.0f);
  tapY_.assign(n, 0.0f);
  const int32_t wsrc = product_->Rows.Width();
  const bool blend = wsrc >= 2 && strip_.H >= 2;
  std::vector<uint8_t> empty(static_cast<size_t>(width_), 0);
  for (const int32_t x : emptyColumns_) empty[static_cast<size_t>(x)] = 1;
  for (int32_t line = 0; line < lines_; ++line) {
    for (int32_t i = 0; i < selected_; ++i) {
      const int32_t x = columns[static_cast<size_t>(i)];
      const size_t at = static_cast<size_t>(line) * columns.size() + static_cast<size_t>(i);
      if (x < 0 || x >= width_) continue;
      if (empty[static_cast<size_t>(x)]) continue;
      if (sourceX_.empty()) {
        tapAt_[at] = x;
        // The same columns on every line: runs of consecutive ones are copied as they are.
        if (line > 0) continue;
        if (!runs_.empty() && runs_.back().To + runs_.back().Count == i &&
            runs_.back().From + runs_.back().Count == x) {
          ++runs_.back().Count;
        } else {
          runs_.push_back({i, x, 1});
        }
        continue;
      }
      if (!blend) continue;
      const size_t source =
          static_cast<size_t>(line) * static_cast<size_t>(width_) + static_cast<size_t>(x);
      tapAt_[at] = wholeAt_[source];
      tapX_[at] = wholeX_[source];
      tapY_[at] = wholeY_[source];
    }
  }
  // Each line's blocks of eight taps, as the wide blend reads them.
  tapBlocks_.clear();
  if (sourceX_.empty() || !blend) return;
  const int32_t perLine = selected_ / 8;
  tapBlocks_.resize(static_cast<size_t>(lines_) * static_cast<size_t>(perLine));
  for (int32_t line = 0; line < lines_; ++line)
    PlanTapBlocks(tapAt_.data() + static_cast<size_t>(line) * columns.size(), selected_,
                  tapBlocks_.data() + static_cast<size_t>(line) * perLine);
}

GreyImage StackStrips::ReadColumns(int32_t framelet, int32_t firstLine, int32_t lines) const {
  GreyImage image;
  ReadColumnsInto(framelet, firstLine, lines, image);
  return image;
}

void StackStrips::ReadColumnsInto(int32_t framelet, int32_t firstLine, int32_t lines,
                                  GreyImage& image) const {
  const LoadedProduct& p = *product_;
  if (lines < 0) throw RangeError("A strip cannot have a negative number of lines");
  image.Width = selected_;
  image.Height = lines;
  // Every sample is written below (NaN where there is no data), so the storage is not cleared.
  image.Values.resize(static_cast<size_t>(selected_) * static_cast<size_t>(lines));
  const int64_t base = int64_t{framelet} * p.FrameletHeight;
  const int64_t lastRow = int64_t{p.RowCount} - 1;
  const int32_t wsrc = p.Rows.Width();
  const int64_t first = base + strip_.T;
  for (int32_t y = 0; y < lines; ++y) {
    const int32_t line = firstLine + y + 1;  // 1..H
    float* out = image.Row(y);
    const size_t row = static_cast<size_t>(line - 1) * static_cast<size_t>(selected_);
    const int32_t* at = tapAt_.data() + row;
    if (sourceX_.empty()) {
      const int64_t source = invert_ ? base + strip_.B - line : base + strip_.T + line - 1;
      const uint8_t* in = p.Rows.Row(static_cast<int32_t>(std::clamp<int64_t>(source, 0, lastRow)));
      int32_t done = 0;  // columns written
      for (const ColumnRun& run : runs_) {
        std::fill(out + done, out + run.To, kNaN);
        const uint8_t* from = in + run.From;
        float* to = out + run.To;
        for (int32_t k = 0; k < run.Count; ++k) to[k] = from[k];
        done = run.To + run.Count;
      }
      std::fill(out + done, out + selected_, kNaN);
      continue;
    }
    // The band's rows of this framelet (the last framelet may be cut short by the rows read).
    if (first + strip_.H - 1 > lastRow) {
      std::fill(out, out + selected_, kNaN);
      continue;
    }
    const uint8_t* band = p.Rows.Row(static_cast<int32_t>(first));
    const float* tx = tapX_.data() + row;
    const float* ty = tapY_.data() + row;
    BlendLine(band, wsrc, first, at, tx, ty, selected_, out,
              tapBlocks_.empty()
                  ? nullptr
                  : tapBlocks_.data() + static_cast<size_t>(line - 1) * (selected_ / 8));
  }
}

void StackStrips::BlendLine(const uint8_t* band, int32_t wsrc, int64_t first, const int32_t* at,
                            const float* tx, const float* ty, int32_t n, float* out,
                            const TapBlock* blocks) const {
#if QUELMAR_X86_VECTORS
  // The wide path reads sixteen bytes from a tap on: a row beyond the band keeps them inside.
  if (blocks != nullptr && kHasWideVectors && wsrc >= 16 &&
      first + strip_.H < product_->Rows.Lines()) {
    BlendTapBlocksWide(band, wsrc, blocks, at, tx, ty, n, out);
    return;
  }
#else
  static_cast<void>(blocks);
#endif
  BlendTaps(band, wsrc, at, tx, ty, 0, n, out);
}

void StackStrips::Prefetch(int32_t framelet) const {
  const LoadedProduct& p = *product_;
  const int64_t first = int64_t{framelet} * p.FrameletHeight + strip_.T;
  if (framelet < 0 || first < 0 || first + strip_.H > p.RowCount) return;
  const uint8_t* band = p.Rows.Row(static_cast<int32_t>(first));
  const size_t bytes = static_cast<size_t>(strip_.H) * static_cast<size_t>(p.Rows.Width());
  for (size_t at = 0; at < bytes; at += 64) __builtin_prefetch(band + at, 0, 2);
}

int32_t StackStrips::FindEmptyColumns(int32_t sampled,
                                      const std::function<void(const GreyImage&)>& look) {
  emptyColumns_.clear();
  std::vector<uint8_t> seen(static_cast<size_t>(width_), 0);
  const int32_t fc = Framelets();
  const int32_t count = std::max(1, std::min(sampled, fc));
  const auto frameletOf = [&](int32_t k) {
    return count == 1 ? 0 : static_cast<int32_t>(int64_t{k} * (fc - 1) / (count - 1));
  };
  // Each strip read into the same storage, and looked at as it is read.
  GreyImage strip;
  // Without a look at the strips, the first is read whole, and of the others only the columns
  // it left without data (a few at the strip's sides, or none), read at the selected columns as
  // the whole strips read them; the selection is given back afterwards. (Where most columns have
  // no data, as in the wide rows of ultraviolet bands, every strip is read whole.)
  bool narrow = !look && (sourceX_.empty() || !wholeAt_.empty());
  std::vector<int32_t> unseen;
  struct KeptSelection {
    StackStrips& strips;
    int32_t selected;
    std::vector<int32_t> at;
    std::vector<float> x, y;
    std::vector<ColumnRun> runs;
    std::vector<TapBlock> blocks;
    explicit KeptSelection(StackStrips& s)
        : strips(s),
          selected(s.selected_),
          at(std::move(s.tapAt_)),
          x(std::move(s.tapX_)),
          y(std::move(s.tapY_)),
          runs(std::move(s.runs_)),
          blocks(std::move(s.tapBlocks_)) {}
    ~KeptSelection() {
      strips.selected_ = selected;
      strips.tapAt_ = std::move(at);
      strips.tapX_ = std::move(x);
      strips.tapY_ = std::move(y);
      strips.runs_ = std::move(runs);
      strips.tapBlocks_ = std::move(blocks);
    }
    KeptSelection(const KeptSelection&) = delete;
    KeptSelection& operator=(const KeptSelection&) = delete;
  };
  std::optional<KeptSelection> kept;
  for (int32_t k = 0; k < count; ++k) {
    if (narrow && k == 1) {
      for (int32_t x = 0; x < width_; ++x)
        if (!seen[static_cast<size_t>(x)]) unseen.push_back(x);
      if (unseen.empty()) break;
      // Many columns without data (the wide rows of ultraviolet bands) are as quick read whole.
      if (unseen.size() * 4 > static_cast<size_t>(width_)) {
        unseen.clear();
        narrow = false;
      }
      if (narrow) {
        kept.emplace(*this);
        SelectColumns(unseen);
      }
    }
    if (kept) {
      ReadColumnsInto(frameletOf(k), 0, lines_, strip);
      for (int32_t y = 0; y < strip.Height; ++y) {
        const float* row = strip.Row(y);
        for (size_t i = 0; i < unseen.size(); ++i)
          seen[static_cast<size_t>(unseen[i])] |= static_cast<uint8_t>(row[i] > 0);
      }
      continue;
    }
    ReadInto(frameletOf(k), 0, lines_, strip);
    for (int32_t y = 0; y < strip.Height; ++y) {
      const float* row = strip.Row(y);
      uint8_t* s = seen.data();
      for (int32_t x = 0; x < width_; ++x) s[x] |= static_cast<uint8_t>(row[x] > 0);
    }
    if (look) look(strip);
  }
  kept.reset();
  for (int32_t x = 0; x < width_; ++x)
    if (!seen[static_cast<size_t>(x)]) emptyColumns_.push_back(x);
  return width_ - static_cast<int32_t>(emptyColumns_.size());
}

}  // namespace quelmar
