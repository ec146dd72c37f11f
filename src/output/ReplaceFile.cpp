#include "output/ReplaceFile.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "util/Errors.h"
#include "util/Paths.h"

namespace quelmar {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int error, const char* fallback) {
  if (error == 0) return fallback;
  return std::error_code(error, std::generic_category()).message();
}

FileError SaveError(const std::string& path, const std::string& reason) {
  return FileError("Cannot save the picture to \"" + path + "\": " + reason);
}

// Writes the whole content into the file at `file` (created or truncated); FileError naming
// `shownPath` when it cannot be opened, written or closed.
void WriteWholeFile(const std::function<void(const ByteSink&)>& emit, const fs::path& file,
                    const std::string& shownPath) {
  errno = 0;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw SaveError(shownPath, ErrnoText(errno, "the file cannot be created"));
  emit([&](const char* p, size_t n) {
    if (out) out.write(p, static_cast<std::streamsize>(n));
  });
  if (out) out.flush();
  if (!out) throw SaveError(shownPath, ErrnoText(errno, "the file cannot be written"));
  errno = 0;
  out.close();
  if (out.fail()) throw SaveError(shownPath, ErrnoText(errno, "the file cannot be written"));
}

fs::path TemporaryBeside(const fs::path& folder) {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::error_code ec;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint64_t n = generator();
    std::string name = ".quelmar-save-";
    for (int i = 0; i < 12; ++i) name.push_back("0123456789abcdef"[(n >> (4 * i)) & 0xF]);
    const fs::path candidate = folder / (name + ".tmp");
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
  return folder / ".quelmar-save.tmp";
}

}  // namespace

void WriteFileReplacing(const std::string& path, const std::function<void(const ByteSink&)>& emit) {
  if (path.empty()) throw FileError("Cannot save the picture: no file name was given");
  fs::path target = FsPath(path);
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) throw SaveError(path, "it is a folder");

  const bool exists = fs::exists(status);
  if (exists && !fs::is_regular_file(status)) {
    // A device or pipe: there is no content to keep, so it is written directly.
    WriteWholeFile(emit, target, path);
    return;
  }
  if (exists) {
    // Replacing goes through a rename, which would pass over a file the user made read-only;
    // opening it for appending (which changes nothing) tells whether it may be written.
    errno = 0;
    std::ofstream probe(target, std::ios::binary | std::ios::app);
    if (!probe) throw SaveError(path, ErrnoText(errno, "the file cannot be written"));
    probe.close();
    // A link keeps pointing where it did: the file it leads to is the one replaced.
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
      const fs::path resolved = fs::canonical(target, ec);
      if (!ec) target = resolved;
    }
  }

  fs::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) {
    throw SaveError(path, "the folder \"" + Utf8Of(folder) + "\" does not exist");
  }

  // The content goes to a temporary file beside the target first, so that an existing file
  // stays intact when writing fails part-way; the rename then replaces it at once.
  const fs::path temporary = TemporaryBeside(folder);
  try {
    WriteWholeFile(emit, temporary, path);
    if (exists) fs::permissions(temporary, status.permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) throw SaveError(path, ec.message());
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

}  // namespace quelmar
