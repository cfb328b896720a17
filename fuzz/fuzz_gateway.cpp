// mexFunction through the stand-in host with arbitrary arguments: 0 to 9
// of them, of any class, complexity, sparsity and shape (3-D too), with
// hostile values, Y and nodes_y often sized from their abscissae (several
// signals, transposed, empty, 3-D), X and nodes_x often a surface's matrix
// of 1 to 5 predictor columns (or one of the shapes that is not one), then
// up to three name-value options (names of any case, unknown ones of up to
// 291 bytes, or not text; values of every kind), for 0 to 3 results. After
// each call: the result is a real double array of the shape the call
// demands (and a second result, when asked for, an info struct of the
// shapes it promises), or the call ended with the one message and
// identifier an independent reading of the arguments expects; storage was
// released exactly once and nothing but the model outlived the call; every
// diagnostic is whole lines, or a warning of a known kind when warnings
// were asked for. A call of several signals must be its signals' calls
// made one by one, to the bit.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

// Bounds that keep one execution in the millisecond range. Every array has
// at most MAX_ELEMENTS elements and no side longer than MAX_SIDE; a degree
// the module accepts (0 to 100) is reduced modulo MAX_DEGREE + 1, so local
// fits have at most MAX_DEGREE + 1 coefficients. Values of f, robust and
// degree are otherwise any double.
constexpr std::size_t MAX_ELEMENTS = 48;
constexpr std::size_t MAX_SIDE = 48;
constexpr double MAX_DEGREE = 12;
constexpr std::size_t MAX_ARGS = 9;
constexpr std::size_t MAX_OPTIONS = 3;
// Ordinates of several signals: at most MAX_SIGNALS columns and
// MAX_SIGNAL_ELEMENTS elements.
constexpr std::size_t MAX_SIGNALS = 9;
constexpr std::size_t MAX_SIGNAL_ELEMENTS = 144;
// A surface's abscissae: up to 64 elements, so that four predictors still
// have the 15 points a quadratic's window needs; at most 5 columns (one
// more than a surface takes).
constexpr std::size_t MAX_SURFACE_ELEMENTS = 64;
constexpr std::size_t MAX_SURFACE_COLUMNS = 5;

// The module's option names. The four last are drawn apart from the
// others, so that the seeds' bytes keep naming the options they did.
const char* const OPTION_NAMES[] = {
    "Delta",      "MaxPasses", "Weights",    "Missing", "FailedValue", "Diagnostics",
    "Threads",    "Intervals", "Level",      "Span",    "SpanRange",   "Fallback",
    "Convention", "Method",    "Derivative", "Window",  "Normalize"};
constexpr std::size_t OPTION_COUNT = 17;
constexpr std::size_t FIRST_OPTIONS = 13;
// Their places in OPTION_NAMES.
enum option_index {
  DELTA,
  MAX_PASSES,
  WEIGHTS,
  MISSING,
  FAILED_VALUE,
  DIAGNOSTICS,
  THREADS,
  INTERVALS,
  LEVEL,
  SPAN,
  SPAN_RANGE,
  FALLBACK,
  CONVENTION,
  METHOD,
  DERIVATIVE,
  WINDOW,
  NORMALIZE
};
const char* const KEYWORDS[] = {
    "propagate", "omit",       "stderr",     "warning", "off",    "OMIT",  "Warning",    "",
    "none",      "confidence", "Prediction", "aicc",    "GCV",    "loocv", "prediction", "gcv",
    "lower",     "LOWER",      "higher",     "native",  "lowess", "LOESS", "loess",      "R"};
constexpr std::size_t KEYWORD_COUNT = 24;
const char* const METHODS[] = {"direct", "fast", "FAST", "Direct", "fastest", "true"};
const char* const CONVENTIONS[] = {"native", "lowess", "loess"};

bool is_text(const mxArray& a) { return a.cls == mx_class::char_ || a.cls == mx_class::string_; }

std::unique_ptr<mxArray> text_array(const std::string& s, bool as_string) {
  auto a = std::make_unique<mxArray>();
  a->cls = as_string ? mx_class::string_ : mx_class::char_;
  a->rows = as_string ? 1 : (s.empty() ? 0 : 1);
  a->cols = as_string ? 1 : s.size();
  a->text = s;
  return a;
}

// Class, complexity and sparsity from one byte: mostly full real doubles,
// so that valid calls are common. A logical array is never complex, as no
// host makes one.
void decode_kind(std::uint8_t h, mxArray& a) {
  static constexpr mx_class classes[8] = {mx_class::double_,  mx_class::double_, mx_class::double_,
                                          mx_class::double_,  mx_class::single_, mx_class::int32_,
                                          mx_class::logical_, mx_class::char_};
  a.cls = classes[h % 8];
  a.complex = ((h >> 3) & 3) == 0 && a.cls != mx_class::logical_;
  a.sparse = ((h >> 5) & 3) == 0;
}

// The elements of `a` (its shape already set), stored as its class keeps
// them: a sparse array only its nonzeros, or one 0 when it has none (as
// Octave allocates room for one at least), a logical one in `logicals`, a
// char array's characters letters that spell no option, mostly.
void decode_values(fuzz::reader& in, mxArray& a) {
  const std::size_t n = a.rows * a.cols;
  std::vector<double> re = in.values(n);
  std::vector<double> im = a.complex ? in.values(n) : std::vector<double>{};
  for (std::size_t i = 0; i < n; ++i) {
    const bool nonzero = re[i] != 0.0 || (a.complex && im[i] != 0.0);
    if (a.sparse && !nonzero) continue;
    if (a.cls == mx_class::logical_) {
      a.logicals.push_back(nonzero ? 1 : 0);
      continue;
    }
    a.real.push_back(re[i]);
    if (a.complex) a.imag.push_back(im[i]);
  }
  if (a.sparse && a.real.empty() && a.logicals.empty()) {
    if (a.cls == mx_class::logical_) {
      a.logicals.push_back(0);
    } else {
      a.real.push_back(0.0);
      if (a.complex) a.imag.push_back(0.0);
    }
  }
  if (a.cls == mx_class::char_) {
    for (std::size_t i = 0; i < n; ++i) a.text.push_back(static_cast<char>('a' + in.byte() % 26));
  }
}

// rows-by-d-by-2 or 3, d lowered to keep within `limit` elements; the host
// counts the trailing dimensions together as columns.
void make_3d(fuzz::reader& in, mxArray& a, std::size_t d, std::size_t limit) {
  const std::size_t pages = 2 + in.upto(1);
  while (a.rows * d * pages > limit) --d;
  a.cols = d * pages;
  a.ndims = 3;
}

// Any array, its kind from the byte `h`.
std::unique_ptr<mxArray> decode_array(fuzz::reader& in, std::uint8_t h) {
  auto a = std::make_unique<mxArray>();
  decode_kind(h, *a);
  const std::uint8_t s = in.byte();
  switch (s % 4) {
    case 0: a->rows = a->cols = 1; break;
    case 1:
      a->rows = 1;
      a->cols = in.upto(MAX_SIDE);
      break;
    case 2:
      a->rows = in.upto(MAX_SIDE);
      a->cols = 1;
      break;
    default:
      a->rows = in.upto(7);
      if ((s & 0x40) != 0) {
        make_3d(in, *a, in.upto(7), MAX_ELEMENTS);
      } else {
        a->cols = in.upto(7);
      }
      break;
  }
  while (a->rows * a->cols > MAX_ELEMENTS) a->rows > a->cols ? --a->rows : --a->cols;
  decode_values(in, *a);
  return a;
}

// Whether abscissae are shaped as a surface's: 2-D, at least 2-by-2. Only
// a full real double one is, but ordinates are sized from the others too.
bool surface_shape(const mxArray& x) { return x.ndims == 2 && x.rows >= 2 && x.cols >= 2; }

