// The segment test two rays at a time, in SSE2 (every x86-64 processor has it).
#include <emmintrin.h>

#include "tracing/lane_step.h"

namespace reflector {

namespace {

// Two doubles in one register; a comparison gives a mask of the same type,
// all ones where true. Each operation is the IEEE operation of its name.
struct TwoLanes {
  using Type = __m128d;
  static constexpr int kLanes = 2;
  static Type Load(const double* p) { return _mm_load_pd(p); }
  static void Store(double* p, Type v) { _mm_store_pd(p, v); }
  static Type Set(double x) { return _mm_set1_pd(x); }
  static Type Zero() { return _mm_setzero_pd(); }
  using Mask = Type;
  static Mask NoLanes() { return Zero(); }
  static Mask AllLanes() { return _mm_castsi128_pd(_mm_set1_epi64x(-1)); }
  static Type Add(Type a, Type b) { return _mm_add_pd(a, b); }
  static Type Sub(Type a, Type b) { return _mm_sub_pd(a, b); }
  static Type Mul(Type a, Type b) { return _mm_mul_pd(a, b); }
  static Type Div(Type a, Type b) { return _mm_div_pd(a, b); }
  static Type Sqrt(Type a) { return _mm_sqrt_pd(a); }
  static Type Abs(Type a) {
    return _mm_and_pd(a, _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL)));
  }
  static Type Eq(Type a, Type b) { return _mm_cmpeq_pd(a, b); }
  static Type Neq(Type a, Type b) { return _mm_cmpneq_pd(a, b); }
  static Type Lt(Type a, Type b) { return _mm_cmplt_pd(a, b); }
  static Type Le(Type a, Type b) { return _mm_cmple_pd(a, b); }
  static Type Gt(Type a, Type b) { return _mm_cmpgt_pd(a, b); }
  static Type Ge(Type a, Type b) { return _mm_cmpge_pd(a, b); }
  static Type And(Type a, Type b) { return _mm_and_pd(a, b); }
  static Type AndNot(Type a, Type b) { return _mm_andnot_pd(a, b); }  // ~a & b
  static Type Or(Type a, Type b) { return _mm_or_pd(a, b); }
  static Type Xor(Type a, Type b) { return _mm_xor_pd(a, b); }
  // m ? a : b, lane by lane.
  static Type Select(Type m, Type a, Type b) {
    return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
  }
  static bool Any(Type m) { return _mm_movemask_pd(m) != 0; }
  static bool All(Type m) { return _mm_movemask_pd(m) == 3; }
  // One bit per lane, lane 0 lowest.
  static unsigned Bits(Type m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
};

}  // namespace

const LaneFunctions kTwoLaneFunctions = LaneEntries<TwoLanes>::kTable;

}  // namespace reflector
