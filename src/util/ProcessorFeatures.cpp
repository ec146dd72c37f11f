#include "util/ProcessorFeatures.h"

#include <thread>

namespace quelmar {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// __builtin_cpu_init first: static initialisers may run before the processor model is read.
bool ProcessorHasShuffles() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return has;
}

bool ProcessorHasWideVectors() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  return has;
}

#else

bool ProcessorHasShuffles() {
  return false;
}

bool ProcessorHasWideVectors() {
  return false;
}

#endif

unsigned ProcessorCores() {
  static const unsigned cores = std::thread::hardware_concurrency();
  return cores;
}

}  // namespace quelmar