// A surface's abscissae, or with `queries` the nodes form's queries: n-by-d,
// d from 1 to MAX_SURFACE_COLUMNS, or three times in four `columns` (those
// of the abscissae before, when nonzero); mostly full real doubles, else
// n-by-d-by-2 or 3, one row or none, or of the kind from `h`. The data
// have at least 2 rows, the queries any number.
std::unique_ptr<mxArray> decode_surface_x(fuzz::reader& in, std::uint8_t h, std::size_t columns,
                                          bool queries) {
  auto a = std::make_unique<mxArray>();
  const std::uint8_t s = in.byte();
  const std::size_t d = columns != 0 && s % 4 != 0 ? columns : 1 + (s >> 2) % MAX_SURFACE_COLUMNS;
  const std::size_t most = d == 1 ? MAX_ELEMENTS : MAX_SURFACE_ELEMENTS / d;
  a->rows = queries ? in.upto(most) : 2 + in.upto(most - 2);
  a->cols = d;
  switch (s >> 5) {
    case 5:
      a->rows = std::min(a->rows, 1 + MAX_SURFACE_ELEMENTS / (3 * d));
      make_3d(in, *a, d, MAX_SURFACE_ELEMENTS);
      break;
    case 6: a->rows = in.byte() % 2; break;
    case 7: decode_kind(h, *a); break;
    default: break;
  }
  decode_values(in, *a);
  return a;
}

// A surface's f: a span from 1/4 to 2 in quarters, so that windows hold
// the polynomial's terms often enough.
std::unique_ptr<mxArray> decode_span(fuzz::reader& in) {
  auto a = std::make_unique<mxArray>();
  a->rows = a->cols = 1;
  a->real = {static_cast<double>(1 + in.byte() % 8) / 4.0};
  return a;
}

// Ordinates sized from the `n` abscissae before them (a surface's rows):
// n-by-k (k from 0 to MAX_SIGNALS, one column per signal, or none),
// k-by-n (transposed; a row for a surface, its length sometimes one off),
// n-by-a-by-b, [], or shaped like the abscissae themselves (for a surface
// with more predictors, a row too many or too few). Columns are dropped
// to keep within MAX_SIGNAL_ELEMENTS, or for a surface, whose fits cost
// more, MAX_SURFACE_ELEMENTS.
std::unique_ptr<mxArray> decode_ordinates(fuzz::reader& in, std::uint8_t h, const mxArray& x) {
  auto a = std::make_unique<mxArray>();
  decode_kind(h, *a);
  const bool surface = surface_shape(x);
  const std::size_t n = surface ? x.rows : x.rows * x.cols;
  const std::size_t limit = surface ? MAX_SURFACE_ELEMENTS : MAX_SIGNAL_ELEMENTS;
  const std::uint8_t s = in.byte();
  const std::size_t k = (s >> 3) % (MAX_SIGNALS + 1);
  switch (s % 8) {
    case 4:
      a->rows = surface ? 1 : std::max<std::size_t>(k, 2);
      a->cols = !surface || k < 7 ? n : k == 7 ? n + 1 : n - 1;
      break;
    case 5:
      a->rows = n;
      make_3d(in, *a, in.upto(3), limit);
      break;
    case 6: break;  // []
    case 7:
      a->rows = !surface || k < 5 ? x.rows : k % 2 == 0 ? n + 1 : n - 1;
      a->cols = surface && k >= 5 ? 1 + k % 3 : x.cols;
      break;
    default:
      a->rows = n;
      a->cols = k;
      break;
  }
  while (a->rows * a->cols > limit) s % 8 == 4 ? --a->rows : --a->cols;
  decode_values(in, *a);
  return a;
}

// A name of 36 to 291 bytes, any byte values, a short pattern repeated:
// around the 40 shown and past the 63 a reading buffer holds.
std::string long_name(fuzz::reader& in) {
  const std::size_t length = 36 + in.byte();
  std::uint8_t pattern[4];
  const std::size_t period = 1 + in.upto(3);
  for (std::size_t i = 0; i < period; ++i) pattern[i] = in.byte();
  std::string name;
  for (std::size_t i = 0; i < length; ++i) name.push_back(static_cast<char>(pattern[i % period]));
  return name;
}

// One option's name: a known one in mixed case, as char or as a string
// object, an unknown one (short or long), or any array at all.
std::unique_ptr<mxArray> decode_name(fuzz::reader& in) {
  const std::uint8_t k = in.byte();
  if (k % 8 == 7) return decode_array(in, in.byte());
  if (k % 8 == 6 && (k & 0x40) != 0) return text_array(long_name(in), (k & 0x80) != 0);
  const bool later = (k % 8 == 1 || k % 8 == 4) && (k & 0x40) != 0;
  std::string name = k % 8 == 6 ? "Bogus\t"
                     : later
                         ? OPTION_NAMES[FIRST_OPTIONS + in.byte() % (OPTION_COUNT - FIRST_OPTIONS)]
                         : OPTION_NAMES[in.byte() % FIRST_OPTIONS];
  for (char& c : name)
    if ((in.byte() & 1) != 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text_array(name, (k & 0x80) != 0);
}

// A value: often one its option accepts, else any array.
std::unique_ptr<mxArray> decode_value(fuzz::reader& in, std::size_t data_count) {
  const std::uint8_t k = in.byte();
  switch (k % 6) {
    case 0: return text_array(KEYWORDS[in.byte() % KEYWORD_COUNT], (k & 0x80) != 0);
    case 1: {  // small integers and fractions
      auto a = std::make_unique<mxArray>();
      a->rows = a->cols = 1;
      a->real = {static_cast<double>(in.byte() % 8) / ((k & 0x40) != 0 ? 2.0 : 1.0)};
      return a;
    }
    case 2: {  // weights: mostly 1, some 0, some anything
      auto a = std::make_unique<mxArray>();
      a->rows = (k & 0x40) != 0 ? 1 : data_count;
      a->cols = (k & 0x40) != 0 ? data_count : 1;
      for (std::size_t i = 0; i < data_count; ++i) {
        const std::uint8_t b = in.byte();
        a->real.push_back(b % 4 == 0 ? 0.0 : b % 4 == 1 ? in.value(i) : 1.0);
      }
      return a;
    }
    default: return decode_array(in, in.byte());
  }
}

// A value of one of the later options (`option` their index), three
// times in four one it takes or nearly: Method's word; Derivative's
// orders, 1 to 3 of 0 to 3, a row or a column; Window's count, 0 to 3 past
// the data's; Normalize's logical, or 0, 1 or 2.
std::unique_ptr<mxArray> decode_later_value(fuzz::reader& in, std::size_t option,
                                            std::size_t data_count) {
  const std::uint8_t k = in.byte();
  if (k % 4 == 3) return decode_value(in, data_count);
  if (option == METHOD) return text_array(METHODS[in.byte() % 6], (k & 0x80) != 0);
  auto a = std::make_unique<mxArray>();
  a->rows = a->cols = 1;
  if (option == DERIVATIVE) {
    const std::size_t m = 1 + in.upto(2);
    ((k & 0x40) != 0 ? a->rows : a->cols) = m;
    for (std::size_t i = 0; i < m; ++i) a->real.push_back(static_cast<double>(in.byte() % 4));
  } else if (option == WINDOW) {
    a->real = {static_cast<double>(in.upto(data_count + 3))};
  } else if ((k & 0x40) != 0) {
    a->cls = mx_class::logical_;
    a->logicals = {static_cast<mxLogical>(in.byte() % 2)};
  } else {
    a->real = {static_cast<double>(in.byte() % 3)};
  }
  return a;
}

bool plain_double(const mxArray& a) {
  return a.cls == mx_class::double_ && !a.complex && !a.sparse;
}
bool vector_ok(const mxArray& a) { return plain_double(a) && a.rows >= 1 && a.cols >= 1; }
bool scalar_ok(const mxArray& a) { return plain_double(a) && a.rows == 1 && a.cols == 1; }

// Length of a row/row or column/column pair, or -1.
long pair(const mxArray& a, const mxArray& b) {
  if (a.rows == 1 && b.rows == 1 && a.cols == b.cols) return static_cast<long>(a.cols);
  if (a.cols == 1 && b.cols == 1 && a.rows == b.rows) return static_cast<long>(a.rows);
  return -1;
}

bool is_vector(const mxArray& a) { return a.rows == 1 || a.cols == 1; }

// The signals in ordinates that paired with their abscissae: a column
// each of a matrix, or one vector.
std::size_t signals(const mxArray& y) { return is_vector(y) ? 1 : y.cols; }

// A logical scalar, which robust takes as well as a number.
bool logical_scalar(const mxArray& a) {
  return a.cls == mx_class::logical_ && a.rows == 1 && a.cols == 1;
}

// The message (with its identifier) a call with these arguments must end
// with, or an empty one when it must succeed: the checks in their
// documented order.
struct expectation {
  std::string id;
  std::string message;
  // A surface that must succeed: each signal's window.
  std::vector<long> windows = {};
};

// How ordinates `y` pair with abscissae `x` (a vector already): a vector
// of one length in the same orientation, or a matrix with a row per
// abscissa. Empty when they pair, else the error of the first check failed.
expectation pair_data(const mxArray& x, const mxArray& y, const expectation& not_vector,
                      const expectation& dims, const expectation& length, const expectation& rows) {
  if (!vector_ok(y)) return not_vector;
  if (y.ndims > 2) return dims;
  if (is_vector(y)) return pair(x, y) < 0 ? length : expectation{};
  if (!is_vector(x)) return length;
  return x.rows * x.cols == y.rows ? expectation{} : rows;
}

std::size_t positional(const std::vector<std::unique_ptr<mxArray>>& in) {
  for (std::size_t i = 2; i < in.size(); ++i)
    if (is_text(*in[i])) return i;
  return in.size();
}

// The text of a char row or a string object, or nullptr.
const std::string* text_of(const mxArray& a) {
  if (a.cls == mx_class::string_) return &a.text;
  if (a.cls == mx_class::char_ && a.rows == 1 && a.cols >= 1) return &a.text;
  return nullptr;
}

bool same_word(const std::string& t, const char* word) {
  if (t.size() != std::strlen(word)) return false;
  for (std::size_t i = 0; i < t.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(t[i])) !=
        std::tolower(static_cast<unsigned char>(word[i])))
      return false;
  return !t.empty();
}

