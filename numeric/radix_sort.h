// Stable sort of pointers to doubles by the values they point at.
#ifndef QUIBRA_NUMERIC_RADIX_SORT_H
#define QUIBRA_NUMERIC_RADIX_SORT_H

#include <cstdint>

// Orders `ptrs` ascending by *ptrs[i]; equal values (-0 and +0 among them)
// keep their input order, so the result is merge_sort's with
// less_double_ptr. No value may be NaN.
void sort_double_ptrs(const double** ptrs, std::uint64_t count);

#endif
