// [y, info] = quibra(X, Y[, f[, robust[, degree[, nodes_x, nodes_y]]]][, 'Name', value, ...])
//
// The module's only entry point: checks the arguments in a fixed order,
// each failure ending the call with its own message, then smooths.
#include <cmath>
#include <cstdint>

#include "gateway/errors.h"
#include "gateway/info.h"
#include "gateway/options.h"
#include "host/host.h"
#include "smoother/interpolate.h"
#include "smoother/intervals.h"
#include "smoother/model.h"
#include "smoother/robust.h"
#include "smoother/span.h"

namespace {

// Input positions.
enum { IN_X, IN_Y, IN_F, IN_ROBUST, IN_DEGREE, IN_NODES_X, IN_NODES_Y };

constexpr double DEFAULT_F = 0.2;
constexpr std::int32_t DEFAULT_DEGREE = 2;

// A dimension as a signed 32-bit count; -1 for one too large to be one.
std::int32_t dim32(std::uint64_t d) {
  return d > static_cast<std::uint64_t>(INT32_MAX) ? -1 : static_cast<std::int32_t>(d);
}

struct shape {
  std::int32_t rows;
  std::int32_t cols;
};

// A "vector" here is any non-empty plain double array; whether its shape
// pairs with its partner is decided by pair_length.
shape check_vector(const mxArray* a, const call_error& e) {
  if (!is_plain_double(a)) fail(e);
  const shape s{dim32(host_rows(a)), dim32(host_cols(a))};
  if (s.rows < 1 || s.cols < 1) fail(e);
  return s;
}

// Both rows (1-by-n) or both columns (n-by-1) of one length; a 1-by-1 pair
// counts as a row. Returns the length, or -1 when they do not pair.
std::int32_t pair_length(shape a, shape b) {
  if (a.cols == b.cols && a.rows == 1) return b.rows == 1 ? a.cols : -1;
  if (a.rows == b.rows && a.cols == 1 && b.cols == 1) return a.rows;
  return -1;
}

double check_scalar(const mxArray* a, const call_error& e) {
  if (!is_plain_scalar(a)) fail(e);
  return host_data(a)[0];
}

// At the end of a call that asked for a summary: one warning per kind of
// trouble, so a user can see, silence and query each on its own.
void warn_summary(const fit_settings& settings) {
  if (settings.report != trouble_report::summary) return;
  if (settings.singular > 0)
    host_warning("quibra:singular",
                 "%lld local fits failed: their systems were singular.",
                 static_cast<long long>(settings.singular));
  if (settings.unstable > 0)
    host_warning("quibra:unstable",
                 "%lld local fits were unstable: their systems were ill-conditioned.",
                 static_cast<long long>(settings.unstable));
}

// Evaluates the smooth at X into `out` as fit_queries does, bit for bit,
// and makes its band. `no_nodes`: X is the data, whose sorted order is
// `sorted` (sorted_count long), so one run at X gives the fits at the data
// points too; otherwise these are made apart, silently (their trouble is
// not that of the call's result).
info_band evaluate_with_band(const smooth_model* model, const double* x, const double* y,
                        std::int32_t n, double* out, fit_settings* settings, bool no_nodes,
                        const double* const* sorted, std::int32_t sorted_count, bool reuse,
                        const call_options& options, shape rs) {
  const std::int32_t m = model->count;
  double* variance = host_alloc_array<double>(n);
  // The fits at the model's points, in model order; FIT_FAILED where none.
  double* value_m = host_alloc_array<double>(m > 0 ? m : 1);
  double* leverage_m = host_alloc_array<double>(m > 0 ? m : 1);
  double* variance_m = host_alloc_array<double>(m > 0 ? m : 1);
  for (std::int32_t j = 0; j < m; ++j) value_m[j] = FIT_FAILED;
  if (no_nodes) {
    std::int32_t* slot = host_alloc_array<std::int32_t>(n);
    double* leverage = host_alloc_array<double>(n);
    locate_points(model, n, x, y, sorted, sorted_count, slot);
    fit_influence inf;
    inf.variance = variance;
    inf.leverage = leverage;
    inf.own = slot;
    fit_queries(model, x, n, out, settings, reuse ? sorted : nullptr, &inf);
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int32_t j = slot[i];
      if (j < 0) continue;
      value_m[j] = out[i];
      leverage_m[j] = leverage[i];
      variance_m[j] = variance[i];
    }
    host_free(slot);
    host_free(leverage);
  } else {
    fit_influence inf;
    inf.variance = variance;
    fit_queries(model, x, n, out, settings, nullptr, &inf);
    fit_settings quiet = *settings;
    quiet.report = trouble_report::off;
    fit_own_points(model, &quiet, value_m, leverage_m, variance_m);
  }
  info_band b;
  b.summary = summarise(model, value_m, leverage_m, variance_m);
  const double t = t_quantile(options.level, b.summary.dof);
  b.se = host_create_matrix(rs.rows, rs.cols);
  b.lower = host_create_matrix(rs.rows, rs.cols);
  b.upper = host_create_matrix(rs.rows, rs.cols);
  fill_band(n, out, variance, b.summary.sigma, t, options.intervals == interval_kind::prediction,
            host_data(b.se), host_data(b.lower), host_data(b.upper));
  host_free(variance);
  host_free(value_m);
  host_free(leverage_m);
  host_free(variance_m);
  return b;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[],
                                                                   int nrhs,
                                                                   const mxArray* prhs[]) {
  const int npos = positional_count(nrhs, prhs);
  if (npos != 2 && npos != 3 && npos != 4 && npos != 5 && npos != 7) fail(errors::nargin);
  // The first result slot is always filled, also for nlhs 0.
  if (nlhs > 2) fail(errors::nargout);

  const shape sx = check_vector(prhs[IN_X], errors::x);
  const shape sy = check_vector(prhs[IN_Y], errors::y);
  const std::int32_t n = pair_length(sx, sy);
  if (n < 0) fail(errors::xy_length);
  const shape rs = sx.rows == 1 ? shape{1, n} : shape{n, 1};
  mxArray* result = host_create_matrix(rs.rows, rs.cols);
  plhs[0] = result;
  const double* x = host_data(prhs[IN_X]);
  const double* y = host_data(prhs[IN_Y]);

  double f = DEFAULT_F;
  std::int32_t robust = 0;
  std::int32_t degree = DEFAULT_DEGREE;
  if (npos >= 3) {
    f = check_scalar(prhs[IN_F], errors::f);
    // The window rule and the window placement would read NaN differently.
    if (std::isnan(f)) fail(errors::f_nan);
  }
  if (npos >= 4) robust = to_int32(check_scalar(prhs[IN_ROBUST], errors::robust));
  if (npos >= 5) {
    degree = to_int32(check_scalar(prhs[IN_DEGREE], errors::degree));
    if (degree < 0) fail(errors::degree_negative);
    if (degree > MAX_DEGREE) fail(errors::degree_too_large);
  }

  std::int32_t count = n;
  shape data_shape = sy;
  const double* data_x = x;
  const double* data_y = y;
  if (npos == 7) {
    const shape snx = check_vector(prhs[IN_NODES_X], errors::nodes_x);
    const shape sny = check_vector(prhs[IN_NODES_Y], errors::nodes_y);
    count = pair_length(snx, sny);
    if (count < 0) fail(errors::nodes_length);
    data_shape = sny;
    data_x = host_data(prhs[IN_NODES_X]);
    data_y = host_data(prhs[IN_NODES_Y]);
  }
  const call_options options = parse_options(nrhs - npos, prhs + npos, count);
  if (options.span_from == span_source::given) f = options.span;
  const data_choice choice{options.weights, options.omit_missing};
  // Options that leave out points may leave none.
  if ((choice.weights != nullptr || choice.omit_missing) &&
      count_taking_part(choice, count, data_x, data_y) == 0)
    fail(errors::no_data);

  // Only a second result slot makes the call gather what goes into it.
  const bool want_info = nlhs == 2;
  call_info info{};
  if (want_info) info = new_call_info(count);

  fit_settings settings;
  settings.report = options.report;
  settings.delta = options.delta;
  settings.threads = options.threads;
  // A spaced evaluation takes X in ascending order, and a plain one runs
  // faster in it. When X is the data and every point of a number abscissa
  // takes part, that is the model's own sorted order, so X need not be
  // sorted a second time.
  const bool reuse = npos != 7 && choice.weights == nullptr && !choice.omit_missing;
  // The sorted order also says where each model point came from, for info.
  const double** sorted = nullptr;
  smooth_model* model = build_model(count, data_x, data_y, choice, f, degree,
                                    reuse || want_info ? &sorted : nullptr);
  info.points = model->count;
  // The span is chosen on the plain smooth; robust passes then use it.
  if (options.span_from == span_source::chosen) {
    info.search = choose_span(model, options.rule, options.span_lo, options.span_hi, &settings);
    info.chosen = want_info;
    if (!want_info) {
      host_free(info.search.spans);
      host_free(info.search.values);
    }
  }
  // On failure the model stays as built; with no data point there is nothing to reweight.
  if (robust != 0 && model->count > 0)
    robustify(model, &settings, options.max_passes, want_info ? &info.robust : nullptr);

  double* out = host_data(result);
  // Bands are made only for a call that can receive them.
  if (want_info && options.intervals != interval_kind::none) {
    info.band = evaluate_with_band(model, x, y, n, out, &settings, npos != 7, sorted,
                                   info.points, reuse, options, rs);
    info.bands = true;
  } else {
    fit_queries(model, x, n, out, &settings, reuse ? sorted : nullptr);
  }
  // Before a FailedValue takes the failed fits' place.
  if (want_info) {
    plhs[1] = info_array(info, robust != 0, model, sorted, data_x, data_shape.rows,
                         data_shape.cols, out, rs.rows, rs.cols);
    free_call_info(info);
  }
  if (sorted != nullptr) host_free(sorted);
  if (options.failed_value != FIT_FAILED) {
    for (std::int32_t i = 0; i < n; ++i)
      if (out[i] == FIT_FAILED) out[i] = options.failed_value;
  }
  warn_summary(settings);
  // The model is left to the host, which reclaims it when the call ends.
}