bool integer_in(const mxArray& a, double lo, double hi) {
  if (!scalar_ok(a)) return false;
  const double v = a.real[0];
  return v >= lo && v <= hi && v == std::floor(v);
}

// Where the first name in an option's place (a trailing one too) is
// `name`, or in.size().
std::size_t name_at(const std::vector<std::unique_ptr<mxArray>>& in, const char* name) {
  for (std::size_t i = positional(in); i < in.size(); i += 2) {
    const std::string* t = text_of(*in[i]);
    if (t != nullptr && same_word(*t, name)) return i;
  }
  return in.size();
}

// The value of the first option named `name`, or null.
const mxArray* option(const std::vector<std::unique_ptr<mxArray>>& in, const char* name) {
  const std::size_t i = name_at(in, name);
  return i + 1 < in.size() ? in[i + 1].get() : nullptr;
}

bool named(const std::vector<std::unique_ptr<mxArray>>& in, const char* name) {
  return name_at(in, name) < in.size();
}

bool empty_double(const mxArray& a) { return plain_double(a) && (a.rows == 0 || a.cols == 0); }

// A surface's abscissae as the module takes them: a full real double
// matrix of at least 2 rows and 2 columns. Any other shape is one
// predictor's, with that path's messages.
bool is_surface(const mxArray& x) { return plain_double(x) && surface_shape(x); }

// R's loess window: floor(n f), at most n, 0 below 1.
long loess_points(std::size_t n, double f) {
  const double nf = static_cast<double>(n) * f;
  if (!(nf < static_cast<double>(n))) return static_cast<long>(n);
  return nf >= 1.0 ? static_cast<long>(std::floor(nf)) : 0;
}

// A degree that passed its checks (within -1 and 101, or NaN), truncated.
long truncated(double v) { return std::isnan(v) ? 0 : static_cast<long>(std::trunc(v)); }

// Where 'Convention' or 'Window' is named, f may be [].
bool f_given(const std::vector<std::unique_ptr<mxArray>>& in, std::size_t n) {
  return n >= 3 && !(empty_double(*in[2]) && (named(in, "Convention") || named(in, "Window")));
}

// The positional f (when given), robust and degree.
expectation check_scalars(const std::vector<std::unique_ptr<mxArray>>& in, std::size_t n) {
  const bool f = f_given(in, n);
  if (f && !scalar_ok(*in[2])) return {"quibra:f", "f must be a noncomplex scalar double."};
  if (f && std::isnan(in[2]->real[0])) return {"quibra:fNaN", "f must not be NaN."};
  if (n >= 4 && !scalar_ok(*in[3]) && !logical_scalar(*in[3]))
    return {"quibra:robust", "robust must be a noncomplex scalar double."};
  if (n >= 5) {
    if (!scalar_ok(*in[4])) return {"quibra:degree", "degree must be a noncomplex scalar double."};
    const double d = in[4]->real[0];
    if (d <= -1.0)
      return {"quibra:degreeNegative", "degree must not be negative."};  // truncates below zero
    if (d >= 101.0) return {"quibra:degreeTooLarge", "degree is too large."};  // NaN truncates to 0
  }
  return {};
}

// What the options asked for, each once it passed its check.
struct option_state {
  bool seen[OPTION_COUNT] = {};
  const mxArray* weights = nullptr;
  bool omit = false;
  long window = 0;  // 'Window', 0 without
  bool fast = false;
  bool derivative = false;  // an order above 0
  std::size_t orders = 1;
  bool band = false;  // 'Intervals' other than 'none'
  bool prediction = false;
  bool automatic = false;   // 'Span' 'aicc' or 'gcv'
  bool span_given = false;  // 'Span' a number
  double span = 0.0;
  bool lower = false;
  bool lowess = false;
  bool loess = false;
  bool surface = false;  // set by the caller: R's loess has a surface's band
};

// Derivative's orders: a vector of 1 to degree + 1 distinct integers from
// 0 to degree.
bool orders_ok(const mxArray& v, long degree, option_state* o) {
  if (!plain_double(v) || v.ndims > 2 || (v.rows != 1 && v.cols != 1)) return false;
  const std::size_t m = v.rows * v.cols;
  if (m < 1 || m > static_cast<std::size_t>(degree) + 1) return false;
  std::vector<bool> used(static_cast<std::size_t>(degree) + 1, false);
  for (const double k : v.real) {
    if (!(k >= 0.0 && k <= static_cast<double>(degree) && k == std::floor(k))) return false;
    if (used[static_cast<std::size_t>(k)]) return false;
    used[static_cast<std::size_t>(k)] = true;
    o->derivative = o->derivative || k > 0.0;
  }
  o->orders = m;
  return true;
}

