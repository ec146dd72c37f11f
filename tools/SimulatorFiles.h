#pragma once
// What wacsim writes for a simulated product: the EDR IMG file (a label in the archive's current
// form, padded to whole records, then the rows), its line of the cumulative index CUMINDEX.TAB,
// and the ground-truth scene as a 24-bit bitmap.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Simulator.h"
#include "assembly/Picture.h"

namespace quelmar::sim {

// "2010-04-22T00:11:33.636" for milliseconds since 0001-01-01T00:00:00.000.
std::string TimeText(int64_t ms);

// The label lines, without line ends; the last is "END".
std::vector<std::string> LabelLines(const SimulatedProduct& p);
// The label area: the label lines ended by CR LF, padded with blanks to LABEL_RECORDS records of
// LINE_SAMPLES bytes.
std::string LabelArea(const SimulatedProduct& p);
// The whole IMG file.
std::string ProductFileBytes(const SimulatedProduct& p);

// The product's line of CUMINDEX.TAB, without its line end: comma-separated fixed-width
// columns, texts in double quotes, the fields the program cuts out at their fixed positions.
// `labelRecords`: the product's label record count when known (0: counted from its label).
std::string IndexLine(const SimulatedProduct& p, int32_t labelRecords = 0);

std::string ProductFileName(const SimulatedProduct& p);  // "<id>.IMG"
std::string TruthFileName(const SimulatedProduct& p);    // "<id>_ground_truth.bmp"
std::string TravelFileName(const SimulatedProduct& p);   // "<id>_travel.txt"
// The true travel of every framelet pair: comment lines starting with "#", then one line per
// pair: the pair (1 for framelets 1 and 2), vertical and horizontal travel of the visible bands,
// then of the ultraviolet bands (a quarter of each), tab-separated, lines ending in CR LF.
std::string TravelFileText(const SimulatedProduct& p);
inline constexpr const char* kIndexFileName = "CUMINDEX.TAB";
// "<id>_<wl>nm_ground_truth.bmp": the scene as one band sees it.
std::string BandTruthFileName(const SimulatedProduct& p, const SimBand& band);
// "<id>_rgb_ground_truth.bmp": the default colour bands (RgbTruthBands) as red, green, blue.
std::string RgbTruthFileName(const SimulatedProduct& p);
// The bands of the colour ground truth, red first: 689, 604 and 415 nm where the product has
// them; empty for a product with fewer than three bands.
std::vector<const SimBand*> RgbTruthBands(const SimulatedProduct& p);

// The scene's grey levels as a picture.
Picture TruthPicture(const GroundScene& scene);
// The scene as one band sees it (its colour and response, no noise), as a grey picture.
Picture BandTruthPicture(const GroundScene& scene, const SimBand& band);
// The scene in three bands (red, green, blue) as a colour picture.
Picture RgbTruthPicture(const GroundScene& scene, const std::vector<const SimBand*>& rgb);

// Writes bytes to a temporary file beside `path` and renames it over `path`, so that an existing
// file is either replaced whole or left intact. FileError naming the file and the reason.
void WriteFileReplacing(const std::string& path, std::string_view bytes);

// Puts each product's line into the index at `indexPath`: a line that already holds the product
// id (first found at position 2 or later, as the lookup finds it) is replaced; otherwise the
// line is appended. Every other line is kept byte for byte. Creates the file when missing.
struct IndexEntry {
  std::string productId;
  std::string line;  // without its line end
};
void MergeIndexLines(const std::string& indexPath, const std::vector<IndexEntry>& entries);

// True when the file at `path` starts with a label that wacsim wrote.
bool WrittenBySimulator(const std::string& path);

// Writes the IMG file, the ground-truth bitmap and the true travels into `folder` (created when
// missing). An IMG file of the same name that wacsim did not write is never replaced
// (FileError). Returns the paths written: the product, the bitmap, the travels, then (products
// of several bands) each band's ground truth and the colour ground truth. The index is left to
// MergeIndexLines.
std::vector<std::string> WriteProductFiles(const SimulatedProduct& p, const std::string& folder);

// Joins a folder and a file name.
std::string PathIn(const std::string& folder, const std::string& name);

}  // namespace quelmar::sim
