#include "smoother/settings.h"

void note_trouble(fit_settings* settings, const fit_trouble& t) {
  if (t.singular) ++settings->singular;
  if (t.unstable || t.inaccurate) ++settings->unstable;
  if (settings->report == trouble_report::lines) write_trouble(t);
}

fit_settings quiet_settings(const fit_settings& settings) {
  fit_settings quiet = settings;
  quiet.report = trouble_report::off;
  return quiet;
}
