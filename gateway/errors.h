// Every error a call can end with: its identifier and its text, in the
// order the checks run. The help text quotes each of them.
#ifndef QUIBRA_GATEWAY_ERRORS_H
#define QUIBRA_GATEWAY_ERRORS_H

#include <cstdio>

#include "host/host.h"

struct call_error {
  const char* id;
  const char* text;  // a printf format where the message names a value
};

namespace errors {

inline constexpr call_error nargin{"quibra:nargin", "Wrong number of input arguments."};
inline constexpr call_error nargout{"quibra:nargout", "Too many output arguments."};
inline constexpr call_error x{"quibra:X", "X must be a noncomplex double vector!!!"};
inline constexpr call_error y{"quibra:Y", "Y must be a noncomplex double vector!!!"};
inline constexpr call_error y_dims{"quibra:YDims", "Y must not have more than two dimensions."};
inline constexpr call_error xy_length{"quibra:XYLength", "X and Y must have the same length!!!"};
inline constexpr call_error y_rows{"quibra:YRows", "Y must have as many rows as X has elements."};
inline constexpr call_error f{"quibra:f", "f must be a noncomplex scalar double."};
inline constexpr call_error f_nan{"quibra:fNaN", "f must not be NaN."};
inline constexpr call_error robust{"quibra:robust", "robust must be a noncomplex scalar double."};
inline constexpr call_error degree{"quibra:degree", "degree must be a noncomplex scalar double."};
inline constexpr call_error degree_negative{"quibra:degreeNegative",
                                            "degree must not be negative."};
inline constexpr call_error degree_too_large{"quibra:degreeTooLarge", "degree is too large."};
inline constexpr call_error nodes_x{"quibra:nodes_x",
                                    "nodes_x must be a noncomplex double vector!!!"};
inline constexpr call_error nodes_y{"quibra:nodes_y",
                                    "nodes_y must be a noncomplex double vector!!!"};
inline constexpr call_error nodes_y_dims{"quibra:nodes_yDims",
                                         "nodes_y must not have more than two dimensions."};
inline constexpr call_error nodes_length{"quibra:nodesLength",
                                         "nodes_x and nodes_y must have the same length!!!"};
inline constexpr call_error nodes_y_rows{"quibra:nodes_yRows",
                                         "nodes_y must have as many rows as nodes_x has elements."};

// Options, after every positional argument.
inline constexpr call_error option_pairs{"quibra:optionPairs",
                                         "Options must come in name-value pairs."};
inline constexpr call_error option_name{"quibra:optionName",
                                        "Option names must be char row vectors."};
inline constexpr call_error option_unknown{"quibra:optionUnknown", "Unknown option '%s'."};
inline constexpr call_error option_repeated{"quibra:optionRepeated", "Option '%s' is given twice."};
inline constexpr call_error delta{"quibra:Delta",
                                  "Delta must be a finite noncomplex scalar double >= 0."};
inline constexpr call_error max_passes{"quibra:MaxPasses",
                                       "MaxPasses must be an integer from 1 to %d."};
inline constexpr call_error weights{
    "quibra:Weights", "Weights must be a noncomplex double vector as long as the data."};
inline constexpr call_error weight_values{"quibra:WeightValues",
                                          "Weights must be finite and >= 0."};
inline constexpr call_error missing{"quibra:Missing", "Missing must be 'propagate' or 'omit'."};
inline constexpr call_error convention{"quibra:Convention",
                                       "Convention must be 'native', 'lowess' or 'loess'."};
inline constexpr call_error lowess_fast{
    "quibra:lowessFast",
    "'Method' 'fast' cannot follow R's lowess, whose weights are cut at 0.001 and 0.999 of "
    "the bandwidth."};
inline constexpr call_error lowess_other{"quibra:lowessOther",
                                         "R's lowess has no counterpart of %s."};
inline constexpr call_error lowess_degree{"quibra:lowessDegree",
                                          "R's lowess fits local lines: degree must be 1."};
inline constexpr call_error loess_fast{
    "quibra:loessFast",
    "'Method' 'fast' cannot follow R's loess, which solves each local fit through its singular "
    "values, not from sums of moments."};
inline constexpr call_error loess_other{"quibra:loessOther", "R's loess has no counterpart of %s."};
inline constexpr call_error loess_degree{"quibra:loessDegree",
                                         "R's loess fits local polynomials of degree 0, 1 or 2."};
inline constexpr call_error loess_span{
    "quibra:loessSpan",
    "R's loess needs windows of at least degree + 1 = %d points; floor(f n) is %d here."};
inline constexpr call_error failed_value{"quibra:FailedValue",
                                         "FailedValue must be a noncomplex scalar double."};
inline constexpr call_error diagnostics{"quibra:Diagnostics",
                                        "Diagnostics must be 'stderr', 'warning' or 'off'."};
inline constexpr call_error threads{"quibra:Threads", "Threads must be an integer from 1 to %d."};
inline constexpr call_error intervals{"quibra:Intervals",
                                      "Intervals must be 'none', 'confidence' or 'prediction'."};
inline constexpr call_error level{"quibra:Level",
                                  "Level must be a noncomplex scalar double above 0 and below 1."};
inline constexpr call_error span{
    "quibra:Span", "Span must be a noncomplex scalar double (not NaN), 'aicc' or 'gcv'."};
inline constexpr call_error span_range{
    "quibra:SpanRange",
    "SpanRange must be a noncomplex double pair [lo hi] with 0 < lo <= hi <= 1."};
inline constexpr call_error fallback{"quibra:Fallback", "Fallback must be 'none' or 'lower'."};
inline constexpr call_error method{"quibra:Method", "Method must be 'direct' or 'fast'."};
inline constexpr call_error derivative{
    "quibra:Derivative",
    "Derivative must be an integer from 0 to degree, %d, or a vector of distinct ones."};
inline constexpr call_error derivative_prediction{
    "quibra:DerivativePrediction",
    "Intervals 'prediction' has no meaning for a derivative: use 'confidence'."};
inline constexpr call_error window{"quibra:Window", "Window must be an integer from %d to %d."};
inline constexpr call_error window_span{
    "quibra:WindowSpan", "Window replaces the span: give neither f nor 'Span' with it."};
inline constexpr call_error normalize{"quibra:Normalize", "Normalize must be true or false."};

// A surface: X a matrix of a row per point and a column per predictor.
inline constexpr call_error surface_columns{
    "quibra:XColumns", "A matrix X takes 2 to 4 predictors, a column each; X has %d columns."};
inline constexpr call_error surface_rows{
    "quibra:XYRows", "Y must have a row per row of X (or be a vector as long as X has rows)."};
inline constexpr call_error surface_nodes_y{"quibra:surfaceY",
                                            "In the nodes form of a surface, Y must be []."};
inline constexpr call_error surface_queries{
    "quibra:XqColumns", "X must have a column per predictor of nodes_x: %d columns."};
inline constexpr call_error surface_degree{"quibra:surfaceDegree",
                                           "A surface fits local polynomials of degree 0, 1 or 2."};
inline constexpr call_error surface_option{"quibra:surfaceOption",
                                           "%s has no meaning for a surface."};
inline constexpr call_error surface_span{
    "quibra:surfaceSpan",
    "A surface needs windows of at least %d points, its polynomial's terms; it has %d here."};
inline constexpr call_error no_data{"quibra:noData",
                                    "No data point is left: every one is missing or has weight 0."};

}  // namespace errors

// Ends the call with `e`, its text formatted with `values` when it names any.
template <typename... Values>
[[noreturn]] void fail(const call_error& e, Values... values) {
  if constexpr (sizeof...(Values) == 0) {
    host_error(e.id, e.text);
  } else {
    char text[256];
    std::snprintf(text, sizeof text, e.text, values...);
    host_error(e.id, text);
  }
}

#endif
