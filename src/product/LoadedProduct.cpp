#include "product/LoadedProduct.h"

#include <limits>
#include <new>

#include "util/Errors.h"
#include "util/WinOps.h"

namespace quelmar {

void ImageRows::Allocate(int32_t lines, int32_t width) {
  const uint64_t held = static_cast<uint64_t>(lines_) * static_cast<uint64_t>(width_);
  if (lines >= 0 && width >= 0 && held > 0 &&
      static_cast<uint64_t>(lines) * static_cast<uint64_t>(width) == held) {
    // A block of exactly this size is kept: its pages are already mapped, and a fresh block of
    // a large product costs the system more to hand out than the rows cost to read.
    lines_ = lines;
    width_ = width;
    return;
  }
  Clear();
  if (lines < 0 || width < 0) throw RangeError("Image size out of range");
  const uint64_t bytes = static_cast<uint64_t>(lines) * static_cast<uint64_t>(width);
  if (bytes > static_cast<uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
    throw RangeError("Out of memory: the image needs too many bytes");
  }
  if (bytes > 0) {
    data_ = AllocateLargeBlock(static_cast<size_t>(bytes));
    if (!data_)
      throw RangeError("Out of memory: " + std::to_string(bytes) + " bytes for the image");
  }
  lines_ = lines;
  width_ = width;
}

void ImageRows::Clear() {
  data_.reset();
  lines_ = 0;
  width_ = 0;
}

namespace {
std::string TrimControls(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}
}  // namespace

std::string LabelKeywordValue(const std::vector<std::string>& headerLines,
                              std::string_view keyword) {
  for (const std::string& line : headerLines) {
    std::string rest = line;
    std::string key;
    SplitAtDelimiter(rest, "=", key);
    if (TrimControls(key) == keyword) return TrimControls(rest);
  }
  return {};
}

std::string LoadedProduct::LabelKeywordValue(std::string_view keyword) const {
  return quelmar::LabelKeywordValue(HeaderLines, keyword);
}

}  // namespace quelmar
