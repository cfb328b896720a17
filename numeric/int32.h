// Doubles as the 32-bit counts and switches of the module.
#ifndef QUIBRA_NUMERIC_INT32_H
#define QUIBRA_NUMERIC_INT32_H

#include <cstdint>

// Truncates toward zero into the 32-bit range: NaN gives 0, values beyond
// the range give its ends.
inline std::int32_t to_int32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(v);  // truncates toward zero
}

#endif
