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
  const std::int32_t rows = static_cast<std::int32_t>(host_rows(ys));
  const std::int32_t cols = static_cast<std::int32_t>(host_cols(ys));
  mxArray* failed = host_create_logical(rows, cols);
  const double* v = host_data(ys);
  const std::int64_t n = static_cast<std::int64_t>(rows) * cols;
  for (std::int64_t i = 0; i < n; ++i)
    if (v[i] == FIT_FAILED) host_set_logical(failed, i, true);
  return failed;
}

// A logical array shaped like `ys` from the flags of its n elements.
mxArray* flags_of(const std::uint8_t* flags, const mxArray* ys) {
  mxArray* a = host_create_logical(static_cast<std::int32_t>(host_rows(ys)),
                                   static_cast<std::int32_t>(host_cols(ys)));
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
  a.lowered = settings.lower;
  if (a.lowered) out->lowered = host_alloc_array<std::uint8_t>(request.n);
  a.weights = host_create_matrix(data_rows, data_cols);
  out->weights = host_data(a.weights);
  if (request.band != band_kind::none) {
    a.se = host_create_matrix(rows, cols);
    a.lower = host_create_matrix(rows, cols);
    a.upper = host_create_matrix(rows, cols);
    out->se = host_data(a.se);
    out->lower = host_data(a.lower);
    out->upper = host_data(a.upper);
  }
  return a;
}

mxArray* info_array(const smooth_request& request, const smooth_outputs& out,
                    const info_arrays& arrays, const mxArray* ys) {
  const robust_report& r = out.robust;
  const bool robust = request.robust;
  mxArray* converged = host_create_logical(1, 1);
  host_set_logical(converged, 0, !(robust && r.outcome == robust_outcome::exhausted));

  constexpr int MOST_FIELDS = 16;
  const char* names[MOST_FIELDS] = {"outcome", "passes", "converged", "weights",
                                    "failed",  "window", "scale"};
  mxArray* values[MOST_FIELDS] = {
      host_create_string(outcome_name(robust, r.outcome)),
      host_create_scalar(robust ? r.passes : 0),
      converged,
      arrays.weights,
      failed_of(ys),
      host_create_scalar(out.window),
      host_create_scalar(robust ? r.scale : std::numeric_limits<double>::quiet_NaN()),
  };
  int fields = 7;
  const auto add = [&](const char* name, mxArray* value) {
    names[fields] = name;
    values[fields++] = value;
  };
  if (request.band != band_kind::none) {
    add("se", arrays.se);
    add("lower", arrays.lower);
    add("upper", arrays.upper);
    add("sigma", host_create_scalar(out.summary.sigma));
    add("enp", host_create_scalar(out.summary.enp));
    add("dof", host_create_scalar(out.summary.dof));
  }
  if (arrays.lowered) add("lowered", flags_of(out.lowered, ys));
  if (request.choose_span) {
    add("span", host_create_scalar(out.search.span));
    add("criterion", criterion_of(out.search));
  }
  return host_create_struct(fields, names, values);
}
