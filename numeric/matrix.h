// Square and rectangular matrices as arrays of row pointers; every row is a
// separately allocated array of doubles.
#ifndef QUIBRA_NUMERIC_MATRIX_H
#define QUIBRA_NUMERIC_MATRIX_H

#include <cstdint>

// `nrows` rows of `ncols` doubles each, contents unspecified.
double** alloc_rows(std::int32_t nrows, std::int32_t ncols);
// Releases every row and then the row array.
void free_rows(double** rows, std::int32_t nrows);

#endif
