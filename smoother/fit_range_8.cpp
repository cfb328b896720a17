#include "smoother/fit_range.h"

#if QUIBRA_WIDE_LANES
namespace fit_ranges {

template <bool Influence>
QUIBRA_AVX512 void fit_range_8(const smooth_model* model, fit_scratch& s, const double* xq,
                               const double* const* order, std::int64_t n, const fit_outputs& out,
                               fit_trouble* t) {
  fit_range<8, Influence>(model, s, xq, order, n, out, t);
}

template void fit_range_8<false>(const smooth_model*, fit_scratch&, const double*,
                                 const double* const*, std::int64_t, const fit_outputs&,
                                 fit_trouble*);
template void fit_range_8<true>(const smooth_model*, fit_scratch&, const double*,
                                const double* const*, std::int64_t, const fit_outputs&,
                                fit_trouble*);

}  // namespace fit_ranges
#endif
