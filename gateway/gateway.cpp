// [y, info] = quibra(X, Y[, f[, robust[, degree[, nodes_x, nodes_y]]]][, 'Name', value, ...])
//
// The module's only entry point, in the shape of the host's model
// gateways: check the arguments, in a fixed order, each failure ending the
// call with its own message, and read them into one request; one call
// into the smoother; write the results.
#include <cmath>
#include <cstdint>

#include "gateway/arguments.h"
#include "gateway/errors.h"
#include "gateway/info.h"
#include "gateway/options.h"
#include "gateway/r_rules.h"
#include "gateway/surface_args.h"
#include "host/host.h"
#include "numeric/int32.h"
#include "smoother/call.h"
#include "smoother/r_rules/conventions.h"
#include "smoother/surface/surface_call.h"

namespace {

// Both rows (1-by-n) or both columns (n-by-1) of one length; a 1-by-1 pair
// counts as a row. Returns the length, or -1 when they do not pair.
std::int32_t pair_length(shape a, shape b) {
  if (a.cols == b.cols && a.rows == 1) return b.rows == 1 ? a.cols : -1;
  if (a.rows == b.rows && a.cols == 1 && b.cols == 1) return a.rows;
  return -1;
}

// The messages of one pair of data arguments: abscissae and ordinates.
struct pair_errors {
  const call_error& x;
  const call_error& y;
  const call_error& y_dims;
  const call_error& length;
  const call_error& rows;
};
const pair_errors DATA{errors::x, errors::y, errors::y_dims, errors::xy_length, errors::y_rows};
const pair_errors NODES{errors::nodes_x, errors::nodes_y, errors::nodes_y_dims,
                        errors::nodes_length, errors::nodes_y_rows};

// Ordinates: a vector, or a matrix of one column per signal.
shape check_ordinates(const mxArray* a, const pair_errors& e) {
  const shape s = check_vector(a, e.y);
  if (host_dims(a) > 2) fail(e.y_dims);
  return s;
}

// How abscissae `sx` and ordinates `sy` pair: a vector of ordinates as both
// rows or both columns of one length, a matrix with a row per abscissa (the
// abscissae a vector). Returns the point count, the signals in `columns`.
std::int32_t pair_data(shape sx, shape sy, const pair_errors& e, std::int32_t* columns) {
  *columns = 1;
  if (is_vector(sy)) {
    const std::int32_t n = pair_length(sx, sy);
    if (n < 0) fail(e.length);
    return n;
  }
  if (!is_vector(sx)) fail(e.length);
  if (static_cast<std::int64_t>(sx.rows) * sx.cols != sy.rows) fail(e.rows);
  *columns = sy.cols;
  return sy.rows;
}

// The nodes form's data.
void read_nodes(const mxArray* const prhs[], call_args& a) {
  smooth_request& r = a.options.request;
  const shape snx = check_vector(prhs[IN_NODES_X], errors::nodes_x);
  const shape sny = check_ordinates(prhs[IN_NODES_Y], NODES);
  r.count = pair_data(snx, sny, NODES, &r.columns);
  a.data = sny;
  r.x = host_data(prhs[IN_NODES_X]);
  r.y = host_data(prhs[IN_NODES_Y]);
}

// An empty Y in the nodes form, where Y is not used.
bool no_ordinates(int npos, const mxArray* y) { return npos == IN_ALL && is_empty_double(y); }

// Every argument, in the order the checks run.
call_args read_arguments(int nlhs, int nrhs, const mxArray* const prhs[]) {
  const int npos = positional_count(nrhs, prhs);
  if (npos < IN_F || (npos > IN_NODES_X && npos != IN_ALL)) fail(errors::nargin);
  if (nlhs > 2) fail(errors::nargout);
  if (is_surface_call(npos, prhs)) return read_surface_arguments(nlhs, nrhs, npos, prhs);
  const shape sx = check_vector(prhs[IN_X], errors::x);
  std::int32_t columns = 1;
  std::int32_t n = static_cast<std::int32_t>(static_cast<std::int64_t>(sx.rows) * sx.cols);
  if (no_ordinates(npos, prhs[IN_Y])) {
    if (!is_vector(sx)) fail(errors::xy_length);
  } else {
    n = pair_data(sx, check_ordinates(prhs[IN_Y], DATA), DATA, &columns);
  }

  call_args a{};
  smooth_request& r = a.options.request;
  a.f = r.f;
  a.data = shape{n, columns};
  r.n = r.count = n;
  r.columns = columns;
  r.xq = r.x = host_data(prhs[IN_X]);
  r.y = host_data(prhs[IN_Y]);
  r.at_data = npos != IN_ALL;
  if (r.at_data && columns == 1)
    a.data = shape{dim32(host_rows(prhs[IN_Y])), dim32(host_cols(prhs[IN_Y]))};
  // Only an empty f asks whether 'Window' stands in for it, or a
  // convention's default.
  read_scalars(npos, prhs, f_may_be_empty(nrhs, npos, prhs), a);
  if (npos == IN_ALL) read_nodes(prhs, a);
  // One signal: shaped like X; several: a column each, a row per element of X.
  a.result = r.columns > 1 ? shape{n, r.columns} : (sx.rows == 1 ? shape{1, n} : shape{n, 1});
  parse_options(nrhs - npos, prhs + npos, r.count, &a.options);
  if (r.window_points > 0 && a.f_given) fail(errors::window_span);
  r.f = a.options.span_given ? a.options.span : a.f;
  if (r.rules != convention::native)
    r_defaults(&r, a.degree_given, !a.f_given && !a.options.span_given);
  r.report = nlhs == 2;  // only a second result slot makes the call gather it
  // Options that leave out points may leave none, in any column; R's
  // loess keeps points of weight 0, but its windows must determine the
  // polynomial.
  for (std::int32_t c = 0; c < r.columns; ++c) {
    const double* y = r.y + static_cast<std::int64_t>(c) * r.count;
    if ((r.choice.weights != nullptr || r.choice.omit_missing) &&
        count_taking_part(r.choice, r.count, r.x, y) == 0)
      fail(errors::no_data);
    if (r.rules == convention::loess) check_loess_windows(r, y);
  }
  return a;
}

// At the end of a call that asked for a summary: one warning per kind of
// trouble, so a user can see, silence and query each on its own.
void warn_summary(const fit_settings& settings) {
  if (settings.report != trouble_report::summary) return;
  if (settings.singular > 0)
    host_warning("quibra:singular", "%lld local fits failed: their systems were singular.",
                 static_cast<long long>(settings.singular));
  if (settings.unstable > 0)
    host_warning("quibra:unstable",
                 "%lld local fits were unstable: their systems were ill-conditioned.",
                 static_cast<long long>(settings.unstable));
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[],
                                                                   int nrhs,
                                                                   const mxArray* prhs[]) {
  call_args a = read_arguments(nlhs, nrhs, prhs);
  const smooth_request& request = a.options.request;
  // The first result slot is always filled, also for nlhs 0.
  // Several orders: a page each.
  mxArray* ys = host_create_pages(a.result.rows, a.result.cols, request.pages);
  plhs[0] = ys;
  smooth_outputs* out = host_alloc_array<smooth_outputs>(request.columns);
  for (std::int32_t c = 0; c < request.columns; ++c) {
    out[c] = smooth_outputs{};
    out[c].value = host_data(ys) + static_cast<std::int64_t>(c) * request.n;
    out[c].page = static_cast<std::int64_t>(request.n) * request.columns;
  }
  info_arrays arrays;
  if (request.report)
    arrays = new_info_arrays(request, a.options.settings, a.data.rows, a.data.cols, a.result.rows,
                             a.result.cols, out);

  if (request.dims > 1)
    surface_call(request, &a.options.settings, out);
  else if (request.rules == convention::native)
    smooth_call(request, &a.options.settings, out);
  else
    r_convention_call(request, &a.options.settings, out);
  // An interrupted call returns no result, also when the request came
  // after the smoother last asked.
  if (host_interrupt_pending()) host_interrupted();

  // Before a FailedValue takes the failed fits' place.
  if (request.report) plhs[1] = info_array(request, out, arrays, ys);
  for (std::int32_t c = 0; c < request.columns; ++c) release_outputs(out + c);
  if (a.options.failed_value != FIT_FAILED) {
    double* v = host_data(ys);
    const std::int64_t n = static_cast<std::int64_t>(request.n) * request.columns * request.pages;
    for (std::int64_t i = 0; i < n; ++i)
      if (v[i] == FIT_FAILED) v[i] = a.options.failed_value;
  }
  host_free(out);
  warn_summary(a.options.settings);
  // The model is left to the host, which reclaims it when the call ends.
}
