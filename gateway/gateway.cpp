// [y, info] = quibra(X, Y[, f[, robust[, degree[, nodes_x, nodes_y]]]])
//
// The module's only entry point: checks the arguments in a fixed order,
// each failure ending the call with its own message, then smooths.
#include <cmath>
#include <cstdint>

#include "gateway/info.h"
#include "host/host.h"
#include "smoother/model.h"
#include "smoother/robust.h"

namespace {

// Input positions.
enum { IN_X, IN_Y, IN_F, IN_ROBUST, IN_DEGREE, IN_NODES_X, IN_NODES_Y };

constexpr double DEFAULT_F = 0.2;
constexpr std::int32_t DEFAULT_DEGREE = 2;
// Beyond this a local polynomial's power sums overflow for |x| above ~35,
// and the normal system alone would need (degree + 1)^2 doubles per fit.
constexpr std::int32_t MAX_DEGREE = 100;

// A full (not sparse), real, double array. A sparse array's data pointer
// addresses only its stored nonzeros, so it can never be read as dense.
bool is_plain_double(const mxArray* a) {
  return host_is_double(a) && !host_is_sparse(a) && !host_is_complex(a);
}

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
shape check_vector(const mxArray* a, const char* message) {
  if (!is_plain_double(a)) host_error(message);
  const shape s{dim32(host_rows(a)), dim32(host_cols(a))};
  if (s.rows < 1 || s.cols < 1) host_error(message);
  return s;
}

// Both rows (1-by-n) or both columns (n-by-1) of one length; a 1-by-1 pair
// counts as a row. Returns the length, or -1 when they do not pair.
std::int32_t pair_length(shape a, shape b) {
  if (a.cols == b.cols && a.rows == 1) return b.rows == 1 ? a.cols : -1;
  if (a.rows == b.rows && a.cols == 1 && b.cols == 1) return a.rows;
  return -1;
}

double check_scalar(const mxArray* a, const char* message) {
  if (!is_plain_double(a) || host_rows(a) != 1 || host_cols(a) != 1) host_error(message);
  return host_data(a)[0];
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[],
                                                                   int nrhs,
                                                                   const mxArray* prhs[]) {
  if (nrhs != 2 && nrhs != 3 && nrhs != 4 && nrhs != 5 && nrhs != 7)
    host_error("Wrong number of input arguments.");
  // The first result slot is always filled, also for nlhs 0.
  if (nlhs > 2) host_error("Too many output arguments.");

  const shape sx = check_vector(prhs[IN_X], "X must be a noncomplex double vector!!!");
  const shape sy = check_vector(prhs[IN_Y], "Y must be a noncomplex double vector!!!");
  const std::int32_t n = pair_length(sx, sy);
  if (n < 0) host_error("X and Y must have the same length!!!");
  const shape rs = sx.rows == 1 ? shape{1, n} : shape{n, 1};
  mxArray* result = host_create_matrix(rs.rows, rs.cols);
  plhs[0] = result;
  const double* x = host_data(prhs[IN_X]);
  const double* y = host_data(prhs[IN_Y]);

  double f = DEFAULT_F;
  std::int32_t robust = 0;
  std::int32_t degree = DEFAULT_DEGREE;
  if (nrhs >= 3) {
    f = check_scalar(prhs[IN_F], "f must be a noncomplex scalar double.");
    // The window rule and the window placement would read NaN differently.
    if (std::isnan(f)) host_error("f must not be NaN.");
  }
  if (nrhs >= 4)
    robust = to_int32(check_scalar(prhs[IN_ROBUST], "robust must be a noncomplex scalar double."));
  if (nrhs >= 5) {
    degree = to_int32(check_scalar(prhs[IN_DEGREE], "degree must be a noncomplex scalar double."));
    if (degree < 0) host_error("degree must not be negative.");
    if (degree > MAX_DEGREE) host_error("degree is too large.");
  }

  std::int32_t count = n;
  shape data_shape = sy;
  const double* data_x = x;
  const double* data_y = y;
  if (nrhs == 7) {
    const shape snx = check_vector(prhs[IN_NODES_X], "nodes_x must be a noncomplex double vector!!!");
    const shape sny = check_vector(prhs[IN_NODES_Y], "nodes_y must be a noncomplex double vector!!!");
    count = pair_length(snx, sny);
    if (count < 0) host_error("nodes_x and nodes_y must have the same length!!!");
    data_shape = sny;
    data_x = host_data(prhs[IN_NODES_X]);
    data_y = host_data(prhs[IN_NODES_Y]);
  }

  // Only a second result slot makes the call gather what goes into it.
  const bool want_info = nlhs == 2;
  call_info info{};
  if (want_info) info = new_call_info(count, n);

  fit_settings settings;
  smooth_model* model = build_model(count, data_x, data_y, f, degree, info.input_index);
  info.points = model->count;
  // On failure the model stays as built; with no data point there is nothing to reweight.
  if (robust != 0 && model->count > 0)
    robustify(model, &settings, want_info ? &info.robust : nullptr);

  // Each element of X on its own, in input order.
  fit_many(model, x, n, host_data(result), &settings, info.failed);
  if (want_info) {
    plhs[1] = info_array(info, robust != 0, model, data_shape.rows, data_shape.cols, rs.rows,
                         rs.cols);
    free_call_info(info);
  }
  // The model is left to the host, which reclaims it when the call ends.
}
