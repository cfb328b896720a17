#include "gateway/options.h"

#include <cmath>
#include <cstring>

#include "gateway/errors.h"
#include "gateway/r_rules.h"

bool is_plain_double(const mxArray* a) {
  return host_is_double(a) && !host_is_sparse(a) && !host_is_complex(a);
}

bool is_plain_scalar(const mxArray* a) {
  return is_plain_double(a) && host_rows(a) == 1 && host_cols(a) == 1;
}

namespace {

// Room for every name and keyword; longer text matches none of them.
constexpr std::uint64_t TEXT_ROOM = 64;

struct text_arg {
  std::int64_t length;  // -1: not a char row
  char text[TEXT_ROOM];
};

// Without keep_head a text too long for the room is only measured: it
// matches no name (matches compares lengths first).
text_arg read_text(const mxArray* a, bool keep_head = true) {
  text_arg t;
  t.length = host_text(a, t.text, sizeof t.text, keep_head);
  return t;
}

// Equal to `word` but for the case of ASCII letters. A character 0 in the
// argument never matches, as the lengths must agree.
bool matches(const text_arg& t, const char* word) {
  const std::size_t n = std::strlen(word);
  if (t.length != static_cast<std::int64_t>(n)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char a = t.text[i];
    const char b = word[i];
    const char la = (a >= 'A' && a <= 'Z') ? static_cast<char>(a - 'A' + 'a') : a;
    const char lb = (b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b;
    if (la != lb) return false;
  }
  return true;
}

// The index of the keyword `a` names, or -1.
template <int N>
int keyword(const mxArray* a, const char* const (&words)[N]) {
  const text_arg t = read_text(a);
  for (int i = 0; i < N; ++i)
    if (matches(t, words[i])) return i;
  return -1;
}

bool is_integer_in(double v, double lo, double hi) {
  return v >= lo && v <= hi && v == std::floor(v);
}

void parse_delta(const mxArray* a, std::int32_t, call_options* o) {
  if (!is_plain_scalar(a)) fail(errors::delta);
  const double v = host_data(a)[0];
  if (!(std::isfinite(v) && v >= 0.0)) fail(errors::delta);
  o->settings.delta = v;
  o->delta_given = true;
}

void parse_max_passes(const mxArray* a, std::int32_t, call_options* o) {
  if (!is_plain_scalar(a) || !is_integer_in(host_data(a)[0], 1.0, ROBUST_MAX_PASSES))
    fail(errors::max_passes, ROBUST_MAX_PASSES);
  o->request.max_passes = static_cast<int>(host_data(a)[0]);
  o->passes_given = true;
}

void parse_weights(const mxArray* a, std::int32_t data_count, call_options* o) {
  if (!is_plain_double(a)) fail(errors::weights);
  const std::uint64_t rows = host_rows(a);
  const std::uint64_t cols = host_cols(a);
  const std::uint64_t n = static_cast<std::uint64_t>(data_count);
  if (!((rows == 1 && cols == n) || (cols == 1 && rows == n))) fail(errors::weights);
  const double* w = host_data(a);
  for (std::uint64_t i = 0; i < n; ++i)
    if (!(std::isfinite(w[i]) && w[i] >= 0.0)) fail(errors::weight_values);
  o->request.choice.weights = w;
}

void parse_missing(const mxArray* a, std::int32_t, call_options* o) {
  static const char* const words[] = {"propagate", "omit"};
  const int k = keyword(a, words);
  if (k < 0) fail(errors::missing);
  o->request.choice.omit_missing = k == 1;
}

void parse_failed_value(const mxArray* a, std::int32_t, call_options* o) {
  if (!is_plain_scalar(a)) fail(errors::failed_value);
  o->failed_value = host_data(a)[0];
}

void parse_diagnostics(const mxArray* a, std::int32_t, call_options* o) {
  static const char* const words[] = {"stderr", "warning", "off"};
  static constexpr trouble_report reports[] = {trouble_report::lines, trouble_report::summary,
                                               trouble_report::off};
  const int k = keyword(a, words);
  if (k < 0) fail(errors::diagnostics);
  o->settings.report = reports[k];
}

void parse_threads(const mxArray* a, std::int32_t, call_options* o) {
  if (!is_plain_scalar(a) || !is_integer_in(host_data(a)[0], 1.0, MAX_THREADS))
    fail(errors::threads, MAX_THREADS);
  o->settings.threads = static_cast<std::int32_t>(host_data(a)[0]);
}

void parse_intervals(const mxArray* a, std::int32_t, call_options* o) {
  static const char* const words[] = {"none", "confidence", "prediction"};
  static constexpr band_kind kinds[] = {band_kind::none, band_kind::confidence,
                                        band_kind::prediction};
  const int k = keyword(a, words);
  if (k < 0) fail(errors::intervals);
  o->request.band = kinds[k];
}

void parse_level(const mxArray* a, std::int32_t, call_options* o) {
  if (!is_plain_scalar(a)) fail(errors::level);
  const double v = host_data(a)[0];
  if (!(v > 0.0 && v < 1.0)) fail(errors::level);
  o->request.level = v;
}

void parse_span(const mxArray* a, std::int32_t, call_options* o) {
  if (host_is_text(a)) {
    static const char* const words[] = {"aicc", "gcv"};
    static constexpr span_rule rules[] = {span_rule::aicc, span_rule::gcv};
    const int k = keyword(a, words);
    if (k < 0) fail(errors::span);
    o->request.choose_span = true;
    o->request.rule = rules[k];
    return;
  }
  // As the positional f: any number but NaN.
  if (!is_plain_scalar(a) || std::isnan(host_data(a)[0])) fail(errors::span);
  o->span_given = true;
  o->span = host_data(a)[0];
}

void parse_span_range(const mxArray* a, std::int32_t, call_options* o) {
  const bool pair =
      (host_rows(a) == 1 && host_cols(a) == 2) || (host_rows(a) == 2 && host_cols(a) == 1);
  if (!is_plain_double(a) || !pair) fail(errors::span_range);
  const double lo = host_data(a)[0];
  const double hi = host_data(a)[1];
  if (!(lo > 0.0 && lo <= hi && hi <= 1.0)) fail(errors::span_range);
  o->request.span_lo = lo;
  o->request.span_hi = hi;
  o->span_range_given = true;
}

void parse_fallback(const mxArray* a, std::int32_t, call_options* o) {
  static const char* const words[] = {"none", "lower"};
  const int k = keyword(a, words);
  if (k < 0) fail(errors::fallback);
  o->settings.lower = k == 1;
}

void parse_method(const mxArray* a, std::int32_t, call_options* o) {
  static const char* const words[] = {"direct", "fast"};
  const int k = keyword(a, words);
  if (k < 0) fail(errors::method);
  o->settings.fast = k == 1;
}

void parse_convention(const mxArray* a, std::int32_t, call_options* o) {
  static const char* const words[] = {"native", "lowess", "loess"};
  static constexpr convention rules[] = {convention::native, convention::lowess, convention::loess};
  const int k = keyword(a, words);
  if (k < 0) fail(errors::convention);
  o->request.rules = rules[k];
}

// Derivative and Window are bounded by the degree, read before the options.
// Several orders, a vector of distinct ones, give a page each.
void parse_derivative(const mxArray* a, std::int32_t, call_options* o) {
  smooth_request& r = o->request;
  const std::int32_t degree = r.degree;
  if (!is_plain_double(a) || host_dims(a) > 2 || (host_rows(a) != 1 && host_cols(a) != 1))
    fail(errors::derivative, degree);
  const std::uint64_t count = host_rows(a) * host_cols(a);
  if (count < 1 || count > static_cast<std::uint64_t>(degree) + 1) fail(errors::derivative, degree);
  bool seen[MAX_DEGREE + 1] = {};
  for (std::uint64_t p = 0; p < count; ++p) {
    const double k = host_data(a)[p];
    if (!is_integer_in(k, 0.0, degree) || seen[static_cast<int>(k)])
      fail(errors::derivative, degree);
    seen[static_cast<int>(k)] = true;
    r.orders[p] = static_cast<std::int32_t>(k);
  }
  r.pages = static_cast<std::int32_t>(count);
  r.derivative = r.orders[0];
}

void parse_window(const mxArray* a, std::int32_t data_count, call_options* o) {
  const std::int32_t least = o->request.degree + 1;
  if (!is_plain_scalar(a) || !is_integer_in(host_data(a)[0], least, data_count))
    fail(errors::window, least, data_count);
  o->request.window_points = static_cast<std::int32_t>(host_data(a)[0]);
}

void parse_normalize(const mxArray* a, std::int32_t, call_options* o) {
  const bool logical = host_is_logical_scalar(a);
  if (!logical && !(is_plain_scalar(a) && (host_data(a)[0] == 0.0 || host_data(a)[0] == 1.0)))
    fail(errors::normalize);
  o->request.normalize = logical ? host_logical_value(a) : host_data(a)[0] == 1.0;
}

struct option_entry {
  const char* name;
  void (*parse)(const mxArray* value, std::int32_t data_count, call_options* o);
};

// The options, by the names a user gives (in any case).
constexpr option_entry OPTIONS[] = {
    {"Delta", parse_delta},
    {"MaxPasses", parse_max_passes},
    {"Weights", parse_weights},
    {"Missing", parse_missing},
    {"FailedValue", parse_failed_value},
    {"Diagnostics", parse_diagnostics},
    {"Threads", parse_threads},
    {"Intervals", parse_intervals},
    {"Level", parse_level},
    {"Span", parse_span},
    {"SpanRange", parse_span_range},
    {"Fallback", parse_fallback},
    {"Method", parse_method},
    {"Derivative", parse_derivative},
    {"Window", parse_window},
    {"Convention", parse_convention},
    {"Normalize", parse_normalize},
};
constexpr int OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];

// A name as a message can show it: control characters replaced, long names cut.
void printable(const text_arg& t, char* out, std::size_t size) {
  constexpr std::size_t SHOWN = 40;
  const std::size_t n =
      t.length < static_cast<std::int64_t>(SHOWN) ? static_cast<std::size_t>(t.length) : SHOWN;
  std::size_t j = 0;
  for (std::size_t i = 0; i < n && j + 1 < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(t.text[i]);
    out[j++] = (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
  }
  if (n < static_cast<std::size_t>(t.length)) {
    for (int k = 0; k < 3 && j + 1 < size; ++k) out[j++] = '.';
  }
  out[j] = '\0';
}

}  // namespace

bool names_option(int count, const mxArray* const args[], const char* first, const char* second) {
  for (int i = 0; i < count; i += 2) {
    // parse_options reads the names again: a long one is copied there only.
    const text_arg t = read_text(args[i], false);
    if (matches(t, first) || (second != nullptr && matches(t, second))) return true;
  }
  return false;
}

int positional_count(int nrhs, const mxArray* const prhs[]) {
  for (int i = 2; i < nrhs; ++i)
    if (host_is_text(prhs[i])) return i;
  return nrhs;
}

void parse_options(int count, const mxArray* const args[], std::int32_t data_count,
                   call_options* o) {
  if (count % 2 != 0) fail(errors::option_pairs);
  bool seen[OPTION_COUNT] = {};
  for (int i = 0; i < count; i += 2) {
    const text_arg name = read_text(args[i]);
    if (name.length < 0) fail(errors::option_name);
    int k = 0;
    while (k < OPTION_COUNT && !matches(name, OPTIONS[k].name)) ++k;
    if (k == OPTION_COUNT) {
      char shown[64];
      printable(name, shown, sizeof shown);
      fail(errors::option_unknown, shown);
    }
    if (seen[k]) fail(errors::option_repeated, OPTIONS[k].name);
    seen[k] = true;
    OPTIONS[k].parse(args[i + 1], data_count, o);
  }
  if (o->request.window_points > 0 && (o->span_given || o->request.choose_span))
    fail(errors::window_span);
  bool derivative = false;
  for (std::int32_t p = 0; p < o->request.pages; ++p)
    derivative = derivative || o->request.orders[p] > 0;
  if (derivative && o->request.band == band_kind::prediction) fail(errors::derivative_prediction);
  if (o->request.rules != convention::native) check_r_options(o, derivative);
}
