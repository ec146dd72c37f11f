#include "support/IndexLookup.h"

#include "util/Errors.h"

namespace quelmar {

IndexTime ParseIndexTime(std::string_view) { throw ConversionError("not built yet"); }
CalendarTime ToCalendarTime(IndexTime) { throw ConversionError("not built yet"); }
std::optional<SupportDataInfo> FindIndexRecord(const std::string&, std::string_view) {
  throw FileError("not built yet");
}
bool FindIndexFile(std::string&, UserPort&) { return false; }
void SupportCommand(const std::string&, std::string&, SupportDataInfo&, UserPort& port) {
  port.AppendLine("Index file not found");
}

}  // namespace quelmar
