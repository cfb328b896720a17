#include "smoother/kernel/fit_range.h"

namespace fit_ranges {
QUIBRA_DEFINE_FIT_RANGE(2, )
}  // namespace fit_ranges

// The fits alone that every width calls (smoother/kernel/local_fit.h).
namespace local_fit {
template void fit_pair<false>(const smooth_model*, fit_scratch&, const double*, double*,
                              fit_trouble*, lane_extra*);
template void fit_pair<true>(const smooth_model*, fit_scratch&, const double*, double*,
                             fit_trouble*, lane_extra*);
template double column_alone<false>(const smooth_model*, fit_scratch&, double, std::int32_t,
                                    const lane_extra*, fit_trouble*);
template double column_alone<true>(const smooth_model*, fit_scratch&, double, std::int32_t,
                                   const lane_extra*, fit_trouble*);
}  // namespace local_fit
