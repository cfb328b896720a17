#include "gateway/info.h"

#include <limits>

namespace {

const char* outcome_name(bool robust, robust_outcome o) {
  if (!robust) return "plain";
  switch (o) {
    case robust_outcome::converged: return "converged";
    case robust_outcome::exact: return "exact";
    case robust_outcome::abandoned: return "abandoned";
    case robust_outcome::nonfinite: return "nonfinite";
    case robust_outcome::exhausted: return "exhausted";
  }
  return "";
}

// A logical array shaped like `ys`: true where the fit failed (or a point
// interpolated next to one, which holds FIT_FAILED too).
mxArray* failed_of(const mxArray* ys) {
  mxArray* failed = host_create_logical_like(ys);
  const double* v = host_data(ys);
  const std::int64_t n = static_cast<std::int64_t>(host_rows(ys) * host_cols(ys));
  for (std::int64_t i = 0; i < n; ++i)
    if (v[i] == FIT_FAILED) host_set_logical(failed, i, true);
  return failed;
}

// A logical array shaped like `ys` from the flags of its n elements.
mxArray* flags_of(const std::uint8_t* flags, const mxArray* ys) {
  mxArray* a = host_create_logical_like(ys);
  const std::int64_t n = static_cast<std::int64_t>(host_rows(ys) * host_cols(ys));
  for (std::int64_t i = 0; i < n; ++i)
    if (flags[i] != 0) host_set_logical(a, i, true);
  return a;
}

// Two columns: each span tried, ascending, and its criterion.
mxArray* criterion_of(const span_search& c) {
  mxArray* criterion = host_create_matrix(c.count, 2);
  double* v = host_data(criterion);
  for (std::int32_t k = 0; k < c.count; ++k) {
    v[k] = c.spans[k];
    v[c.count + k] = c.values[k];
  }
  return criterion;
}

}  // namespace

info_arrays new_info_arrays(const smooth_request& request, const fit_settings& settings,
                            std::int32_t data_rows, std::int32_t data_cols, std::int32_t rows,
                            std::int32_t cols, smooth_outputs* out) {
  info_arrays a;
  const std::int64_t n = request.n;
  const std::int64_t all = n * request.columns * request.pages;
  if (settings.lower) a.lowered = host_alloc_array<std::uint8_t>(all);
  a.unstable = host_alloc_array<std::uint8_t>(all);
  for (std::int64_t i = 0; i < all; ++i) a.unstable[i] = 0;
  a.weights = host_create_matrix(data_rows, data_cols);
  const bool band = request.band != band_kind::none;
  if (band) {
    a.se = host_create_pages(rows, cols, request.pages);
    a.lower = host_create_pages(rows, cols, request.pages);
    a.upper = host_create_pages(rows, cols, request.pages);
  }
  for (std::int32_t c = 0; c < request.columns; ++c) {
    smooth_outputs& o = out[c];
    o.weights = host_data(a.weights) + static_cast<std::int64_t>(c) * request.count;
    if (a.lowered != nullptr) o.lowered = a.lowered + c * n;
    o.unstable = a.unstable + c * n;
    if (!band) continue;
    o.se = host_data(a.se) + c * n;
    o.lower = host_data(a.lower) + c * n;
    o.upper = host_data(a.upper) + c * n;
  }
  return a;
}

namespace {

// One entry per column, of the value `of` gives for each column's outputs:
// a scalar for one column, else a 1-by-k row.
template <typename Of>
mxArray* per_column(const smooth_request& request, const smooth_outputs* out, Of of) {
  mxArray* a = host_create_matrix(1, request.columns);
  for (std::int32_t c = 0; c < request.columns; ++c) host_data(a)[c] = of(out[c]);
  return a;
}

// The same for host arrays: the array itself for one column, else a cell row.
template <typename Of>
mxArray* per_column_array(const smooth_request& request, const smooth_outputs* out, Of of) {
  if (request.columns == 1) return of(out[0]);
  mxArray** cells = host_alloc_array<mxArray*>(request.columns);
  for (std::int32_t c = 0; c < request.columns; ++c) cells[c] = of(out[c]);
  mxArray* row = host_create_cell_row(request.columns, cells);
  host_free(cells);
  return row;
}

}  // namespace

mxArray* info_array(const smooth_request& request, const smooth_outputs* out,
                    const info_arrays& arrays, const mxArray* ys) {
  const bool robust = request.robust;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  mxArray* converged = host_create_logical(1, request.columns);
  for (std::int32_t c = 0; c < request.columns; ++c)
    host_set_logical(converged, c, !(robust && out[c].robust.outcome == robust_outcome::exhausted));

  constexpr int MOST_FIELDS = 17;
  const char* names[MOST_FIELDS] = {"outcome", "passes",   "converged", "weights",
                                    "failed",  "unstable", "window",    "scale"};
  mxArray* values[MOST_FIELDS] = {
      per_column_array(request, out,
                       [&](const smooth_outputs& o) {
                         return host_create_string(outcome_name(robust, o.robust.outcome));
                       }),
      per_column(request, out,
                 [&](const smooth_outputs& o) { return robust ? o.robust.passes : 0.0; }),
      converged,
      arrays.weights,
      failed_of(ys),
      flags_of(arrays.unstable, ys),
      per_column(request, out, [](const smooth_outputs& o) { return o.window; }),
      per_column(request, out,
                 [&](const smooth_outputs& o) { return robust ? o.robust.scale : nan; }),
  };
  int fields = 8;
  host_free(arrays.unstable);
  const auto add = [&](const char* name, mxArray* value) {
    names[fields] = name;
    values[fields++] = value;
  };
  if (request.band != band_kind::none) {
    add("se", arrays.se);
    add("lower", arrays.lower);
    add("upper", arrays.upper);
    add("sigma", per_column(request, out, [](const smooth_outputs& o) { return o.summary.sigma; }));
    add("enp", per_column(request, out, [](const smooth_outputs& o) { return o.summary.enp; }));
    add("dof", per_column(request, out, [](const smooth_outputs& o) { return o.summary.dof; }));
  }
  if (arrays.lowered != nullptr) {
    add("lowered", flags_of(arrays.lowered, ys));
    host_free(arrays.lowered);
  }
  if (request.choose_span) {
    add("span", per_column(request, out, [](const smooth_outputs& o) { return o.search.span; }));
    add("criterion", per_column_array(request, out, [](const smooth_outputs& o) {
          return criterion_of(o.search);
        }));
  }
  return host_create_struct(fields, names, values);
}
