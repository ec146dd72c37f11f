#pragma once
// Runs the batch tool's command over every input file: a pool of worker threads, one file at a
// time each, and output printed in input order as soon as a file and all files before it are done.
#include "cli/CliOptions.h"

namespace quelmar::cli {

// The exit status: the worst file's status (0 done, 1 failed, 2 a value out of range).
int RunBatch(const CliOptions& options);

}  // namespace quelmar::cli
