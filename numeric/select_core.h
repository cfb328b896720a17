// The median-of-medians selection, written once over the comparator's type:
// the module's typed entry passes an inlined comparison of doubles, the
// generic reference routines (numeric/reference/select.h) a comparator
// function. Same comparisons, same result.
#ifndef QUIBRA_NUMERIC_SELECT_CORE_H
#define QUIBRA_NUMERIC_SELECT_CORE_H

#include <cstdint>

#include "host/services.h"
#include "host/storage.h"

namespace select_core {

template <typename Less>
const void* second_smallest_with(const void* const* ptrs, std::int32_t count, Less less) {
  const void* a;
  const void* b;
  if (less(ptrs[1], ptrs[0])) {
    a = ptrs[1];
    b = ptrs[0];
  } else {
    a = ptrs[0];
    b = ptrs[1];
  }
  for (std::int32_t i = 2; i < count; ++i) {
    const void* e = ptrs[i];
    if (less(e, b)) {
      if (less(e, a)) {
        b = a;
        a = e;
      } else {
        b = e;
      }
    }
  }
  return b;
}

template <typename Less>
const void* second_largest_with(const void* const* ptrs, std::int32_t count, Less less) {
  const void* a;
  const void* b;
  if (less(ptrs[1], ptrs[0])) {
    a = ptrs[0];
    b = ptrs[1];
  } else {
    a = ptrs[1];
    b = ptrs[0];
  }
  for (std::int32_t i = 2; i < count; ++i) {
    const void* e = ptrs[i];
    if (less(b, e)) {
      if (less(a, e)) {
        b = a;
        a = e;
      } else {
        b = e;
      }
    }
  }
  return b;
}

// A fixed network of six comparisons, kept whole: split up, the cases
// that decide where each element lands would be harder to follow.
template <typename Less>
void median_of_five_with(const void** group, Less less) {
  // Order the pairs (0, 1) and (2, 3); a tie makes the second member the top.
  const void* low_a = group[0];
  const void* top_a = group[1];
  if (less(top_a, low_a)) {
    low_a = group[1];
    top_a = group[0];
  }
  const void* low_b = group[2];
  const void* top_b = group[3];
  if (less(top_b, low_b)) {
    low_b = group[3];
    top_b = group[2];
  }
  // The larger top is the maximum of four: above the median, eliminate it.
  const void* gone_1;
  const void* partner;
  const void* kept_low;
  const void* kept_top;
  if (less(top_b, top_a)) {
    gone_1 = top_a;
    partner = low_a;
    kept_low = low_b;
    kept_top = top_b;
  } else {
    gone_1 = top_b;
    partner = low_b;
    kept_low = low_a;
    kept_top = top_a;
  }
  // Its partner pairs with element 4 (a tie makes element 4 the top).
  const void* new_low = partner;
  const void* new_top = group[4];
  if (less(new_top, partner)) {
    new_low = group[4];
    new_top = partner;
  }
  // The larger of the two tops lies above three others: eliminate it too.
  const void* gone_2;
  const void* survivor;
  const void* survivor_low;
  const void* other_low;
  if (less(new_top, kept_top)) {
    gone_2 = kept_top;
    other_low = kept_low;
    survivor = new_top;
    survivor_low = new_low;
  } else {
    gone_2 = new_top;
    other_low = new_low;
    survivor = kept_top;
    survivor_low = kept_low;
  }
  // The median is the larger of the surviving top and the eliminated top's partner.
  const void* median;
  const void* below;
  if (less(other_low, survivor)) {
    median = survivor;
    below = other_low;
  } else {
    median = other_low;
    below = survivor;
  }

  // Place them: each pointer moves at most once, and one that already sits
  // on its side of the median stays where it is.
  const void* lows[2] = {survivor_low, below};
  const void* highs[2] = {gone_1, gone_2};
  const void* out[5] = {nullptr, nullptr, median, nullptr, nullptr};
  auto place = [&](const void* const pair[2], int first) {
    bool used[2] = {false, false};
    for (int pos = first; pos < first + 2; ++pos) {
      for (int i = 0; i < 2; ++i) {
        if (!used[i] && group[pos] == pair[i]) {
          out[pos] = pair[i];
          used[i] = true;
        }
      }
    }
    for (int pos = first; pos < first + 2; ++pos) {
      if (out[pos] != nullptr) continue;
      const int i = used[0] ? 1 : 0;
      out[pos] = pair[i];
      used[i] = true;
    }
  };
  place(lows, 0);
  place(highs, 3);
  for (int i = 0; i < 5; ++i) group[i] = out[i];
}

template <typename Less>
const void* scan_min(const void* const* ptrs, std::int32_t count, Less less) {
  const void* best = ptrs[0];
  for (std::int32_t i = 1; i < count; ++i)
    if (less(ptrs[i], best)) best = ptrs[i];
  return best;
}

template <typename Less>
const void* scan_max(const void* const* ptrs, std::int32_t count, Less less) {
  const void* best = ptrs[0];
  for (std::int32_t i = 1; i < count; ++i)
    if (less(best, ptrs[i])) best = ptrs[i];
  return best;
}

template <typename Less>
const void* select_ptr_with(const void** ptrs, std::int32_t rank, std::int32_t count, Less less) {
  if (rank == 0) return scan_min(ptrs, count, less);
  if (rank == 1) return second_smallest_with(ptrs, count, less);
  if (rank == count - 1) return scan_max(ptrs, count, less);
  if (rank == count - 2) return second_largest_with(ptrs, count, less);

  // Pivot: the median of the group medians.
  const std::int32_t ngroups = count / 5;
  const void** medians = host_alloc_array<const void*>(ngroups);
  for (std::int32_t g = 0; g < ngroups; ++g) {
    median_of_five_with(ptrs + 5 * g, less);
    medians[g] = ptrs[5 * g + 2];
  }
  const void* s = select_ptr_with(medians, count / 10, ngroups, less);
  host_free(medians);

  // Partition: flag 1 for the upper side. Within a group the network's
  // order spares comparisons on the side the group median already decides.
  std::int32_t* upper = host_alloc_array<std::int32_t>(count);
  for (std::int32_t g = 0; g < ngroups; ++g) {
    const void* const* e = ptrs + 5 * g;
    std::int32_t* f = upper + 5 * g;
    if (less(e[2], s)) {
      f[0] = f[1] = f[2] = 0;
      f[3] = less(s, e[3]) ? 1 : 0;
      f[4] = less(s, e[4]) ? 1 : 0;
    } else {
      f[2] = f[3] = f[4] = 1;
      f[1] = less(s, e[1]) ? 1 : 0;
      f[0] = less(s, e[0]) ? 1 : 0;
    }
  }
  for (std::int32_t i = 5 * ngroups; i < count; ++i) upper[i] = less(s, ptrs[i]) ? 1 : 0;
  std::int32_t low = 0;
  for (std::int32_t i = 0; i < count; ++i) low += upper[i] == 0 ? 1 : 0;

  const bool go_low = rank < low;
  const std::int32_t side = go_low ? low : count - low;
  const void** gathered = host_alloc_array<const void*>(side);
  std::int32_t n = 0;
  for (std::int32_t i = 0; i < count; ++i)
    if ((upper[i] == 0) == go_low) gathered[n++] = ptrs[i];
  host_free(upper);
  const void* result = select_ptr_with(gathered, go_low ? rank : rank - low, side, less);
  host_free(gathered);
  return result;
}

// less_double, visible to the compiler.
struct double_less {
  bool operator()(const void* a, const void* b) const {
    return *static_cast<const double*>(a) < *static_cast<const double*>(b);
  }
};

template <typename Less>
std::int32_t select_rank_with(const void* base, std::int32_t rank, std::int32_t count,
                              std::uint64_t elem_size, Less less) {
  if (count <= 0 || rank < 0 || rank >= count) {
    host_printf("Cannot select item of rank %d among %d elements.\n", rank, count);
    return -1;
  }
  const char* bytes = static_cast<const char*>(base);
  const void** ptrs = host_alloc_array<const void*>(count);
  for (std::int32_t i = 0; i < count; ++i)
    ptrs[i] = bytes + static_cast<std::uint64_t>(i) * elem_size;
  const void* p = select_ptr_with(ptrs, rank, count, less);
  host_free(ptrs);
  return static_cast<std::int32_t>(static_cast<std::uint64_t>(static_cast<const char*>(p) - bytes) /
                                   elem_size);
}

}  // namespace select_core

#endif
