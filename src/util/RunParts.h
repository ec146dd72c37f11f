#pragma once
// Work split in parts that run at the same time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

// How long a thread waiting for another looks out for it before it sleeps: where threads hand
// work to each other many times a millisecond, a sleeping thread can take as long to wake (tens
// of microseconds on some machines) as its share of the work.
inline constexpr std::chrono::microseconds kLookOut{200};

// Whether `ready` came true within kLookOut, looked at all the while.
template <typename Ready>
bool LookOutFor(const Ready& ready) {
  const auto until = std::chrono::steady_clock::now() + kLookOut;
  for (;;) {
    for (int32_t i = 0; i < 64; ++i) {
      if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
      _mm_pause();
#endif
    }
    if (std::chrono::steady_clock::now() >= until) return ready();
    std::this_thread::yield();  // to a thread waiting for this core, if there is one
  }
}

// Threads kept for a piece of work that runs several times in parts, one after another, with
// work of its own between them: each Run does what RunParts does, on threads started once (with
// the crew, or at the first Run with more parts than it has helpers) and ended with the crew.
// (Starting a thread costs tens of microseconds: as much as a small part's work.) Between runs,
// the helpers and the caller waiting for them look out for a while before they sleep: runs come
// close together, and a sleeping thread can take as long to wake as it takes to start.
class PartsCrew {
 public:
  // `helpers` started at once, so that their start overlaps what the caller does before the
  // first run.
  explicit PartsCrew(int32_t helpers = 0);
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
  friend class KeptPartsCrew;
  void RunJob(int32_t parts, const std::function<void(int32_t)>& job);
  // Wakes the helpers, between runs, to look out for the next one (a run of no parts).
  void Rouse();
  void AddHelpers(int32_t helpers);  // up to that many in all
  void Serve(int32_t k);             // a helper's loop: part k of every run that has one

  std::mutex mutex_;
  std::condition_variable called_, finished_;
  std::vector<std::thread> helpers_;
  // Set with the mutex held; round_, running_ and ending_ are also looked at without it.
  const std::function<void(int32_t)>* job_ = nullptr;
  int32_t parts_ = 0;
  std::atomic<int32_t> running_{0};  // helpers still at this run's parts
  std::atomic<uint64_t> round_{0};
  std::atomic<bool> ending_{false};
  std::vector<std::exception_ptr> failures_;
};

// The program's own crew, for work that runs in parts every time the user asks for it (a measure
// of the travel): its helpers are started once for the whole program, rather than for each
// piece of work. One piece of work at a time has it; another one at the same time gets a crew
// of its own.
class KeptPartsCrew {
 public:
  // With at least `helpers` helpers.
  explicit KeptPartsCrew(int32_t helpers);
  KeptPartsCrew(const KeptPartsCrew&) = delete;
  KeptPartsCrew& operator=(const KeptPartsCrew&) = delete;

  PartsCrew& operator*() { return *crew_; }
  PartsCrew* operator->() { return crew_; }

 private:
  std::unique_lock<std::mutex> hold_;
  std::optional<PartsCrew> own_;
  PartsCrew* crew_ = nullptr;
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
    uint64_t round = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      round = round_;
      if (++arrived_ >= expected_) {
        Open();
        return;
      }
    }
    LookOutFor([&] { return round_.load(std::memory_order_acquire) != round; });
    std::unique_lock<std::mutex> lock(mutex_);
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
  std::atomic<uint64_t> round_{0};  // set with the mutex held, looked at without it too
};

}  // namespace quelmar
