// The rows of a band without correction: a row's run inside the band's columns blended in one
// go, the points at its edges in short, and the next row's band row asked for ahead.
#include <algorithm>
#include <array>

#include "assembly/BandSampler.h"

namespace quelmar {

void BandSampler::FetchAhead(const RowContext& c, int64_t f, int64_t r, const uint8_t* band) const {
  const uint8_t* ahead = nullptr;
  if (r < strip_.H) {
    ahead = band + r * c.rowStep;
  } else if (f + 1 < product_.FrameletCount) {
    // Past the travel: the same place in the next framelet.
    const auto k = static_cast<size_t>(f);
    const int64_t next = r - ((rowAt_[k + 1] - rowAt_[k]) >> 16);
    const int64_t top = (f + 1) * product_.FrameletHeight + c.topInFramelet;
    if (next >= 0 && next < strip_.H && top < product_.Rows.Lines()) {
      ahead = product_.Rows.Row(static_cast<int32_t>(top)) + next * c.rowStep;
    }
  }
  if (ahead == nullptr) return;
  for (int32_t k = firstColumn_; k <= lastColumn_; k += 64) __builtin_prefetch(ahead + k);
}

bool BandSampler::SamplePlainRow(const RowContext& c, int64_t x, int64_t step, int32_t count,
                                 int16_t* out) const {
  // Without a correction, every point of the row comes from the first framelet (the stack's,
  // then its neighbours) whose band holds the row, wherever that framelet's strip reaches.
  const int32_t fc = product_.FrameletCount, fh = product_.FrameletHeight, h = strip_.H;
  const int32_t rowHi = (h - 1) * 256;
  int64_t f = -1;
  int32_t row = 0;
  for (const int64_t tryF : {c.rowFramelet, c.rowFramelet + 1, c.rowFramelet - 1}) {
    if (tryF < 0 || tryF >= fc) continue;
    row = static_cast<int32_t>((c.yf - rowAt_[static_cast<size_t>(tryF)]) >> 8);
    if (row < -128 || row > rowHi + 128) continue;
    f = tryF;
    break;
  }
  if (f < 0) {
    std::fill(out, out + count, int16_t{-1});
    return true;
  }
  const int64_t top = f * fh + c.topInFramelet;
  const int64_t lines = product_.Rows.Lines();
  if (top >= lines || top + (h - 1) * (request_.Invert ? -1 : 1) >= lines) return false;
  // Points with x - base in 0..maxStrip read column (x - base) / 65536 of the band; those in
  // firstColumn_ .. lastColumn_ - 1 (no clamping, a right neighbour) take the quick blend.
  const int64_t base = c.start + colAt_[static_cast<size_t>(f)];
  const int64_t lo = int64_t{firstColumn_} * kOne, hi = int64_t{lastColumn_} * kOne;
  const auto firstAtOrAbove = [&](int64_t bound) {
    const int64_t d = bound - (x - base);
    const int64_t i = d <= 0 ? 0 : (d + step - 1) / step;
    return static_cast<int32_t>(std::clamp<int64_t>(i, 0, count));
  };
  const int32_t ia = firstAtOrAbove(lo), ib = std::max(ia, firstAtOrAbove(hi));
  row = std::clamp(row, 0, rowHi);
  const int32_t r0 = row >> 8, fy = row & 255;
  const uint8_t* s0 = product_.Rows.Row(static_cast<int32_t>(top)) + r0 * c.rowStep;
  const uint8_t* s1 = r0 + 1 <= h - 1 ? s0 + c.rowStep : s0;
  const int32_t wy0 = 256 - fy, wy1 = fy;
  FetchAhead(c, f, r0 + 2, product_.Rows.Row(static_cast<int32_t>(top)));
  // The points beyond the quick run: where the framelets a point may come from (the stack's
  // and its neighbours) lie at the same columns, what SamplePoint finds in short.
  bool alike = true;
  for (const int64_t k : {c.rowFramelet - 1, c.rowFramelet + 1, c.rowFramelet}) {
    if (k >= 0 && k < fc)
      alike = alike && colAt_[static_cast<size_t>(k)] == colAt_[static_cast<size_t>(f)];
  }
  const int64_t maxStrip = int64_t{stripWidth_ - 1} * kOne;
  const int32_t colLo = firstColumn_ * 256, colHi = lastColumn_ * 256;
  // Otherwise (a horizontal travel), each of those framelets' place in the row, worked out once:
  // a point takes the first whose band holds the row and whose strip reaches it.
  struct Try {
    bool holds = false;      // its band holds the row
    bool inProduct = false;  // and lies in the product
    int64_t base = 0;        // where its strip begins, 1/65536 columns
    const uint8_t* s0 = nullptr;
    const uint8_t* s1 = nullptr;
    int32_t fy = 0;
  };
  std::array<Try, 3> tries{};
  if (!alike) {
    size_t n = 0;
    for (const int64_t k : {c.rowFramelet, c.rowFramelet + 1, c.rowFramelet - 1}) {
      Try& t = tries[n++];
      if (k < 0 || k >= fc) continue;
      const int32_t r = static_cast<int32_t>((c.yf - rowAt_[static_cast<size_t>(k)]) >> 8);
      if (r < -128 || r > rowHi + 128) continue;
      t.holds = true;
      t.base = c.start + colAt_[static_cast<size_t>(k)];
      const int64_t kTop = k * fh + c.topInFramelet;
      t.inProduct = kTop < lines && kTop + (h - 1) * (request_.Invert ? -1 : 1) < lines;
      if (!t.inProduct) continue;
      const int32_t rc = std::clamp(r, 0, rowHi);
      t.s0 = product_.Rows.Row(static_cast<int32_t>(kTop)) + (rc >> 8) * c.rowStep;
      t.s1 = (rc >> 8) + 1 <= h - 1 ? t.s0 + c.rowStep : t.s0;
      t.fy = rc & 255;
    }
  }
  const auto edge = [&](int32_t i) -> int16_t {
    if (!alike) {
      for (const Try& t : tries) {
        if (!t.holds) continue;
        const int64_t xp = x + step * i - t.base;
        if (xp < -kOne / 2 || xp > maxStrip + kOne / 2) continue;
        if (!t.inProduct) return -1;
        int32_t col = static_cast<int32_t>(std::clamp<int64_t>(xp, 0, maxStrip) >> 8);
        if (col < colLo - 128 || col > colHi + 128) return -1;
        col = std::clamp(col, colLo, colHi);
        const int32_t c0 = col >> 8, fx = col & 255, c1 = std::min(c0 + 1, lastColumn_);
        const int32_t upper = t.s0[c0] * (256 - fx) + t.s0[c1] * fx;
        const int32_t lower = t.s1[c0] * (256 - fx) + t.s1[c1] * fx;
        return static_cast<int16_t>((upper * (256 - t.fy) + lower * t.fy + 2048) >> 12);
      }
      return -1;
    }
    const int64_t xp = x + step * i - base;
    if (xp < -kOne / 2 || xp > maxStrip + kOne / 2) return -1;
    int32_t col = static_cast<int32_t>(std::clamp<int64_t>(xp, 0, maxStrip) >> 8);
    if (col < colLo - 128 || col > colHi + 128) return -1;
    col = std::clamp(col, colLo, colHi);
    const int32_t c0 = col >> 8, fx = col & 255, c1 = std::min(c0 + 1, lastColumn_);
    const int32_t upper = s0[c0] * (256 - fx) + s0[c1] * fx;
    const int32_t lower = s1[c0] * (256 - fx) + s1[c1] * fx;
    return static_cast<int16_t>((upper * wy0 + lower * wy1 + 2048) >> 12);
  };
  // The points that some strip may reach (within half a column): the rest have no data.
  int64_t reachLo = base - kOne / 2, reachHi = base + maxStrip + kOne / 2;
  for (const Try& t : tries) {
    if (!t.holds) continue;
    reachLo = std::min(reachLo, t.base - kOne / 2);
    reachHi = std::max(reachHi, t.base + maxStrip + kOne / 2);
  }
  const auto firstAtOrAboveAbs = [&](int64_t bound) {
    const int64_t d = bound - x;
    const int64_t i = d <= 0 ? 0 : (d + step - 1) / step;
    return static_cast<int32_t>(std::clamp<int64_t>(i, 0, count));
  };
  const int32_t iLo = firstAtOrAboveAbs(reachLo), iHi = firstAtOrAboveAbs(reachHi + 1);
  for (int32_t i = 0; i < ia; ++i) out[i] = i < iLo || i >= iHi ? int16_t{-1} : edge(i);
  for (int32_t i = ib; i < count; ++i) out[i] = i < iLo || i >= iHi ? int16_t{-1} : edge(i);
  if (ia == ib) return true;
  const int64_t xa = x - base + step * ia;
  if (step == kOne) {
    // Whole-column steps: one horizontal weight for the run; the blend vectorises.
    const auto fx = static_cast<int32_t>((xa >> 8) & 255);
    BlendRun(s0 + (xa >> 16), s1 + (xa >> 16), fx, wy1, ib - ia, out + ia);
    return true;
  }
  int64_t xp = xa;
  for (int32_t i = ia; i < ib; ++i, xp += step) {
    const auto col = static_cast<int32_t>(xp >> 8);
    const int32_t c0 = col >> 8, fx = col & 255;
    const int32_t upper = s0[c0] * (256 - fx) + s0[c0 + 1] * fx;
    const int32_t lower = s1[c0] * (256 - fx) + s1[c0 + 1] * fx;
    out[i] = static_cast<int16_t>((upper * wy0 + lower * wy1 + 2048) >> 12);
  }
  return true;
}

}  // namespace quelmar
