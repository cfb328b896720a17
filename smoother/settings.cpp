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
  for (std::int32_t c = 0; c < columns; ++c)
    for (std::int64_t i = 0; i < held.count; ++i)
      if (held.lines[i].column == c) write_trouble(held.lines[i].t);
  host_free(held.lines);
  held = held_lines{};
}

fit_settings quiet_settings(const fit_settings& settings) {
  fit_settings quiet = settings;
  quiet.report = trouble_report::off;
  quiet.held = nullptr;
  return quiet;
}
