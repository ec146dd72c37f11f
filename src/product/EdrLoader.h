#pragma once
// Loading a WAC EDR product: the label up to END, the band layout, the image rows, the report.
#include <cstdint>
#include <functional>
#include <string>

#include "product/LoadedProduct.h"
#include "util/UserPort.h"

namespace quelmar {

enum class LoadOutcome {
  NoHeader,     // no END line: "Unable to find text header"; nothing more is done
  NoImageData,  // SAMPLE_BITS other than 8: no image; the caption is set and Raw runs
  ImageRead,    // rows read and reported; focus goes to Raw, the caption is set and Raw runs
};

// Reads the product at `path` into `product` and reports through `port` (from the "Loading: "
// line to the closing empty line), showing the busy cursor meanwhile. `prepareFields` is called
// with the band count at the point where the band and vertical travel fields are prepared.
// Run-time errors (file unreadable, truncated inside a row, absurd sizes) are thrown after the
// product has been left with no image.
LoadOutcome LoadEdrProduct(const std::string& path, LoadedProduct& product, UserPort& port,
                           const std::function<void(int32_t bandCount)>& prepareFields);

// The label lines, then an empty line.
void HeaderCommand(const LoadedProduct& product, UserPort& port);

}  // namespace quelmar
