// mexFunction through the stand-in host: argument checks in order, the
// result's shape and values, and the storage each call leaves behind.
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "smoother/model.h"
#include "unit_support.h"

namespace {

using standin::make_array;
using standin::make_column;
using standin::make_row;

const double nan_value = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

mxArray* complex_of(mxArray* a) {
  a->complex = true;
  a->imag.assign(a->real.size(), 1.0);
  return a;
}
mxArray* sparse_of(mxArray* a) {
  a->sparse = true;
  return a;
}
mxArray* class_of(mxArray* a, mx_class c) {
  a->cls = c;
  return a;
}

using run_result = call_result;
run_result run(const std::vector<mxArray*>& in) { return run_call(in); }

void expect_error(const std::vector<mxArray*>& in, const std::string& message) {
  const run_result r = run(in);
  EXPECT_FALSE(r.o.ok);
  EXPECT_EQ(r.o.error, message);
  EXPECT_EQ(r.o.blocks_left, 0u) << message;
}

// A successful call's bit patterns; the only blocks it leaves are the model's.
std::vector<std::uint64_t> smooth(const std::vector<mxArray*>& in, std::size_t model_blocks = 3) {
  const run_result r = run(in);
  EXPECT_TRUE(r.o.ok) << r.o.error;
  EXPECT_EQ(r.o.blocks_left, model_blocks);
  return bits(r.v);
}

const std::vector<double> xs = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
const std::vector<double> ys = {0.1, 0.9, 2.2, 2.8, 4.1, 15.0, 6.2, 6.9, 8.1, 9.2, 9.8, 11.1};
mxArray* X() { return make_column(xs); }
mxArray* Y() { return make_column(ys); }
mxArray* S(double v) { return standin::make_scalar(v); }

TEST(Gateway, RejectsInputCountsOtherThanTwoToFiveOrSeven) {
  const std::string message = "Wrong number of input arguments.";
  expect_error({}, message);
  expect_error({X()}, message);
  expect_error({X(), Y(), S(0.5), S(0), S(1), X()}, message);
  expect_error({X(), Y(), S(0.5), S(0), S(1), X(), Y(), S(1)}, message);
}

TEST(Gateway, ChecksXThenYThenTheirPairing) {
  const std::string bad_x = "X must be a noncomplex double vector!!!";
  const std::string bad_y = "Y must be a noncomplex double vector!!!";
  const std::string length = "X and Y must have the same length!!!";
  expect_error({make_array(0, 0), make_array(0, 0)}, bad_x);
  expect_error({make_array(0, 3), make_array(0, 3)}, bad_x);
  expect_error({complex_of(X()), Y()}, bad_x);
  expect_error({sparse_of(X()), Y()}, bad_x);
  for (mx_class c : {mx_class::single_, mx_class::int32_, mx_class::logical_, mx_class::char_})
    expect_error({class_of(X(), c), make_row({1, 2})}, bad_x);  // before the length check
  expect_error({X(), complex_of(Y())}, bad_y);
  expect_error({X(), sparse_of(Y())}, bad_y);
  expect_error({make_row(xs), make_array(0, 12)}, bad_y);
  expect_error({make_row({1, 2, 3}), make_column({1, 2, 3})}, length);
  expect_error({make_array(2, 3), make_array(2, 3)}, length);
  expect_error({make_column({1, 2, 3}), make_column({1, 2}), complex_of(S(0.5))}, length);
}

TEST(Gateway, ChecksTheScalarsInOrderAfterThePairing) {
  const char* const names[] = {"f", "robust", "degree"};
  for (int pos = 0; pos < 3; ++pos) {
    for (int kind = 0; kind < 5; ++kind) {
      std::vector<mxArray*> in = {X(), Y(), S(0.5), S(0), S(1)};
      delete in[2 + pos];
      in[2 + pos] = kind == 0   ? complex_of(S(1))
                    : kind == 1 ? sparse_of(S(1))
                    : kind == 2 ? make_row({1, 2})
                    : kind == 3 ? make_array(0, 0)
                                : class_of(S(1), mx_class::int32_);
      if (pos < 2) complex_of(in[4]);  // a later bad scalar must not win
      expect_error(in, std::string(names[pos]) + " must be a noncomplex scalar double.");
    }
  }
}

TEST(Gateway, DegreeIsTruncatedAndMustLieInZeroToHundred) {
  for (double d : {-1.0, -inf})
    expect_error({X(), Y(), S(0.5), S(0), S(d)}, "degree must not be negative.");
  for (double d : {101.0, 1e300, inf})
    expect_error({X(), Y(), S(0.5), S(0), S(d)}, "degree is too large.");
  expect_error({X(), Y(), S(0.5), S(0), S(101), make_array(0, 0), Y()}, "degree is too large.");
  const auto zero = smooth({X(), Y(), S(0.5), S(0), S(0)});
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(0), S(-0.5)}), zero);
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(0), S(nan_value)}), zero);
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(0), S(1.7)}), smooth({X(), Y(), S(0.5), S(0), S(1)}));
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(0), S(100)}).size(), xs.size());
}

