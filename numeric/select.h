// Order statistics of doubles by median of medians, in linear time, without
// moving the caller's elements: the work is done on an array of element
// pointers. Ranks are 0-based in ascending order.
#ifndef QUIBRA_NUMERIC_SELECT_H
#define QUIBRA_NUMERIC_SELECT_H

#include <cstdint>

// Index of an element of rank `rank` among the `count` doubles at `base`,
// by strict-less comparisons (NaN compares false both ways); -1, with the
// line "Cannot select item of rank R among N elements." on the host
// console, when the rank is out of range. The same comparisons and index
// as the generic select_rank with less_double (numeric/reference/select.h).
std::int32_t select_rank_double(const double* base, std::int32_t rank, std::int32_t count);

#endif
