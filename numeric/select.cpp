#include "numeric/select.h"

#include "numeric/select_core.h"

std::int32_t select_rank_double(const double* base, std::int32_t rank, std::int32_t count) {
  return select_core::select_rank_with(base, rank, count, sizeof(double),
                                       select_core::double_less{});
}
