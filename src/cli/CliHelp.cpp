// The help texts of the batch tool.
#include "cli/CliOptions.h"
#include "cli/ColourCommand.h"

namespace quelmar::cli {

namespace {

constexpr const char* kCommon = R"(
Output
  stdout carries the lines the window writes to its message area for the same work, one per
  line; with several files, each file's lines stay together, in the order the files are given.
  What the window shows in a message box goes to stderr as "quelmar-cli: <text>" (line breaks
  as blanks), as do the tool's own notes about a file that could not be done.

Common options
  --jobs N      number of files processed at the same time (default: the number of cores)
  -h, --help    this help

Exit status
  0  everything done (for report and header the lines are the result, whatever they say)
  1  a run-time error (a file that cannot be read or written, a damaged product, a conversion
     error) stopped a file, or no picture (raw, stack), no calibration record (stack with
     --cal-file) or no index record (support) could be had for it; the other files are still
     processed
  2  usage error: unknown option or command, missing value, a number that does not parse or is
     out of range, a band the product does not have; nothing is processed (a band the product
     does not have only stops that product)

Files
  Quelmar.ini and CUMINDEX.TAB are looked for beside the program first, then in the user's
  folders: $XDG_CONFIG_HOME/quelmar/ (~/.config/quelmar/) for Quelmar.ini and $XDG_DATA_HOME/quelmar/
  (~/.local/share/quelmar/) for CUMINDEX.TAB; on Windows %APPDATA%\Quelmar\ for both. An
  example Quelmar.ini comes with the installed program in share/quelmar/.

Numbers are read like the window's entry fields read them: blanks around them are ignored and
a comma counts as the decimal point (2,15 is 2.15); integers may also be written in hexadecimal
($1F, 0x1F).
)";

constexpr const char* kGeneral = R"(Usage: quelmar-cli COMMAND [OPTIONS] FILE.IMG...

Does the work of the Quelmar window in batch, for many LROC Wide Angle Camera EDR products
(PDS IMG files) at once.

Commands
  report    the lines the Load command writes to the message area
  header    the label lines, as the Header command lists them
  raw       the raw framelet sequence of each product, saved as a BMP file
  stack     one band (or every band) of each product stacked, saved as a BMP file, optionally
            with a photo calibration record
  support   the product's times and geometry from the cumulative index (CUMINDEX.TAB)
  find      the products of the cumulative index that show a place, with the light there
            (quelmar-cli find --lat X --lon Y ...)
  travel    the vertical and horizontal travel of a band, measured from the overlap of
            consecutive framelets
  colour    three bands of a product registered into one colour picture, saved as a BMP

Run "quelmar-cli COMMAND --help" for a command's options. "quelmar-cli --version" prints the
version.
)";

constexpr const char* kReport = R"(Usage: quelmar-cli report [--jobs N] FILE.IMG...

Loads each product and writes the lines the Load command writes to the message area: the
"Loading: " line with the file's absolute path, what was read, the notes and cautions, and the
closing empty line (with "Need to load readable image data" when the product holds no readable
image, as the window's raw display after a load says).
)";

constexpr const char* kHeader = R"(Usage: quelmar-cli header [--jobs N] FILE.IMG...

Loads each product and lists its label lines up to END, then an empty line, as the Header
command does. The Load report itself is not written (see the report command).
)";

constexpr const char* kRaw =
    R"(Usage: quelmar-cli raw [--invert] [-o OUT.bmp | --output-dir DIR] [--overwrite]
                       [--format bmp|png] [--jobs N] FILE.IMG...

Loads each product (writing the Load report) and saves its raw framelet sequence as a 24-bit
BMP file, byte for byte what the window's Save writes for the same picture.

Options
  --invert           turn every framelet upside down ("Invert framelets")
  -o OUT.bmp         the bitmap's path (one input file only)
  --output-dir DIR   folder of the bitmaps, created when missing (default: the current folder);
                     each is named as the Save command proposes: <PRODUCT_ID>_unstacked.bmp, or
                     <PRODUCT_ID>_framelets_inverted.bmp with --invert
  --overwrite        replace existing bitmaps (without it an existing file is left alone and
                     that product fails with status 1)
  --format bmp|png   bmp (the default) or png: 8-bit grey for a grey picture, 24-bit colour
                     otherwise; the proposed names then end ".png". Without it, -o OUT.png
                     writes a PNG as well

Characters of PRODUCT_ID that cannot stand in a file name (path separators, control
characters) are written as "_".
)";

constexpr const char* kStack =
    R"(Usage: quelmar-cli stack [--band N | --all-bands] [--vertical-travel X|auto]
                         [--horizontal-travel X|auto] [--travel-profile] [--invert] [--correct]
                         [--correct-vertically] [--shift N] [--settings FILE.ini]
                         [--index CUMINDEX.TAB] [--cal-file FILE]
                         [-o OUT.bmp | --output-dir DIR] [--overwrite] [--format bmp|png]
                         [--jobs N] FILE.IMG...

Loads each product (writing the Load report), stacks one band as the Stack command does and
saves the picture as a 24-bit BMP file, byte for byte what the window's Save writes for it.

