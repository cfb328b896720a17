#include "host/host.h"

#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Where a host keeps the user's request to interrupt. Octave's state is
// greater than 0 while an interrupt waits to be handled; its signal flag
// alone would also answer other signals, such as a child process ending.
// The MATLAB-language host answers through its utility library instead.
// Both are weak, so that the one module loads in either host, and in the
// stand-in, which defines the query for its tests.
extern "C" {
extern volatile sig_atomic_t octave_interrupt_state __attribute__((weak));
bool utIsInterruptPending() __attribute__((weak));
}

namespace {

[[noreturn]] void out_of_memory() {
  std::fputs("Alzheimer's error\n", stderr);
  host_error("quibra:outOfMemory", "Out of memory.");
}

}  // namespace

bool host_is_double(const mxArray* a) { return mxIsDouble(a); }
bool host_is_complex(const mxArray* a) { return mxIsComplex(a); }
bool host_is_sparse(const mxArray* a) { return mxIsSparse(a); }
std::uint64_t host_rows(const mxArray* a) { return mxGetM(a); }
std::uint64_t host_cols(const mxArray* a) { return mxGetN(a); }
std::uint64_t host_dims(const mxArray* a) {
  return static_cast<std::uint64_t>(mxGetNumberOfDimensions(a));
}

bool host_is_logical_scalar(const mxArray* a) {
  return mxIsLogical(a) && mxGetM(a) == 1 && mxGetN(a) == 1;
}

bool host_logical_value(const mxArray* a) { return mxGetLogicals(a)[0]; }
double* host_data(const mxArray* a) { return mxGetPr(a); }

mxArray* host_create_matrix(std::int32_t rows, std::int32_t cols) {
  return mxCreateDoubleMatrix(rows, cols, mxREAL);
}

mxArray* host_create_pages(std::int32_t rows, std::int32_t cols, std::int32_t pages) {
  if (pages == 1) return host_create_matrix(rows, cols);
  mxArray* a = mxCreateDoubleMatrix(rows, static_cast<mwSize>(cols) * pages, mxREAL);
  const mwSize dims[3] = {rows, cols, pages};
  mxSetDimensions(a, dims, 3);
  return a;
}

mxArray* host_create_scalar(double v) { return mxCreateDoubleScalar(v); }

mxArray* host_create_string(const char* text) { return mxCreateString(text); }

mxArray* host_create_logical(std::int32_t rows, std::int32_t cols) {
  return mxCreateLogicalMatrix(rows, cols);
}

void host_set_logical(mxArray* a, std::int64_t i, bool v) { mxGetLogicals(a)[i] = v; }

mxArray* host_create_logical_like(const mxArray* a) {
  mxArray* l =
      mxCreateLogicalMatrix(static_cast<mwSize>(mxGetM(a)), static_cast<mwSize>(mxGetN(a)));
  if (mxGetNumberOfDimensions(a) > 2)
    mxSetDimensions(l, mxGetDimensions(a), mxGetNumberOfDimensions(a));
  return l;
}

mxArray* host_create_cell_row(std::int32_t n, mxArray* const* values) {
  mxArray* c = mxCreateCellMatrix(1, n);
  for (std::int32_t i = 0; i < n; ++i) mxSetCell(c, i, values[i]);
  return c;
}

mxArray* host_create_struct(int nfields, const char* const* names, mxArray* const* values) {
  // The host's prototype takes the names without their last const.
  mxArray* s = mxCreateStructMatrix(1, 1, nfields, const_cast<const char**>(names));
  for (int i = 0; i < nfields; ++i) mxSetField(s, 0, names[i], values[i]);
  return s;
}

bool host_is_text(const mxArray* a) { return mxIsChar(a) || mxIsClass(a, "string"); }

std::int64_t host_text(const mxArray* a, char* buf, std::uint64_t size, bool keep_head) {
  if (!mxIsChar(a)) {
    if (!mxIsClass(a, "string")) return -1;
    // A string object has no character data of its own; the host's char()
    // converts it, and the copy is reclaimed when the call ends.
    mxArray* in[1] = {const_cast<mxArray*>(a)};
    mxArray* out[1] = {nullptr};
    if (mexCallMATLAB(1, out, 1, in, "char") != 0 || out[0] == nullptr || !mxIsChar(out[0]))
      return -1;
    a = out[0];
  }
  const std::uint64_t length = mxGetN(a);
  if (mxGetM(a) != 1 || length < 1 || length > static_cast<std::uint64_t>(INT64_MAX)) return -1;
  if (mxGetString(a, buf, static_cast<mwSize>(size)) != 0) {
    if (!keep_head) {
      buf[0] = '\0';
      return static_cast<std::int64_t>(length);
    }
    // It did not fit: Octave's mxGetString then copies nothing at all
    // (others cut the text short), so take the whole text and keep its head.
    char* whole = mxArrayToString(a);
    if (whole == nullptr) out_of_memory();
    const std::uint64_t n = length < size - 1 ? length : size - 1;
    std::memcpy(buf, whole, static_cast<std::size_t>(n));
    buf[n] = '\0';
    mxFree(whole);
  }
  return static_cast<std::int64_t>(length);
}

void host_error(const char* id, const char* message) {
  mexErrMsgIdAndTxt(id, "%s", message);
  std::abort();  // mexErrMsgIdAndTxt does not come back
}

void host_warning(const char* id, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  mexWarnMsgIdAndTxt(id, "%s", text);
}

double host_betaincinv(double y, double a, double b) {
  mxArray* in[3] = {host_create_scalar(y), host_create_scalar(a), host_create_scalar(b)};
  mxArray* out[1] = {nullptr};
  double x = std::nan("");
  if (mexCallMATLAB(1, out, 3, in, "betaincinv") == 0 && out[0] != nullptr && mxIsDouble(out[0]) &&
      !mxIsComplex(out[0]) && mxGetM(out[0]) == 1 && mxGetN(out[0]) == 1)
    x = mxGetPr(out[0])[0];
  // Called once per call; the host reclaims these arrays when it ends.
  return x;
}

void host_interrupted() { host_error("quibra:interrupted", "Interrupted."); }

bool host_interrupt_pending() {
  // Only read: the host clears its state when the call ends through its
  // error exit, and handles a request that is still pending when it returns.
  if (&octave_interrupt_state != nullptr) return octave_interrupt_state > 0;
  if (utIsInterruptPending != nullptr) return utIsInterruptPending();
  return false;
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
  // The host may answer a request for nothing with null: ask for a byte.
  if (bytes == 0) bytes = 1;
  if (bytes <= SIZE_MAX) p = mxMalloc(static_cast<std::size_t>(bytes));
  if (p == nullptr) out_of_memory();
  return p;
}

void host_free(void* p) {
  if (p != nullptr) mxFree(p);
}
