// The segment test eight rays at a time, in AVX-512 (F and DQ). This file
// alone is built for AVX-512; the beam tracer calls it only where the
// processor has both. Nothing here comes from the standard library (see
// lane_step.h).
#include <immintrin.h>

#include "tracing/lane_step.h"

namespace reflector {

namespace {

// Eight doubles in one register; a comparison gives a mask register, one bit
// per lane. Each operation is the IEEE operation of its name, and each
// comparison the predicate the other widths use (ordered, except not-equal,
// which is true for NaN).
struct EightLanes {
  using Type = __m512d;
  using Mask = __mmask8;
  static constexpr int kLanes = 8;
  static Type Load(const double* p) { return _mm512_load_pd(p); }
  static void Store(double* p, Type v) { _mm512_store_pd(p, v); }
  static Type Set(double x) { return _mm512_set1_pd(x); }
  static Type Zero() { return _mm512_setzero_pd(); }
  static Mask NoLanes() { return 0; }
  static Mask AllLanes() { return 0xFF; }
  static Type Add(Type a, Type b) { return _mm512_add_pd(a, b); }
  static Type Sub(Type a, Type b) { return _mm512_sub_pd(a, b); }
  static Type Mul(Type a, Type b) { return _mm512_mul_pd(a, b); }
  static Type Div(Type a, Type b) { return _mm512_div_pd(a, b); }
  static Type Sqrt(Type a) { return _mm512_sqrt_pd(a); }
  static Type Abs(Type a) {
    return _mm512_and_pd(a, _mm512_castsi512_pd(_mm512_set1_epi64(0x7FFFFFFFFFFFFFFFLL)));
  }
  static Mask Eq(Type a, Type b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
  static Mask Neq(Type a, Type b) { return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_UQ); }
  static Mask Lt(Type a, Type b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OS); }
  static Mask Le(Type a, Type b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OS); }
  static Mask Gt(Type a, Type b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OS); }
  static Mask Ge(Type a, Type b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OS); }
  static Mask And(Mask a, Mask b) { return static_cast<Mask>(a & b); }
  static Mask AndNot(Mask a, Mask b) { return static_cast<Mask>(~a & b); }
  static Mask Or(Mask a, Mask b) { return static_cast<Mask>(a | b); }
  static Mask Xor(Mask a, Mask b) { return static_cast<Mask>(a ^ b); }
  // m ? a : b, lane by lane.
  static Type Select(Mask m, Type a, Type b) { return _mm512_mask_blend_pd(m, b, a); }
  static bool Any(Mask m) { return m != 0; }
  static bool All(Mask m) { return m == 0xFF; }
  // One bit per lane, lane 0 lowest.
  static unsigned Bits(Mask m) { return m; }
  static double MinAcross(Type a) { return _mm512_reduce_min_pd(a); }
};

}  // namespace

const LaneFunctions kEightLaneFunctions = LaneEntries<EightLanes>::kTable;

}  // namespace reflector
