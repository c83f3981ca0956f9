#pragma once

#include <mpfr.h>

#include <cmath>

namespace reflector::testing {

// f(x) correctly rounded to a double by MPFR, subnormals included: MPFR's
// exponent range is narrowed to the double format's for the call (per
// thread), and its result is subnormalised. Independent of the program's
// own exact phase, which leans on the arguments' ranges instead.
inline double MpfrRounded(double x, int (*function)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
  const mpfr_exp_t oldMin = mpfr_get_emin();
  const mpfr_exp_t oldMax = mpfr_get_emax();
  mpfr_set_emin(-1073);
  mpfr_set_emax(1024);
  mpfr_t value;
  mpfr_init2(value, 53);
  mpfr_set_d(value, x, MPFR_RNDN);
  int inexact = function(value, value, MPFR_RNDN);
  inexact = mpfr_check_range(value, inexact, MPFR_RNDN);
  mpfr_subnormalize(value, inexact, MPFR_RNDN);
  const double result = mpfr_get_d(value, MPFR_RNDN);
  mpfr_clear(value);
  mpfr_set_emin(oldMin);
  mpfr_set_emax(oldMax);
  return result;
}

// MPFR's caches of this thread (pi, for tan), which a thread that ends would
// otherwise leave behind for the leak checker.
inline void FreeMpfrCaches() { mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE); }

inline double MpfrAtan(double x) { return MpfrRounded(x, mpfr_atan); }
inline double MpfrTan(double x) { return MpfrRounded(x, mpfr_tan); }

}  // namespace reflector::testing
