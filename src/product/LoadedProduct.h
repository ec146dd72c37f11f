#pragma once
// The one EDR product that is open: its label, identity, band layout and image bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/LargeBlock.h"

namespace quelmar {

// The image: `Lines()` rows of `Width()` unsigned 8-bit samples, held in one block so that each
// row is read straight into its final place.
class ImageRows {
 public:
  ImageRows() = default;
  // Allocates lines x width bytes once (contents unspecified); RangeError when the size cannot
  // be had.
  void Allocate(int32_t lines, int32_t width);
  void Clear();

  bool Empty() const { return lines_ == 0; }
  int32_t Lines() const { return lines_; }
  int32_t Width() const { return width_; }
  uint8_t* Row(int32_t i) { return data_.get() + static_cast<size_t>(i) * width_; }
  const uint8_t* Row(int32_t i) const { return data_.get() + static_cast<size_t>(i) * width_; }

 private:
  LargeBlock data_;
  int32_t lines_ = 0;
  int32_t width_ = 0;
};

struct LoadedProduct {
  std::string ProductId;
  std::vector<std::string> HeaderLines;
  ImageRows Rows;  // ImageRows
  int32_t RowCount = 0;
  int32_t FrameletCount = 0;
  int32_t FrameletHeight = 0;
  int32_t BandCount = 0;
  std::array<std::string, 7> BandWavelengths;  // entry k of the design is [k - 1]

  // A product with image data is present exactly when the image has a row.
  bool HasImage() const { return !Rows.Empty(); }
  // The value of the first label line whose key is exactly `keyword`; empty when none.
  std::string LabelKeywordValue(std::string_view keyword) const;
};

// The same lookup over any list of label lines.
std::string LabelKeywordValue(const std::vector<std::string>& headerLines,
                              std::string_view keyword);

}  // namespace quelmar
