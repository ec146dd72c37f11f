#include "cli/ColourCommand.h"

#include <algorithm>

#include "assembly/ColourComposite.h"
#include "assembly/PictureBuilder.h"
#include "cli/TravelWork.h"
#include "output/PictureFile.h"
#include "util/Errors.h"
#include "util/Paths.h"
#include "util/WinOps.h"

namespace quelmar::cli {

namespace {

constexpr const char* kHelp =
    R"(Usage: quelmar-cli colour [--bands R,G,B] [--reference N] [--stretch none|P1,P2]
                          [--vertical-travel X|auto] [--horizontal-travel X|auto]
                          [--travel-profile] [--invert]
                          [--correct] [--correct-vertically] [--shift N] [--settings FILE.ini]
                          [-o OUT.bmp | --output-dir DIR] [--overwrite] [--format bmp|png]
                          [--jobs N] FILE.IMG...

Loads each product (writing the Load report) and combines three of its bands into one 24-bit
colour picture: red from the longest wavelength, green from the middle one, blue from the
shortest. Each band is read at sub-pixel positions from the framelets themselves (bilinear;
ultraviolet bands from their binned grid) and laid on the reference band's stack. The camera
geometry places each band; the offset that remains is measured against the reference band
over the whole strip (and, where it drifts along the strip, as a line along it) and taken out.
Where any of the three bands has no data the picture shows the no-data colour of the settings.

Options
  --bands R,G,B            three different bands of the product, in any order (default: the
                           bands of 689, 604 and 415 nm). A product with fewer than three bands,
                           or without the bands asked for, stops with status 2
  --reference N            the band (one of the three) whose stack grid the picture takes
                           (default: the middle wavelength)
  --stretch none|P1,P2     none: the samples as they are (default); P1,P2: each channel
                           stretched so that its P1 and P2 percentiles become 0 and 255
                           (enhanced colour), 0 <= P1 < P2 <= 100, e.g. 1,99
  --vertical-travel X      rows per framelet of the visible bands, above 0 up to 14 (default:
                           11); ultraviolet bands travel a quarter of it. "auto": measured from
                           the overlap of consecutive framelets of the reference band (of the
                           red band when the reference is ultraviolet), as stack measures it
  --horizontal-travel X    columns per framelet of the visible bands (default: 0); "auto" as
                           above
  --travel-profile         both travels measured, and where they vary along the product each
                           framelet placed by the travels measured between its pairs
  --invert, --correct, --correct-vertically, --shift N, --settings FILE.ini
                           as for the stack command, for every band
  -o OUT.bmp               the bitmap's path (one input file only)
  --output-dir DIR         folder of the bitmaps, created when missing (default: the current
                           folder); each is named <PRODUCT_ID>_<wlR>_<wlG>_<wlB>nm.bmp
  --overwrite              replace existing bitmaps
  --format bmp|png         bmp (the default) or png (24-bit colour); the proposed names then end
                           ".png". Without it, -o OUT.png writes a PNG as well

Stdout also carries one line per channel: its band, and the offset found beyond the camera
geometry (pixels right and down, with its drift per 1000 rows and the residual left after it).
)";

UsageError Bad(const std::string& option, const std::string& value, const std::string& why,
               const std::string& command) {
  return UsageError(option + ": \"" + value + "\" " + why, command);
}

// "a,b" split at its one comma, both parts trimmed.
bool SplitPair(const std::string& text, std::string& a, std::string& b) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) return false;
  a = TrimBlanks(text.substr(0, comma));
  b = TrimBlanks(text.substr(comma + 1));
  return true;
}

}  // namespace

const char* ColourHelp() {
  return kHelp;
}

