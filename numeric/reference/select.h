// Generic order statistics by median of medians over elements of any size
// and a strict-less comparator, in the manner of qsort: the reference that
// the module's typed selection (numeric/select.h) is tested and fuzzed
// against. Built into the tests and the fuzz targets, never into the module.
// Ranks are 0-based in ascending order of the comparator.
#ifndef QUIBRA_NUMERIC_REFERENCE_SELECT_H
#define QUIBRA_NUMERIC_REFERENCE_SELECT_H

#include <cstdint>

#include "numeric/reference/compare.h"

// Index of an element of rank `rank` among the `count` elements of
// `elem_size` bytes at `base`; -1 (with a line on the host console) when
// the rank is out of range.
std::int32_t select_rank(const void* base, std::int32_t rank, std::int32_t count,
                         std::uint64_t elem_size, less_fn less);

// Recursive worker over `count` element pointers, which it may reorder.
const void* select_ptr(const void** ptrs, std::int32_t rank, std::int32_t count, less_fn less);

// Reorders five pointers so that [2] is their median, [0] and [1] are not
// above it and [3] and [4] are not below it. Six comparisons.
void median_of_five(const void** group, less_fn less);

// Rank 1 and rank count-2 in one pass; count >= 2.
const void* second_smallest(const void* const* ptrs, std::int32_t count, less_fn less);
const void* second_largest(const void* const* ptrs, std::int32_t count, less_fn less);

#endif
