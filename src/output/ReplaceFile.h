#pragma once
// Writing a whole output file so that an existing file of that name is never truncated or lost:
// the bytes go to a temporary file beside it, which then replaces it in one rename.
#include <cstddef>
#include <functional>
#include <string>

namespace quelmar {

// Receives the file's bytes piece by piece.
using ByteSink = std::function<void(const char*, size_t)>;

// Writes what `emit` hands to its sink as the file at `path`. A folder, a missing folder or a
// file that may not be written is refused with a FileError before anything is touched; an error
// part-way (a full disk, say) leaves an existing file as it was. A device or pipe is written
// directly. The messages read "Cannot save the picture to ...".
void WriteFileReplacing(const std::string& path, const std::function<void(const ByteSink&)>& emit);

}  // namespace quelmar
