#include "smoother/model.h"

#include <cmath>

#include "host/storage.h"
#include "numeric/radix_sort.h"

std::int32_t window_size(std::int32_t count, double f, std::int32_t degree) {
  // Bounded as a double: count * f may lie beyond the 32-bit range.
  const double w = std::floor(static_cast<double>(count) * f);
  const std::int32_t least = degree + 1 < count ? degree + 1 : count;
  if (!(w > least)) return least;  // NaN too
  return w < count ? static_cast<std::int32_t>(w) : count;
}

double span_for_window(const smooth_model* model, std::int32_t q) {
  const std::int32_t n = model->count;
  if (q >= n) return 1.0;
  double f = static_cast<double>(q) / static_cast<double>(n);
  while (window_size(n, f, model->degree) < q) f = std::nextafter(f, 2.0);
  return f;
}

void set_window(smooth_model* model, std::int32_t k) {
  model->f = span_for_window(model, k < model->count ? k : model->count);
  model->window = window_size(model->count, model->f, model->degree);
}

bool takes_part(const data_choice& choice, const double* xs, const double* ys, std::int32_t i) {
  if (choice.weights != nullptr && choice.weights[i] == 0.0) return false;
  if (choice.omit_missing && std::isnan(ys[i])) return false;
  return std::isfinite(xs[i]);
}

std::int32_t count_taking_part(const data_choice& choice, std::int32_t count, const double* xs,
                               const double* ys) {
  std::int32_t m = 0;
  for (std::int32_t i = 0; i < count; ++i) m += takes_part(choice, xs, ys, i) ? 1 : 0;
  return m;
}

smooth_model* build_model(std::int32_t count, const double* xs, const double* ys,
                          const data_choice& choice, double f, std::int32_t degree,
                          const double** order) {
  const double** sorted = order != nullptr ? order : host_alloc_array<const double*>(count);
  smooth_model* model = host_alloc_array<smooth_model>(1);
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < count; ++i)
    if (takes_part(choice, xs, ys, i)) sorted[kept++] = xs + i;
  // Stable, so equal abscissae keep their input order.
  sort_double_ptrs(sorted, static_cast<std::uint64_t>(kept));
  model->x = host_alloc_array<double>(kept);
  model->y = host_alloc_array<double>(kept);
  for (std::int32_t i = 0; i < kept; ++i) {
    model->x[i] = *sorted[i];
    model->y[i] = ys[sorted[i] - xs];
  }
  // Weights of 1 change no product, so all-ones weights need no array.
  model->weights = nullptr;
  bool all_ones = true;
  for (std::int32_t i = 0; i < kept && choice.weights != nullptr; ++i)
    all_ones = all_ones && choice.weights[sorted[i] - xs] == 1.0;
  if (!all_ones) {
    model->weights = host_alloc_array<double>(kept);
    for (std::int32_t i = 0; i < kept; ++i) model->weights[i] = choice.weights[sorted[i] - xs];
  }
  model->variance_weights = nullptr;
  model->count = kept;
  model->f = f;
  model->degree = degree;
  model->window = window_size(kept, f, degree);
  model->y_scale = largest_magnitude(model->y, kept);
  if (order == nullptr) host_free(sorted);
  return model;
}

double largest_magnitude(const double* y, std::int32_t n) {
  double most = 0.0;
  for (std::int32_t i = 0; i < n; ++i)
    if (std::isfinite(y[i]) && std::fabs(y[i]) > most) most = std::fabs(y[i]);
  return most;
}

void free_model(smooth_model* model) {
  if (model == nullptr) return;
  host_free(model->x);
  host_free(model->y);
  host_free(model->weights);
  host_free(model);
}
