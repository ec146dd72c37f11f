#pragma once
// What the fuzz drivers share: a user port that answers nothing and only counts, scratch files
// in one private folder per process, a reader that takes small decisions from the input bytes,
// and the check that turns a broken promise of the core into a failure.
//
// The drivers are header-only so that the libFuzzer targets and the regression test of the core
// tests run every input through exactly the same calls.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "util/UserPort.h"

namespace quelmar::fuzz {

// A broken promise of the core (an invariant, a result out of its stated range). The drivers let
// it escape: libFuzzer reports it as a crash, the regression test as a failure.
class BrokenPromise : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

inline void Check(bool condition, const char* what) {
  if (!condition) throw BrokenPromise(what);
}

// A user port that shows nothing: questions are answered No, dialogs are cancelled. It counts
// what it was asked and whether every busy scope was closed.
class SilentPort final : public UserPort {
 public:
  void AppendLine(std::string_view line) override {
    ++lines;
    lineBytes += line.size();
  }
  void ShowMessage(std::string_view) override { ++messages; }
  bool AskYesNo(std::string_view) override {
    ++questions;
    return false;
  }
  void ShowSeriousError(std::string_view text) override {
    ++seriousErrors;
    if (onSeriousError) onSeriousError(std::string(text));
  }
  void ShowErrorReport(std::string_view) override { ++errorReports; }
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override {
    ++dialogs;
    return std::nullopt;
  }
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override {
    ++dialogs;
    return std::nullopt;
  }
  void SetBusyCursor(bool busy) override { busyDepth += busy ? 1 : -1; }

  bool CursorRestored() const { return busyDepth == 0; }

  // Called from inside ShowSeriousError (the modal box of a failed integer conversion).
  std::function<void(const std::string&)> onSeriousError;

  int64_t lines = 0;
  size_t lineBytes = 0;
  int64_t messages = 0;
  int64_t questions = 0;
  int64_t seriousErrors = 0;
  int64_t errorReports = 0;
  int64_t dialogs = 0;
  int64_t busyDepth = 0;
};

// One private folder per process for the files the drivers write, removed at exit. Each file
// name is reused by every input, so a long fuzzing run does not fill the disk.
class ScratchFolder {
 public:
  static ScratchFolder& Instance() {
    static ScratchFolder folder;
    return folder;
  }
  std::string File(const std::string& name) const { return (folder_ / name).string(); }

 private:
  ScratchFolder() {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const fs::path p =
          base / ("quelmar-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
      std::error_code ec;
      if (fs::create_directory(p, ec)) {
        folder_ = p;
        return;
      }
    }
    throw std::runtime_error("cannot create a scratch folder for the fuzz drivers");
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  std::filesystem::path folder_;
};

inline void WriteScratchFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write the scratch file " + path);
}

inline void RemoveScratchFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// Takes small decisions from the front of the input; what is left is the payload. Running out of
// bytes gives zeros, so every input is usable.
class InputBytes {
 public:
  InputBytes(const uint8_t* data, size_t size)
      : bytes_(reinterpret_cast<const char*>(data), size) {}
  uint8_t Byte() {
    if (bytes_.empty()) return 0;
    const auto b = static_cast<uint8_t>(bytes_.front());
    bytes_.remove_prefix(1);
    return b;
  }
  // One of the n entries of a table, chosen by the next byte.
  size_t Pick(size_t n) { return n == 0 ? 0 : Byte() % n; }
  bool Flag() { return (Byte() & 1) != 0; }
  std::string_view Rest() const { return bytes_; }

 private:
  std::string_view bytes_;
};

}  // namespace quelmar::fuzz
