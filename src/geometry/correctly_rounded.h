#pragma once

namespace reflector {

// The numerics a run's results depend on, as results and checkpoints record
// them: every operation of a run rounds once, atan and tan included. Builds
// before 0.2 took atan and tan from the C library, whose results vary by
// machine, so their runs went other ways.
inline constexpr char kNumerics[] = "IEEE 754 double, correctly rounded atan and tan";

// The arctangent and tangent of x, correctly rounded: the double nearest the
// exact real value (ties to even), for every double. ±0 give ±0, subnormals
// their own value, atan(±inf) = ±pi/2 rounded, tan(±inf) and NaN give NaN.
// Unlike the C library's atan and tan, whose results differ between machines
// (glibc picks an implementation by processor) and are sometimes one unit in
// the last place off, these give the same bits on every IEEE machine: one
// rounding, as every other operation of a run.
//
//   const double m = CorrectlyRoundedTan(CorrectlyRoundedAtan(mr) + 2 * CorrectlyRoundedAtan(t));
//
// A double-double evaluation with a proven error bound decides almost every
// argument (correctly_rounded_phases.h); the few it cannot decide, and tan of
// arguments beyond 2^20, are computed exactly with MPFR.
//
// Thread safety: safe from any thread.
double CorrectlyRoundedAtan(double x);
double CorrectlyRoundedTan(double x);

}  // namespace reflector
