// Making a label stamp rasterises text through the painter, whose code may
// use the 256-bit vector registers. Left in use, their upper halves slow
// every later frame's plain vector code and maths calls, so making a stamp
// must leave them clear. The processor reports which register states are in
// use (XGETBV with ECX = 1); where it cannot, the test is skipped.
#include "graphics/PixelBuffer.h"
#include "render/TextStamps.h"

#include <gtest/gtest.h>

#include <string>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define OV_CAN_READ_XINUSE 1
#endif

namespace {

#if defined(OV_CAN_READ_XINUSE)
bool CanReadInUse() {
  unsigned a, b, c, d;
  if (!__builtin_cpu_supports("avx") || !__get_cpuid_count(0xD, 1, &a, &b, &c, &d))
    return false;
  return (a & (1u << 2)) != 0; // XGETBV with ECX = 1
}

// The upper halves of the 256-bit registers are in use.
bool UpperHalvesInUse() {
  unsigned lo, hi;
  asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  (void)hi;
  return (lo & (1u << 2)) != 0;
}
#endif

} // namespace

TEST(TextStampVectorState, MakingStampsLeavesTheUpperVectorHalvesClear) {
#if defined(OV_CAN_READ_XINUSE)
  if (!CanReadInUse())
    GTEST_SKIP() << "the processor does not report its register states in use";
  auto pixels = ovgfx::PixelBuffer::Create(MakeRect(0, 0, 120, 40), 32);
  pixels->Fill(0xFF404040u);
  const float ink[3] = {0.9f, 0.8f, 0.2f};
  // Texts no other test stamps, so each is made here, smooth and not.
  for (int k = 0; k < 6; ++k) {
    const std::string text = "vector state " + std::to_string(k);
    StampStrokedText(pixels.get(), 3.3f, 20.6f, text, "Geneva", 10.0f + float(k), 1.0f, k % 2 == 0, ink, 1.0f);
    EXPECT_FALSE(UpperHalvesInUse()) << text;
  }
#else
  GTEST_SKIP() << "not an x86-64 build";
#endif
}
