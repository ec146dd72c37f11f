#pragma once
// Uncompressed 24-bit Windows bitmaps holding exactly a picture's pixels.
#include <string>

#include "assembly/Picture.h"

namespace quelmar {

// The whole file's bytes.
std::string EncodeBmp(const Picture& picture);
// Writes to a temporary file in the target's folder and renames it over the target, so an
// existing file stays intact when writing fails part-way. FileError on failure.
void WriteBmp(const Picture& picture, const std::string& path);

}  // namespace quelmar
