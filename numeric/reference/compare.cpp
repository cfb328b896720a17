#include "numeric/reference/compare.h"

int less_double(const void* a, const void* b) {
  return *static_cast<const double*>(a) < *static_cast<const double*>(b);
}

int less_double_ptr(const void* a, const void* b) {
  return **static_cast<const double* const*>(a) < **static_cast<const double* const*>(b);
}
