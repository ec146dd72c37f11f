#pragma once
// What the processor offers beyond the baseline the program is built for, asked once. The fast
// picture and matching paths choose their byte shuffles (SSSE3) and 256-bit vectors (AVX2) by
// these; elsewhere than on x86-64 both are false and the plain paths run.

namespace quelmar {

bool ProcessorHasShuffles();     // SSSE3
bool ProcessorHasWideVectors();  // AVX2

// The cores the system has (std::thread::hardware_concurrency: 0 where it cannot tell), asked
// once: asking reads a file of the system's every time, three system calls, which a travel
// measured in under a millisecond would otherwise make every time.
unsigned ProcessorCores();

}  // namespace quelmar
