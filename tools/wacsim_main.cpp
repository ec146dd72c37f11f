// wacsim: the sample product simulator (see WacsimCommand.h and Simulator.h).
#include <iostream>
#include <string>
#include <vector>

#include "WacsimCommand.h"
#include "util/Paths.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = quelmar::CommandLineArguments(argc, argv);
  return quelmar::sim::RunWacsim(args, std::cout, std::cerr);
}
