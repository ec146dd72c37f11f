#include "support/BlockReader.h"

#include <cerrno>
#include <system_error>

#include "util/Errors.h"

namespace quelmar {

BlockReader::BlockReader(std::ifstream& in, std::string path, size_t blockSize)
    : in_(in), path_(std::move(path)) {
  for (Slot& s : slots_) s.bytes.resize(blockSize);
  thread_ = std::thread([this] { Run(); });
}

BlockReader::~BlockReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BlockReader::Run() {
  for (int i = 0;; i ^= 1) {
    Slot& slot = slots_[i];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !slot.full; });
      if (stop_) return;
    }
    // The slot is the reader's alone until it is marked full.
    in_.read(slot.bytes.data(), static_cast<std::streamsize>(slot.bytes.size()));
    const size_t got = static_cast<size_t>(in_.gcount());
    std::string error;
    if (in_.bad()) error = std::error_code(errno, std::generic_category()).message();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.size = got;
      slot.error = error;
      slot.last = got < slot.bytes.size() || !error.empty();
      slot.full = true;
    }
    changed_.notify_all();
    if (slot.last) return;
  }
}

std::string_view BlockReader::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (handedOut_) {
    slots_[1 - current_].full = false;  // the caller is done with it: the reader may refill it
    handedOut_ = false;
    changed_.notify_all();
  }
  if (finished_) return {};
  Slot& slot = slots_[current_];
  changed_.wait(lock, [&] { return slot.full; });
  if (!slot.error.empty()) {
    finished_ = true;
    throw FileError("Cannot read the index file \"" + path_ + "\": " + slot.error);
  }
  finished_ = slot.last;
  handedOut_ = true;
  current_ ^= 1;
  return {slot.bytes.data(), slot.size};
}

}  // namespace quelmar
