#pragma once
// Work split in parts that run at the same time.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
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

}  // namespace quelmar
