#pragma once
// Save: the shown picture as a BMP (or a PNG, when the name chosen ends ".png") under a proposed
// name, then for a stacked band with "Add to cal file" ticked a photo calibration record.
#include <cstdint>
#include <string>

#include "assembly/DisplayedImage.h"
#include "assembly/Picture.h"
#include "support/IndexLookup.h"
#include "util/UserPort.h"

namespace quelmar {

// What the calibration step reads and may change.
struct CalibrationContext {
  const std::string& productId;
  int32_t frameletCount;
  const DisplayedImageInfo& displayed;
  std::string& indexFilePath;
  SupportDataInfo& supportData;
  std::string& calibrationFilePath;
};

// "<ProductId>_<Wavelength>nm.bmp", "_framelets_inverted.bmp" or "_unstacked.bmp".
std::string ProposedPictureName(const std::string& productId, const DisplayedImageInfo& shown);

// The Save command: proposes the name, runs the save dialog through the port, writes the bitmap,
// then the calibration step when asked for.
void SaveCommand(const Picture& picture, bool addToCalFile, CalibrationContext& context,
                 UserPort& port);

// Appends the U1 record for the bitmap just written (creating or finding the file on the way).
void WriteCalibrationRecord(const std::string& bitmapPath, int32_t width, int32_t height,
                            CalibrationContext& context, UserPort& port);

}  // namespace quelmar
