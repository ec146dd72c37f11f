#include "assembly/TravelProfile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "util/Errors.h"

namespace quelmar {

namespace {

int32_t Rounded(Real x, const char* what) {
  int32_t r;
  if (!RoundFitsInt32(x, r))
    throw RangeError(std::string(what) + " does not fit in a 32-bit integer");
  return r;
}

}  // namespace

ProfileLayout LayOutProfile(const TravelProfile& profile, int32_t framelets, int32_t frameletHeight,
                            int32_t stripHeight) {
  const size_t pairs = framelets > 1 ? static_cast<size_t>(framelets) - 1 : 0;
  if (profile.Vertical.size() != pairs || profile.Horizontal.size() != pairs) {
    throw RangeError("The travel profile has " + std::to_string(profile.Vertical.size()) +
                     " entries for " + std::to_string(pairs) + " framelet pairs");
  }
  ProfileLayout layout;
  const auto n = static_cast<size_t>(std::max(framelets, 0));
  std::vector<Real> down(n, 0), across(n, 0);
  for (size_t i = 1; i < n; ++i) {
    const Real v = profile.Vertical[i - 1], h = profile.Horizontal[i - 1];
    if (!std::isfinite(v) || !std::isfinite(h))
      throw RangeError("The travel profile holds a value that is not a finite number");
    down[i] = down[i - 1] + std::clamp<Real>(v, 0, static_cast<Real>(frameletHeight));
    across[i] = across[i - 1] + h;
  }
  const Real left = n > 0 ? *std::min_element(across.begin(), across.end()) : 0;
  const Real right = n > 0 ? *std::max_element(across.begin(), across.end()) : 0;
  // As with one travel, the picture is wider by the travels of all framelets (one more than
  // the span of their starts), and a product that moves left overall starts at the right.
  const Real span = n > 1 ? (right - left) * static_cast<Real>(n) / static_cast<Real>(n - 1) : 0;
  layout.ExtraWidth = Rounded(span, "The extra width of the picture");
  const bool leftward = n > 0 && across[n - 1] < 0;
  layout.RowsTaken.resize(n);
  layout.Columns.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const int32_t top = Rounded(down[i], "A picture row");
    layout.RowsTaken[i] = i + 1 == n ? stripHeight : Rounded(down[i + 1], "A picture row") - top;
    const Real start = leftward ? layout.ExtraWidth + across[i] - right : across[i] - left;
    layout.Columns[i] = std::clamp(Rounded(start, "A picture column"), 0, layout.ExtraWidth);
  }
  const int64_t height =
      n > 0 ? int64_t{Rounded(down[n - 1], "The picture height")} + stripHeight : stripHeight;
  if (height > std::numeric_limits<int32_t>::max())
    throw RangeError("The picture height does not fit in a 32-bit integer");
  layout.Height = static_cast<int32_t>(height);
  if (n > 1) {
    layout.MeanVertical = down[n - 1] / static_cast<Real>(n - 1);
    layout.MeanHorizontal = across[n - 1] / static_cast<Real>(n - 1);
  }
  return layout;
}

}  // namespace quelmar
