// PNG files written by the core, read back by libpng and compared pixel by pixel.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output/PictureFile.h"
#include "output/PngWriter.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

struct Decoded {
  uint32_t width = 0, height = 0;
  int colourType = -1, bitDepth = 0;
  std::vector<std::vector<uint8_t>> rows;
};

struct Reader {
  const std::string* bytes;
  size_t at = 8;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
  auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
  if (reader->at + count > reader->bytes->size()) png_error(png, "read past the end");
  std::memcpy(out, reader->bytes->data() + reader->at, count);
  reader->at += count;
}

// Decodes with libpng, which checks every CRC and the zlib stream; fails the test on error.
Decoded Decode(const std::string& bytes) {
  Decoded d;
  EXPECT_GE(bytes.size(), 8u);
  EXPECT_EQ(png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8), 0);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Reader reader{&bytes};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    ADD_FAILURE() << "libpng refused the file";
    return Decoded{};
  }
  png_set_read_fn(png, &reader, ReadBytes);
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  d.width = png_get_image_width(png, info);
  d.height = png_get_image_height(png, info);
  d.colourType = png_get_color_type(png, info);
  d.bitDepth = png_get_bit_depth(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  d.rows.assign(d.height, std::vector<uint8_t>(rowBytes));
  std::vector<png_bytep> pointers;
  for (auto& r : d.rows) pointers.push_back(r.data());
  png_read_image(png, pointers.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return d;
}

Picture Random(int32_t width, int32_t height, bool grey, uint32_t seed) {
  std::mt19937 generator(seed);
  Picture p;
  p.Reset(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* px = p.Row(y) + 3 * x;
      // Smooth areas and noise alike, so every row filter gets chosen somewhere.
      const uint8_t base = static_cast<uint8_t>((x * 3 + y * 5) / (1 + (y % 4)));
      const uint8_t v = (y / 7) % 2 ? static_cast<uint8_t>(generator()) : base;
      px[0] = v;
      px[1] = grey ? v : static_cast<uint8_t>(v + x);
      px[2] = grey ? v : static_cast<uint8_t>(generator() >> 3);
    }
  }
  return p;
}

void ExpectSamePixels(const Picture& picture, const Decoded& d, bool grey) {
  ASSERT_EQ(d.width, static_cast<uint32_t>(picture.Width()));
  ASSERT_EQ(d.height, static_cast<uint32_t>(picture.Height()));
  EXPECT_EQ(d.bitDepth, 8);
  EXPECT_EQ(d.colourType, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB);
  for (int32_t y = 0; y < picture.Height(); ++y) {
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const uint8_t* px = picture.Row(y) + 3 * x;
      const std::vector<uint8_t>& row = d.rows[static_cast<size_t>(y)];
      if (grey) {
        ASSERT_EQ(row[static_cast<size_t>(x)], px[0]) << x << "," << y;
      } else {
        ASSERT_EQ(row[3 * static_cast<size_t>(x)], px[2]) << x << "," << y;
        ASSERT_EQ(row[3 * static_cast<size_t>(x) + 1], px[1]) << x << "," << y;
        ASSERT_EQ(row[3 * static_cast<size_t>(x) + 2], px[0]) << x << "," << y;
      }
    }
  }
}

TEST(PngDecode, GreyAndColourPicturesDecodeToTheirExactPixels) {
  // Widths around the row padding, a single pixel, and a picture large enough for several
  // compressed chunks.
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1},  {1, 5},    {2, 3},     {3, 2},
                                               {5, 17}, {704, 90}, {1500, 900}};
  for (const auto& [w, h] : sizes) {
    for (const bool grey : {true, false}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (grey ? " grey" : " colour"));
      const Picture picture = Random(w, h, grey, static_cast<uint32_t>(w * 31 + h));
      EXPECT_EQ(IsGreyPicture(picture), grey);
      const std::string bytes = EncodePng(picture);
      ExpectSamePixels(picture, Decode(bytes), grey);
      EXPECT_EQ(EncodePng(picture), bytes);  // the same picture, the same bytes
    }
  }
}

TEST(PngDecode, OneColouredPixelMakesTheWholePictureColour) {
  Picture picture = Random(40, 30, true, 7);
  picture.Row(29)[3 * 39 + 2] ^= 1;
  EXPECT_FALSE(IsGreyPicture(picture));
  ExpectSamePixels(picture, Decode(EncodePng(picture)), false);
}

TEST(PngDecode, SavePictureWritesTheFormatAskedForAndReplacesOnlyWhenWhole) {
  TempDir dir;
  const Picture picture = Random(64, 48, false, 3);
  const std::string png = dir.File("a.png"), bmp = dir.File("a.bmp");
  SavePicture(picture, png, PictureFormat::Png);
  ExpectSamePixels(picture, Decode(ReadFileBytes(png)), false);
  SavePicture(picture, bmp, PictureFormat::Bmp);
  EXPECT_EQ(ReadFileBytes(bmp).substr(0, 2), "BM");

  // A picture without pixels has no PNG form: refused, and the file there is kept.
  WriteFileBytes(png, "keep me");
  Picture empty;
  empty.Reset(0, 0);
  EXPECT_THROW(SavePicture(empty, png, PictureFormat::Png), RangeError);
  EXPECT_EQ(ReadFileBytes(png), "keep me");
  // A folder is not replaced by a picture.
  EXPECT_THROW(SavePicture(picture, dir.Path(), PictureFormat::Png), FileError);
}

}  // namespace
}  // namespace quelmar