void ParseColourOption(const std::string& key, const std::string& value, const std::string& command,
                       ColourOptions& colour) {
  if (key == "--bands") {
    std::array<int32_t, 3> bands{};
    std::string rest = value;
    for (size_t i = 0; i < 3; ++i) {
      const size_t comma = rest.find(',');
      if ((i < 2) != (comma != std::string::npos)) {
        throw Bad(key, value, "must be three band numbers separated by commas, e.g. 7,5,3",
                  command);
      }
      const std::string item = TrimBlanks(rest.substr(0, comma));
      rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
      const Int32Parse n = ParseInt32(item);
      if (item.empty() || !n.ok() || n.value < 1 || n.value > 7) {
        throw Bad(key, value, "must hold band numbers from 1 to 7", command);
      }
      bands[i] = n.value;
    }
    if (bands[0] == bands[1] || bands[1] == bands[2] || bands[0] == bands[2]) {
      throw Bad(key, value, "must name three different bands", command);
    }
    colour.bands = bands;
  } else if (key == "--reference") {
    const Int32Parse n = ParseInt32(TrimBlanks(value));
    if (!n.ok() || n.value < 1 || n.value > 7) {
      throw Bad(key, value, "must be a band number from 1 to 7", command);
    }
    colour.reference = n.value;
  } else if (key == "--stretch") {
    if (TrimBlanks(value) == "none") {
      colour.stretch = false;
      return;
    }
    std::string low, high;
    const RealParse a = SplitPair(value, low, high) ? ParseReal(low) : RealParse{0, 1};
    const RealParse b = ParseReal(high);
    if (low.empty() || high.empty() || !a.ok() || !b.ok() || !(a.value >= 0) ||
        !(a.value < b.value) || !(b.value <= 100)) {
      throw Bad(key, value, "must be none or two percentiles P1,P2 with 0 <= P1 < P2 <= 100",
                command);
    }
    colour.stretch = true;
    colour.stretchLow = a.value;
    colour.stretchHigh = b.value;
  }
}

void ColourWork(const CliOptions& options, const std::string& outputFolder,
                const LoadedProduct& product, OutputClaims& claims, BatchPort& port,
                FileResult& result, const std::string& path) {
  if (!product.HasImage()) {
    port.AppendLine("Need to load readable image data");
    port.Note(path + ": no picture could be built for it");
    result.status = 1;
    return;
  }
  if (product.BandCount < 3) {
    port.Note(path + ": " + product.ProductId + " has " + FormatInt(product.BandCount) +
              (product.BandCount == 1 ? " band" : " bands") +
              "; a colour picture needs a product of three bands or more (visible or colour)");
    result.status = 2;
    return;
  }
  ColourRequest request;
  const std::optional<std::array<int32_t, 3>> bands =
      options.colour.bands ? options.colour.bands : DefaultColourBands(product);
  if (!bands) {
    port.Note(path + ": " + product.ProductId +
              " has no bands of 689, 604 and 415 nm; name three with --bands");
    result.status = 2;
    return;
  }
  request.Bands = *bands;
  request.Reference = options.colour.reference;
  request.VerticalTravel = options.verticalTravel.value_or(11);
  request.HorizontalTravel = options.horizontalTravel;
  request.Invert = options.invert;
  request.CorrectDistortion = options.correct;
  request.CorrectVertically = options.correctVertically;
  request.Shift = options.shift;
  request.SettingsPath = options.settingsPath;
  request.Stretch = {options.colour.stretch, options.colour.stretchLow, options.colour.stretchHigh};
  ColourBands chosen;
  try {
    chosen = ChooseColourBands(product, request);
  } catch (const RangeError& e) {
    port.Note(path + ": " + e.what());
    result.status = 2;
    return;
  }
  if (options.verticalAuto || options.horizontalAuto) {
    // Measured on a visible band (the reference, or the longest wavelength), whose travel the
    // request takes.
    const int32_t band = ColourTravelBand(product, chosen);
    PictureRequest measured;
    measured.VerticalTravel = request.VerticalTravel;
    measured.HorizontalTravel = request.HorizontalTravel;
    if (!ApplyMeasuredTravel(options, product, band, measured, port, result, path)) return;
    request.VerticalTravel = measured.VerticalTravel;
    request.HorizontalTravel = measured.HorizontalTravel;
    request.Profile = measured.Profile;
  }
  const ColourResult colour = BuildColourComposite(product, request, port);
  port.AppendLine("Colour picture of " + product.ProductId + " on the grid of band " +
                  FormatInt(colour.Reference) + ":");
  for (const std::string& line : RegistrationLines(colour)) port.AppendLine(line);
  const PictureFormat format = options.format.value_or(PictureFormatOfPath(options.output));
  const std::string written =
      options.output.empty()
          ? Utf8Of(FsPath(outputFolder) / FsPath(SafeFileName(WithPictureExtension(
                                              ColourFileName(product.ProductId, colour), format))))
          : options.output;
  const std::string refused = claims.Claim(written, options.overwrite);
  if (!refused.empty()) {
    port.Note(refused);
    result.status = 1;
    return;
  }
  SavePicture(colour.Image, written, format);
  port.AppendLine("");
}

}  // namespace quelmar::cli
