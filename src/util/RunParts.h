#pragma once
// Work split in parts that run at the same time.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quelmar {

// Runs task(0) .. task(parts - 1), each on a thread of its own but the first, and throws the
// first failure once all have ended.
template <typename Task>
void RunParts(int32_t parts, const Task& task) {
  std::vector<std::exception_ptr> failures(static_cast<size_t>(std::max(parts, 1)));
  std::vector<std::thread> helpers;
  for (int32_t k = 1; k < parts; ++k) {
    helpers.emplace_back([&task, &failures, k] {
      try {
        task(k);
      } catch (...) {
        failures[static_cast<size_t>(k)] = std::current_exception();
      }
    });
  }
  try {
    task(0);
  } catch (...) {
    failures[0] = std::current_exception();
  }
  for (std::thread& t : helpers) t.join();
  for (const std::exception_ptr& f : failures) {
    if (f) std::rethrow_exception(f);
  }
}

// Threads kept for a piece of work that runs several times in parts, one after another, with
// work of its own between them: each Run does what RunParts does, on threads started once, at the
// first Run with more than one part, and ended with the crew. (Starting a thread costs tens of
// microseconds: as much as a small part's work.)
class PartsCrew {
 public:
  PartsCrew() = default;
  PartsCrew(const PartsCrew&) = delete;
  PartsCrew& operator=(const PartsCrew&) = delete;
  ~PartsCrew();

  // Runs task(0) .. task(parts - 1), the first on this thread, and throws the first failure once
  // all have ended.
  template <typename Task>
  void Run(int32_t parts, const Task& task) {
    const std::function<void(int32_t)> job = [&task](int32_t k) { task(k); };
    RunJob(std::max(parts, 1), job);
  }

 private:
  void RunJob(int32_t parts, const std::function<void(int32_t)>& job);
  void Serve(int32_t k);  // a helper's loop: part k of every run that has one

  std::mutex mutex_;
  std::condition_variable called_, finished_;
  std::vector<std::thread> helpers_;
  const std::function<void(int32_t)>* job_ = nullptr;
  int32_t parts_ = 0;
  int32_t running_ = 0;  // helpers still at this run's parts
  uint64_t round_ = 0;
  bool ending_ = false;
  std::vector<std::exception_ptr> failures_;
};

// Where the parts of RunParts wait for one another: each arrives and waits until every part
// still taking part has arrived, or arrives and leaves (one that failed). Made of a mutex and a
// condition variable rather than the standard library's barrier: where there is no futex (the
// Windows build), the barrier of our compiler's library looks at the value it waits on before it
// takes its lock, so a wake-up that comes between the two is lost and every part waits for good.
class PartsMeeting {
 public:
  explicit PartsMeeting(int32_t parts) : expected_(parts) {}
  PartsMeeting(const PartsMeeting&) = delete;
  PartsMeeting& operator=(const PartsMeeting&) = delete;

  void ArriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t round = round_;
    if (++arrived_ >= expected_) {
      Open();
      return;
    }
    opened_.wait(lock, [&] { return round_ != round; });
  }
  void ArriveAndLeave() {
    std::lock_guard<std::mutex> lock(mutex_);
    --expected_;
    if (arrived_ >= expected_) Open();
  }

 private:
  // Lets the waiting parts go (the lock held).
  void Open() {
    arrived_ = 0;
    ++round_;
    opened_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable opened_;
  int32_t expected_;
  int32_t arrived_ = 0;
  uint64_t round_ = 0;
};

}  // namespace quelmar
