#pragma once
// The wacsim command line: options, the sample set, messages and exit status.
#include <ostream>
#include <string>
#include <vector>

#include "Simulator.h"

namespace quelmar::sim {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;  // files could not be made or written
inline constexpr int kExitUsage = 2;   // the command line is wrong

// The products of the sample set: one of each kind, a few MB in all.
std::vector<SimulatorOptions> SampleSetOptions();

// Runs wacsim with its arguments (the program name not included): reports go to `out`, problems
// to `err`. Returns the exit status.
int RunWacsim(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quelmar::sim
