#pragma once
// A simulated product written to a test folder and loaded as the Load command loads it.
#include "Simulator.h"
#include "product/LoadedProduct.h"
#include "support/TestFiles.h"

namespace quelmar::testing {

// The product's file in `dir`, loaded (a failure to load its image fails the test).
LoadedProduct LoadSimulated(const sim::SimulatedProduct& simulated, const TempDir& dir);
// The same for a product of the simulator's defaults but for its kind, framelets and seed.
LoadedProduct LoadSimulated(sim::ProductKind kind, int32_t framelets, uint32_t seed,
                            const TempDir& dir);

}  // namespace quelmar::testing
