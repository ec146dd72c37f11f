#pragma once
// Temporary folders and synthetic files for tests.
#include <cstdint>
#include <string>
#include <vector>

namespace quelmar::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path of a file in the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);

// An EDR-like file: the label lines joined with CR LF, padded with blanks to
// labelRecords x width bytes (or not padded when it is longer), then the rows.
struct SyntheticProduct {
  std::vector<std::string> labelLines;  // must end with "END" to be readable
  int32_t labelRecords = 0;
  int32_t width = 0;
  std::vector<uint8_t> rows;  // row-major, width bytes each
};
std::string ProductBytes(const SyntheticProduct& product);

// A label in the current archive form for the given kind ("ME", "UE", "VE", "CE").
SyntheticProduct MakeProduct(const std::string& productId, int32_t framelets,
                             int32_t frameletHeight, int32_t width,
                             const std::string& wavelengths);

// The folder holding the real archive label texts, or empty when it is not there.
std::string RealLabelsDir();

}  // namespace quelmar::testing
