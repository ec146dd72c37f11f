#include "output/SaveCommand.h"

#include <optional>

#include "output/PictureFile.h"

namespace quelmar {

std::string ProposedPictureName(const std::string& productId, const DisplayedImageInfo& shown) {
  if (shown.Stacked) return productId + "_" + shown.Wavelength + "nm.bmp";
  return productId + (shown.Inverted ? "_framelets_inverted.bmp" : "_unstacked.bmp");
}

void SaveCommand(const Picture& picture, bool addToCalFile, CalibrationContext& context,
                 UserPort& port) {
  FileDialogRequest request;
  request.fileName = ProposedPictureName(context.productId, context.displayed);
  const std::optional<std::string> chosen = port.ChooseSaveFile(request);
  if (!chosen) return;
  // Before any picture was built there is nothing to save, and that is not an error.
  if (!picture.Built()) return;
  // The name chosen tells the format: the bitmap unless it ends ".png".
  SavePicture(picture, *chosen, PictureFormatOfPath(*chosen));
  if (context.displayed.Stacked && addToCalFile) {
    WriteCalibrationRecord(*chosen, picture.Width(), picture.Height(), context, port);
  }
}

}  // namespace quelmar
