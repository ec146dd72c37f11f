#pragma once
// Reading a file in blocks while the caller works on the previous one: a second thread fills one
// buffer as the caller reads the other, so that the copy from the system's cache and the work on
// the bytes overlap. Two blocks are held, whatever the file's size.
#include <condition_variable>
#include <cstddef>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quelmar {

class BlockReader {
 public:
  // Starts reading `in` (opened in binary mode) at once. `path` names the file in errors.
  BlockReader(std::ifstream& in, std::string path, size_t blockSize);
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // The next block, valid until the next call; empty at the end of the file. FileError when
  // the file cannot be read.
  std::string_view Next();

 private:
  struct Slot {
    std::vector<char> bytes;
    size_t size = 0;
    bool full = false;
    bool last = false;  // nothing follows this block
    std::string error;  // why the read failed; empty when it did not
  };
  void Run();

  std::ifstream& in_;
  std::string path_;
  Slot slots_[2];
  int current_ = 0;         // the slot the caller reads next
  bool handedOut_ = false;  // the caller holds slots_[1 - current_]
  bool finished_ = false;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace quelmar
