// The batch tool as installed: a copy in <root>/usr/bin with <root>/usr/share/quelmar beside it
// takes its settings from the user's folder and writes nothing beside itself.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestFiles.h"

namespace quelmar::testing {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct InstalledCli {
  TempDir root;
  std::string program = root.File("usr/bin/quelmar-cli");
  InstalledCli() {
    fs::create_directories(root.File("usr/bin"));
    fs::create_directories(root.File("usr/share/quelmar"));
    fs::copy_file(QUELMAR_CLI, program);
    fs::permissions(program, fs::perms::owner_all);
  }
  // Runs the copy with the user's folders under root/home; gives stdout (stderr appended).
  std::string Run(const std::string& args, int& status) const {
    const std::string out = root.File("out.txt");
    const std::string command = "cd " + Quoted(root.Path()) +
                                " && XDG_CONFIG_HOME=" + Quoted(root.File("home/config")) +
                                " XDG_DATA_HOME=" + Quoted(root.File("home/data")) + " " +
                                Quoted(program) + " " + args + " >" + Quoted(out) + " 2>&1";
    const int raw = std::system(command.c_str());
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return ReadFileBytes(out);
  }
};

TEST(CliInstalled, SettingsOnlyInTheUserFolderAreUsedAndNothingIsWrittenBesideTheProgram) {
  InstalledCli cli;
  WriteFileBytes(
      cli.root.File("M1CE.IMG"),
      ProductBytes(MakeProduct("M1CE", 4, 14, 704, "(321, 360, 415, 566, 604, 643, 689) <nm>")));
  const std::string args = "stack --band 3 --correct --output-dir out M1CE.IMG";
  int status = -1;
  // Without a settings file the built-in filter list knows 415 nm.
  std::string out = cli.Run(args + " --overwrite", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("not found in filter list"), std::string::npos) << out;
  // The user's settings rename that filter: the tool must have read them.
  fs::create_directories(cli.root.File("home/config/quelmar"));
  WriteFileBytes(cli.root.File("home/config/quelmar/Quelmar.ini"),
                 "[Quelmar parameters]\r\nVis_Band1_ID=999\r\n");
  out = cli.Run(args + " --overwrite", status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Wavelength given in header (415 nm) not found in filter list"),
            std::string::npos)
      << out;
  // A missing index is looked for (and reported) in the user's data folder, whose folder is made.
  out = cli.Run("support M1CE.IMG", status);
  EXPECT_EQ(status, 1);
  EXPECT_TRUE(fs::is_directory(cli.root.File("home/data/quelmar")));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(cli.root.File("usr/bin"))) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u);  // the program alone
}

}  // namespace
}  // namespace quelmar::testing
