// The host boundary for the gateway: host arrays, the error exit and
// warnings. Every call into the MEX host's library goes through host/; the
// rest of the module sees host arrays only as opaque mxArray pointers, and
// the layers below the gateway use only storage.h and services.h.
#ifndef QUIBRA_HOST_HOST_H
#define QUIBRA_HOST_HOST_H

#include <cstdint>

#include <mex.h>

#include "host/services.h"
#include "host/storage.h"

// Array inspection. Counts are the host's own (unsigned, 64-bit).
bool host_is_double(const mxArray* a);
bool host_is_complex(const mxArray* a);
bool host_is_sparse(const mxArray* a);
std::uint64_t host_rows(const mxArray* a);
// Columns: of an array of more than two dimensions, all but the first together.
std::uint64_t host_cols(const mxArray* a);
std::uint64_t host_dims(const mxArray* a);
// A 1-by-1 logical array, and its value.
bool host_is_logical_scalar(const mxArray* a);
bool host_logical_value(const mxArray* a);
// Real part of a full double array, column-major.
double* host_data(const mxArray* a);

// A new real rows-by-cols double array, zero-filled.
mxArray* host_create_matrix(std::int32_t rows, std::int32_t cols);

// A new real rows-by-cols-by-pages double array, zero-filled; one page is
// a rows-by-cols matrix.
mxArray* host_create_pages(std::int32_t rows, std::int32_t cols, std::int32_t pages);

// A new 1-by-1 real double array holding v.
mxArray* host_create_scalar(double v);

// A new 1-by-n char row holding `text` (NUL-terminated).
mxArray* host_create_string(const char* text);

// A new rows-by-cols logical array, all false; host_set_logical sets its
// element i (column-major).
mxArray* host_create_logical(std::int32_t rows, std::int32_t cols);
void host_set_logical(mxArray* a, std::int64_t i, bool v);
// A new logical array of the dimensions of `a`, all false.
mxArray* host_create_logical_like(const mxArray* a);

// A new 1-by-n cell row holding values[0..n-1], which it takes over.
mxArray* host_create_cell_row(std::int32_t n, mxArray* const* values);

// A new 1-by-1 struct whose field names[i] holds values[i]; the struct
// takes the values over.
mxArray* host_create_struct(int nfields, const char* const* names, mxArray* const* values);

// Text arguments: a char array, or (in the MATLAB-language host) a string
// object, which is converted to char.
bool host_is_text(const mxArray* a);
// The length of a text argument that is one row of at least one character,
// with its first min(length, size - 1) characters copied into `buf` and a
// terminating 0, however long the text; -1 for any other argument (not
// text, empty, several rows), leaving `buf` as it was. `size` is at least 1.
// A text that does not fit `buf` is read through a transient copy from the
// allocator host_alloc uses, released before this returns; when that copy
// cannot be made, the call ends as a failed host_alloc does. Without
// `keep_head` such a text leaves `buf` empty and takes no copy, for a
// caller that only compares it with words that fit.
std::int64_t host_text(const mxArray* a, char* buf, std::uint64_t size, bool keep_head = true);

// Ends the current call with the error `message` (no trailing newline)
// under the identifier `id` ("quibra:..."), which a user can catch on.
[[noreturn]] void host_error(const char* id, const char* message);

// Raises a host warning under the identifier `id`: shown unless the user
// turned that identifier off, and readable with lastwarn. Returns.
void host_warning(const char* id, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
