#include "standin.h"

#include <boost/math/special_functions/beta.hpp>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <utility>

namespace {

struct call_error {
  std::string id;
  std::string message;
};

std::string format_text(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

// State of the call in progress.
struct call_state {
  bool active = false;
  std::map<void*, std::size_t> blocks;            // live mxMalloc blocks and their sizes
  std::vector<std::unique_ptr<mxArray>> created;  // arrays made during the call
  std::size_t live_bytes = 0;
  std::size_t allocations = 0;
  std::size_t interrupt_checks = 0;
  standin::outcome* out = nullptr;
  std::thread::id caller;  // the thread that made the call
};

call_state state;
std::size_t fail_at = 0;
std::size_t interrupt_from = 0;

void fault(const std::string& what) {
  if (state.out != nullptr) state.out->faults.push_back(what);
}

// A host serves the thread that called it and no other.
void check_thread(const char* operation) {
  if (state.active && std::this_thread::get_id() != state.caller)
    fault(std::string(operation) + " from a thread other than the caller's");
}

}  // namespace

extern "C" {

bool mxIsDouble(const mxArray* ptr) { return ptr->cls == mx_class::double_; }
bool mxIsComplex(const mxArray* ptr) { return ptr->complex; }
bool mxIsSparse(const mxArray* ptr) { return ptr->sparse; }
bool mxIsChar(const mxArray* ptr) { return ptr->cls == mx_class::char_; }

bool mxIsClass(const mxArray* ptr, const char* name) {
  static const char* const names[] = {"double", "single", "int32",  "logical",
                                      "char",   "string", "struct", "cell"};
  return std::strcmp(names[static_cast<int>(ptr->cls)], name) == 0;
}
size_t mxGetM(const mxArray* ptr) { return ptr->rows; }
size_t mxGetN(const mxArray* ptr) { return ptr->cols; }

double* mxGetPr(const mxArray* ptr) {
  // The data pointer of an array the module was given is read-only by
  // contract; the host API still hands out a non-const pointer.
  return const_cast<double*>(ptr->real.data());
}

mxArray* mxCreateDoubleMatrix(mwSize nr, mwSize nc, mxComplexity flag) {
  auto a = std::make_unique<mxArray>();
  a->rows = static_cast<std::size_t>(nr);
  a->cols = static_cast<std::size_t>(nc);
  a->real.assign(a->rows * a->cols, 0.0);
  if (flag == mxCOMPLEX) {
    a->complex = true;
    a->imag.assign(a->rows * a->cols, 0.0);
  }
  mxArray* raw = a.get();
  state.created.push_back(std::move(a));
  return raw;
}

mxArray* mxCreateDoubleScalar(double val) {
  mxArray* a = mxCreateDoubleMatrix(1, 1, mxREAL);
  a->real[0] = val;
  return a;
}

namespace {

mxArray* created_of_class(mx_class cls, mwSize nr, mwSize nc) {
  mxArray* a = mxCreateDoubleMatrix(0, 0, mxREAL);
  a->cls = cls;
  a->rows = static_cast<std::size_t>(nr);
  a->cols = static_cast<std::size_t>(nc);
  return a;
}

}  // namespace

mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n) {
  mxArray* a = created_of_class(mx_class::logical_, m, n);
  a->logicals.assign(a->rows * a->cols, 0);
  return a;
}

mxArray* mxCreateString(const char* str) {
  const std::string text = str;
  mxArray* a =
      created_of_class(mx_class::char_, text.empty() ? 0 : 1, static_cast<mwSize>(text.size()));
  a->text = text;
  return a;
}

mxArray* mxCreateStructMatrix(mwSize rows, mwSize cols, int num_keys, const char** keys) {
  if (rows != 1 || cols != 1) fault("mxCreateStructMatrix: only 1-by-1 structs stand in");
  mxArray* a = created_of_class(mx_class::struct_, rows, cols);
  for (int i = 0; i < num_keys; ++i) a->fields.emplace_back(keys[i], nullptr);
  return a;
}

// A container takes a value over from the call's created arrays.
static std::unique_ptr<mxArray> take(mxArray* val) {
  for (auto& c : state.created)
    if (c.get() == val) return std::unique_ptr<mxArray>(c.release());
  fault("a value not created in this call, or set twice, put into a struct or cell");
  return nullptr;
}

bool mxIsLogical(const mxArray* ptr) { return ptr->cls == mx_class::logical_; }

mwSize mxGetNumberOfDimensions(const mxArray* ptr) { return static_cast<mwSize>(ptr->ndims); }

const mwSize* mxGetDimensions(const mxArray* ptr) {
  // Arrays built with rows and cols alone get their dimensions here.
  auto* a = const_cast<mxArray*>(ptr);
  if (a->dims.size() != a->ndims) {
    a->dims.assign(a->ndims, 1);
    a->dims[0] = static_cast<mwSize>(a->rows);
    a->dims[1] = static_cast<mwSize>(a->cols);
  }
  return a->dims.data();
}

int mxSetDimensions(mxArray* ptr, const mwSize* dims, mwSize ndims) {
  std::size_t cols = 1;
  for (mwSize k = 1; k < ndims; ++k) cols *= static_cast<std::size_t>(dims[k]);
  if (static_cast<std::size_t>(dims[0]) * cols != ptr->rows * ptr->cols)
    fault("mxSetDimensions: a different element count");
  ptr->rows = static_cast<std::size_t>(dims[0]);
  ptr->cols = cols;
  ptr->ndims = static_cast<std::size_t>(ndims);
  ptr->dims.assign(dims, dims + ndims);
  return 0;
}

mxArray* mxCreateCellMatrix(mwSize m, mwSize n) {
  mxArray* a = created_of_class(mx_class::cell_, m, n);
  a->cells.resize(static_cast<std::size_t>(m * n));
  return a;
}

void mxSetCell(mxArray* ptr, mwIndex i, mxArray* value) {
  if (ptr->cls != mx_class::cell_ || i < 0 || static_cast<std::size_t>(i) >= ptr->cells.size()) {
    fault("mxSetCell outside a cell array");
    return;
  }
  ptr->cells[static_cast<std::size_t>(i)] = take(value);
}

mxLogical* mxGetLogicals(const mxArray* ptr) {
  if (ptr->cls != mx_class::logical_) fault("mxGetLogicals of an array that is not logical");
  return const_cast<mxLogical*>(ptr->logicals.data());
}

void mxSetField(mxArray* ptr, mwIndex index, const char* key, mxArray* val) {
  if (ptr->cls != mx_class::struct_ || index != 0) {
    fault("mxSetField on something other than a 1-by-1 struct");
    return;
  }
  for (auto& [name, value] : ptr->fields) {
    if (name != key) continue;
    value = take(val);
    return;
  }
  fault(std::string("mxSetField of a field the struct lacks: ") + key);
}

int mxGetString(const mxArray* ptr, char* buf, mwSize buflen) {
  // As Octave does for the arrays a call is given: the text and a 0 when
  // both fit, else nothing copied at all and 1 (also for other classes).
  if (ptr->cls != mx_class::char_ || buflen < 1 ||
      ptr->text.size() >= static_cast<std::size_t>(buflen))
    return 1;
  std::memcpy(buf, ptr->text.data(), ptr->text.size());
  buf[ptr->text.size()] = '\0';
  return 0;
}

char* mxArrayToString(const mxArray* ptr) {
  // The whole text and a 0 in a block from mxMalloc (the caller frees it);
  // null for other classes or when that allocation fails.
  if (ptr->cls != mx_class::char_) return nullptr;
  auto* s = static_cast<char*>(mxMalloc(ptr->text.size() + 1));
  if (s == nullptr) return nullptr;
  std::memcpy(s, ptr->text.data(), ptr->text.size());
  s[ptr->text.size()] = '\0';
  return s;
}

// betaincinv(y, a, b) of three real scalars, as the host's interpreter
// computes it; Boost.Math stands in for the host's own implementation.
static int call_betaincinv(mxArray* argout[], mxArray* argin[]) {
  double v[3];
  for (int k = 0; k < 3; ++k) {
    const mxArray* a = argin[k];
    if (a->cls != mx_class::double_ || a->complex || a->rows != 1 || a->cols != 1) return 1;
    v[k] = a->real[0];
  }
  double x = std::nan("");
  try {
    x = boost::math::ibeta_inv(v[1], v[2], v[0]);
  } catch (const std::exception&) {
    // Outside its domain the host answers NaN (or an error, which the module never provokes).
  }
  argout[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
  argout[0]->real[0] = x;
  return 0;
}

int mexCallMATLAB(int nargout, mxArray* argout[], int nargin, mxArray* argin[], const char* fname) {
  check_thread("mexCallMATLAB");
  if (std::strcmp(fname, "betaincinv") == 0 && nargout == 1 && nargin == 3)
    return call_betaincinv(argout, argin);
  // The only other call the module makes: char() of a string object.
  if (std::strcmp(fname, "char") != 0 || nargout != 1 || nargin != 1 ||
      argin[0]->cls != mx_class::string_)
    return 1;
  auto a = std::make_unique<mxArray>();
  a->cls = mx_class::char_;
  a->rows = argin[0]->text.empty() ? 0 : 1;
  a->cols = argin[0]->text.size();
  a->text = argin[0]->text;
  argout[0] = a.get();
  state.created.push_back(std::move(a));
  return 0;
}

void mexErrMsgIdAndTxt(const char* id, const char* s, ...) {
  check_thread("mexErrMsgIdAndTxt");
  va_list args;
  va_start(args, s);
  std::string text = format_text(s, args);
  va_end(args);
  throw call_error{id, std::move(text)};
}

void mexWarnMsgIdAndTxt(const char* id, const char* s, ...) {
  check_thread("mexWarnMsgIdAndTxt");
  va_list args;
  va_start(args, s);
  std::string text = format_text(s, args);
  va_end(args);
  if (state.out != nullptr) state.out->warnings.emplace_back(id, std::move(text));
}

int mexPrintf(const char* fmt, ...) {
  check_thread("mexPrintf");
  va_list args;
  va_start(args, fmt);
  const std::string text = format_text(fmt, args);
  va_end(args);
  if (state.out != nullptr) state.out->console += text;
  return static_cast<int>(text.size());
}

void* mxMalloc(size_t n) {
  if (!state.active) fault("mxMalloc outside a call");
  check_thread("mxMalloc");
  ++state.allocations;
  if (fail_at != 0 && state.allocations == fail_at) return nullptr;
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) return nullptr;
  state.blocks[p] = n;
  state.live_bytes += n;
  if (state.out != nullptr && state.live_bytes > state.out->peak_bytes)
    state.out->peak_bytes = state.live_bytes;
  return p;
}

// The MATLAB-language host's query, which the module looks up by name
// (weakly, so a host without it leaves it unset).
bool utIsInterruptPending() {
  check_thread("utIsInterruptPending");
  if (!state.active) return false;
  ++state.interrupt_checks;
  return interrupt_from != 0 && state.interrupt_checks >= interrupt_from;
}

void mxFree(void* ptr) {
  if (ptr == nullptr) return;
  check_thread("mxFree");
  const auto it = state.blocks.find(ptr);
  if (it == state.blocks.end()) {
    // Either freed twice or never handed out: record it, do not touch it.
    fault("mxFree of a pointer that is not a live block");
    return;
  }
  state.live_bytes -= it->second;
  state.blocks.erase(it);
  std::free(ptr);
}

}  // extern "C"

