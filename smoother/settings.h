// How one call runs its local fits, and what those fits met. One record per
// call, made by the gateway and handed down to every run of local fits (the
// evaluation at X and each robustness pass), so that everything a call
// decides about running fits lives in one place.
#ifndef QUIBRA_SMOOTHER_SETTINGS_H
#define QUIBRA_SMOOTHER_SETTINGS_H

#include <cstdint>

#include "numeric/solve.h"

// How a local fit's numerical trouble reaches the user: a line on standard
// error per affected fit, a summary at the end of the call, or not at all.
enum class trouble_report { lines, summary, off };

// The most threads a call may ask for; more would only cost start-up time.
inline constexpr std::int32_t MAX_THREADS = 1024;

// Lines held back while several signals are fitted page by page, so that
// each signal's come out together, as its own call writes them: every
// noted fit's trouble with its column, in the order noted.
struct held_line {
  fit_trouble t;
  std::int32_t column = 0;
};
struct held_lines {
  held_line* lines = nullptr;
  std::int64_t count = 0;
  std::int64_t room = 0;
};

struct fit_settings {
  trouble_report report = trouble_report::lines;
  // Not null: lines are held there instead of written (write_held).
  held_lines* held = nullptr;
  // Queries in ascending order are fitted at most this far apart (0: every
  // query is fitted); those between two fits are interpolated linearly.
  double delta = 0.0;
  // Threads for the call's fits, 1 to MAX_THREADS; 0 decides from
  // QUIBRA_NUM_THREADS and the hardware (see smoother/fits/parallel.h).
  std::int32_t threads = 0;
  // Where a window cannot determine the polynomial, fit the highest degree
  // its points determine instead of failing ('Fallback' 'lower').
  bool lower = false;
  // Where a window is large enough, its sums from moments of blocks of
  // points (smoother/moments/moment_tree.h) instead of a pass over it ('Method'
  // 'fast'): the same fits up to rounding, in near-linear time.
  bool fast = false;
  // Fits that failed as singular, and fits whose inverse failed its product
  // check, over the whole call; counted whatever `report` says.
  std::int64_t singular = 0;
  std::int64_t unstable = 0;
};

// A copy for fits the user did not ask for (the span search's, a band's
// made apart): their trouble is not that of the call's result, so it is
// neither written nor counted into the call's.
fit_settings quiet_settings(const fit_settings& settings);

// Counts one fit's trouble and, when lines are wanted, writes its line
// (or holds it, for its column). Fits are noted in query order, so lines
// come out in that order.
void note_trouble(fit_settings* settings, const fit_trouble& t, std::int32_t column = 0);

// Writes the held lines column after column, each column's in the order
// noted, and releases them.
void write_held(held_lines& held, std::int32_t columns);

#endif
