#pragma once
// The text side of an EDR IMG file: opening it, reading its label lines up to END, the band
// count named by the product identifier and the centre wavelengths listed in the label.
#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// Opens the file at `path` for reading bytes. FileError, naming the path and the reason, when it
// does not exist, is a folder or cannot be opened.
std::ifstream OpenProductFile(const std::string& path);

struct LabelReadResult {
  bool endFound = false;  // the last line read is END (in any letter case)
  // Bytes from the start of the file to the end of the END line's text (its line end not
  // counted); 0 when no END line was found.
  int64_t labelBytes = 0;
};

// Reads label lines from the start of the file and appends them to `lines`, up to and including
// the line whose capitalised form is exactly "END", or up to the end of the file. A line feed
// ends a line, carriage returns are dropped wherever they stand, a byte 26 ends the file; lines
// have no length limit. FileError when the file cannot be opened or read.
LabelReadResult ReadLabelLines(const std::string& path, std::vector<std::string>& lines);

// Small letters a to z turned into capitals; nothing else changes.
std::string UpperAscii(std::string_view text);

// Band count named by the last two characters of the product identifier: "ME" 1, "UE" 2,
// "VE" 5, "CE" 7. Anything else gives 1 with `recognised` false.
int32_t BandCountOfProductId(std::string_view productId, bool& recognised);

// The CENTER_FILTER_WAVELENGTH values of the label: entries 1..n (at most 7) are the listed
// values without their unit, entries n+1..7 the decimal texts of their own numbers. Returns n.
// Understood forms: "(321 <nm>, 360 <nm>)" (a unit after each item), "(321, 360) <nm>" (one unit
// after the list), "643 <nm>" (a single value), and lists running over several label lines.
int32_t ReadBandWavelengths(const std::vector<std::string>& headerLines,
                            std::array<std::string, 7>& wavelengths);

}  // namespace quelmar
