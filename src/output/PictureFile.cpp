#include "output/PictureFile.h"

#include <algorithm>
#include <cctype>

#include "output/BmpWriter.h"
#include "output/PngWriter.h"

namespace quelmar {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == suffix;
}

}  // namespace

std::optional<PictureFormat> PictureFormatNamed(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower == "bmp") return PictureFormat::Bmp;
  if (lower == "png") return PictureFormat::Png;
  return std::nullopt;
}

PictureFormat PictureFormatOfPath(const std::string& path) {
  return EndsWithNoCase(path, ".png") ? PictureFormat::Png : PictureFormat::Bmp;
}

std::string PictureFormatExtension(PictureFormat format) {
  return format == PictureFormat::Png ? ".png" : ".bmp";
}

std::string WithPictureExtension(const std::string& name, PictureFormat format) {
  if (!EndsWithNoCase(name, ".bmp")) return name;
  return name.substr(0, name.size() - 4) + PictureFormatExtension(format);
}

void SavePicture(const Picture& picture, const std::string& path, PictureFormat format) {
  if (format == PictureFormat::Png)
    WritePng(picture, path);
  else
    WriteBmp(picture, path);
}

}  // namespace quelmar
