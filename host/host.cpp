#include "host/host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

bool host_is_double(const mxArray* a) { return mxIsDouble(a); }
bool host_is_complex(const mxArray* a) { return mxIsComplex(a); }
bool host_is_sparse(const mxArray* a) { return mxIsSparse(a); }
std::uint64_t host_rows(const mxArray* a) { return mxGetM(a); }
std::uint64_t host_cols(const mxArray* a) { return mxGetN(a); }
double* host_data(const mxArray* a) { return mxGetPr(a); }

mxArray* host_create_matrix(std::int32_t rows, std::int32_t cols) {
  return mxCreateDoubleMatrix(rows, cols, mxREAL);
}

mxArray* host_create_scalar(double v) { return mxCreateDoubleScalar(v); }

mxArray* host_create_string(const char* text) { return mxCreateString(text); }

mxArray* host_create_logical(std::int32_t rows, std::int32_t cols, const std::uint8_t* flags) {
  mxArray* a = mxCreateLogicalMatrix(rows, cols);
  if (flags != nullptr) {
    mxLogical* out = mxGetLogicals(a);
    const std::int64_t n = static_cast<std::int64_t>(rows) * cols;
    for (std::int64_t i = 0; i < n; ++i) out[i] = flags[i] != 0;
  }
  return a;
}

mxArray* host_create_struct(int nfields, const char* const* names, mxArray* const* values) {
  // The host's prototype takes the names without their last const.
  mxArray* s = mxCreateStructMatrix(1, 1, nfields, const_cast<const char**>(names));
  for (int i = 0; i < nfields; ++i) mxSetField(s, 0, names[i], values[i]);
  return s;
}

void host_error(const char* message) {
  mexErrMsgTxt(message);
  std::abort();  // mexErrMsgTxt does not come back
}

void host_printf(const char* format, ...) {
  // mexPrintf has no va_list form, so format here and pass the text through.
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  mexPrintf("%s", line);
}

void* host_alloc(std::uint64_t bytes) {
  void* p = nullptr;
  if (bytes <= SIZE_MAX) p = mxMalloc(static_cast<std::size_t>(bytes));
  if (p == nullptr) {
    std::fputs("Alzheimer's error\n", stderr);
    host_error("Out of memory.");
  }
  return p;
}

void host_free(void* p) { mxFree(p); }
