// What the gateway's readers share: the input positions, array shapes,
// the checks of one argument, and the record a call's arguments are read
// into.
#ifndef QUIBRA_GATEWAY_ARGUMENTS_H
#define QUIBRA_GATEWAY_ARGUMENTS_H

#include <cstdint>

#include "gateway/errors.h"
#include "gateway/options.h"
#include "host/host.h"

// Input positions; the nodes form takes every one.
enum { IN_X, IN_Y, IN_F, IN_ROBUST, IN_DEGREE, IN_NODES_X, IN_NODES_Y, IN_ALL };

// A dimension as a signed 32-bit count; -1 for one too large to be one.
std::int32_t dim32(std::uint64_t d);

struct shape {
  std::int32_t rows;
  std::int32_t cols;
};

// A "vector" here is any non-empty plain double array; whether its shape
// pairs with its partner is decided by the caller.
shape check_vector(const mxArray* a, const call_error& e);
bool is_vector(shape s);
double check_scalar(const mxArray* a, const call_error& e);
bool is_empty_double(const mxArray* a);

// A call's arguments, read and checked.
struct call_args {
  call_options options;  // options.request holds the whole request
  shape result;          // shaped like X, or a column per signal
  shape data;            // the data's ordinates (Y, or nodes_y)
  double f;
  bool f_given;  // a positional f other than the [] that 'Window' allows
  bool degree_given;
};

// The positional f, robust and degree, in order, into `a`. `f_optional`:
// the options name 'Window', which takes f's place, or 'Convention', whose
// rules have a default span of their own, so f may be given as [].
void read_scalars(int npos, const mxArray* const prhs[], bool f_optional, call_args& a);

// Whether f may be given as []: the options name 'Window' or 'Convention'.
bool f_may_be_empty(int nrhs, int npos, const mxArray* const prhs[]);

#endif
