// The segment test two rays at a time, in Advanced SIMD (NEON; every aarch64
// processor has it). The same operations as the SSE2 file, lane by lane.
#include <arm_neon.h>

#include "tracing/lane_step.h"

namespace reflector {

namespace {

// Two doubles in one register; a comparison gives a mask of all ones per
// true lane, in a register of 64-bit integers.
struct TwoLanes {
  using Type = float64x2_t;
  static constexpr int kLanes = 2;
  static Type Load(const double* p) { return vld1q_f64(p); }
  static void Store(double* p, Type v) { vst1q_f64(p, v); }
  static Type Set(double x) { return vdupq_n_f64(x); }
  static Type Zero() { return vdupq_n_f64(0.0); }
  using Mask = uint64x2_t;
  static Mask NoLanes() { return vdupq_n_u64(0); }
  static Mask AllLanes() { return vdupq_n_u64(~0ULL); }
  static Type Add(Type a, Type b) { return vaddq_f64(a, b); }
  static Type Sub(Type a, Type b) { return vsubq_f64(a, b); }
  static Type Mul(Type a, Type b) { return vmulq_f64(a, b); }
  static Type Div(Type a, Type b) { return vdivq_f64(a, b); }
  static Type Sqrt(Type a) { return vsqrtq_f64(a); }
  static Type Abs(Type a) { return vabsq_f64(a); }  // clears the sign bit, as the SSE2 mask does
  static Mask Eq(Type a, Type b) { return vceqq_f64(a, b); }
  static Mask Neq(Type a, Type b) { return veorq_u64(vceqq_f64(a, b), AllLanes()); }  // true for NaN
  static Mask Lt(Type a, Type b) { return vcltq_f64(a, b); }
  static Mask Le(Type a, Type b) { return vcleq_f64(a, b); }
  static Mask Gt(Type a, Type b) { return vcgtq_f64(a, b); }
  static Mask Ge(Type a, Type b) { return vcgeq_f64(a, b); }
  static Mask And(Mask a, Mask b) { return vandq_u64(a, b); }
  static Mask AndNot(Mask a, Mask b) { return vbicq_u64(b, a); }  // ~a & b
  static Mask Or(Mask a, Mask b) { return vorrq_u64(a, b); }
  static Mask Xor(Mask a, Mask b) { return veorq_u64(a, b); }
  // m ? a : b, lane by lane.
  static Type Select(Mask m, Type a, Type b) { return vbslq_f64(m, a, b); }
  static bool Any(Mask m) { return vmaxvq_u32(vreinterpretq_u32_u64(m)) != 0; }
  static bool All(Mask m) { return vminvq_u32(vreinterpretq_u32_u64(m)) == 0xFFFFFFFFu; }
  // One bit per lane, lane 0 lowest.
  static unsigned Bits(Mask m) {
    return static_cast<unsigned>(vgetq_lane_u64(m, 0) & 1u) | static_cast<unsigned>((vgetq_lane_u64(m, 1) & 1u) << 1);
  }
};

}  // namespace

const LaneFunctions kTwoLaneFunctions = LaneEntries<TwoLanes>::kTable;

}  // namespace reflector
