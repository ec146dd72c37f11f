#pragma once
// Stepping a number field from the keyboard: Up and Down move its value by a small step, Page Up
// and Page Down by a large one, never past the field's limits.
#include <optional>
#include <string>

#include "util/Numbers.h"

namespace quelmar {

inline constexpr const char* kSmallFieldStep = "0.05";
inline constexpr const char* kLargeFieldStep = "0.5";

// The text after stepping `text` by `step` (signed), kept within `minText`..`maxText` (an empty
// or unreadable limit is no limit). Nothing when the text is not a number as the field reads
// one (blanks trimmed, a comma for the period), or when the value is already at the limit the
// step goes towards. The result has no more decimals than needed (at most six): "11.05", "11".
std::optional<std::string> SteppedFieldText(const std::string& text, const std::string& step,
                                            const std::string& minText, const std::string& maxText);

}  // namespace quelmar
