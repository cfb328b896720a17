// The stand-in host: enough of a MEX host to load nothing and still run
// mexFunction from C++ tests. Arrays are plain records; the error exit
// throws; the console is a string; storage is call-scoped and audited.
#ifndef QUIBRA_STANDIN_STANDIN_H
#define QUIBRA_STANDIN_STANDIN_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mex.h"

// string_ is the MATLAB-language host's string object class.
enum class mx_class { double_, single_, int32_, logical_, char_, string_, struct_, cell_ };

// A host array. For a sparse array `real`/`imag` hold only the stored
// nonzeros, as a real host's data pointer would. A char array's characters
// are `text` (column-major), and so is a string object's one string. A
// logical array keeps its elements in `logicals`; a (1-by-1) struct its
// fields in order, each owning its value (null until set); a cell array its
// cells, likewise. `ndims` above 2 stands for an array whose trailing
// dimensions `cols` counts together, as the host's column count does.
struct mxArray_tag {
  mx_class cls = mx_class::double_;
  bool complex = false;
  bool sparse = false;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::vector<double> real;
  std::vector<double> imag;
  std::vector<mxLogical> logicals;
  std::string text;
  std::vector<std::pair<std::string, std::unique_ptr<mxArray_tag>>> fields;
  std::vector<std::unique_ptr<mxArray_tag>> cells;
  std::size_t ndims = 2;
  std::vector<mwSize> dims;  // as mxGetDimensions gives them, kept up to date by it
};

namespace standin {

// A full real double array with `values` in column-major order; `values`
// may be shorter than rows * cols only for deliberately broken tests.
mxArray* make_array(std::size_t rows, std::size_t cols, std::vector<double> values = {});
mxArray* make_scalar(double v);
mxArray* make_row(const std::vector<double>& values);
mxArray* make_column(const std::vector<double>& values);
// A 1-by-n char row (0-by-0 when `text` is empty), and a string object.
mxArray* make_char(const std::string& text);
mxArray* make_string(const std::string& text);
// A 1-by-1 logical.
mxArray* make_logical(bool v);

// What one call left behind.
struct outcome {
  bool ok = false;                                            // returned normally
  std::string error;                                          // the error exit's message, when !ok
  std::string error_id;                                       // and its identifier
  std::vector<std::pair<std::string, std::string>> warnings;  // identifier, text
  mxArray* result = nullptr;         // first result slot (owned by the test; null on error)
  mxArray* second = nullptr;         // second result slot, likewise; null when not filled
  std::string console;               // everything written with mexPrintf
  std::size_t blocks_left = 0;       // mxMalloc blocks still live at the end (then reclaimed)
  std::size_t allocations = 0;       // mxMalloc calls made
  std::size_t peak_bytes = 0;        // largest total of live mxMalloc bytes
  std::size_t interrupt_checks = 0;  // times the module asked whether the user interrupted
  std::vector<std::string> faults;   // double frees, foreign pointers, use outside a call
};

// The value of a struct's field, or null when it has no such field.
const mxArray* field(const mxArray* s, const std::string& name);

// Calls mexFunction as a host would, with call-scoped storage.
outcome call(int nlhs, const std::vector<const mxArray*>& inputs);

// Runs `body` as the body of a call would run: with call-scoped, audited
// storage and a console, so that routines using host_alloc can be tested
// without going through mexFunction. `result` is always null.
outcome within_call(const std::function<void()>& body);

// Makes the mxMalloc call numbered `n` (1-based, counted from the next
// call's start) return null; 0 turns this off.
void fail_allocation(std::size_t n);

// Simulates Ctrl-C: from the `n`-th time a call asks whether the user
// interrupted (1-based, counted from each call's start) to the call's end,
// the answer is yes; the request ends with the call, as the host handles
// it on its error exit. 0 turns this off.
void interrupt_at(std::size_t n);

}  // namespace standin

#endif
