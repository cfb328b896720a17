#include "numeric/radix_sort.h"

#include <cstring>

#include "host/storage.h"

namespace {

constexpr int DIGIT_BITS = 8;
constexpr int DIGITS = 64 / DIGIT_BITS;
constexpr int RADIX = 1 << DIGIT_BITS;

// An unsigned key that orders like the double: -0 is made +0 (they compare
// equal), negatives are inverted whole, positives get the sign bit set.
inline std::uint64_t key_of(const double* p) {
  constexpr std::uint64_t sign = 0x8000000000000000ULL;
  std::uint64_t b;
  std::memcpy(&b, p, sizeof b);
  b = b == sign ? 0 : b;
  return b ^ ((0 - (b >> 63)) | sign);
}

inline int digit(std::uint64_t key, int d) {
  return static_cast<int>((key >> (d * DIGIT_BITS)) & (RADIX - 1));
}

}  // namespace

// Least significant digit first: each pass is stable, so the whole is. It
// replaces a comparison sort whose branches mispredict on unordered data.
void sort_double_ptrs(const double** ptrs, std::uint64_t count) {
  if (count < 2) return;
  // All digits' counts in one read of the keys, which also tells whether
  // they already ascend (data in time order often do).
  std::uint64_t start[DIGITS][RADIX] = {};
  std::uint64_t previous = 0;
  bool ascending = true;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t k = key_of(ptrs[i]);
    ascending = ascending && k >= previous;
    previous = k;
    for (int d = 0; d < DIGITS; ++d) ++start[d][digit(k, d)];
  }
  if (ascending) return;
  const double** scratch = host_alloc_array<const double*>(static_cast<std::int64_t>(count));
  const double** src = ptrs;
  const double** dst = scratch;
  for (int d = 0; d < DIGITS; ++d) {
    // A digit that all keys share moves nothing.
    bool shared = false;
    std::uint64_t sum = 0;
    for (int r = 0; r < RADIX && !shared; ++r) {
      shared = start[d][r] == count;
      const std::uint64_t c = start[d][r];
      start[d][r] = sum;
      sum += c;
    }
    if (shared) continue;
    for (std::uint64_t i = 0; i < count; ++i) dst[start[d][digit(key_of(src[i]), d)]++] = src[i];
    const double** t = src;
    src = dst;
    dst = t;
  }
  if (src != ptrs) std::memcpy(ptrs, src, static_cast<std::size_t>(count) * sizeof *ptrs);
  host_free(scratch);
}
