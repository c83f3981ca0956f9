#include <mpfr.h>

#include <cmath>

#include "geometry/correctly_rounded_phases.h"

namespace reflector::correctly_rounded {

namespace {

// f(x) rounded once to 53 bits. Below 2^-27, x is the answer (the fast
// phase's reasoning); beyond, neither function's result is subnormal or
// overflows (|tan x| < 2^62 for every double), so MPFR's unbounded exponent
// range rounds as the double format does and the 53-bit result converts
// exactly. MPFR keeps its state per thread, and its caches (pi, for tan's
// reduction) too: they are freed after each call, as a thread that ends
// would otherwise leave them behind, and the calls are rare.
double Exactly(double x, int (*function)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t)) {
  if (std::isnan(x)) return x + x;
  if (std::fabs(x) < 0x1p-27) return x;
  mpfr_t value;
  mpfr_init2(value, 53);
  mpfr_set_d(value, x, MPFR_RNDN);
  function(value, value, MPFR_RNDN);
  const double result = mpfr_get_d(value, MPFR_RNDN);
  mpfr_clear(value);
  mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE);
  return result;
}

}  // namespace

double ExactAtan(double x) { return Exactly(x, mpfr_atan); }

double ExactTan(double x) {
  if (std::isinf(x)) return x - x;
  return Exactly(x, mpfr_tan);
}

}  // namespace reflector::correctly_rounded
