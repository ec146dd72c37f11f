#pragma once
// The product's line in the archive's cumulative index table CUMINDEX.TAB: times and geometry
// cut out at fixed positions.
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/UserPort.h"

namespace quelmar {

struct SupportDataInfo {
  bool Available = false;
  std::string StartTime, EndTime;
  std::string SubSolarLon, SubSolarLat;
  std::string SpacecraftLon, SpacecraftLat, SpacecraftAlt;
  std::string PrincipalPointLon, PrincipalPointLat;
  std::string UpperLeftLon, UpperLeftLat, UpperRightLon, UpperRightLat;
  std::string LowerLeftLon, LowerLeftLat, LowerRightLon, LowerRightLat;
  std::string OrientationCode1, OrientationCode2;
};

// Where each field lies in an index line: 1-based position and length.
struct IndexFieldPlace {
  std::string SupportDataInfo::*field;
  int position;
  int length;
};
inline constexpr IndexFieldPlace kIndexFields[] = {
    {&SupportDataInfo::StartTime, 310, 24},        {&SupportDataInfo::EndTime, 337, 24},
    {&SupportDataInfo::SubSolarLon, 756, 6},       {&SupportDataInfo::SubSolarLat, 749, 6},
    {&SupportDataInfo::SpacecraftLon, 770, 6},     {&SupportDataInfo::SpacecraftLat, 763, 6},
    {&SupportDataInfo::SpacecraftAlt, 866, 7},     {&SupportDataInfo::PrincipalPointLon, 803, 6},
    {&SupportDataInfo::PrincipalPointLat, 796, 6}, {&SupportDataInfo::UpperLeftLon, 859, 6},
    {&SupportDataInfo::UpperLeftLat, 852, 6},      {&SupportDataInfo::UpperRightLon, 817, 6},
    {&SupportDataInfo::UpperRightLat, 810, 6},     {&SupportDataInfo::LowerLeftLon, 845, 6},
    {&SupportDataInfo::LowerLeftLat, 838, 6},      {&SupportDataInfo::LowerRightLon, 831, 6},
    {&SupportDataInfo::LowerRightLat, 824, 6},     {&SupportDataInfo::OrientationCode1, 883, 1},
    {&SupportDataInfo::OrientationCode2, 887, 2},
};

// A point in time: milliseconds since 0001-01-01 00:00:00.000 (averages exactly).
using IndexTime = int64_t;
struct CalendarTime {
  int32_t year, month, day, hour, minute, second, millisecond;
};
// Seven numbers at fixed positions of the text; ConversionError when they do not form a valid
// date and time.
IndexTime ParseIndexTime(std::string_view text);
CalendarTime ToCalendarTime(IndexTime time);

// The index file opened for reading in binary mode; FileError (naming the file) when it is a
// folder or cannot be opened.
std::ifstream OpenIndexFile(const std::string& indexPath);

// The first line of the index whose first occurrence of `productId` starts at position 2 or
// later, with its fields cut out (Available set); nothing when no line matches. FileError when
// the file cannot be opened or read. Reads line by line, only until the first match.
std::optional<SupportDataInfo> FindIndexRecord(const std::string& indexPath,
                                               std::string_view productId);

// True when an index file is ready at `indexFilePath`; otherwise asks for one with the index
// dialog and takes the user's choice.
bool FindIndexFile(std::string& indexFilePath, UserPort& port);

// The Support command: lookup, listing and the closing empty line.
void SupportCommand(const std::string& productId, std::string& indexFilePath,
                    SupportDataInfo& supportData, UserPort& port);

}  // namespace quelmar
