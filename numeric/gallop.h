// The one search over a sorted run: the first place a monotone condition
// holds, found from a guess. Windows, tie runs and the fast sums' bounds
// all move little from one query to the next, so each is found in a few
// steps from where the last one was instead of by halving the whole range.
#ifndef QUIBRA_NUMERIC_GALLOP_H
#define QUIBRA_NUMERIC_GALLOP_H

#include <cstdint>

// The least i in [a, b) where `holds` does (false below it, true from it
// on), b where none: a binary search's answer, found by galloping out
// from `hint`, which then becomes it. `holds` is asked only inside [a, b).
template <typename F>
inline std::int32_t first_holding(std::int32_t a, std::int32_t b, const F& holds,
                                  std::int32_t& hint) {
  if (a >= b) return a;
  const std::int64_t h = hint < a ? a : (hint >= b ? b - 1 : hint);
  std::int64_t lo = a;  // `holds` fails below lo ...
  std::int64_t hi = b;  // ... and holds from hi on
  std::int64_t step = 1;
  if (holds(static_cast<std::int32_t>(h))) {
    hi = h;
    while (h - step >= a && holds(static_cast<std::int32_t>(h - step))) {
      hi = h - step;
      step *= 2;
    }
    if (h - step >= a) lo = h - step + 1;
  } else {
    lo = h + 1;
    while (h + step < b && !holds(static_cast<std::int32_t>(h + step))) {
      lo = h + step + 1;
      step *= 2;
    }
    if (h + step < b) hi = h + step;
  }
  while (lo < hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (holds(static_cast<std::int32_t>(mid))) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  hint = static_cast<std::int32_t>(lo);
  return hint;
}

#endif
