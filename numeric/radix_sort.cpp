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
  // Each key moves with its pointer, so that a pass reads its keys in
  // order rather than through pointers all over the data: at 10^7 points
  // the sort takes a fifth of the time (more storage while it runs, but
  // less than a call's later stages hold).
  const auto n = static_cast<std::int64_t>(count);
  const double** scratch = host_alloc_array<const double*>(n);
  std::uint64_t* keys = host_alloc_array<std::uint64_t>(2 * n);
  const double** src = ptrs;
  const double** dst = scratch;
  std::uint64_t* src_keys = nullptr;  // the first pass reads them through the pointers
  std::uint64_t* dst_keys = keys;
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
    std::uint64_t* to = start[d];
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t k = src_keys != nullptr ? src_keys[i] : key_of(src[i]);
      const std::uint64_t at = to[digit(k, d)]++;
      dst[at] = src[i];
      dst_keys[at] = k;
    }
    const double** t = src;
    src = dst;
    dst = t;
    std::uint64_t* other = src_keys != nullptr ? src_keys : keys + n;
    src_keys = dst_keys;
    dst_keys = other;
  }
  if (src != ptrs) std::memcpy(ptrs, src, static_cast<std::size_t>(count) * sizeof *ptrs);
  host_free(keys);
  host_free(scratch);
}
