#include "smoother/fit_range.h"

namespace fit_ranges {

template <bool Influence>
void fit_range_2(const smooth_model* model, fit_scratch& s, const double* xq,
                 const double* const* order, std::int64_t n, const fit_outputs& out,
                 fit_trouble* t) {
  fit_range<2, Influence>(model, s, xq, order, n, out, t);
}

template void fit_range_2<false>(const smooth_model*, fit_scratch&, const double*,
                                 const double* const*, std::int64_t, const fit_outputs&,
                                 fit_trouble*);
template void fit_range_2<true>(const smooth_model*, fit_scratch&, const double*,
                                const double* const*, std::int64_t, const fit_outputs&,
                                fit_trouble*);

}  // namespace fit_ranges
