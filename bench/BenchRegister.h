#pragma once
// Registers a benchmark case timed in real milliseconds. A case whose inputs cannot be made (a
// product that does not simulate or load) is reported as failed with the reason, and the other
// cases still run.
#include <benchmark/benchmark.h>

#include <exception>
#include <functional>
#include <string>
#include <utility>

namespace quelmar::bench {

inline void RegisterCase(const std::string& name, std::function<void(benchmark::State&)> body) {
  benchmark::RegisterBenchmark(name.c_str(),
                               [body = std::move(body)](benchmark::State& state) {
                                 try {
                                   body(state);
                                 } catch (const std::exception& e) {
                                   state.SkipWithError(e.what());
                                 }
                               })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

}  // namespace quelmar::bench
