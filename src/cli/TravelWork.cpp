#include "cli/TravelWork.h"

#include <algorithm>
#include <vector>

#include "assembly/TravelFinder.h"
#include "util/Numbers.h"

namespace quelmar::cli {

namespace {

StripGeometry GeometryOf(const CliOptions& options, int32_t band) {
  StripGeometry g;
  g.Band = band;
  g.Invert = options.invert;
  g.CorrectDistortion = options.correct;
  g.CorrectVertically = options.correctVertically;
  g.Shift = options.shift;
  g.SettingsPath = options.settingsPath;
  return g;
}

std::string Fixed3(Real x) {
  return FormatFixed(x, 3);
}

std::string HumanLine(const LoadedProduct& product, const TravelEstimate& e) {
  std::string line =
      product.ProductId + " band " + FormatInt(e.Band) + " (" + e.Wavelength + " nm): ";
  if (!e.Found) return line + "travel not found: " + e.Reason;
  line += "vertical " + Fixed3(e.Vertical) + ", horizontal " + Fixed3(e.Horizontal) + " pixels (" +
          FormatInt(e.PairsUsed) + " of " +
          FormatCount(e.Pairs, "framelet pair", "framelet pairs") + ", residual " +
          FormatFixed(e.Residual, 2) + ")";
  if (e.Varies()) {
    line += "; varies along the product: vertical " + Fixed3(e.VerticalMin) + " to " +
            Fixed3(e.VerticalMax) + ", horizontal " + Fixed3(e.HorizontalMin) + " to " +
            Fixed3(e.HorizontalMax);
  }
  return line;
}

std::string TsvLine(const LoadedProduct& product, const TravelEstimate& e) {
  std::string line = product.ProductId + "\t" + FormatInt(e.Band) + "\t" + e.Wavelength + "\t";
  if (!e.Found) return line + "not found\t\t\t\t" + FormatInt(e.PairsUsed) + "\t" + e.Reason;
  return line + Fixed3(e.Vertical) + "\t" + Fixed3(e.Horizontal) + "\t" + Fixed3(e.VerticalMin) +
         "\t" + Fixed3(e.VerticalMax) + "\t" + FormatInt(e.PairsUsed) + "\t" +
         FormatFixed(e.Residual, 3);
}

}  // namespace

std::string TravelTsvHeader() {
  return "product_id\tband\twavelength_nm\tvertical\thorizontal\tvertical_min\tvertical_max\t"
         "pairs\tresidual";
}

void TravelWork(const CliOptions& options, const LoadedProduct& product, BatchPort& port,
                FileResult& result, const std::string& path) {
  port.SetKeepLines(true);
  if (!product.HasImage()) {
    port.Note(path + ": no image data to measure");
    result.status = 1;
    return;
  }
  const std::vector<int32_t> bands = ChosenBands(options, product, port, result, path);
  if (bands.empty()) return;
  for (const int32_t band : bands) {
    const TravelEstimate e = MeasureTravel(product, GeometryOf(options, band), port);
    port.AppendLine(options.tsv ? TsvLine(product, e) : HumanLine(product, e));
    if (!e.Found) result.status = std::max(result.status, 1);
  }
}

bool ApplyMeasuredTravel(const CliOptions& options, const LoadedProduct& product, int32_t band,
                         PictureRequest& request, BatchPort& port, FileResult& result,
                         const std::string& path) {
  if (!options.verticalAuto && !options.horizontalAuto) return true;
  const TravelEstimate e = MeasureTravel(product, GeometryOf(options, band), port);
  if (!e.Found) {
    port.AppendLine(TravelMessage(e));
    port.Note(path + ": the travel of band " + FormatInt(band) + " could not be measured");
    result.status = std::max(result.status, 1);
    return false;
  }
  // The travels the message below gives, so that typing them in makes the same picture.
  if (options.verticalAuto) request.VerticalTravel = TravelAsShown(e.Vertical);
  if (options.horizontalAuto) request.HorizontalTravel = TravelAsShown(e.Horizontal);
  request.Profile = TravelProfile();
  if (options.travelProfile && e.Varies()) {
    request.Profile = ProfileOf(e);
    port.AppendLine("Travel used: the measured profile, vertical " + Fixed3(e.VerticalMin) +
                    " to " + Fixed3(e.VerticalMax) + ", horizontal " + Fixed3(e.HorizontalMin) +
                    " to " + Fixed3(e.HorizontalMax) + " pixels (band " + FormatInt(band) + ", " +
                    FormatCount(e.PairsUsed, "framelet pair", "framelet pairs") + ")");
    return true;
  }
  const auto how = [](bool measured) { return measured ? " (measured)" : " (given)"; };
  port.AppendLine("Travel used: vertical " + Fixed3(request.VerticalTravel) +
                  how(options.verticalAuto) + ", horizontal " + Fixed3(request.HorizontalTravel) +
                  how(options.horizontalAuto) + " pixels (band " + FormatInt(band) + ", " +
                  FormatCount(e.PairsUsed, "framelet pair", "framelet pairs") + ")" +
                  (options.travelProfile ? "; the travel does not vary along the product" : ""));
  return true;
}

}  // namespace quelmar::cli
