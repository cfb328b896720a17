#include "smoother/kernel/fit_range.h"

#if QUIBRA_WIDE_LANES
namespace fit_ranges {
QUIBRA_DEFINE_FIT_RANGE(4, QUIBRA_AVX2)
}  // namespace fit_ranges
QUIBRA_DEFINE_FAST_WINDOW_SUMS(4, QUIBRA_AVX2)
#endif
