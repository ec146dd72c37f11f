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
// line to the closing empty line), showing the busy cursor meanwhile. `prepareFields` (may be
// empty) is called with the band count at the point where the band and vertical travel fields
// are prepared: after the wavelength lines, before the label numbers are converted.
//
// What the product holds afterwards:
// - ImageRead: the new label, band layout and rows. The image holds at most the rows the file
//   has (a short file gives fewer rows than LINES, with a note); RowCount rows are filled.
// - NoHeader: HeaderLines holds every line read; no image and RowCount 0; the other fields keep
//   the previous product's values.
// - NoImageData: the new label-derived fields; no image and RowCount 0.
// - A run-time error (QuelmarError: file missing or a folder or unreadable, file ending inside
//   the label area or a row, label longer than its label area, negative or absurd counts, no
//   memory, LRO:NFRAMES 0 or a framelet height of 0) is thrown with a message naming the file
//   and the reason. The product is then left with no image, RowCount 0 and FrameletCount 0;
//   the label lines and label-derived fields reached so far stay.
LoadOutcome LoadEdrProduct(const std::string& path, LoadedProduct& product, UserPort& port,
                           const std::function<void(int32_t bandCount)>& prepareFields);

// The label lines, then an empty line.
void HeaderCommand(const LoadedProduct& product, UserPort& port);

}  // namespace quelmar
