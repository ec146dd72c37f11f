#include "output/BmpWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "output/ReplaceFile.h"
#include "util/Errors.h"
#include "util/Numbers.h"

namespace quelmar {

namespace {

constexpr uint32_t kHeaderBytes = 14 + 40;  // BITMAPFILEHEADER + BITMAPINFOHEADER
constexpr int32_t kPixelsPerMetre = 2835;   // 72 dots per inch

void PutU16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void PutU32(std::string& s, uint32_t v) {
  PutU16(s, v & 0xFFFF);
  PutU16(s, v >> 16);
}

// Bytes per row in the file: three per pixel, padded to a multiple of four.
uint64_t FileStride(int32_t width) {
  return (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
}

std::string BmpHeader(const Picture& picture) {
  const uint64_t imageBytes = FileStride(picture.Width()) * static_cast<uint64_t>(picture.Height());
  if (imageBytes + kHeaderBytes > UINT32_MAX) {
    throw RangeError("The picture of " + FormatInt(picture.Width()) + " x " +
                     FormatInt(picture.Height()) + " pixels is too large for a bitmap file");
  }
  std::string h;
  h.reserve(kHeaderBytes);
  h += "BM";
  PutU32(h, static_cast<uint32_t>(imageBytes + kHeaderBytes));  // file size
  PutU32(h, 0);                                                 // reserved
  PutU32(h, kHeaderBytes);                                      // offset of the pixels
  PutU32(h, 40);                                                // info header size
  PutU32(h, static_cast<uint32_t>(picture.Width()));
  PutU32(h, static_cast<uint32_t>(picture.Height()));  // positive: rows stored bottom-up
  PutU16(h, 1);                                        // planes
  PutU16(h, 24);                                       // bits per pixel
  PutU32(h, 0);                                        // no compression
  PutU32(h, static_cast<uint32_t>(imageBytes));
  PutU32(h, kPixelsPerMetre);
  PutU32(h, kPixelsPerMetre);
  PutU32(h, 0);  // colours used
  PutU32(h, 0);  // important colours
  return h;
}

// Hands the file's bytes to `sink` piece by piece: the header, then the rows from the bottom up
// with their padding as zeros, gathered into blocks of about 1 MiB (a write per row would cost
// a large picture thousands of system calls).
void EmitBmp(const Picture& picture, const std::function<void(const char*, size_t)>& sink) {
  const std::string header = BmpHeader(picture);
  sink(header.data(), header.size());
  const int32_t height = picture.Height();
  if (height == 0) return;
  const size_t pixelBytes = static_cast<size_t>(picture.Width()) * 3;
  const size_t stride = static_cast<size_t>(FileStride(picture.Width()));
  const size_t rowsPerBlock =
      std::max<size_t>(1, std::min<size_t>(static_cast<size_t>(height),
                                           (size_t{1} << 20) / std::max<size_t>(stride, 1)));
  // Zeroed once: only the pixel bytes of each row are written, so the padding stays 0.
  std::vector<char> block(rowsPerBlock * stride, 0);
  for (int32_t y = height - 1; y >= 0;) {
    size_t rows = 0;
    for (; rows < rowsPerBlock && y >= 0; ++rows, --y) {
      if (pixelBytes > 0) std::memcpy(block.data() + rows * stride, picture.Row(y), pixelBytes);
    }
    sink(block.data(), rows * stride);
  }
}

}  // namespace

std::string EncodeBmp(const Picture& picture) {
  // Rows go straight into the result: gathering them into blocks first, as a file needs, would
  // copy every byte twice.
  const std::string header = BmpHeader(picture);
  const size_t pixelBytes = static_cast<size_t>(picture.Width()) * 3;
  const size_t stride = static_cast<size_t>(FileStride(picture.Width()));
  std::string bytes;
  bytes.reserve(header.size() + stride * static_cast<size_t>(picture.Height()));
  bytes.append(header);
  static constexpr char kPadding[4] = {0, 0, 0, 0};
  for (int32_t y = picture.Height() - 1; y >= 0; --y) {
    bytes.append(reinterpret_cast<const char*>(picture.Row(y)), pixelBytes);
    bytes.append(kPadding, stride - pixelBytes);
  }
  return bytes;
}

void WriteBmp(const Picture& picture, const std::string& path) {
  BmpHeader(picture);  // refuses a picture too large for the format before any file is touched
  WriteFileReplacing(path, [&picture](const ByteSink& sink) { EmitBmp(picture, sink); });
}

}  // namespace quelmar
