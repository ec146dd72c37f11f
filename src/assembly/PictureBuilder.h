#pragma once
// DisplayImage: every picture the program shows, raw or stacked (optionally corrected for the
// camera's radial distortion), as a pure function of the product, the request and the settings.
#include <cstdint>
#include <functional>
#include <string>

#include "assembly/DisplayedImage.h"
#include "assembly/Picture.h"
#include "assembly/TravelProfile.h"
#include "product/LoadedProduct.h"
#include "util/Numbers.h"
#include "util/UserPort.h"

namespace quelmar {

struct PictureRequest {
  bool Invert = false;
  bool Stacked = false;
  Real VerticalTravel = 0;
  Real HorizontalTravel = 0;
  // A travel measured per framelet pair: when it is not empty, a stack lays each framelet by it
  // (LayOutProfile) and the two travels above are not used. Empty: today's constant travel.
  TravelProfile Profile;
  bool CorrectDistortion = false;  // read only when stacked
  bool CorrectVertically = false;
  // The band field's validated integer value; asked once per stacked build, when needed.
  std::function<int32_t()> ReadBand;
  // The Shift field's validated integer value; asked once per corrected stack, when needed.
  std::function<int32_t()> ReadShift;
  // The settings file read afresh for every corrected stack ("Quelmar.ini" beside the program).
  std::string SettingsPath;
};

enum class DisplayOutcome {
  NoImage,  // nothing loaded: empty picture, "Need to load readable image data"
  Shown,    // the picture and `displayed` describe the new picture
  Refused,  // settings unusable for a correction: a message line; picture and record unchanged
};

// Builds the picture into `picture` and records what it shows in `displayed`, with the busy
// cursor shown meanwhile. A raw picture uses whole framelets, a vertical travel of one framelet
// and no horizontal travel, whatever the request's travels say. Errors (an index outside an
// array, overflow, unusable sizes) are thrown; they are found before the picture or the record
// changes, so both keep describing the picture shown before.
DisplayOutcome DisplayImage(const LoadedProduct& product, const PictureRequest& request,
                            UserPort& port, DisplayedImageInfo& displayed, Picture& picture);

// Whether pictures are drawn with the processor's byte shuffles where it has them (the default).
// Turned off, every picture takes the plain paths that processors without them take: the tests
// check both. Not for use while a picture is being built.
void UseProcessorShuffles(bool use);

}  // namespace quelmar
