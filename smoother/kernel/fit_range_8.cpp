#include "smoother/kernel/fit_range.h"

#if QUIBRA_WIDE_LANES
namespace fit_ranges {
QUIBRA_DEFINE_FIT_RANGE(8, QUIBRA_AVX512)
}  // namespace fit_ranges
QUIBRA_DEFINE_FAST_WINDOW_SUMS(8, QUIBRA_AVX512)
#endif