// The options after the `n` positional arguments, left to right, then what
// they refuse together and what R's conventions refuse. Weights must have
// `count` elements and Window lie from degree + 1 to `count`; `degree` is
// the positional one truncated, else 2.
expectation check_options(const std::vector<std::unique_ptr<mxArray>>& in, std::size_t n,
                          std::size_t count, long degree, const char** report, option_state* o) {
  if ((in.size() - n) % 2 != 0)
    return {"quibra:optionPairs", "Options must come in name-value pairs."};
  for (std::size_t i = n; i < in.size(); i += 2) {
    const std::string* name = text_of(*in[i]);
    if (name == nullptr) return {"quibra:optionName", "Option names must be char row vectors."};
    std::size_t k = 0;
    while (k < OPTION_COUNT && !same_word(*name, OPTION_NAMES[k])) ++k;
    if (k == OPTION_COUNT) {
      std::string shown;
      for (std::size_t j = 0; j < name->size() && j < 40; ++j) {
        const unsigned char c = static_cast<unsigned char>((*name)[j]);
        shown.push_back(c < 0x20 || c == 0x7f ? '?' : (*name)[j]);
      }
      if (name->size() > 40) shown += "...";
      return {"quibra:optionUnknown", "Unknown option '" + shown + "'."};
    }
    if (o->seen[k])
      return {"quibra:optionRepeated",
              std::string("Option '") + OPTION_NAMES[k] + "' is given twice."};
    o->seen[k] = true;
    const mxArray& v = *in[i + 1];
    const std::string* word = text_of(v);
    switch (k) {
      case DELTA:
        if (!scalar_ok(v) || !std::isfinite(v.real[0]) || !(v.real[0] >= 0.0))
          return {"quibra:Delta", "Delta must be a finite noncomplex scalar double >= 0."};
        break;
      case MAX_PASSES:
        if (!integer_in(v, 1, 100))
          return {"quibra:MaxPasses", "MaxPasses must be an integer from 1 to 100."};
        break;
      case WEIGHTS:
        if (!plain_double(v) ||
            !((v.rows == 1 && v.cols == count) || (v.cols == 1 && v.rows == count)))
          return {"quibra:Weights",
                  "Weights must be a noncomplex double vector as long as the data."};
        for (double w : v.real)
          if (!std::isfinite(w) || w < 0.0)
            return {"quibra:WeightValues", "Weights must be finite and >= 0."};
        o->weights = &v;
        break;
      case MISSING:
        if (word == nullptr || !(same_word(*word, "propagate") || same_word(*word, "omit")))
          return {"quibra:Missing", "Missing must be 'propagate' or 'omit'."};
        o->omit = same_word(*word, "omit");
        break;
      case FAILED_VALUE:
        if (!scalar_ok(v))
          return {"quibra:FailedValue", "FailedValue must be a noncomplex scalar double."};
        break;
      case DIAGNOSTICS:
        if (word == nullptr ||
            !(same_word(*word, "stderr") || same_word(*word, "warning") || same_word(*word, "off")))
          return {"quibra:Diagnostics", "Diagnostics must be 'stderr', 'warning' or 'off'."};
        *report = same_word(*word, "stderr")    ? "stderr"
                  : same_word(*word, "warning") ? "warning"
                                                : "off";
        break;
      case THREADS:
        if (!integer_in(v, 1, 1024))
          return {"quibra:Threads", "Threads must be an integer from 1 to 1024."};
        break;
      case INTERVALS:
        if (word == nullptr || !(same_word(*word, "none") || same_word(*word, "confidence") ||
                                 same_word(*word, "prediction")))
          return {"quibra:Intervals", "Intervals must be 'none', 'confidence' or 'prediction'."};
        o->band = !same_word(*word, "none");
        o->prediction = same_word(*word, "prediction");
        break;
      case LEVEL:
        if (!scalar_ok(v) || !(v.real[0] > 0.0 && v.real[0] < 1.0))
          return {"quibra:Level", "Level must be a noncomplex scalar double above 0 and below 1."};
        break;
      case SPAN:
        if (word != nullptr ? !(same_word(*word, "aicc") || same_word(*word, "gcv"))
                            : (!scalar_ok(v) || std::isnan(v.real[0])))
          return {"quibra:Span",
                  "Span must be a noncomplex scalar double (not NaN), 'aicc' or 'gcv'."};
        o->automatic = word != nullptr;
        o->span_given = word == nullptr;
        o->span = word == nullptr ? v.real[0] : 0.0;
        break;
      case SPAN_RANGE:
        if (!plain_double(v) || !((v.rows == 1 && v.cols == 2) || (v.rows == 2 && v.cols == 1)) ||
            !(v.real[0] > 0.0 && v.real[0] <= v.real[1] && v.real[1] <= 1.0))
          return {"quibra:SpanRange",
                  "SpanRange must be a noncomplex double pair [lo hi] with 0 < lo <= hi <= 1."};
        break;
      case FALLBACK:
        if (word == nullptr || !(same_word(*word, "none") || same_word(*word, "lower")))
          return {"quibra:Fallback", "Fallback must be 'none' or 'lower'."};
        o->lower = same_word(*word, "lower");
        break;
      case CONVENTION:
        if (word == nullptr || !(same_word(*word, "native") || same_word(*word, "lowess") ||
                                 same_word(*word, "loess")))
          return {"quibra:Convention", "Convention must be 'native', 'lowess' or 'loess'."};
        o->lowess = same_word(*word, "lowess");
        o->loess = same_word(*word, "loess");
        break;
      case METHOD:
        if (word == nullptr || !(same_word(*word, "direct") || same_word(*word, "fast")))
          return {"quibra:Method", "Method must be 'direct' or 'fast'."};
        o->fast = same_word(*word, "fast");
        break;
      case DERIVATIVE:
        if (!orders_ok(v, degree, o))
          return {"quibra:Derivative", "Derivative must be an integer from 0 to degree, " +
                                           std::to_string(degree) +
                                           ", or a vector of distinct ones."};
        break;
      case WINDOW:
        if (!integer_in(v, static_cast<double>(degree + 1), static_cast<double>(count)))
          return {"quibra:Window", "Window must be an integer from " + std::to_string(degree + 1) +
                                       " to " + std::to_string(count) + "."};
        o->window = static_cast<long>(v.real[0]);
        break;
      default:
        if (!logical_scalar(v) && !(scalar_ok(v) && (v.real[0] == 0.0 || v.real[0] == 1.0)))
          return {"quibra:Normalize", "Normalize must be true or false."};
        break;
    }
  }
  if (o->window > 0 && (o->span_given || o->automatic))
    return {"quibra:WindowSpan", "Window replaces the span: give neither f nor 'Span' with it."};
  if (o->derivative && o->prediction)
    return {"quibra:DerivativePrediction",
            "Intervals 'prediction' has no meaning for a derivative: use 'confidence'."};
  // R's conventions: what they have no counterpart of.
  if (o->lowess && o->fast)
    return {"quibra:lowessFast",
            "'Method' 'fast' cannot follow R's lowess, whose weights are cut at 0.001 and 0.999 "
            "of the bandwidth."};
  if (o->loess && o->fast)
    return {"quibra:loessFast",
            "'Method' 'fast' cannot follow R's loess, which solves each local fit through its "
            "singular values, not from sums of moments."};
  if (o->lowess || o->loess) {
    const char* other = o->derivative                ? "'Derivative'"
                        : o->band && !o->surface     ? "'Intervals'"
                        : o->automatic               ? "an automatic 'Span'"
                        : o->window > 0              ? "'Window'"
                        : o->lower                   ? "'Fallback' 'lower'"
                        : o->seen[SPAN_RANGE]        ? "'SpanRange'"
                        : o->loess && o->seen[DELTA] ? "'Delta'"
                                                     : nullptr;
    if (other != nullptr)
      return {o->lowess ? "quibra:lowessOther" : "quibra:loessOther",
              std::string(o->lowess ? "R's lowess" : "R's loess") + " has no counterpart of " +
                  other + "."};
  }
  return {};
}

bool robust_requested(const std::vector<std::unique_ptr<mxArray>>& in);

