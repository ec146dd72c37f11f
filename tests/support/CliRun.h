#pragma once
// Runs the built quelmar-cli (QUELMAR_CLI) through the shell, as a user would, capturing its
// exit status and both streams. For the CLI test programs only.
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace quelmar::testing {

struct CliRun {
  int status = -1;
  std::string out, err;
};

// `s` quoted for a POSIX shell.
inline std::string ShellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the tool with `args` in folder `cwd` (the current folder when empty).
inline CliRun RunCli(const std::vector<std::string>& args, const std::string& cwd = "") {
  TempDir capture;
  std::string command = cwd.empty() ? "" : "cd " + ShellQuoted(cwd) + " && ";
  command += ShellQuoted(QUELMAR_CLI);
  for (const std::string& a : args) command += " " + ShellQuoted(a);
  command += " >" + ShellQuoted(capture.File("out")) + " 2>" + ShellQuoted(capture.File("err"));
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileBytes(capture.File("out")),
          ReadFileBytes(capture.File("err"))};
}

}  // namespace quelmar::testing
