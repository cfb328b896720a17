#include "smoother/fit_range.h"

namespace fit_ranges {
QUIBRA_DEFINE_FIT_RANGE(2, )
}  // namespace fit_ranges