// A surface: X (nodes_x in the nodes form) an n-by-d matrix, d predictors.
expectation expected_surface(const std::vector<std::unique_ptr<mxArray>>& in, std::size_t n,
                             const char** report) {
  const bool nodes = n == 7;
  const mxArray& x = *in[nodes ? 5 : 0];
  const mxArray& y = *in[nodes ? 6 : 1];
  const std::size_t d = x.cols;
  if (d > 4)
    return {"quibra:XColumns", "A matrix X takes 2 to 4 predictors, a column each; X has " +
                                   std::to_string(d) + " columns."};
  if (!vector_ok(y))
    return nodes ? expectation{"quibra:nodes_y", "nodes_y must be a noncomplex double vector!!!"}
                 : expectation{"quibra:Y", "Y must be a noncomplex double vector!!!"};
  if (y.ndims > 2)
    return nodes ? expectation{"quibra:nodes_yDims",
                               "nodes_y must not have more than two dimensions."}
                 : expectation{"quibra:YDims", "Y must not have more than two dimensions."};
  // One signal: a vector of a point each; else a row per point.
  const bool one = is_vector(y) && y.rows * y.cols == x.rows;
  if (!one && y.rows != x.rows)
    return {"quibra:XYRows",
            "Y must have a row per row of X (or be a vector as long as X has rows)."};
  if (nodes) {
    if (!empty_double(*in[1]))
      return {"quibra:surfaceY", "In the nodes form of a surface, Y must be []."};
    const mxArray& q = *in[0];
    if (!plain_double(q) || q.ndims > 2 || q.cols != d)
      return {"quibra:XqColumns",
              "X must have a column per predictor of nodes_x: " + std::to_string(d) + " columns."};
  }
  expectation scalars = check_scalars(in, n);
  if (!scalars.id.empty()) return scalars;
  const long degree = n >= 5 ? truncated(in[4]->real[0]) : 2;
  if (degree > 2)
    return {"quibra:surfaceDegree", "A surface fits local polynomials of degree 0, 1 or 2."};
  option_state o;
  o.surface = true;
  expectation options = check_options(in, n, x.rows, degree, report, &o);
  if (!options.id.empty()) return options;
  const char* meaningless = o.seen[DELTA]                  ? "'Delta'"
                            : o.fast                       ? "'Method' 'fast'"
                            : o.derivative || o.orders > 1 ? "'Derivative'"
                            : o.lowess                     ? "'Convention' 'lowess'"
                            : o.lower                      ? "'Fallback' 'lower'"
                                                           : nullptr;
  if (meaningless != nullptr)
    return {"quibra:surfaceOption", std::string(meaningless) + " has no meaning for a surface."};
  const bool f = f_given(in, n);
  if (o.window > 0 && f)
    return {"quibra:WindowSpan", "Window replaces the span: give neither f nor 'Span' with it."};
  const double span = o.span_given ? o.span : f ? in[2]->real[0] : o.loess ? 0.75 : 0.2;
  const long dims = static_cast<long>(d);
  const long terms = degree == 0 ? 1 : degree == 1 ? 1 + dims : 1 + dims + dims * (dims + 1) / 2;
  // Per signal: the points with every coordinate finite (and, omitting
  // missing ones, an ordinate that is a number) take part, weight 0 or not.
  expectation success;
  for (std::size_t c = 0; c < (one ? 1 : y.cols); ++c) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < x.rows; ++i) {
      bool part = !(o.omit && std::isnan(y.real[c * x.rows + i]));
      for (std::size_t j = 0; j < d; ++j) part = part && std::isfinite(x.real[j * x.rows + i]);
      kept += part ? 1 : 0;
    }
    if (kept == 0)
      return {"quibra:noData", "No data point is left: every one is missing or has weight 0."};
    const long window =
        o.window > 0 ? std::min(o.window, static_cast<long>(kept)) : loess_points(kept, span);
    if (window < terms)
      return {"quibra:surfaceSpan", "A surface needs windows of at least " + std::to_string(terms) +
                                        " points, its polynomial's terms; it has " +
                                        std::to_string(window) + " here."};
    // An automatic span's window is the search's to choose.
    success.windows.push_back(o.automatic ? -1 : window);
  }
  return success;
}

expectation expected(const std::vector<std::unique_ptr<mxArray>>& in, int nlhs,
                     const char** report) {
  const std::size_t n = positional(in);
  if (n != 2 && n != 3 && n != 4 && n != 5 && n != 7)
    return {"quibra:nargin", "Wrong number of input arguments."};
  if (nlhs > 2) return {"quibra:nargout", "Too many output arguments."};
  if (is_surface(*in[n == 7 ? 5 : 0])) return expected_surface(in, n, report);
  // X's (and nodes_x's) dimensions are not counted: the host's column
  // count takes in the trailing ones, so a 1-by-2-by-3 X is a row of six.
  if (!vector_ok(*in[0])) return {"quibra:X", "X must be a noncomplex double vector!!!"};
  // The nodes form takes any empty double for Y, which is then not used.
  const bool no_y = n == 7 && plain_double(*in[1]) && (in[1]->rows == 0 || in[1]->cols == 0);
  if (no_y && !is_vector(*in[0]))
    return {"quibra:XYLength", "X and Y must have the same length!!!"};
  const expectation pairing =
      no_y ? expectation{}
           : pair_data(*in[0], *in[1], {"quibra:Y", "Y must be a noncomplex double vector!!!"},
                       {"quibra:YDims", "Y must not have more than two dimensions."},
                       {"quibra:XYLength", "X and Y must have the same length!!!"},
                       {"quibra:YRows", "Y must have as many rows as X has elements."});
  if (!pairing.id.empty()) return pairing;
  expectation scalars = check_scalars(in, n);
  if (!scalars.id.empty()) return scalars;
  const mxArray* data_x = in[0].get();
  const mxArray* data_y = in[1].get();
  if (n == 7) {
    if (!vector_ok(*in[5]))
      return {"quibra:nodes_x", "nodes_x must be a noncomplex double vector!!!"};
    const expectation nodes = pair_data(
        *in[5], *in[6], {"quibra:nodes_y", "nodes_y must be a noncomplex double vector!!!"},
        {"quibra:nodes_yDims", "nodes_y must not have more than two dimensions."},
        {"quibra:nodesLength", "nodes_x and nodes_y must have the same length!!!"},
        {"quibra:nodes_yRows", "nodes_y must have as many rows as nodes_x has elements."});
    if (!nodes.id.empty()) return nodes;
    data_x = in[5].get();
    data_y = in[6].get();
  }
  const std::size_t count = data_x->rows * data_x->cols;
  const long degree = n >= 5 ? truncated(in[4]->real[0]) : 2;
  option_state o;
  expectation options = check_options(in, n, count, degree, report, &o);
  if (!options.id.empty()) return options;
  const bool f = f_given(in, n);
  if (o.window > 0 && f)
    return {"quibra:WindowSpan", "Window replaces the span: give neither f nor 'Span' with it."};
  // R's degree.
  if (o.lowess && n >= 5 && degree != 1)
    return {"quibra:lowessDegree", "R's lowess fits local lines: degree must be 1."};
  if (o.loess && degree > 2)
    return {"quibra:loessDegree", "R's loess fits local polynomials of degree 0, 1 or 2."};
  // A span by number, else f, else R's.
  const double span = o.span_given ? o.span : f ? in[2]->real[0] : 0.75;
  // Per signal: one that keeps no point ends the call, and under R's
  // loess one whose windows are too small for the degree.
  for (std::size_t c = 0; c < signals(*data_y); ++c) {
    bool any = false;
    std::size_t kept = 0;
    for (std::size_t j = 0; j < count; ++j) {
      const bool in_data =
          std::isfinite(data_x->real[j]) && !(o.omit && std::isnan(data_y->real[c * count + j]));
      kept += in_data ? 1 : 0;
      any = any || (in_data && !(o.weights != nullptr && o.weights->real[j] == 0.0));
    }
    if ((o.weights != nullptr || o.omit) && !any)
      return {"quibra:noData", "No data point is left: every one is missing or has weight 0."};
    const long window = loess_points(kept, span);
    const long least = degree + 1;
    if (o.loess && window < least)
      return {"quibra:loessSpan",
              "R's loess needs windows of at least degree + 1 = " + std::to_string(least) +
                  " points; floor(f n) is " + std::to_string(window) + " here."};
  }
  return {};
}

