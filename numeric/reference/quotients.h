// The wide paths' quotient without a division (numeric/lanes.h) over
// arrays, for the tests and the fuzzers that hold it to the division.
// Built into them, never into the module.
#ifndef QUIBRA_NUMERIC_REFERENCE_QUOTIENTS_H
#define QUIBRA_NUMERIC_REFERENCE_QUOTIENTS_H

#include <cstddef>
#include <cstring>

#include "numeric/lanes.h"

#if QUIBRA_WIDE_LANES
// out[i] = quotient(a[i], b[i], 1 / b[i]), V's lanes at a time, n a
// multiple of them. Inlined into the wide paths' instruction sets below (by
// g++; clang keeps it apart, at the baseline, where the fused steps are
// the library's exact fma).
template <typename V>
void quotients(const double* a, const double* b, double* out, std::size_t n) {
  for (std::size_t i = 0; i + LANES<V> <= n; i += LANES<V>) {
    V av;
    V bv;
    std::memcpy(&av, a + i, sizeof av);
    std::memcpy(&bv, b + i, sizeof bv);
    const V q = quotient(av, bv, splat<V>(1.0) / bv);
    std::memcpy(out + i, &q, sizeof q);
  }
}

QUIBRA_AVX2 inline void quotients_4(const double* a, const double* b, double* out, std::size_t n) {
  quotients<v4d>(a, b, out, n);
}
QUIBRA_AVX512 inline void quotients_8(const double* a, const double* b, double* out,
                                      std::size_t n) {
  quotients<v8d>(a, b, out, n);
}
#endif

#endif
