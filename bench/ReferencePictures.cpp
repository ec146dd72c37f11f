#include "ReferencePictures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "BenchFixtures.h"
#include "assembly/BandRowBounds.h"
#include "assembly/CameraSettings.h"
#include "assembly/Distortion.h"
#include "assembly/RgbLibrary.h"
#include "util/Errors.h"

namespace quelmar::bench {

namespace {

void Put(Picture& picture, int32_t x, int32_t y, uint8_t b, uint8_t g, uint8_t r) {
  if (y < 0 || y >= picture.Height() || x < 0 || x >= picture.Width()) {
    throw RangeError("reference picture: pixel outside the picture");
  }
  uint8_t* p = picture.Row(y) + static_cast<size_t>(x) * 3;
  p[0] = b;
  p[1] = g;
  p[2] = r;
}

int32_t R32(Real x) {
  return RoundToInt32(x);
}

}  // namespace

Picture ReferencePicture(const LoadedProduct& product, const ReferenceRequest& request) {
  const int32_t fh = product.FrameletHeight;
  const int32_t fc = product.FrameletCount;
  const int32_t wsrc = product.Rows.Width();
  const std::vector<int32_t> bounds = BandRowBounds(product.BandCount, fh);

  int32_t T = 0, B = fh;
  Real vt = fh, ht = 0;
  if (request.stacked) {
    T = bounds.at(static_cast<size_t>(request.band) - 1);
    B = bounds.at(static_cast<size_t>(request.band));
    vt = std::clamp<Real>(request.verticalTravel, 0, fh);
    ht = request.horizontalTravel;
  }
  const int32_t H = B - T;

  // Distortion constants, the table and the width search, by the rules.
  const bool correct = request.stacked && request.correct;
  std::optional<DistortionGeometry> geometry;
  std::array<uint8_t, 3> noData{};
  int32_t W = wsrc;
  if (correct) {
    const CameraSettings settings = ReadCameraSettings(request.settingsPath);
    SilentPort port;
    const std::string wavelength =
        product.BandWavelengths.at(static_cast<size_t>(request.band) - 1);
    const CorrectionConstants c =
        DeriveCorrectionConstants(settings, ChooseFilter(settings, wavelength, port));
    RadialTable table = BuildRadialTable(5.0, c.K1, c.K2, c.Pitch);
    geometry.emplace(std::move(table.Entries), c, H, wsrc);
    geometry->SearchWidth();
    W = geometry->Width();
    noData = ColorToBgr(settings.NoDataColor);
  }

  const int32_t X = R32(std::fabs(ht) * fc);
  Picture picture;
  picture.Reset(W + X, R32((fc - 1) * vt) + H);

  Real P = ht >= 0 ? 0 : static_cast<Real>(X);
  int32_t D = 0;
  for (int32_t F = 1; F <= fc; ++F) {
    const int32_t C = R32(P);
    const int32_t K = F == fc ? H : R32(F * vt) - R32((F - 1) * vt);
    for (int32_t L = 1; L <= K; ++L, ++D) {
      for (int32_t i = 0; i < W; ++i) {
        if (!geometry) {
          int32_t S = request.invert ? (F - 1) * fh + B - L : (F - 1) * fh + T + L - 1;
          S = std::clamp(S, 0, product.RowCount - 1);
          const uint8_t v = product.Rows.Row(S)[i];
          Put(picture, C + i, D, v, v, v);
          continue;
        }
        const int32_t b = request.invert ? H - L + 1 : L;
        const SourceDisplacement d = geometry->SourceOffset(i, b);
        const int32_t V = i - geometry->OutputCentre() + d.Dx + geometry->SourceCentre();
        const int32_t b2 = request.vertical ? b - (d.Dy - request.shift) : b;
        if (!d.HasSource || b2 < 1 || b2 > H || V < 0 || V >= wsrc) {
          Put(picture, C + i, D, noData[0], noData[1], noData[2]);
          continue;
        }
        const int32_t S = std::clamp((F - 1) * fh + T + b2 - 1, 0, product.RowCount - 1);
        const uint8_t v = product.Rows.Row(S)[V];
        Put(picture, C + i, D, v, v, v);
      }
    }
    P += ht;
  }
  return picture;
}

std::string FirstDifference(const Picture& a, const Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) {
    return "sizes " + std::to_string(a.Width()) + " x " + std::to_string(a.Height()) + " vs " +
           std::to_string(b.Width()) + " x " + std::to_string(b.Height());
  }
  for (int32_t y = 0; y < a.Height(); ++y) {
    const uint8_t* p = a.Row(y);
    const uint8_t* q = b.Row(y);
    // The row's padding too: a store that runs past the last pixel shows there.
    for (int32_t x = 0; x < a.Stride(); ++x) {
      if (p[x] != q[x]) {
        const int32_t px = x / 3;
        auto pixel = [px](const uint8_t* row) {
          const uint8_t* s = row + static_cast<size_t>(px) * 3;
          std::string text(1, '(');
          for (int k = 0; k < 3; ++k) {
            if (k > 0) text += ", ";
            text += std::to_string(s[k]);
          }
          return text + ")";
        };
        return std::to_string(px) + ", " + std::to_string(y) + ": " + pixel(p) + " vs " + pixel(q);
      }
    }
  }
  return {};
}

}  // namespace quelmar::bench