bool weighted(const std::vector<std::unique_ptr<mxArray>>& in) {
  for (std::size_t i = positional(in); i + 1 < in.size(); i += 2) {
    const std::string* name = text_of(*in[i]);
    if (name != nullptr && same_word(*name, "Weights")) return true;
  }
  return false;
}

bool robust_requested(const std::vector<std::unique_ptr<mxArray>>& in) {
  if (positional(in) < 4) return false;
  if (logical_scalar(*in[3])) return in[3]->logicals.at(0) != 0;
  const double r = in[3]->real[0];
  return !std::isnan(r) && std::trunc(r) != 0.0;
}

// Whether the call follows R's loess ('Convention' 'loess').
bool r_loess(const std::vector<std::unique_ptr<mxArray>>& in) {
  const mxArray* c = option(in, "Convention");
  const std::string* word = c != nullptr ? text_of(*c) : nullptr;
  return word != nullptr && same_word(*word, "loess");
}

// The value that stands in for a failed fit: realmax, or FailedValue's.
double failed_value(const std::vector<std::unique_ptr<mxArray>>& args) {
  for (std::size_t i = positional(args); i + 1 < args.size(); i += 2) {
    const std::string* name = text_of(*args[i]);
    if (name != nullptr && same_word(*name, "FailedValue")) return args[i + 1]->real[0];
  }
  return 1.7976931348623157e308;
}

// The data of a call that passed its checks: abscissae and ordinates (the
// nodes in the nodes form), their points, each of `dims` coordinates (a
// surface's predictors), the signals among them and the result's pages
// (one per derivative order).
struct data_args {
  const mxArray* x;
  const mxArray* y;
  std::size_t count;
  std::size_t dims;
  std::size_t signals;
  std::size_t pages;
};
data_args data_of(const std::vector<std::unique_ptr<mxArray>>& args) {
  const bool nodes = positional(args) == 7;
  const mxArray* x = nodes ? args[5].get() : args[0].get();
  const mxArray* y = nodes ? args[6].get() : args[1].get();
  if (is_surface(*x)) {
    const bool one = is_vector(*y) && y->rows * y->cols == x->rows;
    return {x, y, x->rows, x->cols, one ? 1 : y->cols, 1};
  }
  const mxArray* orders = option(args, "Derivative");
  return {x, y, x->rows * x->cols, 1, signals(*y), orders != nullptr ? orders->real.size() : 1};
}

// Whether every coordinate of point i of the data is a finite number.
bool finite_point(const data_args& d, std::size_t i) {
  for (std::size_t j = 0; j < d.dims; ++j)
    if (!std::isfinite(d.x->real[j * d.count + i])) return false;
  return true;
}

// Whether option `name` is given as the word `word`.
bool given_as(const std::vector<std::unique_ptr<mxArray>>& args, const char* name,
              const char* word) {
  const mxArray* v = option(args, name);
  const std::string* t = v != nullptr ? text_of(*v) : nullptr;
  return t != nullptr && same_word(*t, word);
}

// One value per signal: a scalar of `cls` for one, else a 1-by-k row.
void require_per_signal(const mxArray* f, mx_class cls, std::size_t k, const char* name) {
  fuzz::require(
      f != nullptr && f->cls == cls && !f->sparse && !f->complex && f->rows == 1 && f->cols == k,
      "info field not one per signal", name);
}

// The info struct of a successful two-result call.
void check_info(const mxArray& info, const mxArray& result,
                const std::vector<std::unique_ptr<mxArray>>& args, bool robust,
                const std::vector<long>& windows) {
  // Eight fields, six more with a band, one with 'Fallback' 'lower', two
  // with a chosen span.
  const mxArray* span = option(args, "Span");
  const std::size_t fields =
      8 + (option(args, "Intervals") != nullptr && !given_as(args, "Intervals", "none") ? 6 : 0) +
      (given_as(args, "Fallback", "lower") ? 1 : 0) +
      (span != nullptr && text_of(*span) != nullptr ? 2 : 0);
  fuzz::require(info.cls == mx_class::struct_ && info.fields.size() == fields,
                "info is not the struct", std::to_string(info.fields.size()) + " fields");
  const data_args d = data_of(args);
  const mxArray* se = standin::field(&info, "se");
  if (se != nullptr) {
    fuzz::require(plain_double(*se) && se->rows == result.rows && se->cols == result.cols,
                  "info.se not shaped like the result");
    for (const double e : se->real) fuzz::require(!(e < 0.0), "a negative standard error");
  }
  const mxArray* outcome = standin::field(&info, "outcome");
  const mxArray* weights = standin::field(&info, "weights");
  const mxArray* failed = standin::field(&info, "failed");
  fuzz::require(outcome != nullptr && weights != nullptr && failed != nullptr,
                "info lacks a field");
  // Text per signal: the text itself for one, a cell row of them for several.
  std::vector<const mxArray*> outcomes = {outcome};
  if (d.signals > 1) {
    fuzz::require(outcome->cls == mx_class::cell_ && outcome->rows == 1 &&
                      outcome->cols == d.signals && outcome->cells.size() == d.signals,
                  "info.outcome is not a cell row of one per signal");
    outcomes.clear();
    for (const auto& c : outcome->cells) outcomes.push_back(c.get());
  }
  const std::string names = robust ? " converged exact abandoned nonfinite exhausted " : " plain ";
  for (const mxArray* o : outcomes)
    fuzz::require(o != nullptr && o->cls == mx_class::char_ && !o->text.empty() &&
                      names.find(" " + o->text + " ") != std::string::npos,
                  "info.outcome", o != nullptr ? o->text : "(unset cell)");
  require_per_signal(standin::field(&info, "passes"), mx_class::double_, d.signals, "passes");
  require_per_signal(standin::field(&info, "converged"), mx_class::logical_, d.signals,
                     "converged");
  require_per_signal(standin::field(&info, "window"), mx_class::double_, d.signals, "window");
  require_per_signal(standin::field(&info, "scale"), mx_class::double_, d.signals, "scale");
  // A surface: each signal's window as the model has it, and every robust
  // pass asked for made (3 reweightings, or MaxPasses).
  const mxArray* window = standin::field(&info, "window");
  // This module's robust passes prune points, and the window with them.
  const bool pruned = robust && !r_loess(args);
  for (std::size_t c = 0; c < windows.size(); ++c) {
    const double expect = static_cast<double>(windows[c]);
    fuzz::require(windows[c] < 0 || window->real[c] == expect ||
                      (pruned && window->real[c] >= 0.0 && window->real[c] < expect),
                  "info.window",
                  std::to_string(window->real[c]) + " vs " + std::to_string(windows[c]));
  }
  if (d.dims > 1) {
    // R's rules make every reweighting asked for (3, or MaxPasses); this
    // module's passes stop once the weights settle, after 1 to MaxPasses.
    const mxArray* passes = option(args, "MaxPasses");
    const double most = passes != nullptr ? passes->real[0] : r_loess(args) ? 3.0 : 100.0;
    for (const double p : standin::field(&info, "passes")->real)
      fuzz::require(!robust         ? p == 0.0
                    : r_loess(args) ? p == most
                                    : p >= 1.0 && p <= most,
                    "info.passes of a surface", std::to_string(p) + " of " + std::to_string(most));
  }
  // Shaped like the data's ordinates, every weight in [0, 1], and 0 where
  // the abscissa is NaN or infinite (no part in the smooth).
  fuzz::require(plain_double(*weights) && weights->rows == d.y->rows &&
                    weights->cols == d.y->cols && weights->real.size() == d.y->real.size(),
                "info.weights not shaped like the data");
  for (std::size_t j = 0; j < weights->real.size(); ++j) {
    const double w = weights->real[j];
    fuzz::require(w >= 0.0 && w <= 1.0, "info.weights outside [0, 1]");
    fuzz::require(finite_point(d, j % d.count) || w == 0.0,
                  "info.weights of an abscissa that is no finite number");
  }
  fuzz::require(failed->cls == mx_class::logical_ && failed->rows == result.rows &&
                    failed->cols == result.cols && failed->logicals.size() == result.real.size(),
                "info.failed not shaped like the result");
  for (const char* flags : {"lowered", "unstable"}) {
    const mxArray* f = standin::field(&info, flags);
    if (f != nullptr)
      fuzz::require(f->cls == mx_class::logical_ && f->rows == result.rows &&
                        f->cols == result.cols && f->logicals.size() == result.real.size(),
                    "info flags not shaped like the result", flags);
  }
  fuzz::require(standin::field(&info, "unstable") != nullptr, "info lacks unstable");
  const double stand_in = failed_value(args);
  for (std::size_t i = 0; i < failed->logicals.size(); ++i) {
    const double v = result.real[i];
    fuzz::require(
        failed->logicals[i] == 0 || v == stand_in || (std::isnan(v) && std::isnan(stand_in)),
        "info.failed where the fit stands");
  }
}

