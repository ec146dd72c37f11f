#include "util/RunParts.h"

namespace quelmar {

namespace {

// The program's crew: never ended (its helpers end with the program, asleep), so that nothing
// waits for them as the program ends.
std::mutex& KeptCrewLock() {
  static std::mutex* const lock = new std::mutex;
  return *lock;
}
PartsCrew& KeptCrew() {
  static PartsCrew* const crew = new PartsCrew;
  return *crew;
}

}  // namespace

KeptPartsCrew::KeptPartsCrew(int32_t helpers) : hold_(KeptCrewLock(), std::try_to_lock) {
  if (hold_.owns_lock()) {
    crew_ = &KeptCrew();
    // Helpers asleep since the last piece of work wake meanwhile (where this one wants them).
    if (helpers > 0) crew_->Rouse();
    crew_->AddHelpers(helpers);
  } else {
    crew_ = &own_.emplace(helpers);
  }
}

PartsCrew::PartsCrew(int32_t helpers) {
  AddHelpers(helpers);
}

PartsCrew::~PartsCrew() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  called_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void PartsCrew::AddHelpers(int32_t helpers) {
  while (static_cast<int32_t>(helpers_.size()) < helpers) {
    const auto k = static_cast<int32_t>(helpers_.size()) + 1;
    helpers_.emplace_back([this, k] { Serve(k); });
  }
}

void PartsCrew::Rouse() {
  if (helpers_.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    parts_ = 0;
    ++round_;
  }
  called_.notify_all();
}

void PartsCrew::RunJob(int32_t parts, const std::function<void(int32_t)>& job) {
  failures_.assign(static_cast<size_t>(parts), nullptr);
  if (parts > 1) {
    // Helpers for the parts beyond those started so far (each serves one part of every run).
    AddHelpers(parts - 1);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = &job;
      parts_ = parts;
      running_ = parts - 1;
      ++round_;
    }
    called_.notify_all();
  }
  try {
    job(0);
  } catch (...) {
    failures_[0] = std::current_exception();
  }
  if (parts > 1) {
    LookOutFor([&] { return running_.load(std::memory_order_acquire) == 0; });
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return running_ == 0; });
    job_ = nullptr;
  }
  for (const std::exception_ptr& f : failures_) {
    if (f) std::rethrow_exception(f);
  }
}

void PartsCrew::Serve(int32_t k) {
  uint64_t seen = 0;
  {
    // A helper started during a run takes that run's part.
    std::lock_guard<std::mutex> lock(mutex_);
    seen = job_ != nullptr ? round_ - 1 : round_.load();
  }
  for (;;) {
    LookOutFor([&] {
      return ending_.load(std::memory_order_acquire) ||
             round_.load(std::memory_order_acquire) != seen;
    });
    std::unique_lock<std::mutex> lock(mutex_);
    called_.wait(lock, [&] { return ending_ || round_ != seen; });
    if (ending_) return;
    seen = round_;
    if (k >= parts_) continue;  // a run of fewer parts
    const std::function<void(int32_t)>* job = job_;
    lock.unlock();
    try {
      (*job)(k);
    } catch (...) {
      failures_[static_cast<size_t>(k)] = std::current_exception();
    }
    // The caller may be looking out for the last helper's end rather than waiting to be told.
    if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      lock.lock();
      finished_.notify_one();
    }
  }
}

}  // namespace quelmar
