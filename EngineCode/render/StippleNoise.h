// The dots of the random-fill styles: a stream of chances that depends only
// on where a shape is drawn and how large, so that the same view gives the
// same dots every time it is drawn, in a strip of a picture as in the whole.
#pragma once

#include <cstdint>

class StippleNoise {
public:
  // The stream of the shape at (x, y) in the picture, `size` pixels across.
  StippleNoise(int32_t x, int32_t y, int32_t size)
      : state_((uint64_t(uint32_t(x)) << 32 | uint32_t(y)) ^ (uint64_t(uint32_t(size)) * kGolden)) {}

  // The next chance, at least 0 and below 1 (a step of splitmix64).
  double Next() {
    uint64_t z = state_ += kGolden;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return double(z >> 11) * 0x1.0p-53;
  }

private:
  static constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;
  uint64_t state_;
};
