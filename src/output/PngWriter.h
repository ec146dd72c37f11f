#pragma once
// Portable Network Graphics files holding exactly a picture's pixels: 8-bit grey when every
// pixel is grey, 24-bit colour otherwise. Compressed with zlib at fixed settings, so the same
// picture gives the same bytes on every system with the same zlib.
#include <string>

#include "assembly/Picture.h"
#include "output/ReplaceFile.h"

namespace quelmar {

// True when every pixel has equal blue, green and red.
bool IsGreyPicture(const Picture& picture);

// Hands the whole file's bytes to `sink`. RangeError for a picture without pixels (the format
// has no empty picture).
void EmitPng(const Picture& picture, const ByteSink& sink);
// The whole file's bytes.
std::string EncodePng(const Picture& picture);
// Writes the file as WriteBmp does (an existing file is replaced only once the new one is whole).
void WritePng(const Picture& picture, const std::string& path);

}  // namespace quelmar
