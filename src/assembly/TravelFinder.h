#pragma once
// MeasureTravel: the vertical and horizontal travel of one band, measured from the overlap of
// consecutive framelets rather than typed in, with the travel found between every pair of
// framelets (so that a travel drifting along a long product shows) and how well they agreed.
// Corrected vertically, where consecutive strips share only a few rows, the band's strips are
// matched against its neighbour's some framelets later instead: they share most of their rows.
#include <cstdint>
#include <string>
#include <vector>

#include "assembly/StackStrips.h"
#include "assembly/TravelProfile.h"
#include "product/LoadedProduct.h"
#include "util/Numbers.h"
#include "util/UserPort.h"

namespace quelmar {

// The travel between framelets f and f + 1, in the stack's rows and columns.
struct TravelPair {
  bool Found = false;
  Real Vertical = 0;
  Real Horizontal = 0;
  Real Residual = 0;    // root mean square grey difference of the two strips where they overlap
  std::string Problem;  // why the pair could not tell, when not found
};

struct TravelEstimate {
  bool Found = false;
  std::string Reason;  // when not found: why, in words
  int32_t Band = 0;
  std::string Wavelength;
  Real Vertical = 0;                      // output rows per framelet
  Real Horizontal = 0;                    // output columns per framelet
  Real VerticalMin = 0, VerticalMax = 0;  // over the smoothed profile
  Real HorizontalMin = 0, HorizontalMax = 0;
  int32_t Pairs = 0;                // framelet pairs in the product
  int32_t PairsUsed = 0;            // pairs that could tell
  Real Residual = 0;                // median over the pairs used
  std::vector<TravelPair> Profile;  // one per pair, as measured
  // The profile smoothed along the product, every pair filled in: what a stack with the profile
  // uses. Empty when not found.
  std::vector<Real> SmoothVertical, SmoothHorizontal;

  // How far the smoothed profile may stray by chance: the scatter of the pairs about it over
  // the square root of the pairs it averages.
  Real ProfileNoise = 0;

  // Whether the smoothed profile varies along the product by more than a tenth of a pixel
  // beyond what its noise explains.
  bool Varies() const;
};

// What a stack with the measured travel needs when the travel varies: the smoothed per-pair
// travels (empty when not found).
TravelProfile ProfileOf(const TravelEstimate& estimate);

// Measures the travel of one band with the picture options of the stack it is for. Never makes
// a number up: a product that cannot tell gives Found false and the reason. RangeError for a
// band outside the product; nothing loaded gives "no image data". `threads` 0 uses every core,
// 1 only this thread; the result is the same either way.
TravelEstimate MeasureTravel(const LoadedProduct& product, const StripGeometry& geometry,
                             UserPort& port, int32_t threads = 0);

// "Travel found: vertical 10.874, horizontal -0.312 pixels (band 3, 815 framelet pairs)" or
// "Travel not found (band 3): <reason>".
std::string TravelMessage(const TravelEstimate& estimate);

// A measured travel as the messages and the travel fields give it, to three decimals: a stack
// made with it is the one a user makes by typing what they show.
Real TravelAsShown(Real travel);

}  // namespace quelmar