Options
  --band N                 band to stack, 1 to the product's band count (default: 3 for a
                           seven-band product, 1 otherwise, as the window sets it after a load);
                           a band the product does not have stops that product with status 2
  --all-bands              stack and save every band of each product, one bitmap per band
  --vertical-travel X      output rows per framelet, 0 to 14 (default: 2.15 for a two-band
                           product, 11 otherwise); a travel above the framelet height is drawn
                           as the framelet height, as the window does
                           ("auto": measured from the product, as the travel command does,
                           and used to the three decimals it gives)
  --horizontal-travel X    output columns per framelet, may be negative (default: 0; "auto":
                           measured)
  --travel-profile         lay each framelet by the travel measured between it and the one
                           before (smoothed along the product) when that travel varies by more
                           than 0.1 pixel; implies both travels "auto"
  --invert                 turn every framelet upside down ("Invert framelets")
  --correct                correct the camera's radial distortion ("Correct distortion")
  --correct-vertically     correct the rows as well ("Correct vertically"); implies --correct
  --shift N                move the selected rows within the band by N rows ("Shift"); only
                           with --correct-vertically (default: 0)
  --settings FILE.ini      camera geometry settings (default: Quelmar.ini, see Files below;
                           when that is missing the built-in values are used)
  --cal-file FILE          after each bitmap is written, append its photo calibration (U1)
                           record to FILE, which is created with its comment header when
                           missing; the times and geometry come from the index. Records are
                           appended in the order of the input files (and of the bands)
  --index CUMINDEX.TAB     cumulative index for the calibration records (default:
                           CUMINDEX.TAB, see Files below)
  -o OUT.bmp               the bitmap's path (one input file and one band only)
  --output-dir DIR         folder of the bitmaps, created when missing (default: the current
                           folder); each is named as the Save command proposes:
                           <PRODUCT_ID>_<wavelength>nm.bmp
  --overwrite              replace existing bitmaps (without it an existing file is left alone
                           and that product fails with status 1)
  --format bmp|png         bmp (the default) or png: 8-bit grey for a grey picture, 24-bit
                           colour otherwise; the proposed names then end ".png" and the
                           calibration records name those files. Without it, -o OUT.png writes
                           a PNG as well

Stdout also carries the lines of the distortion correction's filter choice, the index listing
when a calibration record needs it, each "Calibration data has been saved to" line, and with a
measured travel the line "Travel used: ..." saying which travels the stack used. A travel that
cannot be measured stops that product with status 1.
Characters of PRODUCT_ID that cannot stand in a file name (path separators, control
characters) are written as "_".
)";

constexpr const char* kSupport =
    R"(Usage: quelmar-cli support [--index CUMINDEX.TAB] [--jobs N] FILE.IMG...

Loads each product (writing the Load report) and looks it up in the cumulative index as the
Support command does, writing the start and end times, spacecraft position, ground points and
orientation codes it finds there. A product that is not in the index (or an index that is
missing) gives status 1.

Options
  --index CUMINDEX.TAB     the index (default: CUMINDEX.TAB, see Files below)
)";

constexpr const char* kTravel =
    R"(Usage: quelmar-cli travel [--band N | --all-bands] [--invert] [--correct]
                          [--correct-vertically] [--shift N] [--settings FILE.ini] [--tsv]
                          [--jobs N] FILE.IMG...

Loads each product and measures the travel of a band (output rows and columns per framelet)
from the overlap of consecutive framelets, with the picture options of the stack it is for:
the same options as for stack. Writes one line per product and band:
  <PRODUCT_ID> band <N> (<wavelength> nm): vertical <V>, horizontal <H> pixels (<P> framelet
  pairs, residual <R>), and the range of the travel along the product when it varies
or why the travel was not found (one framelet, no overlap, a featureless, saturated or empty
band): then the product's status is 1. No number is ever made up.

Options
  --band N                 band to measure (default: 3 for a seven-band product, 1 otherwise)
  --all-bands              every band of each product, one line each
  --invert, --correct, --correct-vertically, --shift N, --settings FILE.ini
                           the stack's picture options (see stack --help): a corrected stack's
                           rows and columns are the ground's own, an uncorrected one's are the
                           detector's, and the travel is given in those of the stack
  --tsv                    a header line, then tab-separated columns: product_id band
                           wavelength_nm vertical horizontal vertical_min vertical_max pairs
                           residual (travels with 3 decimals); a "not found" row carries the
                           reason in the last column
)";

}  // namespace

std::string GeneralHelp() {
  return std::string(kGeneral) + kCommon;
}

std::string CommandHelp(const std::string& command) {
  const char* text = nullptr;
  if (command == "report") text = kReport;
  if (command == "header") text = kHeader;
  if (command == "raw") text = kRaw;
  if (command == "stack") text = kStack;
  if (command == "support") text = kSupport;
  if (command == "travel") text = kTravel;
  if (command == "colour") text = ColourHelp();
  if (text == nullptr) return GeneralHelp();
  return std::string(text) + kCommon;
}

}  // namespace quelmar::cli