TEST(Gateway, OneDegreeLimitForTheCheckTheFitsAndTheHelp) {
  EXPECT_EQ(MAX_DEGREE, MAX_NCOEF - 1);
  const double top = MAX_DEGREE;
  EXPECT_EQ(smooth({X(), Y(), S(1), S(0), S(top)}).size(), xs.size());
  expect_error({X(), Y(), S(1), S(0), S(top + 1)}, "degree is too large.");
  std::ifstream in(QUIBRA_HELP_FILE);
  const std::string help((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string limit = std::to_string(MAX_DEGREE);
  EXPECT_NE(help.find("must lie in 0.." + limit + "."), std::string::npos);
  EXPECT_NE(help.find("degree is too large.                        (above " + limit + ")"),
            std::string::npos);
}

TEST(Gateway, ChecksNodesAfterTheScalars) {
  const std::string bad_nx = "nodes_x must be a noncomplex double vector!!!";
  expect_error({X(), Y(), S(0.5), S(0), S(1), sparse_of(X()), Y()}, bad_nx);
  expect_error({X(), Y(), S(0.5), S(0), S(1), make_array(0, 4), Y()}, bad_nx);
  expect_error({X(), Y(), S(0.5), S(0), S(1), X(), complex_of(Y())},
               "nodes_y must be a noncomplex double vector!!!");
  expect_error({X(), Y(), S(0.5), S(0), S(1), X(), make_row(ys)},
               "nodes_x and nodes_y must have the same length!!!");
}

TEST(Gateway, ResultIsShapedLikeX) {
  const run_result row = run({make_row(xs), make_row(ys), S(0.5)});
  const run_result col = run({X(), Y(), S(0.5)});
  const run_result one = run({S(2.0), S(3.0)});
  EXPECT_TRUE(row.rows == 1 && row.cols == xs.size());
  EXPECT_TRUE(col.rows == xs.size() && col.cols == 1);
  EXPECT_EQ(bits(row.v), bits(col.v));
  EXPECT_TRUE(one.rows == 1 && one.cols == 1);
  EXPECT_EQ(one.v, std::vector<double>{FIT_FAILED});  // one point: a one-point window
}

TEST(Gateway, DefaultsAndSpansOfOneOrMoreGiveTheSameSmooth) {
  EXPECT_EQ(smooth({X(), Y()}), smooth({X(), Y(), S(0.2), S(0), S(2)}));
  const auto all = smooth({X(), Y(), S(1.0)});
  for (double f : {5.0, 1e300, inf}) EXPECT_EQ(smooth({X(), Y(), S(f)}), all) << f;
}

TEST(Gateway, RobustSwitchIsTruncatedTowardZero) {
  const auto plain = smooth({X(), Y(), S(0.5), S(0), S(1)});
  const auto robust = smooth({X(), Y(), S(0.5), S(1), S(1)}, 4);  // and the weights
  EXPECT_NE(robust, plain);                                        // the outlier at 5 is pruned
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(0.9), S(1)}), plain);
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(-1), S(1)}, 4), robust);
  // All-zero ordinates: robustness gives up silently, the model stays as built.
  const std::vector<double> zeros(xs.size(), 0.0);
  EXPECT_EQ(smooth({X(), make_column(zeros), S(0.5), S(1), S(1)}, 3), bits(zeros));
}

TEST(Gateway, NodesAreTheDataAndYIsOnlyChecked) {
  // X takes node abscissae out of order and repeated.
  const auto at_nodes = smooth({X(), Y(), S(0.5), S(0), S(1)});
  const std::vector<double> q = {7, 2, 7, 11};
  const auto a = smooth({make_row(q), make_row({0, 0, 0, 0}), S(0.5), S(0), S(1), X(), Y()});
  const auto b = smooth({make_row(q), make_row({5, -1, 3, 8}), S(0.5), S(0), S(1), make_row(xs),
                         make_row(ys)});
  EXPECT_EQ(a, b);
  for (std::size_t i = 0; i < q.size(); ++i) EXPECT_EQ(a.at(i), at_nodes[static_cast<int>(q[i])]);
  // Fewer nodes than X: Y is still not read.
  const std::vector<double> nx = {0, 2, 4, 6, 8, 10}, ny = {0, 2, 4, 5, 8, 9};
  EXPECT_EQ(smooth({X(), Y(), S(0.5), S(0), S(1), make_column(nx), make_column(ny)}),
            smooth({X(), X(), S(0.5), S(0), S(1), make_column(nx), make_column(ny)}));
  expect_error({make_row(q), make_row({0, 0, 0}), S(0.5), S(0), S(1), X(), Y()},
               "X and Y must have the same length!!!");
}

TEST(Gateway, RepeatedAbscissaeGetIdenticalResults) {
  const std::vector<double> x = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8};
  const auto v = smooth({make_column(x), Y(), S(0.5), S(0), S(1)});
  for (std::size_t i = 0; i < x.size(); ++i)
    for (std::size_t j = 0; j < i; ++j) EXPECT_TRUE(x[i] != x[j] || v[i] == v[j]) << i << " " << j;
}

TEST(Gateway, RobustCallsWithNaNDataTerminate) {
  auto y = ys, x = xs;
  y[3] = y[8] = x[2] = x[9] = nan_value;
  EXPECT_TRUE(run({X(), make_column(y), S(0.5), S(1), S(1)}).o.ok);
  EXPECT_TRUE(run({make_column(x), Y(), S(0.5), S(1), S(2)}).o.ok);
}

}  // namespace
