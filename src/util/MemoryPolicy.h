#pragma once
// How the program's freed memory is kept.

namespace quelmar {

// Keeps freed memory for the program's next use rather than giving it back to the system at
// once. Pictures take and free work buffers of several megabytes each time, on every core (the
// distortion maps of each band, the rows kept for reuse, each core's rows): given back, each
// comes back as fresh pages the system clears one at a time on first use, which on some
// machines takes as long as the picture itself, more or less often as the freed blocks happen
// to lie. Each program calls it first thing. (Where the C library has no such setting, nothing.)
void KeepFreedMemoryForReuse();

}  // namespace quelmar
