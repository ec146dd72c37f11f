#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/ScriptedPort.h"
#include "support/TestFiles.h"
#include "util/WinOps.h"

namespace quelmar {
namespace {

using testing::ScriptedPort;
using testing::TempDir;
using testing::WriteFileBytes;

class LocateFileTest : public ::testing::Test {
 protected:
  void SetUp() override { LastLocatedFolder.clear(); }
  void TearDown() override { LastLocatedFolder.clear(); }
  TempDir dir;
};

TEST_F(LocateFileTest, ExistingPathsThenAPickRememberedForLaterSearches) {
  std::filesystem::create_directory(dir.File("F"));
  WriteFileBytes(dir.File("F/cal.txt"), "x");
  ScriptedPort port;
  std::string found;
  EXPECT_TRUE(LocateFile("Photo calibration data file", dir.File("F/cal.txt"), found, port));
  EXPECT_EQ(found, dir.File("F/cal.txt"));
  EXPECT_EQ(LastLocatedFolder, "");  // no dialog, nothing remembered

  port.ExpectOpenDialog(dir.File("F/cal.txt"));
  EXPECT_TRUE(LocateFile("Photo calibration data file", dir.File("gone/cal.txt"), found, port));
  EXPECT_EQ(found, dir.File("F/cal.txt"));
  EXPECT_EQ(LastLocatedFolder, dir.File("F/"));
  const FileDialogRequest& request = port.Calls().front().request;
  EXPECT_EQ(request.title, "Photo calibration data file needed: cal.txt");
  EXPECT_EQ(request.fileName + "|" + request.initialFolder + "|" + request.filter,
            "cal.txt|" + dir.File("gone/") + "|*.txt|*.txt|All Files|*.*");

  // The same name anywhere else is then found in F without asking.
  EXPECT_TRUE(LocateFile("Photo calibration data file", "/nowhere/cal.txt", found, port));
  EXPECT_EQ(found, dir.File("F/cal.txt"));
  EXPECT_EQ(port.Calls().size(), 1u);
}

TEST_F(LocateFileTest, CancelledOrMissingPicksFail) {
  LastLocatedFolder = dir.File("");
  for (const std::optional<std::string>& pick :
       {std::optional<std::string>(), std::optional<std::string>(dir.File("typed.dat"))}) {
    ScriptedPort port;
    port.ExpectOpenDialog(pick);
    std::string found = "junk";
    EXPECT_FALSE(LocateFile("Data", "data", found, port));
    EXPECT_EQ(found, "data");
    EXPECT_EQ(LastLocatedFolder, dir.File(""));
    const FileDialogRequest& request = port.Calls().front().request;
    EXPECT_EQ(request.title + "|" + request.initialFolder + "|" + request.filter,
              "Data needed: data|./|*|*|All Files|*.*");  // no folder: the current one
  }
}

}  // namespace
}  // namespace quelmar
