// Where the program's own files are found and created: beside the executable as for a portable
// copy, in the user's folders for an installed program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestFiles.h"
#include "util/FilePlaces.h"
#include "util/Paths.h"

using quelmar::FilePlaces;
using quelmar::FileRole;
using quelmar::ProgramFilePath;
using quelmar::testing::TempDir;
using quelmar::testing::WriteFileBytes;

namespace {

namespace fs = std::filesystem;

// A program folder and (not yet existing) user folders inside one temporary folder. Tests run
// as root too, for whom every folder is writable: whether the program folder takes new files
// is the fixture's choice.
struct Places {
  TempDir root;
  FilePlaces places;
  explicit Places(bool programFolderWritable) {
    fs::create_directories(root.File("bin"));
    places.programFolder = root.File("bin/");
    places.configFolder = root.File("config/quelmar/");
    places.dataFolder = root.File("data/quelmar/");
    places.programFolderTakesFiles = [programFolderWritable](const std::string&) {
      return programFolderWritable;
    };
  }
};

}  // namespace

TEST(FilePlaces, PortableProgramKeepsEverythingBesideItself) {
  Places p(true);
  // New files are created beside the program, and no user folder appears.
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Settings, "Quelmar.ini"),
            p.places.programFolder + "Quelmar.ini");
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Data, "CUMINDEX.TAB"),
            p.places.programFolder + "CUMINDEX.TAB");
  EXPECT_FALSE(fs::exists(p.root.File("config")));
  EXPECT_FALSE(fs::exists(p.root.File("data")));
  // A file beside the program wins over the user's copy, even in an unwritable folder.
  fs::create_directories(p.places.dataFolder);
  WriteFileBytes(p.places.dataFolder + "CUMINDEX.TAB", "user");
  WriteFileBytes(p.places.programFolder + "CUMINDEX.TAB", "program");
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Data, "CUMINDEX.TAB"),
            p.places.programFolder + "CUMINDEX.TAB");
  Places locked(false);
  WriteFileBytes(locked.places.programFolder + "Quelmar.ini", "[Quelmar parameters]\n");
  EXPECT_EQ(ProgramFilePath(locked.places, FileRole::Settings, "Quelmar.ini"),
            locked.places.programFolder + "Quelmar.ini");
}

TEST(FilePlaces, UnwritableProgramFolderSendsNewFilesToCreatedUserFolders) {
  Places p(false);
  const std::string cal =
      ProgramFilePath(p.places, FileRole::Data, "WAC_Images_DYRA_CalibrationData.txt");
  EXPECT_EQ(cal, p.places.dataFolder + "WAC_Images_DYRA_CalibrationData.txt");
  EXPECT_TRUE(fs::is_directory(p.places.dataFolder));
  EXPECT_FALSE(fs::exists(cal));  // the folder is made, the file is left to its writer
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Settings, "Quelmar.ini"),
            p.places.configFolder + "Quelmar.ini");
  EXPECT_TRUE(fs::is_directory(p.places.configFolder));
  // Settings and data never share a folder.
  EXPECT_FALSE(fs::exists(p.places.configFolder + "WAC_Images_DYRA_CalibrationData.txt"));
}

TEST(FilePlaces, FileOnlyInTheUserFolderIsFoundEvenBesideAWritableProgram) {
  Places p(true);
  fs::create_directories(p.places.configFolder);
  WriteFileBytes(p.places.configFolder + "Quelmar.ini", "[Quelmar parameters]\n");
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Settings, "Quelmar.ini"),
            p.places.configFolder + "Quelmar.ini");
  // The data role does not look in the settings folder.
  fs::create_directories(p.places.configFolder);
  WriteFileBytes(p.places.configFolder + "CUMINDEX.TAB", "x");
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Data, "CUMINDEX.TAB"),
            p.places.programFolder + "CUMINDEX.TAB");
}

TEST(FilePlaces, NoUserFolderKnownFallsBackBesideTheProgram) {
  Places p(false);
  p.places.configFolder.clear();
  p.places.dataFolder.clear();
  EXPECT_EQ(ProgramFilePath(p.places, FileRole::Data, "CUMINDEX.TAB"),
            p.places.programFolder + "CUMINDEX.TAB");
}

TEST(FilePlaces, InstalledProgramFolderNeverTakesFilesEvenForAdministrators) {
  TempDir root;
  fs::create_directories(root.File("usr/bin"));
  EXPECT_TRUE(quelmar::FolderTakesNewFiles(root.File("usr/bin/")));
  fs::create_directories(root.File("usr/share/quelmar"));
  EXPECT_FALSE(quelmar::FolderTakesNewFiles(root.File("usr/bin/")));
  EXPECT_FALSE(quelmar::FolderTakesNewFiles(root.File("usr/bin")));
  EXPECT_FALSE(quelmar::FolderTakesNewFiles(""));
}

#if !defined(_WIN32)
TEST(FilePlaces, UserFoldersFollowTheBaseDirectoryVariables) {
  const char* names[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    if (had[i]) saved[i] = v;
  }
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
  const FilePlaces places = quelmar::CurrentFilePlaces();
  EXPECT_EQ(places.configFolder, "/cfg/quelmar/");
  EXPECT_EQ(places.dataFolder, "/home/someone/.local/share/quelmar/");
  EXPECT_EQ(places.programFolder, quelmar::ExecutableFolder());
  for (int i = 0; i < 3; ++i) {
    if (had[i]) {
      setenv(names[i], saved[i].c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}
#endif
