#pragma once
// Win_Ops: the small text routines the whole program shares, the serious-error report and the
// file locator. Texts are byte strings; positions count from 1.
#include <cstdint>
#include <string>
#include <string_view>

#include "util/UserPort.h"

namespace quelmar {

// The value in decimal, padded on the left with blanks to at least `width` (at most 255).
std::string IntToStrWidth(int32_t value, int width);
// Trailing, then leading blanks and tabs removed; nothing else.
std::string TrimBlanks(std::string_view text);
// Characters first..last (1-based, inclusive); see the rules for positions out of range.
std::string SubstringFromTo(std::string_view text, int64_t first, int64_t last);
// Deletes every blank (tabs stay).
void RemoveSpaces(std::string& text);
// Trims `text`, cuts it at the first `delimiter`: `before` gets what precedes it, `text` keeps
// what follows it. Without the delimiter, `before` gets the whole trimmed text and `text` is
// emptied.
void SplitAtDelimiter(std::string& text, std::string_view delimiter, std::string& before);
// Every non-overlapping occurrence replaced, scanning left to right.
std::string ReplaceAllSubstrings(std::string_view text, std::string_view find,
                                 std::string_view replacement);
// Double quotes doubled; enclosed in double quotes when it holds a comma or a double quote.
std::string CsvQuoted(std::string_view text);
// Blanks removed, then the integer text rule. On failure: ReportSeriousError and 0.
int32_t StringToInteger(std::string_view text, UserPort& port);
// "Program has encountered a serious error[ in Unit <unit>]", a line break, the message; beep.
void ReportSeriousError(std::string_view message, std::string_view unitName, UserPort& port);

// The folder of the file last picked in LocateFile's dialog, with its trailing separator.
extern std::string LastLocatedFolder;

// Finds an existing file: `path` itself, the same name in LastLocatedFolder, or the user's
// pick in an open-file dialog titled "<description> needed: <name>". False (found = path) when
// none is had.
bool LocateFile(std::string_view description, const std::string& path, std::string& found,
                UserPort& port);

}  // namespace quelmar
