#pragma once

namespace reflector {

// An unevaluated sum hi + lo of two doubles, about 106 bits of precision, for
// the few computations that need more than one double holds. Built from IEEE
// basic operations only (no fused multiply-add), so every IEEE machine gives
// the same bits; the build's -ffp-contract=off keeps the compiler from fusing
// them.
struct DoubleDouble {
  double hi;
  double lo;
};

// a + b exactly: hi = fl(a + b), lo the rounding error (Knuth's TwoSum).
inline DoubleDouble TwoSum(double a, double b) {
  const double sum = a + b;
  const double bPart = sum - a;
  const double aPart = sum - bPart;
  return {sum, (a - aPart) + (b - bPart)};
}

// a + b exactly when |a| >= |b| or a is 0 (Dekker's FastTwoSum).
inline DoubleDouble FastTwoSum(double a, double b) {
  const double sum = a + b;
  return {sum, b - (sum - a)};
}

// a as hi + lo with hi holding its upper 26 significant bits and lo the rest
// (Veltkamp's splitting), so that a product of two halves is exact. |a| must
// stay below 2^996 (the splitter's product must not overflow).
inline DoubleDouble Split(double a) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double scaled = kSplitter * a;
  const double hi = scaled - (scaled - a);
  return {hi, a - hi};
}

// a * b exactly, barring underflow and overflow (Dekker's TwoProduct without
// a fused multiply-add).
inline DoubleDouble TwoProduct(double a, double b) {
  const double product = a * b;
  const DoubleDouble as = Split(a);
  const DoubleDouble bs = Split(b);
  const double error = ((as.hi * bs.hi - product) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
  return {product, error};
}

// a * b for double-doubles, relative error below 2^-100 when the parts are
// normalised (|lo| <= ulp(hi)).
inline DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble product = TwoProduct(a.hi, b.hi);
  return FastTwoSum(product.hi, product.lo + (a.hi * b.lo + a.lo * b.hi));
}

// a / b for double-doubles, given inverse, 1/b to within 2^-48 of itself (a
// caller may have it before b is complete, so the division need not wait):
// the quotient's error is corrected through the exact residual a - q b.
// Relative error below 2^-94 when the parts are normalised and nothing
// underflows.
inline DoubleDouble DivideWithInverse(DoubleDouble a, DoubleDouble b, double inverse) {
  const double quotient = a.hi * inverse;
  const DoubleDouble product = TwoProduct(quotient, b.hi);
  // quotient is within 2^-47 of a.hi / b.hi, so a.hi - product.hi is exact
  // (Sterbenz) and the residual is below 2^-46 |a|; its own error is then
  // below 2^-98 |a|, and that of its quotient, residual * inverse, 2^-94.
  const double residual = (((a.hi - product.hi) - product.lo) + a.lo) - quotient * b.lo;
  return FastTwoSum(quotient, residual * inverse);
}

// a / b for double-doubles: one division, for b's reciprocal.
inline DoubleDouble Divide(DoubleDouble a, DoubleDouble b) {
  return DivideWithInverse(a, b, 1.0 / b.hi);
}

}  // namespace reflector
