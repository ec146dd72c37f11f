#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "output/BmpWriter.h"
#include "support/TestFiles.h"
#include "util/Errors.h"

namespace quelmar {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

uint32_t Le(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

// A picture whose every byte tells its place: blue = x, green = y, red = 200.
Picture Numbered(int32_t width, int32_t height) {
  Picture p;
  p.Reset(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      p.Row(y)[3 * x] = static_cast<uint8_t>(x);
      p.Row(y)[3 * x + 1] = static_cast<uint8_t>(y);
      p.Row(y)[3 * x + 2] = 200;
    }
  }
  return p;
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

TEST(OutputBmp, HeaderAndBottomUpRowsWithPadding) {
  for (int32_t width = 0; width <= 4; ++width) {
    const int32_t height = width == 0 ? 0 : 2;
    const std::string b = EncodeBmp(Numbered(width, height));
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) / 4 * 4;
    const uint32_t image = stride * static_cast<uint32_t>(height);
    SCOPED_TRACE(width);
    ASSERT_EQ(b.size(), 54 + image);
    EXPECT_EQ(b.substr(0, 2), "BM");
    // File size, reserved, pixel offset, header size, width, height, planes, bits, compression,
    // image size.
    const std::vector<uint32_t> fields = {Le(b, 2, 4),  Le(b, 6, 4),  Le(b, 10, 4), Le(b, 14, 4),
                                          Le(b, 18, 4), Le(b, 22, 4), Le(b, 26, 2), Le(b, 28, 2),
                                          Le(b, 30, 4), Le(b, 34, 4)};
    EXPECT_EQ(fields, (std::vector<uint32_t>{54 + image, 0, 54, 40, static_cast<uint32_t>(width),
                                             static_cast<uint32_t>(height), 1, 24, 0, image}));
    for (int32_t row = 0; row < height; ++row) {
      std::string expected;  // the first stored row is the bottom one
      for (int32_t x = 0; x < width; ++x) expected += {char(x), char(height - 1 - row), char(200)};
      expected.resize(stride, '\0');
      EXPECT_EQ(b.substr(54 + row * stride, stride), expected) << row;
    }
  }
}

TEST(OutputBmp, WritesExactlyTheChosenNameOrFailsLeavingFilesIntact) {
  TempDir dir;
  const Picture picture = Numbered(5, 3);
  for (const char* name : {"plain", "picture.png", "picture.bmp"}) {
    WriteFileBytes(dir.File("picture.bmp"), "older content");
    WriteBmp(picture, dir.File(name));
    EXPECT_EQ(ReadFileBytes(dir.File(name)), EncodeBmp(picture)) << name;
  }
  std::filesystem::create_directory(dir.File("sub"));
  for (const std::string& bad : {dir.File("no-such-folder/a.bmp"), dir.File("sub"), std::string(),
                                 std::string("/dev/full")}) {
    EXPECT_THROW(WriteBmp(picture, bad), FileError) << bad;
  }

#if !defined(_WIN32)  // file size limits are POSIX only
  // Files may not grow beyond 1 MiB for a moment: the 1.5 MB bitmap fails part-way.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool threw = false;
  try {
    WriteBmp(Numbered(1000, 500), dir.File("plain"));
  } catch (const FileError&) {
    threw = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFileBytes(dir.File("plain")), EncodeBmp(picture));
#endif
  EXPECT_EQ(Entries(dir.Path()),
            (std::set<std::string>{"plain", "picture.png", "picture.bmp", "sub"}));
  EXPECT_TRUE(Entries(dir.File("sub")).empty());
}

}  // namespace
}  // namespace quelmar
