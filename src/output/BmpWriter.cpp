#include "output/BmpWriter.h"

#include "util/Errors.h"

namespace quelmar {

std::string EncodeBmp(const Picture&) { throw FileError("not built yet"); }
void WriteBmp(const Picture&, const std::string&) { throw FileError("not built yet"); }

}  // namespace quelmar
