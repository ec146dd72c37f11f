#include "support/Simulated.h"

#include <gtest/gtest.h>

#include <string>

#include "SimulatorFiles.h"
#include "product/EdrLoader.h"
#include "support/ScriptedPort.h"

namespace quelmar::testing {

LoadedProduct LoadSimulated(const sim::SimulatedProduct& simulated, const TempDir& dir) {
  const std::string path = dir.File(sim::ProductFileName(simulated));
  WriteFileBytes(path, sim::ProductFileBytes(simulated));
  ScriptedPort port;
  LoadedProduct product;
  EXPECT_EQ(LoadEdrProduct(path, product, port, nullptr), LoadOutcome::ImageRead);
  return product;
}

LoadedProduct LoadSimulated(sim::ProductKind kind, int32_t framelets, uint32_t seed,
                            const TempDir& dir) {
  sim::SimulatorOptions options;
  options.kind = kind;
  options.framelets = framelets;
  options.seed = seed;
  return LoadSimulated(sim::SimulateProduct(options), dir);
}

}  // namespace quelmar::testing
