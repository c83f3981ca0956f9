// The segment test four rays at a time, in AVX. This file alone is built for
// AVX; the beam tracer calls it only where the processor has AVX. Nothing
// here comes from the standard library (see lane_step.h): a shared inline
// function compiled here could end up, with AVX in it, where AVX is missing.
#include <immintrin.h>

#include "tracing/lane_step.h"

namespace reflector {

namespace {

// Four doubles in one register; a comparison gives a mask of the same type,
// all ones where true. Each operation is the IEEE operation of its name, and
// each comparison the predicate the two-lane SSE2 one uses (ordered, except
// not-equal, which is true for NaN).
struct FourLanes {
  using Type = __m256d;
  static constexpr int kLanes = 4;
  static Type Load(const double* p) { return _mm256_load_pd(p); }
  static void Store(double* p, Type v) { _mm256_store_pd(p, v); }
  static Type Set(double x) { return _mm256_set1_pd(x); }
  static Type Zero() { return _mm256_setzero_pd(); }
  using Mask = Type;
  static Mask NoLanes() { return Zero(); }
  static Mask AllLanes() { return _mm256_castsi256_pd(_mm256_set1_epi64x(-1)); }
  static Type Add(Type a, Type b) { return _mm256_add_pd(a, b); }
  static Type Sub(Type a, Type b) { return _mm256_sub_pd(a, b); }
  static Type Mul(Type a, Type b) { return _mm256_mul_pd(a, b); }
  static Type Div(Type a, Type b) { return _mm256_div_pd(a, b); }
  static Type Sqrt(Type a) { return _mm256_sqrt_pd(a); }
  static Type Abs(Type a) {
    return _mm256_and_pd(a, _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFFLL)));
  }
  static Type Eq(Type a, Type b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  static Type Neq(Type a, Type b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }
  static Type Lt(Type a, Type b) { return _mm256_cmp_pd(a, b, _CMP_LT_OS); }
  static Type Le(Type a, Type b) { return _mm256_cmp_pd(a, b, _CMP_LE_OS); }
  static Type Gt(Type a, Type b) { return _mm256_cmp_pd(a, b, _CMP_GT_OS); }
  static Type Ge(Type a, Type b) { return _mm256_cmp_pd(a, b, _CMP_GE_OS); }
  static Type And(Type a, Type b) { return _mm256_and_pd(a, b); }
  static Type AndNot(Type a, Type b) { return _mm256_andnot_pd(a, b); }  // ~a & b
  static Type Or(Type a, Type b) { return _mm256_or_pd(a, b); }
  static Type Xor(Type a, Type b) { return _mm256_xor_pd(a, b); }
  // m ? a : b, lane by lane. Bitwise, not blendv: GCC 12 turns a blendv on a
  // comparison's mask into lane-by-lane branches.
  static Type Select(Type m, Type a, Type b) {
    return _mm256_or_pd(_mm256_and_pd(m, a), _mm256_andnot_pd(m, b));
  }
  static bool Any(Type m) { return _mm256_movemask_pd(m) != 0; }
  static bool All(Type m) { return _mm256_movemask_pd(m) == 15; }
  // One bit per lane, lane 0 lowest.
  static unsigned Bits(Type m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
};

}  // namespace

const LaneFunctions kFourLaneFunctions = LaneEntries<FourLanes>::kTable;

}  // namespace reflector
