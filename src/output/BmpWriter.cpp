#include "output/BmpWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <system_error>
#include <vector>

#include "util/Errors.h"
#include "util/Numbers.h"
#include "util/Paths.h"

namespace quelmar {

namespace fs = std::filesystem;

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

std::string ErrnoText(int error, const char* fallback) {
  if (error == 0) return fallback;
  return std::error_code(error, std::generic_category()).message();
}

FileError SaveError(const std::string& path, const std::string& reason) {
  return FileError("Cannot save the picture to \"" + path + "\": " + reason);
}

// Writes the whole bitmap into the file at `file` (created or truncated); FileError naming
// `shownPath` when it cannot be opened, written or closed.
void WriteBmpFile(const Picture& picture, const fs::path& file, const std::string& shownPath) {
  errno = 0;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw SaveError(shownPath, ErrnoText(errno, "the file cannot be created"));
  EmitBmp(picture, [&](const char* p, size_t n) {
    if (out) out.write(p, static_cast<std::streamsize>(n));
  });
  if (out) out.flush();
  if (!out) throw SaveError(shownPath, ErrnoText(errno, "the file cannot be written"));
  errno = 0;
  out.close();
  if (out.fail()) throw SaveError(shownPath, ErrnoText(errno, "the file cannot be written"));
}

fs::path TemporaryBeside(const fs::path& folder) {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::error_code ec;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint64_t n = generator();
    std::string name = ".quelmar-save-";
    for (int i = 0; i < 12; ++i) name.push_back("0123456789abcdef"[(n >> (4 * i)) & 0xF]);
    const fs::path candidate = folder / (name + ".tmp");
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
  return folder / ".quelmar-save.tmp";
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
  if (path.empty()) throw FileError("Cannot save the picture: no file name was given");
  fs::path target = FsPath(path);
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) throw SaveError(path, "it is a folder");
  BmpHeader(picture);  // refuses a picture too large for the format before any file is touched

  const bool exists = fs::exists(status);
  if (exists && !fs::is_regular_file(status)) {
    // A device or pipe: there is no content to keep, so it is written directly.
    WriteBmpFile(picture, target, path);
    return;
  }
  if (exists) {
    // Replacing goes through a rename, which would pass over a file the user made read-only;
    // opening it for appending (which changes nothing) tells whether it may be written.
    errno = 0;
    std::ofstream probe(target, std::ios::binary | std::ios::app);
    if (!probe) throw SaveError(path, ErrnoText(errno, "the file cannot be written"));
    probe.close();
    // A link keeps pointing where it did: the file it leads to is the one replaced.
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
      const fs::path resolved = fs::canonical(target, ec);
      if (!ec) target = resolved;
    }
  }

  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) {
    throw SaveError(path, "the folder \"" + Utf8Of(folder) + "\" does not exist");
  }

  // The bitmap goes to a temporary file beside the target first, so that an existing file stays
  // intact when writing fails part-way (a full disk, say); the rename then replaces it at once.
  const fs::path temporary = TemporaryBeside(folder);
  try {
    WriteBmpFile(picture, temporary, path);
    if (exists) fs::permissions(temporary, status.permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) throw SaveError(path, ec.message());
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

}  // namespace quelmar
