#include "numeric/matrix.h"

#include "host/storage.h"

double** alloc_rows(std::int32_t nrows, std::int32_t ncols) {
  double** rows = host_alloc_array<double*>(nrows);
  for (std::int32_t r = 0; r < nrows; ++r) rows[r] = host_alloc_array<double>(ncols);
  return rows;
}

void free_rows(double** rows, std::int32_t nrows) {
  for (std::int32_t r = 0; r < nrows; ++r) host_free(rows[r]);
  host_free(rows);
}
