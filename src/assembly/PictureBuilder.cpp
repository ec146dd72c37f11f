#include "assembly/PictureBuilder.h"

#include "util/Errors.h"

namespace quelmar {

DisplayOutcome DisplayImage(const LoadedProduct& product, const PictureRequest&, UserPort& port,
                            DisplayedImageInfo&, Picture& picture) {
  if (!product.HasImage()) {
    picture.Reset(0, 0);
    port.AppendLine("Need to load readable image data");
    return DisplayOutcome::NoImage;
  }
  throw QuelmarError("Pictures are not built yet");
}

}  // namespace quelmar
