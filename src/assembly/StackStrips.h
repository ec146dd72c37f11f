#pragma once
// The strips of one band as a stack lays them down: for each framelet, the H lines it would give
// (turned over with inversion, resampled through the distortion correction when asked for),
// as grey images in the stack's own geometry. Pixels without data (outside a corrected strip,
// columns the band does not cover) are NaN.
//
// A corrected strip is resampled here through the radial model itself, between pixels
// (bilinear), where a corrected stack takes the nearest pixel: its rows and columns are then the
// ground's own, smoothly, and a travel measured on them is the ground's travel. The lines of a
// strip corrected vertically are centred on the band, whatever the stack's Shift: a shift moves
// every framelet alike and does not change the travel.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "assembly/BandRowBounds.h"
#include "assembly/SubpixelMatch.h"
#include "product/LoadedProduct.h"
#include "util/UserPort.h"

namespace quelmar {

// The picture options of a stack that decide its geometry.
struct StripGeometry {
  int32_t Band = 1;
  bool Invert = false;
  bool CorrectDistortion = false;
  bool CorrectVertically = false;  // only with CorrectDistortion
  int32_t Shift = 0;               // only with both corrections
  std::string SettingsPath;        // read when correcting
};

class StackStrips {
 public:
  // The strips of a loaded product's band. `problem` gets a message line, and nothing is
  // returned, when the settings cannot give the correction asked for. RangeError for a band
  // outside the product. Reading the settings may append the filter choice's two lines. The
  // lines of a corrected strip are laid out in `parts` at once (a core each).
  static std::optional<StackStrips> Open(const LoadedProduct& product, const StripGeometry& g,
                                         UserPort& port, std::string& problem, int32_t parts = 1);

  int32_t Width() const { return width_; }
  // Lines of a strip: the band's height, with a few ground rows beyond the band when it is
  // corrected vertically.
  int32_t Height() const { return lines_; }
  int32_t BandHeight() const { return strip_.H; }  // rows of the band in a framelet
  int32_t Framelets() const { return product_->FrameletCount; }
  bool Ultraviolet() const { return strip_.H == 4; }
  const std::string& Wavelength() const { return wavelength_; }
  // Corrected vertically, a strip's rows and columns are the ground's own: the ground point
  // (X, Y) (pixels from the optical axis, Y along the travel) lies at strip column
  // GroundColumnZero() + X and row GroundRowZero() - Y (+ Y with inversion), the same for every
  // band of the camera. False otherwise (rows then follow the detector's curved ones).
  bool OnGround() const { return onGround_; }
  double GroundRowZero() const { return groundRow_; }
  double GroundColumnZero() const { return groundColumn_; }

  // Lines firstLine .. firstLine + lines - 1 (from 0) of framelet f's strip (from 0).
  GreyImage Read(int32_t framelet, int32_t firstLine, int32_t lines) const;
  // Chooses the columns ReadColumns gives, side by side in this order; a column of -1 (or
  // outside the strip) has no data. Where to sample each of them is worked out here, once; columns
  // FindEmptyColumns found empty have no data.
  void SelectColumns(const std::vector<int32_t>& columns);
  // The same lines as Read at the selected columns only.
  GreyImage ReadColumns(int32_t framelet, int32_t firstLine, int32_t lines) const;
  // The same into `image`'s storage (no allocation once it is large enough).
  void ReadColumnsInto(int32_t framelet, int32_t firstLine, int32_t lines, GreyImage& image) const;
  // Asks the processor to bring framelet f's band toward its caches, for a read soon after.
  void Prefetch(int32_t framelet) const;
  // Marks as having no data every column that is 0 in each of up to `sampled` framelets spread
  // over the product (the zero columns beside the ultraviolet samples of a wide row); gives how
  // many columns keep data. With `look`, the strips of those framelets are passed to it in turn
  // as they are read: as Read gives them from then on, but for the empty columns, which are
  // still there (EmptyColumns() names them afterwards).
  int32_t FindEmptyColumns(int32_t sampled, const std::function<void(const GreyImage&)>& look = {});
  // The columns FindEmptyColumns found without data, in order.
  const std::vector<int32_t>& EmptyColumns() const { return emptyColumns_; }

  // Eight neighbouring columns of a corrected line, as the wide blend reads them: the first of
  // the bytes their taps blend (the least), and each tap's from it (kNoTap: no data), where all
  // lie within kReach of it (two bytes from there lie within sixteen); else kEmpty (no data) or
  // kApart (read tap by tap).
  struct TapBlock {
    static constexpr int32_t kEmpty = -1, kApart = -2, kReach = 14;
    static constexpr uint8_t kNoTap = 0xff;
    int32_t base = kEmpty;
    uint8_t offsets[8] = {};
  };

 private:
  StackStrips() = default;
  // Read into `image`'s storage (no allocation once it is large enough).
  void ReadInto(int32_t framelet, int32_t firstLine, int32_t lines, GreyImage& image) const;
  // n corrected taps of one line of framelet band `band` (its first row `first`) into out.
  // `blocks`: the line's TapBlocks (null where the line has none).
  void BlendLine(const uint8_t* band, int32_t wsrc, int64_t first, const int32_t* at,
                 const float* tx, const float* ty, int32_t n, float* out,
                 const TapBlock* blocks) const;
  const LoadedProduct* product_ = nullptr;
  BandStrip strip_;
  std::string wavelength_;
  bool invert_ = false;
  int32_t width_ = 0;
  int32_t lines_ = 0;
  bool onGround_ = false;
  double groundRow_ = 0, groundColumn_ = 0;
  // Corrected: for each line and column, the source position within the band (column, row from
  // the band's first stored row), NaN for none.
  std::vector<float> sourceX_, sourceY_;
  // The same as the first of the four samples blended (from the band's first stored sample, -1
  // for none) and the blend's weights.
  std::vector<int32_t> wholeAt_;
  std::vector<TapBlock> wholeBlocks_;  // per line, its whole blocks of eight
  std::vector<float> wholeX_, wholeY_;
  std::vector<int32_t> emptyColumns_;  // columns FindEmptyColumns found without data
  // The selected columns: per line and selected column, the first of the four samples blended
  // (from the band's first stored sample; the column itself when not corrected), -1 for no
  // data, and the blend's weights.
  int32_t selected_ = 0;
  std::vector<int32_t> tapAt_;
  std::vector<float> tapX_, tapY_;
  std::vector<TapBlock> tapBlocks_;  // the same of the selected columns (corrected only)
  // Not corrected: the selected columns as runs of consecutive source columns.
  struct ColumnRun {
    int32_t To = 0, From = 0, Count = 0;
  };
  std::vector<ColumnRun> runs_;
};

}  // namespace quelmar
