#pragma once
// Large cumulative indexes of synthetic observations, for searches in tests and benchmarks:
// each line's footprint, sub-solar point and spacecraft position agree with one another.
#include <cstdint>
#include <string>

namespace quelmar::sim {

// How many degrees of longitude east of a ground point at `latitude` the sun stands when it is
// over `subSolarLatitude` and shines on the point at `incidenceDeg` from the vertical (the
// great-circle distance between the point and the sub-solar point).
double SunLongitudeEast(double latitude, double subSolarLatitude, double incidenceDeg);

// Line `line` (0-based) of the synthetic index made from `seed`, without its line end.
std::string SyntheticIndexLine(uint32_t seed, int64_t line);

// Writes `lines` synthetic lines (CR LF ended) to `path`, streaming. An existing file there is
// replaced only when wacsim wrote it (its first line is a wacsim line); FileError otherwise, or
// when it cannot be written.
void WriteSyntheticIndex(const std::string& path, int64_t lines, uint32_t seed);

}  // namespace quelmar::sim
