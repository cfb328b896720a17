#include "numeric/reference/select.h"

#include "numeric/select_core.h"

using namespace select_core;

std::int32_t select_rank(const void* base, std::int32_t rank, std::int32_t count,
                         std::uint64_t elem_size, less_fn less) {
  return select_rank_with(base, rank, count, elem_size, less);
}

const void* select_ptr(const void** ptrs, std::int32_t rank, std::int32_t count, less_fn less) {
  return select_ptr_with(ptrs, rank, count, less);
}

void median_of_five(const void** group, less_fn less) { median_of_five_with(group, less); }

const void* second_smallest(const void* const* ptrs, std::int32_t count, less_fn less) {
  return second_smallest_with(ptrs, count, less);
}

const void* second_largest(const void* const* ptrs, std::int32_t count, less_fn less) {
  return second_largest_with(ptrs, count, less);
}
