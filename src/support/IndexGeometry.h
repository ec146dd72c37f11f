#pragma once
// One line of the cumulative index read for a search by place and light: the footprint, the
// sub-solar point and the spacecraft as numbers, and the geometry of a ground point under them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/IndexLookup.h"
#include "util/Numbers.h"

namespace quelmar {

// The Moon as a sphere, and the camera's pixel and focal length.
inline constexpr Real kMoonRadiusKm = 1737.4L;
inline constexpr Real kPixelPitchMm = 0.009L;
inline constexpr Real kFocalLengthMm = 6.0L;

// Product kinds as bits, so that a set of kinds is one number.
enum ProductKindBit : uint32_t { kKindME = 1, kKindUE = 2, kKindVE = 4, kKindCE = 8 };
inline constexpr uint32_t kAllKinds = kKindME | kKindUE | kKindVE | kKindCE;

// A place on the Moon: planetocentric degrees, east longitudes.
struct GroundPoint {
  Real latitude = 0, longitude = 0;
};

// The numbers of one index line, read at the lookup's field positions.
struct IndexLineRecord {
  std::string_view productId;  // the quoted field of the form M<digits><kind>, blanks trimmed
  uint32_t kind = 0;           // one ProductKindBit
  std::string_view fileName;   // the quoted field naming an .IMG file, blanks trimmed; may be empty
  std::string_view startText;  // the StartTime field as it stands
  IndexTime start = 0;
  GroundPoint subSolar, spacecraft;
  Real altitudeKm = 0;
  GroundPoint corners[4];  // upper left, upper right, lower right, lower left: around the edge
};

// Every field a search needs lies before this 1-based position.
inline constexpr int kSearchLineLength = 872;

// Reads a line (without its line end) for the search; nothing when it is too short, has no WAC
// product identifier, or a field needed does not read as a number or time (latitudes must lie
// within +-90, the altitude above zero). The views point into `line`.
std::optional<IndexLineRecord> ReadSearchLine(std::string_view line);

// A line screened for a search: a footprint that cannot hold the point, one that may (the record
// is then filled), or a line the search cannot use: too short, or a corner that does not read,
// or (for a footprint that may hold the point) another field that ReadSearchLine refuses. The
// screen does no trigonometry, and reads the fields beyond the corners only for candidates.
enum class LineFit { Unreadable, Outside, Candidate };
LineFit ScreenSearchLine(std::string_view line, GroundPoint point, IndexLineRecord& record);

// True when the point lies within the footprint or on its edge. The footprint is the
// quadrilateral of great-circle arcs joining the corners in order; it may cross the 0/360
// meridian or hold a pole. A footprint whose corners span a hemisphere or more holds nothing.
bool FootprintContains(const GroundPoint (&corners)[4], GroundPoint point);

// The angle in degrees between the local vertical at `point` and the direction of the sun
// standing over `subSolar`.
Real IncidenceAngle(GroundPoint point, GroundPoint subSolar);

// The angle in degrees between the local vertical at `point` and the direction of a spacecraft
// `altitudeKm` above `spacecraft`.
Real EmissionAngle(GroundPoint point, GroundPoint spacecraft, Real altitudeKm);

// The size on the ground, in metres, of one pixel seen straight down from `altitudeKm`.
Real GroundPixelSize(Real altitudeKm);

// The first quoted field of `text` that has the form of a WAC product identifier (blanks inside
// the quotes trimmed), with its kind; an empty view when there is none.
std::string_view WacProductIdIn(std::string_view text, uint32_t* kind = nullptr);

}  // namespace quelmar
