#include "cli/BatchRunner.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/FileWork.h"
#include "cli/TravelWork.h"
#include "util/Paths.h"

#if defined(_WIN32)
#include <io.h>
#define QUELMAR_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define QUELMAR_ISATTY(fd) isatty(fd)
#endif

namespace quelmar::cli {

namespace {

namespace fs = std::filesystem;

void Write(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// Collects the files' results and prints each file, calibration steps included, as soon as it
// and every file before it are done. One lock covers printing and calibration appends, so
// neither ever interleaves between files.
class OrderedOutput {
 public:
  OrderedOutput(const CliOptions& options, size_t count, bool progress)
      : options_(options), pending_(count), progress_(progress) {}

  void Complete(size_t index, FileResult result) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_[index] = std::move(result);
    ++completed_;
    if (pending_[next_]) ClearProgress();
    while (next_ < pending_.size() && pending_[next_]) {
      Print(*pending_[next_]);
      pending_[next_].reset();
      ++next_;
    }
    DrawProgress();
  }

  // Clears the progress line for good.
  void Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearProgress();
    progress_ = false;
  }

  int Status() const { return status_; }

 private:
  void Print(FileResult& result) {
    std::vector<BatchPort::Entry> entries;
    try {
      entries = CompleteFile(options_, result);
    } catch (const std::exception& e) {
      entries.push_back({BatchPort::Kind::Message, std::string(kToolName) + ": " + e.what()});
      result.status = std::max(result.status, 1);
    }
    for (const BatchPort::Entry& entry : entries) {
      if (entry.kind == BatchPort::Kind::Line) {
        Write(stdout, entry.text + "\n");
      } else if (entry.kind == BatchPort::Kind::Message) {
        std::fflush(stdout);
        Write(stderr, entry.text + "\n");
      }
    }
    std::fflush(stdout);
    status_ = std::max(status_, result.status);
  }

  void DrawProgress() {
    if (!progress_ || completed_ == pending_.size()) return;
    progressLine_ = "\r" + std::string(kToolName) + ": " + std::to_string(completed_) + " of " +
                    std::to_string(pending_.size()) + " files done";
    Write(stderr, progressLine_);
    std::fflush(stderr);
  }

  void ClearProgress() {
    if (progressLine_.empty()) return;
    Write(stderr, "\r" + std::string(progressLine_.size(), ' ') + "\r");
    std::fflush(stderr);
    progressLine_.clear();
  }

  const CliOptions& options_;
  std::mutex mutex_;
  std::vector<std::optional<FileResult>> pending_;
  size_t next_ = 0;
  size_t completed_ = 0;
  bool progress_;
  std::string progressLine_;
  int status_ = 0;
};

// The folder for proposed bitmap names, created when it is missing. Empty after a message when
// it cannot be had.
std::optional<std::string> OutputFolder(const CliOptions& options) {
  if (options.command != Command::Raw && options.command != Command::Stack &&
      options.command != Command::Colour) {
    return "";
  }
  std::error_code ec;
  if (options.outputDir.empty()) {
    const fs::path current = fs::current_path(ec);
    if (ec) {
      Write(stderr, std::string(kToolName) +
                        ": the current folder cannot be found: " + ec.message() + "\n");
      return std::nullopt;
    }
    return Utf8Of(current);
  }
  const fs::path folder = FsPath(options.outputDir);
  if (!fs::is_directory(folder, ec)) {
    if (fs::exists(folder, ec)) {
      Write(stderr,
            std::string(kToolName) + ": --output-dir: " + options.outputDir + " is not a folder\n");
      return std::nullopt;
    }
    fs::create_directories(folder, ec);
    if (ec) {
      Write(stderr, std::string(kToolName) + ": cannot create the output folder " +
                        options.outputDir + ": " + ec.message() + "\n");
      return std::nullopt;
    }
  }
  return options.outputDir;
}

}  // namespace

int RunBatch(const CliOptions& options) {
  const std::optional<std::string> outputFolder = OutputFolder(options);
  if (!outputFolder) return 1;

  if (options.command == Command::Travel && options.tsv) {
    Write(stdout, TravelTsvHeader() + "\n");
    std::fflush(stdout);
  }
  const size_t count = options.inputs.size();
  const bool progress = count > 1 && QUELMAR_ISATTY(2) != 0;
  OrderedOutput output(options, count, progress);
  OutputClaims claims;
  for (const std::string& input : options.inputs) claims.ProtectInput(input);
  std::atomic<size_t> nextInput{0};
  // Files are handed out in input order, so a file waits for printing only on files that are
  // already being worked on.
  auto worker = [&] {
    for (size_t i = nextInput++; i < count; i = nextInput++) {
      output.Complete(i, ProcessFile(options, options.inputs[i], *outputFolder, claims));
    }
  };
  const size_t threads = std::min(count, static_cast<size_t>(std::max(options.jobs, 1)));
  if (threads <= 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
  }
  output.Finish();
  return output.Status();
}

}  // namespace quelmar::cli
