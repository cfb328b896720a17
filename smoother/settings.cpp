#include "smoother/settings.h"

#include <cstring>

#include "host/storage.h"

namespace {

void hold(held_lines& held, const fit_trouble& t, std::int32_t column) {
  if (held.count == held.room) {
    const std::int64_t room = held.room > 0 ? 2 * held.room : 64;
    held_line* more = host_alloc_array<held_line>(room);
    if (held.count > 0) std::memcpy(more, held.lines, sizeof(held_line) * held.count);
    host_free(held.lines);
    held.lines = more;
    held.room = room;
  }
  held.lines[held.count++] = held_line{t, column};
}

}  // namespace

void note_trouble(fit_settings* settings, const fit_trouble& t, std::int32_t column) {
  if (t.singular) ++settings->singular;
  if (t.unstable || t.inaccurate) ++settings->unstable;
  if (settings->report != trouble_report::lines) return;
  if (settings->held != nullptr) {
    hold(*settings->held, t, column);
  } else {
    write_trouble(t);
  }
}

void write_held(held_lines& held, std::int32_t columns) {
  if (held.count == 0) return;
  // Counted by column, then each line written from its place in column
  // order: one pass each, however many columns.
  std::int64_t* first = host_alloc_array<std::int64_t>(static_cast<std::int64_t>(columns) + 1);
  for (std::int32_t c = 0; c <= columns; ++c) first[c] = 0;
  for (std::int64_t i = 0; i < held.count; ++i) ++first[held.lines[i].column + 1];
  for (std::int32_t c = 0; c < columns; ++c) first[c + 1] += first[c];
  std::int64_t* order = host_alloc_array<std::int64_t>(held.count);
  for (std::int64_t i = 0; i < held.count; ++i) order[first[held.lines[i].column]++] = i;
  for (std::int64_t i = 0; i < held.count; ++i) write_trouble(held.lines[order[i]].t);
  host_free(order);
  host_free(first);
  host_free(held.lines);
  held = held_lines{};
}

fit_settings quiet_settings(const fit_settings& settings) {
  fit_settings quiet = settings;
  quiet.report = trouble_report::off;
  quiet.held = nullptr;
  return quiet;
}