namespace standin {

mxArray* make_array(std::size_t rows, std::size_t cols, std::vector<double> values) {
  auto* a = new mxArray;
  a->rows = rows;
  a->cols = cols;
  if (values.empty()) values.assign(rows * cols, 0.0);
  a->real = std::move(values);
  return a;
}

mxArray* make_scalar(double v) { return make_array(1, 1, {v}); }
mxArray* make_row(const std::vector<double>& values) {
  return make_array(1, values.size(), values);
}
mxArray* make_column(const std::vector<double>& values) {
  return make_array(values.size(), 1, values);
}

mxArray* make_logical(bool v) {
  auto* a = new mxArray;
  a->cls = mx_class::logical_;
  a->rows = a->cols = 1;
  a->logicals.assign(1, v ? 1 : 0);
  return a;
}

mxArray* make_char(const std::string& text) {
  auto* a = new mxArray;
  a->cls = mx_class::char_;
  a->rows = text.empty() ? 0 : 1;
  a->cols = text.size();
  a->text = text;
  return a;
}

mxArray* make_string(const std::string& text) {
  auto* a = new mxArray;
  a->cls = mx_class::string_;
  a->rows = a->cols = 1;
  a->text = text;
  return a;
}

void fail_allocation(std::size_t n) { fail_at = n; }

void interrupt_at(std::size_t n) { interrupt_from = n; }

const mxArray* field(const mxArray* s, const std::string& name) {
  for (const auto& [key, value] : s->fields)
    if (key == name) return value.get();
  return nullptr;
}

namespace {

void begin_call(outcome& out) {
  state = call_state{};
  state.active = true;
  state.out = &out;
  state.caller = std::this_thread::get_id();
}

// End of call: reclaim every block, and every created array except the
// returned results.
void end_call(outcome& out, const mxArray* first, const mxArray* second) {
  out.allocations = state.allocations;
  out.interrupt_checks = state.interrupt_checks;
  out.blocks_left = state.blocks.size();
  for (auto& [p, size] : state.blocks) std::free(p);
  state.blocks.clear();
  for (auto& a : state.created) {
    if (!out.ok || a == nullptr) continue;
    if (first != nullptr && a.get() == first) {
      out.result = a.release();
    } else if (second != nullptr && a.get() == second) {
      out.second = a.release();
    }
  }
  state = call_state{};
}

}  // namespace

outcome call(int nlhs, const std::vector<const mxArray*>& inputs) {
  outcome out;
  begin_call(out);
  mxArray* slots[8] = {};
  try {
    mexFunction(nlhs, slots, static_cast<int>(inputs.size()),
                const_cast<const mxArray**>(inputs.data()));
    out.ok = true;
  } catch (const call_error& e) {
    out.error = e.message;
    out.error_id = e.id;
  }
  end_call(out, slots[0], slots[1]);
  return out;
}

outcome within_call(const std::function<void()>& body) {
  outcome out;
  begin_call(out);
  try {
    body();
    out.ok = true;
  } catch (const call_error& e) {
    out.error = e.message;
    out.error_id = e.id;
  }
  end_call(out, nullptr, nullptr);
  return out;
}

}  // namespace standin