// Whether `a` and `b` are the same array: class, shape and elements (any
// NaN for any NaN), and their cells and fields.
bool same_array(const mxArray& a, const mxArray& b) {
  if (a.cls != b.cls || a.rows != b.rows || a.cols != b.cols || a.text != b.text ||
      !fuzz::same_values(a.real, b.real) || !fuzz::same_bytes(a.logicals, b.logicals) ||
      a.cells.size() != b.cells.size())
    return false;
  for (std::size_t i = 0; i < a.cells.size(); ++i)
    if (!same_array(*a.cells[i], *b.cells[i])) return false;
  if (a.fields.size() != b.fields.size()) return false;
  for (std::size_t i = 0; i < a.fields.size(); ++i)
    if (a.fields[i].first != b.fields[i].first ||
        !same_array(*a.fields[i].second, *b.fields[i].second))
      return false;
  return true;
}

// Whether signal `c` of a several-signal array `all` is the one-signal
// call's `one`: a cell row's cell, a row's entry (of a one-per-call field),
// or a column (of a field of one per point or query) on every page (one
// per derivative order) of `all`.
bool is_signal(const mxArray& all, std::size_t c, std::size_t k, const mxArray& one) {
  if (all.cls == mx_class::cell_)
    return all.cols == k && all.rows == 1 && same_array(*all.cells[c], one);
  if (all.cls != one.cls || all.cols % k != 0) return false;
  const std::size_t rows = all.rows;
  const std::size_t pages = all.cols / k;
  if (one.rows * one.cols != rows * pages) return false;
  for (std::size_t p = 0; p < pages; ++p) {
    const std::size_t from = (p * k + c) * rows;
    const std::size_t to = p * rows;
    if (all.cls == mx_class::logical_) {
      if (rows > 0 && std::memcmp(all.logicals.data() + from, one.logicals.data() + to, rows) != 0)
        return false;
      continue;
    }
    const auto slice = [rows](const std::vector<double>& v, std::size_t at) {
      return std::vector<double>(v.begin() + static_cast<long>(at),
                                 v.begin() + static_cast<long>(at + rows));
    };
    if (!fuzz::same_values(slice(all.real, from), slice(one.real, to))) return false;
  }
  return true;
}

// The count a summary warning of kind `id` gives, 0 when there is none.
long long warned(const standin::outcome& o, const char* id) {
  for (const auto& [wid, text] : o.warnings)
    if (wid == id) return std::strtoll(text.c_str(), nullptr, 10);
  return 0;
}

// A call of several signals is its signals' calls: each made alone, with
// the same arguments but that signal (shaped like its abscissae) for the
// ordinates, has the bits of its column of the result, of every field of
// info, and its lines on standard error, column after column; the summary
// warnings count them all; the model left is the last signal's.
void check_signals(const std::vector<std::unique_ptr<mxArray>>& args, int nlhs,
                   const standin::outcome& all, const std::string& all_err) {
  const bool nodes = positional(args) == 7;
  const std::size_t y_at = nodes ? 6 : 1;
  const data_args d = data_of(args);
  std::string err;
  long long singular = 0, unstable = 0;
  for (std::size_t c = 0; c < d.signals; ++c) {
    mxArray y;  // shaped like one predictor's abscissae, a column for a surface
    y.rows = d.dims > 1 ? d.count : d.x->rows;
    y.cols = d.dims > 1 ? 1 : d.x->cols;
    y.real.assign(d.y->real.begin() + static_cast<long>(c * d.count),
                  d.y->real.begin() + static_cast<long>((c + 1) * d.count));
    std::vector<const mxArray*> inputs;
    for (std::size_t i = 0; i < args.size(); ++i) inputs.push_back(i == y_at ? &y : args[i].get());
    fuzz::stderr_capture capture;
    const standin::outcome one = standin::call(nlhs, inputs);
    err += capture.finish();
    const std::unique_ptr<mxArray> result(one.result);
    const std::unique_ptr<mxArray> info(one.second);
    const std::string which = "signal " + std::to_string(c) + " of " + std::to_string(d.signals);
    fuzz::require(one.ok, "one signal alone failed", which + ": " + one.error);
    fuzz::require(is_signal(*all.result, c, d.signals, *result), "a column is not its signal alone",
                  which);
    if (c + 1 == d.signals)
      fuzz::require(one.blocks_left == all.blocks_left, "blocks left not the last signal's",
                    std::to_string(all.blocks_left) + " vs " + std::to_string(one.blocks_left));
    singular += warned(one, "quibra:singular");
    unstable += warned(one, "quibra:unstable");
    if (info == nullptr) continue;
    fuzz::require(info->fields.size() == all.second->fields.size(), "info fields differ", which);
    for (std::size_t i = 0; i < info->fields.size(); ++i) {
      const auto& [name, value] = all.second->fields[i];
      fuzz::require(
          name == info->fields[i].first && is_signal(*value, c, d.signals, *info->fields[i].second),
          "an info field is not its signal alone", which + ": " + name);
    }
  }
  fuzz::require(all_err == err, "lines on standard error not the signals' in turn",
                "together:\n" + all_err + "alone:\n" + err);
  fuzz::require(
      warned(all, "quibra:singular") == singular && warned(all, "quibra:unstable") == unstable,
      "summary warnings do not add up");
}

