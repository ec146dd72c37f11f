#pragma once
// "Save this picture in this format": the one entry the window's Save and the batch tool call.
#include <optional>
#include <string>

#include "assembly/Picture.h"

namespace quelmar {

enum class PictureFormat { Bmp, Png };

// "bmp" or "png" (any case); nothing for another name.
std::optional<PictureFormat> PictureFormatNamed(const std::string& name);
// The format a chosen file name asks for: PNG for a name ending ".png" (any case), the bitmap
// otherwise (the companion program reads bitmaps).
PictureFormat PictureFormatOfPath(const std::string& path);
// ".bmp" or ".png".
std::string PictureFormatExtension(PictureFormat format);
// `name` with a final ".bmp" (any case) replaced by the format's extension.
std::string WithPictureExtension(const std::string& name, PictureFormat format);

// Writes the picture to `path` in the format; an existing file is replaced only once the new
// one is whole. FileError or RangeError when it cannot be written.
void SavePicture(const Picture& picture, const std::string& path, PictureFormat format);

}  // namespace quelmar
