// Stable bottom-up merge sort over raw elements of any size, ordered by a
// strict-less comparator (equal elements keep their input order).
#ifndef QUIBRA_NUMERIC_REFERENCE_MERGE_SORT_H
#define QUIBRA_NUMERIC_REFERENCE_MERGE_SORT_H

#include <cstdint>

#include "numeric/reference/compare.h"

// Sorts `count` elements of `elem_size` bytes at `base` in place.
void merge_sort(void* base, std::uint64_t count, std::uint64_t elem_size, less_fn less);

// Merges the non-empty runs [left, left_end) and [right, right_end) into
// `out`, taking the right element only when it is strictly less.
void merge_runs(const char* left, const char* left_end, const char* right, const char* right_end,
                char* out, std::uint64_t elem_size, less_fn less);

#endif
