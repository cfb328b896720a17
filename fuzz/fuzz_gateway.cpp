// mexFunction through the stand-in host with arbitrary arguments: 0 to 9
// of them, of any class, complexity, sparsity and shape, with hostile
// values, for 0 to 3 results. After each call: the result is a real double
// array of the shape the call demands (and a second result, when asked
// for, an info struct of the shapes it promises), or the call ended with
// the one message an independent reading of the arguments expects; storage
// was released exactly once and nothing but the model outlived the call;
// every diagnostic is whole lines.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

// Bounds that keep one execution in the millisecond range. Every array has
// at most MAX_ELEMENTS elements and no side longer than MAX_SIDE; a degree
// the module accepts (0 to 100) is reduced modulo MAX_DEGREE + 1, so local
// fits have at most MAX_DEGREE + 1 coefficients. Values of f, robust and
// degree are otherwise any double.
constexpr std::size_t MAX_ELEMENTS = 48;
constexpr std::size_t MAX_SIDE = 48;
constexpr double MAX_DEGREE = 12;
constexpr std::size_t MAX_ARGS = 9;

std::unique_ptr<mxArray> decode_array(fuzz::reader& in) {
  auto a = std::make_unique<mxArray>();
  const std::uint8_t h = in.byte();
  // Mostly full real doubles, so that valid calls are common.
  static constexpr mx_class classes[8] = {mx_class::double_, mx_class::double_, mx_class::double_,
                                          mx_class::double_, mx_class::single_, mx_class::int32_,
                                          mx_class::logical_, mx_class::char_};
  a->cls = classes[h % 8];
  a->complex = ((h >> 3) & 3) == 0;
  a->sparse = ((h >> 5) & 3) == 0;
  switch (in.byte() % 4) {
    case 0: a->rows = a->cols = 1; break;
    case 1: a->rows = 1; a->cols = in.upto(MAX_SIDE); break;
    case 2: a->rows = in.upto(MAX_SIDE); a->cols = 1; break;
    default:
      a->rows = in.upto(7);
      a->cols = in.upto(7);
      break;
  }
  while (a->rows * a->cols > MAX_ELEMENTS) a->rows > a->cols ? --a->rows : --a->cols;
  const std::size_t n = a->rows * a->cols;
  std::vector<double> re = in.values(n);
  std::vector<double> im = a->complex ? in.values(n) : std::vector<double>{};
  if (a->sparse) {
    // A sparse array stores only its nonzeros.
    for (std::size_t i = 0; i < n; ++i) {
      const bool nonzero = re[i] != 0.0 || (a->complex && im[i] != 0.0);
      if (nonzero) {
        a->real.push_back(re[i]);
        if (a->complex) a->imag.push_back(im[i]);
      }
    }
  } else {
    a->real = std::move(re);
    a->imag = std::move(im);
  }
  return a;
}

bool plain_double(const mxArray& a) {
  return a.cls == mx_class::double_ && !a.complex && !a.sparse;
}
bool vector_ok(const mxArray& a) { return plain_double(a) && a.rows >= 1 && a.cols >= 1; }
bool scalar_ok(const mxArray& a) { return plain_double(a) && a.rows == 1 && a.cols == 1; }

// Length of a row/row or column/column pair, or -1.
long pair(const mxArray& a, const mxArray& b) {
  if (a.rows == 1 && b.rows == 1 && a.cols == b.cols) return static_cast<long>(a.cols);
  if (a.cols == 1 && b.cols == 1 && a.rows == b.rows) return static_cast<long>(a.rows);
  return -1;
}

// The message a call with these arguments must end with, or "" when it
// must succeed: the checks in their documented order.
std::string expected_message(const std::vector<std::unique_ptr<mxArray>>& in, int nlhs) {
  const std::size_t n = in.size();
  if (n != 2 && n != 3 && n != 4 && n != 5 && n != 7) return "Wrong number of input arguments.";
  if (nlhs > 2) return "Too many output arguments.";
  if (!vector_ok(*in[0])) return "X must be a noncomplex double vector!!!";
  if (!vector_ok(*in[1])) return "Y must be a noncomplex double vector!!!";
  if (pair(*in[0], *in[1]) < 0) return "X and Y must have the same length!!!";
  if (n >= 3 && !scalar_ok(*in[2])) return "f must be a noncomplex scalar double.";
  if (n >= 4 && !scalar_ok(*in[3])) return "robust must be a noncomplex scalar double.";
  if (n >= 5) {
    if (!scalar_ok(*in[4])) return "degree must be a noncomplex scalar double.";
    const double d = in[4]->real[0];
    if (d <= -1.0) return "degree must not be negative.";  // truncates below zero
    if (d >= 101.0) return "degree is too large.";        // NaN truncates to 0
  }
  if (n == 7) {
    if (!vector_ok(*in[5])) return "nodes_x must be a noncomplex double vector!!!";
    if (!vector_ok(*in[6])) return "nodes_y must be a noncomplex double vector!!!";
    if (pair(*in[5], *in[6]) < 0) return "nodes_x and nodes_y must have the same length!!!";
  }
  return "";
}

