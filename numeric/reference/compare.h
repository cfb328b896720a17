// Comparators for the generic sort and selection routines. Like qsort's,
// they take two element addresses; they return nonzero exactly when the
// first element is strictly less than the second, so values that are not
// numbers compare false both ways.
#ifndef QUIBRA_NUMERIC_REFERENCE_COMPARE_H
#define QUIBRA_NUMERIC_REFERENCE_COMPARE_H

using less_fn = int (*)(const void* a, const void* b);

// Elements are doubles.
int less_double(const void* a, const void* b);
// Elements are pointers to doubles; compares the pointed-to values.
int less_double_ptr(const void* a, const void* b);

#endif