// 'Normalize' where it changes nothing: with one predictor any value it
// takes, for a surface true (its default). The call without it has the
// same bits and lines.
void check_normalize(const std::vector<std::unique_ptr<mxArray>>& args, int nlhs,
                     const standin::outcome& with, const std::string& with_err, bool surface) {
  const std::size_t at = name_at(args, "Normalize");
  if (at + 1 >= args.size()) return;
  const mxArray& v = *args[at + 1];
  if (surface && !(logical_scalar(v) ? v.logicals[0] != 0 : v.real[0] == 1.0)) return;
  std::vector<const mxArray*> inputs;
  for (std::size_t i = 0; i < args.size(); ++i)
    if (i != at && i != at + 1) inputs.push_back(args[i].get());
  fuzz::stderr_capture capture;
  const standin::outcome without = standin::call(nlhs, inputs);
  const std::string err = capture.finish();
  const std::unique_ptr<mxArray> result(without.result);
  const std::unique_ptr<mxArray> info(without.second);
  fuzz::require(without.ok, "the call without 'Normalize' failed", without.error);
  fuzz::require(same_array(*with.result, *result) &&
                    (info == nullptr || same_array(*with.second, *info)) && err == with_err,
                "'Normalize' changed a call it has no part in");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const std::uint8_t head = in.byte();
  const int nlhs = (head >> 4) & 3;
  const std::size_t nargs = head % (MAX_ARGS + 1);
  std::vector<std::unique_ptr<mxArray>> args;
  // X and nodes_x, with the top bit of their kind, are a surface's (X the
  // queries in the nodes form, its Y then mostly []); nodes_x then mostly
  // has X's columns, and f, with the top bit of its kind, is a span.
  bool surface_x = false;
  for (std::size_t i = 0; i < nargs; ++i) {
    // Y and nodes_y, with the top bit of their kind, are sized from the
    // abscissae before them, so that several signals and their shape
    // errors are common.
    const std::uint8_t h = in.byte();
    const bool top = (h & 0x80) != 0;
    if (i == 0 && top) {
      surface_x = true;
      args.push_back(decode_surface_x(in, h, 0, nargs == 7));
    } else if (i == 5 && top) {
      args.push_back(decode_surface_x(in, h, surface_x ? args[0]->cols : 0, false));
    } else if (i == 1 && surface_x && nargs == 7 && !top) {
      auto empty = std::make_unique<mxArray>();
      empty->rows = h % 3 == 2 ? 1 : 0;
      empty->cols = h % 3 == 1 ? 1 : 0;
      args.push_back(std::move(empty));
    } else if (i == 2 && surface_x && top) {
      args.push_back(decode_span(in));
    } else if ((i == 1 || i == 6) && top) {
      args.push_back(decode_ordinates(in, h, *args[i - 1]));
    } else {
      args.push_back(decode_array(in, h));
    }
  }
  const mxArray* data_x = nargs >= 7 ? args[5].get() : nargs >= 1 ? args[0].get() : nullptr;
  // The degree bound: only accepted degrees are reduced, for a surface to
  // 0 to 3 (3 is refused).
  if (nargs >= 5 && scalar_ok(*args[4])) {
    double& d = args[4]->real[0];
    if (surface_shape(*data_x)) {
      if (d >= 3.0 && d < 101.0) d = std::fmod(d, 4.0);
    } else if (d > MAX_DEGREE && d < 101.0) {
      d = std::fmod(d, MAX_DEGREE + 1);
    }
  }
  const std::size_t options = in.upto(MAX_OPTIONS);
  const std::size_t data_count = data_x == nullptr        ? 0
                                 : surface_shape(*data_x) ? data_x->rows
                                                          : data_x->rows * data_x->cols;
  for (std::size_t i = 0; i < options; ++i) {
    args.push_back(decode_name(in));
    const std::string* name = text_of(*args.back());
    // A convention's word, mostly one it takes, so that R's rules run.
    if (name != nullptr && same_word(*name, "Convention") && in.byte() % 4 != 0)
      args.push_back(text_array(CONVENTIONS[in.byte() % 3], false));
    else if (in.byte() % 16 != 0) {  // else one short
      std::size_t option = FIRST_OPTIONS;
      while (name != nullptr && option < OPTION_COUNT && !same_word(*name, OPTION_NAMES[option]))
        ++option;
      args.push_back(name != nullptr && option < OPTION_COUNT
                         ? decode_later_value(in, option, data_count)
                         : decode_value(in, data_count));
    }
  }
  // A surface's robust passes are all made: an accepted MaxPasses is
  // reduced to 1 to 3.
  const std::size_t passes = name_at(args, "MaxPasses") + 1;
  if (data_x != nullptr && surface_shape(*data_x) && passes < args.size() &&
      integer_in(*args[passes], 4.0, 100.0))
    args[passes]->real[0] = 1.0 + std::fmod(args[passes]->real[0], 3.0);

  const char* report = "stderr";
  const expectation expected = ::expected(args, nlhs, &report);
  std::vector<const mxArray*> inputs;
  for (const auto& a : args) inputs.push_back(a.get());

  fuzz::stderr_capture capture;
  const standin::outcome o = standin::call(nlhs, inputs);
  const std::string err = capture.finish();
  const std::unique_ptr<mxArray> result(o.result);
  const std::unique_ptr<mxArray> info(o.second);

  fuzz::require_clean_storage(o);
  fuzz::require_diagnostics(err);
  fuzz::require(o.console.empty(), "console output from a call", o.console);

  if (!expected.message.empty()) {
    fuzz::require(!o.ok && o.error == expected.message && o.error_id == expected.id,
                  "wrong outcome",
                  "expected " + expected.id + " \"" + expected.message + "\", got " +
                      (o.ok ? "success" : o.error_id + " \"" + o.error + "\""));
    // Every argument error comes before the first allocation, but for the
    // transient copy of each text too long for the module's 64-byte buffer.
    std::size_t long_texts = 0;
    for (std::size_t i = positional(args); i < args.size(); ++i) {
      const std::string* t = text_of(*args[i]);
      if (t != nullptr && t->size() >= 64) ++long_texts;
    }
    fuzz::require(o.allocations <= long_texts && o.blocks_left == 0,
                  "storage held at an argument error", std::to_string(o.allocations));
    return 0;
  }
  fuzz::require(o.ok, "valid call failed", o.error);
  // The queries: X, or in the nodes form X again; a surface's by rows.
  const mxArray& x = *args[0];
  const data_args d = data_of(args);
  const bool surface = d.dims > 1;
  const std::size_t len = surface ? x.rows : x.rows * x.cols;
  const std::size_t k = d.signals;
  const std::size_t pages = d.pages;
  fuzz::require(result != nullptr, "no result");
  fuzz::require(plain_double(*result), "result is not a real full double array");
  // A surface: a row per query, a column per signal. One predictor's, one
  // signal: shaped like X; several: a row per element of X, a column each;
  // with several derivative orders, a page each.
  fuzz::require(surface       ? (result->rows == len && result->cols == k)
                : k > 1       ? (result->rows == len && result->cols == k * pages)
                : x.rows == 1 ? (result->rows == 1 && result->cols == len * pages)
                              : (result->rows == len && result->cols == pages),
                "result not shaped like X",
                std::to_string(result->rows) + "-by-" + std::to_string(result->cols));
  fuzz::require(result->ndims == (pages > 1 ? 3U : 2U), "result's dimensions");
  fuzz::require(result->real.size() == len * k * pages, "result data size");
  // What outlives the call by design: the model's record, x and y, and
  // after a robust call that succeeded, or with prior weights, its weights.
  // A surface keeps no model.
  const bool robust = robust_requested(args);
  fuzz::require(surface ? o.blocks_left == 0
                        : o.blocks_left == 3 || ((robust || weighted(args)) && o.blocks_left == 4),
                "blocks left after the call", std::to_string(o.blocks_left));
  // Diagnostics as asked: lines, or at most one warning per kind, or nothing.
  if (std::strcmp(report, "stderr") != 0)
    fuzz::require(err.empty(), "lines on standard error", err);
  bool kinds[2] = {false, false};
  for (const auto& [id, text] : o.warnings) {
    fuzz::require(std::strcmp(report, "warning") == 0, "a warning not asked for", id);
    const int kind = id == "quibra:singular" ? 0 : id == "quibra:unstable" ? 1 : -1;
    fuzz::require(kind >= 0 && !kinds[kind], "unknown or repeated warning", id);
    kinds[kind] = true;
  }
  fuzz::require((info != nullptr) == (nlhs == 2), "second result filled unless asked for");
  if (info != nullptr) check_info(*info, *result, args, robust, expected.windows);
  // Each query is evaluated on its own: equal queries, equal results.
  // Which NaN comes out is the hardware's choice: a commutative operation
  // may take its operands in either order, and with two NaNs the first one
  // wins, so a NaN result may differ in sign between lanes and paths.
  const std::size_t coordinates = surface ? x.cols : 1;
  for (std::size_t i = 0; i < len; ++i) {
    for (std::size_t j = i + 1; j < len; ++j) {
      bool same = true;
      for (std::size_t c = 0; c < coordinates && same; ++c)
        same = std::memcmp(&x.real[c * len + i], &x.real[c * len + j], sizeof(double)) == 0;
      if (!same) continue;
      for (std::size_t c = 0; c < k * pages; ++c) {
        const double a = result->real[c * len + i];
        const double b = result->real[c * len + j];
        fuzz::require((std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0,
                      "equal abscissae gave different results");
      }
    }
  }
  if (k > 1) check_signals(args, nlhs, o, err);
  check_normalize(args, nlhs, o, err, surface);
  return 0;
}
