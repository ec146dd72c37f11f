// wacsim's sideways drift and changing travel: where framelets look, the label's interframe
// delay, and the file of true travels beside the product.
#include <gtest/gtest.h>

#include <string>

#include "Simulator.h"
#include "SimulatorFiles.h"

namespace quelmar::sim {
namespace {

TEST(SimulatorTravel, DriftAndChangingTravelPlaceTheFramelets) {
  SimulatorOptions o;
  o.kind = ProductKind::VE;
  o.framelets = 11;
  o.travel = 12.0;
  o.travelEnd = 9.0;
  o.drift = -0.75;
  const SimulatedProduct p = SimulateProduct(o);
  ASSERT_EQ(p.frameletY.size(), 11u);
  EXPECT_DOUBLE_EQ(p.PairTravel(0), 12.0);
  EXPECT_DOUBLE_EQ(p.PairTravel(9), 9.0);
  EXPECT_NEAR(p.PairTravel(5), 12.0 - 3.0 * 5 / 9, 1e-12);  // linear along the pairs
  EXPECT_DOUBLE_EQ(p.PairDrift(4), -0.75);
  EXPECT_NEAR(p.frameletY.back(), 10 * 10.5, 1e-9);

  // The interframe delay fits the mean travel: the same as a constant travel of 10.5 gives.
  SimulatorOptions constant = o;
  constant.travelEnd.reset();
  constant.travel = 10.5;
  EXPECT_EQ(p.observation.frameDelayMs, SimulateProduct(constant).observation.frameDelayMs);

  const std::string text = TravelFileText(p);
  EXPECT_EQ(text.find("# "), 0u);
  EXPECT_NE(text.find("\r\n1\t12.000000\t-0.750000\t3.000000\t-0.187500\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n10\t9.000000\t-0.750000\t2.250000\t-0.187500\r\n"), std::string::npos);
  EXPECT_EQ(TravelFileName(p), p.productId + "_travel.txt");
}

TEST(SimulatorTravel, DefaultsKeepTheProductAsItWasAndBadValuesAreRefused) {
  SimulatorOptions o;
  o.framelets = 4;
  const SimulatedProduct p = SimulateProduct(o);
  for (int32_t f = 0; f < 4; ++f) EXPECT_EQ(p.frameletY[static_cast<size_t>(f)], f * o.travel);
  EXPECT_EQ(ProductFileBytes(p).find("drift"), std::string::npos);

  o.drift = 3.5;
  EXPECT_NE(OptionsProblem(o).find("drift"), std::string::npos);
  o.drift = 0;
  o.travelEnd = 0.5;
  EXPECT_NE(OptionsProblem(o).find("travel at the end"), std::string::npos);
}

}  // namespace
}  // namespace quelmar::sim
