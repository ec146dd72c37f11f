#include "output/SaveCommand.h"

#include "util/Errors.h"

namespace quelmar {

std::string ProposedPictureName(const std::string& productId, const DisplayedImageInfo& shown) {
  if (shown.Stacked) return productId + "_" + shown.Wavelength + "nm.bmp";
  return productId + (shown.Inverted ? "_framelets_inverted.bmp" : "_unstacked.bmp");
}

void SaveCommand(const Picture&, bool, CalibrationContext&, UserPort&) {
  throw FileError("Saving is not built yet");
}

void WriteCalibrationRecord(const std::string&, int32_t, int32_t, CalibrationContext&,
                            UserPort&) {
  throw FileError("not built yet");
}

}  // namespace quelmar
