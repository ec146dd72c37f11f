#pragma once
// A picture as shown and saved: 24 bits per pixel, bytes blue, green, red, rows from the top,
// each row padded to a multiple of 4 bytes. The window wraps these bytes without copying them
// and the BMP writer writes them bottom-up without conversion.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quelmar {

// An allocator that leaves new elements as they happen to be (a vector's growth does not
// clear them first).
template <typename T>
struct UnclearedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UnclearedAllocator<U>;
  };
  UnclearedAllocator() = default;
  template <typename U>
  UnclearedAllocator(const UnclearedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

class Picture {
 public:
  // Resizes to width x height and clears every pixel to white; RangeError when too large.
  void Reset(int32_t width, int32_t height);
  // Resizes to width x height and leaves the pixels as they happen to be: for a builder that
  // paints every byte of every row itself. Same errors as Reset.
  void Resize(int32_t width, int32_t height);

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Stride() const { return stride_; }  // bytes per row, a multiple of 4
  // True once any picture (even 0 x 0) has been built; false after start-up.
  bool Built() const { return built_; }

  uint8_t* Row(int32_t y) { return bytes_.data() + static_cast<size_t>(y) * stride_; }
  const uint8_t* Row(int32_t y) const { return bytes_.data() + static_cast<size_t>(y) * stride_; }
  const uint8_t* Data() const { return bytes_.data(); }

 private:
  void Size(int32_t width, int32_t height, bool clear);

  // A new block is not cleared: Reset fills it, and the builders that Resize paint every byte.
  std::vector<uint8_t, UnclearedAllocator<uint8_t>> bytes_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t stride_ = 0;
  bool built_ = false;
};

}  // namespace quelmar