bool robust_requested(const std::vector<std::unique_ptr<mxArray>>& in) {
  if (in.size() < 4) return false;
  const double r = in[3]->real[0];
  return !std::isnan(r) && std::trunc(r) != 0.0;
}

// The info struct of a successful two-result call.
void check_info(const mxArray& info, const mxArray& result,
                const std::vector<std::unique_ptr<mxArray>>& args, bool robust) {
  fuzz::require(info.cls == mx_class::struct_ && info.fields.size() == 7, "info is not the struct");
  const mxArray* outcome = standin::field(&info, "outcome");
  const mxArray* weights = standin::field(&info, "weights");
  const mxArray* failed = standin::field(&info, "failed");
  fuzz::require(outcome != nullptr && weights != nullptr && failed != nullptr, "info lacks a field");
  const std::string names = robust ? " converged exact abandoned exhausted " : " plain ";
  fuzz::require(outcome->cls == mx_class::char_ && !outcome->text.empty() &&
                    names.find(" " + outcome->text + " ") != std::string::npos,
                "info.outcome", outcome->text);
  // Shaped like the data's ordinates, every weight in [0, 1].
  const mxArray& data_y = args.size() == 7 ? *args[6] : *args[1];
  fuzz::require(plain_double(*weights) && weights->rows == data_y.rows &&
                    weights->cols == data_y.cols && weights->real.size() == data_y.real.size(),
                "info.weights not shaped like the data");
  for (double w : weights->real) fuzz::require(w >= 0.0 && w <= 1.0, "info.weights outside [0, 1]");
  fuzz::require(failed->cls == mx_class::logical_ && failed->rows == result.rows &&
                    failed->cols == result.cols && failed->logicals.size() == result.real.size(),
                "info.failed not shaped like the result");
  for (std::size_t i = 0; i < failed->logicals.size(); ++i)
    fuzz::require(failed->logicals[i] == 0 || result.real[i] == 1.7976931348623157e308,
                  "info.failed where the fit stands");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const std::uint8_t head = in.byte();
  const int nlhs = (head >> 4) & 3;
  const std::size_t nargs = head % (MAX_ARGS + 1);
  std::vector<std::unique_ptr<mxArray>> args;
  for (std::size_t i = 0; i < nargs; ++i) args.push_back(decode_array(in));
  // The degree bound: only accepted degrees are reduced.
  if (nargs >= 5 && scalar_ok(*args[4])) {
    double& d = args[4]->real[0];
    if (d > MAX_DEGREE && d < 101.0) d = std::fmod(d, MAX_DEGREE + 1);
  }

  const std::string expected = expected_message(args, nlhs);
  std::vector<const mxArray*> inputs;
  for (const auto& a : args) inputs.push_back(a.get());

  fuzz::stderr_capture capture;
  const standin::outcome o = standin::call(nlhs, inputs);
  const std::string err = capture.finish();
  const std::unique_ptr<mxArray> result(o.result);
  const std::unique_ptr<mxArray> info(o.second);

  fuzz::require_clean_storage(o);
  fuzz::require_diagnostics(err);
  fuzz::require(o.console.empty(), "console output from a call", o.console);

  if (!expected.empty()) {
    fuzz::require(!o.ok && o.error == expected, "wrong outcome",
                  "expected \"" + expected + "\", got " + (o.ok ? "success" : "\"" + o.error + "\""));
    // Every argument error comes before the first allocation.
    fuzz::require(o.allocations == 0, "allocation before an argument error");
    return 0;
  }
  fuzz::require(o.ok, "valid call failed", o.error);
  const mxArray& x = *args[0];
  const std::size_t len = x.rows * x.cols;
  fuzz::require(result != nullptr, "no result");
  fuzz::require(plain_double(*result), "result is not a real full double array");
  fuzz::require(x.rows == 1 ? (result->rows == 1 && result->cols == len)
                            : (result->rows == len && result->cols == 1),
                "result not shaped like X");
  fuzz::require(result->real.size() == len, "result data size");
  // What outlives the call by design: the model's record, x and y, and
  // after a robust call that succeeded its weights.
  const bool robust = robust_requested(args);
  fuzz::require(o.blocks_left == 3 || (robust && o.blocks_left == 4), "blocks left after the call",
                std::to_string(o.blocks_left));
  fuzz::require((info != nullptr) == (nlhs == 2), "second result filled unless asked for");
  if (info != nullptr) check_info(*info, *result, args, robust);
  // Each element is evaluated on its own: equal abscissae, equal results.
  for (std::size_t i = 0; i < len; ++i) {
    for (std::size_t j = i + 1; j < len; ++j) {
      if (std::memcmp(&x.real[i], &x.real[j], sizeof(double)) == 0) {
        fuzz::require(std::memcmp(&result->real[i], &result->real[j], sizeof(double)) == 0,
                      "equal abscissae gave different results");
      }
    }
  }
  return 0;
}
