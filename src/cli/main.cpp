// quelmar-cli: the window's work in batch, for many products.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/BatchPort.h"
#include "cli/BatchRunner.h"
#include "cli/CliOptions.h"
#include "cli/FindCommand.h"
#include "util/MemoryPolicy.h"
#include "util/Numbers.h"
#include "util/Paths.h"

namespace {

void WriteErr(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quelmar::cli;
  quelmar::KeepFreedMemoryForReuse();
  quelmar::SetProcessNumberFormat();
  const std::vector<std::string> args = quelmar::CommandLineArguments(argc, argv);
  if (!args.empty() && args[0] == "find") {
    const int status = RunFindCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      WriteErr(std::string(kToolName) + ": the output could not be written to stdout\n");
      return status == 2 ? 2 : 1;
    }
    return status;
  }
  ParsedCommandLine parsed;
  try {
    parsed = ParseCommandLine(args);
  } catch (const UsageError& e) {
    const std::string help = e.CommandName().empty() ? "quelmar-cli --help"
                                                     : "quelmar-cli " + e.CommandName() + " --help";
    WriteErr(std::string(kToolName) + ": " + e.what() + "\nTry \"" + help +
             "\" for more information.\n");
    return 2;
  } catch (const std::exception& e) {
    // A path that cannot be looked at, no memory: reported, never an abort.
    WriteErr(std::string(kToolName) + ": " + e.what() + "\n");
    return 1;
  }
  if (!parsed.options) {
    std::fwrite(parsed.text.data(), 1, parsed.text.size(), stdout);
    return 0;
  }
  int status = 1;
  try {
    status = RunBatch(*parsed.options);
  } catch (const std::exception& e) {
    WriteErr(std::string(kToolName) + ": " + e.what() + "\n");
  }
  // Lines that never reached their destination (a full disk, a closed pipe) are a failure.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    WriteErr(std::string(kToolName) + ": the output could not be written to stdout\n");
    if (status == 0) status = 1;
  }
  return status;
}
