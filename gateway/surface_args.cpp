#include "gateway/surface_args.h"

#include "gateway/r_rules.h"
#include "smoother/surface/surface_call.h"
#include "smoother/surface/surface_fit.h"

namespace {

bool is_matrix(const mxArray* a) {
  return is_plain_double(a) && host_dims(a) == 2 && host_rows(a) >= 2 && host_cols(a) >= 2;
}

// What the options ask that a surface cannot give: those with no meaning
// for several predictors.
void check_surface_options(const call_options& o) {
  const smooth_request& r = o.request;
  bool derivative = false;
  for (std::int32_t p = 0; p < r.pages; ++p) derivative = derivative || r.orders[p] > 0;
  const char* meaningless = o.delta_given                   ? "'Delta'"
                            : o.settings.fast               ? "'Method' 'fast'"
                            : derivative || r.pages > 1     ? "'Derivative'"
                            : r.rules == convention::lowess ? "'Convention' 'lowess'"
                            : o.settings.lower              ? "'Fallback' 'lower'"
                                                            : nullptr;
  if (meaningless != nullptr) fail(errors::surface_option, meaningless);
}

}  // namespace

bool is_surface_call(int npos, const mxArray* const prhs[]) {
  return is_matrix(prhs[npos == IN_ALL ? IN_NODES_X : IN_X]);
}

call_args read_surface_arguments(int nlhs, int nrhs, int npos, const mxArray* const prhs[]) {
  const bool nodes = npos == IN_ALL;
  const mxArray* xs = prhs[nodes ? IN_NODES_X : IN_X];
  const mxArray* ys = prhs[nodes ? IN_NODES_Y : IN_Y];
  const shape sx{dim32(host_rows(xs)), dim32(host_cols(xs))};
  if (sx.cols > SURFACE_MAX_DIMS) fail(errors::surface_columns, sx.cols);
  const shape sy = check_vector(ys, nodes ? errors::nodes_y : errors::y);
  if (host_dims(ys) > 2) fail(nodes ? errors::nodes_y_dims : errors::y_dims);
  const bool one = is_vector(sy) && static_cast<std::int64_t>(sy.rows) * sy.cols == sx.rows;
  if (!one && sy.rows != sx.rows) fail(errors::surface_rows);

  call_args a{};
  smooth_request& r = a.options.request;
  a.f = r.f;
  r.dims = sx.cols;
  r.count = r.n = sx.rows;
  r.columns = one ? 1 : sy.cols;
  a.data = one ? sy : shape{sx.rows, r.columns};
  r.x = r.xq = host_data(xs);
  r.y = host_data(ys);
  r.at_data = !nodes;
  if (nodes) {
    if (!is_empty_double(prhs[IN_Y])) fail(errors::surface_nodes_y);
    const mxArray* q = prhs[IN_X];
    if (!is_plain_double(q) || host_dims(q) > 2 ||
        host_cols(q) != static_cast<std::uint64_t>(r.dims))
      fail(errors::surface_queries, r.dims);
    r.n = dim32(host_rows(q));
    if (r.n < 0) fail(errors::surface_queries, r.dims);
    r.xq = host_data(q);
  }
  read_scalars(npos, prhs, f_may_be_empty(nrhs, npos, prhs), a);
  if (r.degree > 2) fail(errors::surface_degree);
  a.result = shape{r.n, r.columns};
  parse_options(nrhs - npos, prhs + npos, r.count, &a.options);
  check_surface_options(a.options);
  if (r.window_points > 0 && a.f_given) fail(errors::window_span);
  r.f = a.options.span_given ? a.options.span : a.f;
  if (r.rules == convention::loess)
    r_defaults(&r, a.degree_given, !a.f_given && !a.options.span_given);
  r.report = nlhs == 2;
  // Every column's windows must hold the polynomial's terms.
  const std::int32_t terms = surface_terms(r.dims, r.degree);
  for (std::int32_t c = 0; c < r.columns; ++c) {
    const std::int32_t kept = surface_points_taking_part(r, c);
    if (kept == 0) fail(errors::no_data);
    const std::int32_t window = surface_window(kept, r.f, r.window_points);
    if (window < terms) fail(errors::surface_span, terms, window);
  }
  return a;
}
