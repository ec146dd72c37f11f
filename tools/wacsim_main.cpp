// wacsim: the sample product simulator (see WacsimCommand.h and Simulator.h).
#include <iostream>
#include <string>
#include <vector>

#include "WacsimCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return quelmar::sim::RunWacsim(args, std::cout, std::cerr);
}
