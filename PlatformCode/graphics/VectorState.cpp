#include "VectorState.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define OV_ZERO_UPPER 1
#endif

namespace ovgfx {

namespace {

#if defined(OV_ZERO_UPPER)
__attribute__((target("avx"))) void ZeroUpperHalves() { _mm256_zeroupper(); }
#endif

} // namespace

void LeaveVectorStateClean() {
#if defined(OV_ZERO_UPPER)
  static const bool avx = __builtin_cpu_supports("avx");
  if (avx)
    ZeroUpperHalves();
#endif
}

} // namespace ovgfx
