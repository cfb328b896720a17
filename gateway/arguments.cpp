#include "gateway/arguments.h"

#include <cmath>

#include "numeric/int32.h"

std::int32_t dim32(std::uint64_t d) {
  return d > static_cast<std::uint64_t>(INT32_MAX) ? -1 : static_cast<std::int32_t>(d);
}

shape check_vector(const mxArray* a, const call_error& e) {
  if (!is_plain_double(a)) fail(e);
  const shape s{dim32(host_rows(a)), dim32(host_cols(a))};
  if (s.rows < 1 || s.cols < 1) fail(e);
  return s;
}

bool is_vector(shape s) { return s.rows == 1 || s.cols == 1; }

double check_scalar(const mxArray* a, const call_error& e) {
  if (!is_plain_scalar(a)) fail(e);
  return host_data(a)[0];
}

bool is_empty_double(const mxArray* a) {
  return is_plain_double(a) && (host_rows(a) == 0 || host_cols(a) == 0);
}

bool f_may_be_empty(int nrhs, int npos, const mxArray* const prhs[]) {
  const bool no_f = npos > IN_F && is_empty_double(prhs[IN_F]);
  return no_f && names_option(nrhs - npos, prhs + npos, "Window", "Convention");
}

void read_scalars(int npos, const mxArray* const prhs[], bool f_optional, call_args& a) {
  smooth_request& r = a.options.request;
  if (npos > IN_F && !(f_optional && is_empty_double(prhs[IN_F]))) {
    a.f_given = true;
    a.f = check_scalar(prhs[IN_F], errors::f);
    // The window rule and the window placement would read NaN differently.
    if (std::isnan(a.f)) fail(errors::f_nan);
  }
  if (npos > IN_ROBUST) {
    const mxArray* robust = prhs[IN_ROBUST];
    r.robust = host_is_logical_scalar(robust) ? host_logical_value(robust)
                                              : to_int32(check_scalar(robust, errors::robust)) != 0;
  }
  if (npos > IN_DEGREE) {
    a.degree_given = true;
    r.degree = to_int32(check_scalar(prhs[IN_DEGREE], errors::degree));
    if (r.degree < 0) fail(errors::degree_negative);
    if (r.degree > MAX_DEGREE) fail(errors::degree_too_large);
  }
}

