// mexFunction through the stand-in host: argument checks in order, the
// result's shape and values, and the storage each call leaves behind.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
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

// An argument's copy (arguments hold no cells or fields).
mxArray* copy_of(const mxArray& a) {
  auto* c = new mxArray;
  c->cls = a.cls;
  c->complex = a.complex;
  c->sparse = a.sparse;
  c->rows = a.rows;
  c->cols = a.cols;
  c->real = a.real;
  c->imag = a.imag;
  c->logicals = a.logicals;
  c->text = a.text;
  c->ndims = a.ndims;
  return c;
}

using run_result = call_result;
run_result run(const std::vector<mxArray*>& in, int nlhs = 1) { return run_call(in, nlhs); }

void expect_error(const std::vector<mxArray*>& in, const std::string& message,
                  const std::string& id = {}) {
  const run_result r = run(in);
  EXPECT_FALSE(r.o.ok);
  EXPECT_EQ(r.o.error, message);
  if (!id.empty()) {
    EXPECT_EQ(r.o.error_id, id) << message;
  }
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
  // A matrix X is a surface's points, a row each.
  expect_error({make_array(2, 3), make_array(3, 2)},
               "Y must have a row per row of X (or be a vector as long as X has rows).");
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
  EXPECT_NE(robust, plain);                                       // the outlier at 5 is pruned
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
  const auto b = smooth(
      {make_row(q), make_row({5, -1, 3, 8}), S(0.5), S(0), S(1), make_row(xs), make_row(ys)});
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

// The second result's fields, read through the stand-in host.
const mxArray& field_of(const run_result& r, const char* name) {
  static const mxArray missing;
  const mxArray* f = r.info != nullptr ? standin::field(r.info.get(), name) : nullptr;
  EXPECT_NE(f, nullptr) << name;
  return f != nullptr ? *f : missing;
}
std::string outcome_of(const run_result& r) { return field_of(r, "outcome").text; }
double number_of(const run_result& r, const char* name) {
  const mxArray& f = field_of(r, name);
  EXPECT_TRUE(f.cls == mx_class::double_ && f.rows == 1 && f.cols == 1) << name;
  return f.real.empty() ? nan_value : f.real[0];
}
std::vector<mxLogical> flags_of(const run_result& r, const char* name) {
  const mxArray& f = field_of(r, name);
  EXPECT_EQ(f.cls, mx_class::logical_) << name;
  return f.logicals;
}

// An infinite ordinate makes infinite every fit whose window weighs it, or
// NaN; that is the data's doing, not rounding's: no instability line and
// no mark, at every width and for both methods, nor for queries at +-Inf.
TEST(Gateway, InfiniteDataAreNotUnstable) {
  std::vector<double> x, y;
  for (int i = 1; i <= 28; ++i) x.push_back(i);
  y = x;
  y[1] = std::numeric_limits<double>::infinity();
  std::vector<double> q = x;
  q[0] = y[1];
  q[5] = -y[1];
  for (const char* lanes : {"2", "4", "8"}) {
    const scoped_env width("QUIBRA_LANES", lanes);
    for (const char* method : {"direct", "fast"}) {
      for (const double degree : {0.0, 1.0, 2.0, 3.0}) {
        const run_result r =
            run({make_column(q), make_array(0, 0), S(0.66), S(0), S(degree), make_column(x),
                 make_column(y), standin::make_char("Method"), standin::make_char(method)},
                2);
        const std::string where = std::string(lanes) + " lanes, " + method;
        EXPECT_EQ(r.err.find("Unstable"), std::string::npos) << where << ", degree " << degree;
        const std::vector<mxLogical> marked = flags_of(r, "unstable");
        EXPECT_EQ(std::count(marked.begin(), marked.end(), 1), 0) << where;
        EXPECT_FALSE(std::isfinite(r.v.at(1))) << where;
        EXPECT_TRUE(std::isnan(r.v.at(0)) && std::isnan(r.v.at(5))) << where;
      }
    }
  }
}

// R's lowess on data it never sees in R (which refuses NaN and tied or
// single abscissae only by its rules): ties at one abscissa, one point,
// NaN and infinite ordinates, spans of any size, queries outside the data.
TEST(Convention, LowessTakesAnyDataWithoutFault) {
  const auto lowess = [](const std::vector<double>& q, const std::vector<double>& x,
                         const std::vector<double>& y, double f, double robust) {
    const run_result r =
        run({make_column(q), make_array(0, 0), S(f), S(robust), S(1), make_column(x),
             make_column(y), standin::make_char("Convention"), standin::make_char("lowess")});
    EXPECT_TRUE(r.o.ok) << r.o.error;
    return r.v;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> q = {-inf, -5, 0, 2, 2.5, 3, 7, inf, nan_value};
  // All at one abscissa: every window has bandwidth 0, and the fit is
  // the weighted mean there.
  const std::vector<double> tied = lowess(q, {2, 2, 2, 2}, {1, 2, 3, 6}, 0.5, 0);
  EXPECT_EQ(tied.at(3), 3.0);
  EXPECT_TRUE(std::isnan(tied.at(0)) && std::isnan(tied.at(7)) && std::isnan(tied.at(8)));
  for (const double f : {-1.0, 0.0, 0.1, 1.0, 1e300, inf}) {
    for (const double bad : {nan_value, inf}) {
      std::vector<double> x, y;
      for (int i = 0; i < 30; ++i) {
        x.push_back(i % 7);
        y.push_back(i == 11 ? bad : std::sin(i));
      }
      EXPECT_EQ(lowess(q, x, y, f, 1).size(), q.size()) << f;
    }
  }
  // One point: every query takes its ordinate.
  const std::vector<double> one = lowess(q, {4}, {9}, 0.5, 1);
  EXPECT_EQ(one.at(1), 9.0);
  EXPECT_EQ(one.at(6), 9.0);
}

// A two-result call: its first result must be the one-result call's, with
// the same diagnostics and the same storage left behind.
run_result with_info(const std::vector<mxArray*>& in, std::size_t model_blocks) {
  std::vector<mxArray*> copy;
  for (const mxArray* a : in) copy.push_back(copy_of(*a));
  const run_result one = run(copy);
  run_result two = run(in, 2);
  EXPECT_TRUE(two.o.ok) << two.o.error;
  EXPECT_EQ(bits(two.v), bits(one.v));
  EXPECT_TRUE(two.rows == one.rows && two.cols == one.cols);
  EXPECT_EQ(two.err, one.err);
  EXPECT_EQ(two.o.blocks_left, model_blocks);
  EXPECT_EQ(one.o.blocks_left, model_blocks);
  EXPECT_EQ(one.info, nullptr);
  EXPECT_NE(two.info, nullptr);
  return two;
}

TEST(Info, ZeroOrOneResultFillsOnlyTheFirstSlotAndThreeAreAnError) {
  for (int nlhs : {0, 1}) {
    const run_result r = run({X(), Y(), S(0.5), S(1), S(1)}, nlhs);
    EXPECT_TRUE(r.o.ok && r.v.size() == xs.size()) << nlhs;
    EXPECT_EQ(r.info, nullptr);
  }
  const run_result r = run({X(), Y(), S(0.5), S(1), S(1)}, 3);
  EXPECT_EQ(r.o.error, "Too many output arguments.");
  EXPECT_EQ(r.o.allocations, 0u);
  // The input count is checked first.
  EXPECT_EQ(run({X()}, 3).o.error, "Wrong number of input arguments.");
}

TEST(Info, PlainCallsReportUnitWeightsTheirFailedFitsAndNoScale) {
  // Local lines over windows of 4: near the six points at x = 3 a window
  // weights only one abscissa, and those fits fail.
  const std::vector<double> x = {0, 1, 2, 3, 3, 3, 3, 3, 3, 4, 5, 6};
  std::vector<double> y;
  for (double v : x) y.push_back(v * v);
  const std::vector<mxLogical> want = {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
  for (bool row : {false, true}) {
    auto vec = [&](const std::vector<double>& v) { return row ? make_row(v) : make_column(v); };
    const run_result r = with_info({vec(x), vec(y), S(0.34), S(0), S(1)}, 3);
    ASSERT_NE(r.info, nullptr);
    EXPECT_EQ(r.info->cls, mx_class::struct_);
    std::vector<std::string> names;
    for (const auto& f : r.info->fields) names.push_back(f.first);
    EXPECT_EQ(names, (std::vector<std::string>{"outcome", "passes", "converged", "weights",
                                               "failed", "unstable", "window", "scale"}));
    EXPECT_EQ(outcome_of(r), "plain");
    EXPECT_EQ(number_of(r, "passes"), 0.0);
    EXPECT_EQ(flags_of(r, "converged"), std::vector<mxLogical>{1});
    const mxArray& w = field_of(r, "weights");
    EXPECT_TRUE(w.rows == (row ? 1u : 12u) && w.cols == (row ? 12u : 1u));
    EXPECT_EQ(w.real, std::vector<double>(12, 1.0));
    const mxArray& failed = field_of(r, "failed");
    EXPECT_TRUE(failed.rows == r.rows && failed.cols == r.cols);
    EXPECT_EQ(failed.logicals, want);
    for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(r.v[i] == FIT_FAILED, want[i] != 0) << i;
    EXPECT_EQ(number_of(r, "window"), 4.0);
    EXPECT_TRUE(std::isnan(number_of(r, "scale")));
  }
}

TEST(Info, RobustWeightsFollowTheDataOrder) {
  // The same points in another order: each weight travels with its point.
  const std::vector<int> perm = {7, 2, 11, 5, 0, 9, 3, 10, 1, 8, 4, 6};
  std::vector<double> px, py;
  for (int k : perm) {
    px.push_back(xs[k]);
    py.push_back(ys[k]);
  }
  const run_result sorted = with_info({X(), Y(), S(0.5), S(1), S(1)}, 4);
  const run_result shuffled = with_info({make_column(px), make_column(py), S(0.5), S(1), S(1)}, 4);
  const std::vector<double>& w = field_of(sorted, "weights").real;
  const std::vector<double>& pw = field_of(shuffled, "weights").real;
  ASSERT_EQ(pw.size(), perm.size());
  for (std::size_t i = 0; i < perm.size(); ++i) EXPECT_EQ(bits(pw[i]), bits(w[perm[i]])) << i;
  EXPECT_EQ(w[5], 0.0);  // the outlier at x = 5
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (i == 5) continue;
    EXPECT_TRUE(w[i] > 0.0 && w[i] <= 1.0) << i;
  }
  EXPECT_EQ(outcome_of(sorted), "converged");
  EXPECT_EQ(flags_of(sorted, "converged"), std::vector<mxLogical>{1});
  EXPECT_GT(number_of(sorted, "passes"), 1.0);
  EXPECT_GT(number_of(sorted, "scale"), 0.0);
  EXPECT_EQ(number_of(sorted, "window"), window_size(11, 0.5, 1));  // the outlier left
}

TEST(Info, NodesFormWeighsTheNodesAndFlagsTheQueries) {
  const std::vector<double> nx = {0, 2, 4, 6, 8, 10, 1, 3, 5}, ny = {0, 2, 4, 5, 8, 9, 1, 30, 5};
  const run_result r = with_info({make_row({7, 2, 7, 11}), make_row({0, 0, 0, 0}), S(0.6), S(1),
                                  S(1), make_column(nx), make_column(ny)},
                                 4);
  const mxArray& w = field_of(r, "weights");
  EXPECT_TRUE(w.rows == nx.size() && w.cols == 1);
  EXPECT_EQ(w.real.at(7), 0.0);  // the outlier (3, 30)
  const mxArray& failed = field_of(r, "failed");
  EXPECT_TRUE(failed.rows == 1 && failed.cols == 4);
  EXPECT_EQ(failed.logicals, std::vector<mxLogical>(4, 0));
}

TEST(Info, ExactAbandonedAndExhaustedPasses) {
  std::vector<double> x(10), parabola, zeros(10, 0.0);
  for (int i = 0; i < 10; ++i) {
    x[i] = i;
    parabola.push_back(i * i - 3.0 * i);
  }
  // Data fitted up to rounding: the floor stops the first pass.
  const run_result exact = with_info({make_row(x), make_row(parabola), S(0.5), S(1), S(2)}, 3);
  EXPECT_EQ(bits(exact.v), bits(run({make_row(x), make_row(parabola), S(0.5), S(0), S(2)}).v));
  EXPECT_EQ(outcome_of(exact), "exact");
  EXPECT_EQ(number_of(exact, "passes"), 1.0);
  EXPECT_EQ(field_of(exact, "weights").real, std::vector<double>(10, 1.0));
  EXPECT_LT(number_of(exact, "scale"), 1e-7);

  const run_result gave_up = with_info({make_row(x), make_row(zeros), S(0.5), S(1), S(2)}, 3);
  EXPECT_EQ(outcome_of(gave_up), "abandoned");
  EXPECT_EQ(flags_of(gave_up, "converged"), std::vector<mxLogical>{1});
  EXPECT_EQ(field_of(gave_up, "weights").real, std::vector<double>(10, 1.0));
  EXPECT_EQ(number_of(gave_up, "scale"), 0.0);

  lcg q(32);
  std::vector<double> xe, ye;
  for (int i = 0; i < 14; ++i) {
    xe.push_back(i);
    ye.push_back(std::sin(i / 3.0) + 0.6 * (q.unit() - 0.5));
  }
  const run_result moving = with_info({make_column(xe), make_column(ye), S(0.5), S(1), S(2)}, 4);
  EXPECT_EQ(outcome_of(moving), "exhausted");
  EXPECT_EQ(number_of(moving, "passes"), 100.0);
  EXPECT_EQ(flags_of(moving, "converged"), std::vector<mxLogical>{0});
}

TEST(Info, PointsWithNaNAbscissaeTookNoPartAndWeighZero) {
  auto x = xs;
  x[2] = x[9] = nan_value;
  for (double robust : {0.0, 1.0}) {
    const run_result r = with_info({make_column(x), Y(), S(0.5), S(robust), S(1)}, 3 + robust);
    const std::vector<double>& w = field_of(r, "weights").real;
    ASSERT_EQ(w.size(), xs.size());
    EXPECT_TRUE(w[2] == 0.0 && w[9] == 0.0);
    for (std::size_t i = 0; i < w.size(); ++i) {
      if (i == 2 || i == 9) continue;
      EXPECT_TRUE(robust != 0.0 ? w[i] >= 0.0 && w[i] <= 1.0 : w[i] == 1.0) << i;
    }
    // Their own results are NaN, not failed fits.
    const std::vector<mxLogical>& failed = flags_of(r, "failed");
    EXPECT_TRUE(std::isnan(r.v[2]) && failed.at(2) == 0 && failed.at(9) == 0);
  }
  // No data point at all: no pass can run, and no weight is left.
  const std::vector<double> none(xs.size(), nan_value);
  const run_result r = with_info({make_column(none), Y(), S(0.5), S(1), S(1)}, 3);
  EXPECT_EQ(outcome_of(r), "abandoned");
  EXPECT_EQ(number_of(r, "passes"), 0.0);
  EXPECT_TRUE(std::isnan(number_of(r, "scale")));
  EXPECT_EQ(field_of(r, "weights").real, std::vector<double>(xs.size(), 0.0));
  EXPECT_EQ(flags_of(r, "failed"), std::vector<mxLogical>(xs.size(), 0));
}

TEST(Info, ReflectsTheOptions) {
  using standin::make_char;
  // MaxPasses: the limit ends the passes with the weights still moving.
  lcg q(32);
  std::vector<double> xe, ye;
  for (int i = 0; i < 14; ++i) {
    xe.push_back(i);
    ye.push_back(std::sin(i / 3.0) + 0.6 * (q.unit() - 0.5));
  }
  const run_result limited =
      run({make_column(xe), make_column(ye), S(0.5), S(1), S(2), make_char("MaxPasses"), S(3)}, 2);
  EXPECT_EQ(outcome_of(limited), "exhausted");
  EXPECT_EQ(number_of(limited, "passes"), 3.0);
  EXPECT_EQ(flags_of(limited, "converged"), std::vector<mxLogical>{0});

  // Points of prior weight 0, and NaN ordinates left out, weigh 0.
  auto y = ys;
  y[2] = nan_value;
  std::vector<double> prior(xs.size(), 1.0);
  prior[8] = 0.0;
  const run_result chosen = run({X(), make_column(y), S(0.5), S(1), S(1), make_char("Weights"),
                                 make_column(prior), make_char("Missing"), make_char("omit")},
                                2);
  ASSERT_TRUE(chosen.o.ok) << chosen.o.error;
  const std::vector<double>& w = field_of(chosen, "weights").real;
  EXPECT_TRUE(w.at(2) == 0.0 && w.at(8) == 0.0 && w.at(5) == 0.0);  // 5: the outlier
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (i == 2 || i == 5 || i == 8) continue;
    EXPECT_GT(w[i], 0.0) << i;
  }

  // FailedValue stands in for failed fits, which info still flags; with
  // Delta, interpolation next to a failed fit fails too.
  const std::vector<double> x = {0, 1, 2, 3, 3, 3, 3, 3, 3, 4, 5, 6};
  std::vector<double> sq;
  for (double v : x) sq.push_back(v * v);
  const std::vector<mxLogical> want = {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0};
  const run_result stood_in = run({make_column(x), make_column(sq), S(0.34), S(0), S(1),
                                   make_char("FailedValue"), S(nan_value)},
                                  2);
  EXPECT_EQ(flags_of(stood_in, "failed"), want);
  for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(std::isnan(stood_in.v[i]), want[i] != 0);
  const run_result spaced =
      run({make_column(x), make_column(sq), S(0.34), S(0), S(1), make_char("Delta"), S(2.5)}, 2);
  const std::vector<mxLogical>& flagged = flags_of(spaced, "failed");
  for (std::size_t i = 0; i < x.size(); ++i)
    EXPECT_EQ(flagged.at(i) != 0, spaced.v[i] == FIT_FAILED) << i;
}

// Signals side by side: a row per point, a column each.
mxArray* signals_of(const std::vector<std::vector<double>>& columns) {
  std::vector<double> v;
  for (const auto& c : columns) v.insert(v.end(), c.begin(), c.end());
  return make_array(columns.at(0).size(), columns.size(), v);
}

// rows-by-d2-by-d3, as the host shows it: the trailing dimensions as columns.
mxArray* three_d(std::size_t rows, std::size_t d2, std::size_t d3) {
  mxArray* a = make_array(rows, d2 * d3);
  a->ndims = 3;
  return a;
}

// Four signals over xs: the data, one with a NaN, one with an infinity, a line.
std::vector<std::vector<double>> four_signals() {
  auto with_nan = ys, with_inf = ys;
  with_nan[4] = nan_value;
  with_inf[9] = -inf;
  std::vector<double> line;
  for (double x : xs) line.push_back(2.0 * x - 1.0);
  return {ys, with_nan, with_inf, line};
}

// Column c of a several-signal array is the one-signal array `one`: a cell
// of a cell row, an entry of a row (one value per call) or a column.
void expect_signal(const mxArray& all, std::size_t c, std::size_t k, const mxArray& one,
                   const std::string& what) {
  ASSERT_EQ(all.cols, k) << what;
  if (all.cls == mx_class::cell_) {
    ASSERT_EQ(all.rows, 1u) << what;
    const mxArray& cell = *all.cells.at(c);
    EXPECT_TRUE(cell.cls == one.cls && cell.rows == one.rows && cell.cols == one.cols &&
                cell.text == one.text && bits(cell.real) == bits(one.real))
        << what;
    return;
  }
  EXPECT_EQ(all.cls, one.cls) << what;
  const std::size_t rows = all.rows;
  ASSERT_EQ(one.rows * one.cols, rows) << what;
  if (all.cls == mx_class::logical_) {
    EXPECT_EQ(std::vector<mxLogical>(all.logicals.begin() + c * rows,
                                     all.logicals.begin() + (c + 1) * rows),
              one.logicals)
        << what;
  } else {
    EXPECT_EQ(
        bits(std::vector<double>(all.real.begin() + c * rows, all.real.begin() + (c + 1) * rows)),
        bits(one.real))
        << what;
  }
}

// A call of several signals against its signals' calls, each made alone
// with `alone(c)`: its result's columns, every info field, the lines on
// standard error in turn and the model left (the last signal's).
void expect_signals(const run_result& all, std::size_t k,
                    const std::function<std::vector<mxArray*>(std::size_t)>& alone, int nlhs) {
  ASSERT_TRUE(all.o.ok) << all.o.error;
  std::string err;
  for (std::size_t c = 0; c < k; ++c) {
    const run_result one = run(alone(c), nlhs);
    ASSERT_TRUE(one.o.ok) << one.o.error;
    err += one.err;
    mxArray values;
    values.rows = one.v.size();
    values.cols = 1;
    values.real = one.v;
    mxArray together;
    together.rows = all.rows;
    together.cols = all.cols;
    together.real = all.v;
    expect_signal(together, c, k, values, "result, signal " + std::to_string(c));
    if (c + 1 == k) {
      EXPECT_EQ(all.o.blocks_left, one.o.blocks_left);
    }
    if (nlhs < 2) continue;
    ASSERT_EQ(all.info->fields.size(), one.info->fields.size());
    for (std::size_t i = 0; i < one.info->fields.size(); ++i)
      expect_signal(*all.info->fields[i].second, c, k, *one.info->fields[i].second,
                    one.info->fields[i].first + ", signal " + std::to_string(c));
  }
  EXPECT_EQ(all.err, err);
}

TEST(Signals, EachColumnIsItsSignalAloneAgainstARowOrAColumnX) {
  const auto signals = four_signals();
  for (bool row : {false, true}) {
    auto vec = [&](const std::vector<double>& v) { return row ? make_row(v) : make_column(v); };
    for (bool robust : {false, true}) {
      // A logical robust here, the number alone.
      const run_result all =
          run({vec(xs), signals_of(signals), S(0.5), standin::make_logical(robust), S(1)});
      EXPECT_TRUE(all.rows == xs.size() && all.cols == signals.size());
      expect_signals(
          all, signals.size(),
          [&](std::size_t c) {
            return std::vector<mxArray*>{vec(xs), vec(signals[c]), S(0.5), S(robust), S(1)};
          },
          1);
    }
  }
}

// A derivative's columns share their windows' inverse rows. Near a point
// the rows of higher powers can hold infinities; the shared row of a
// Taylor coefficient must still be the inverse's own row, or a constant
// signal's 0 became 0 times infinity (a fuzz finding).
TEST(Signals, DerivativeColumnsAreTheirSignalsAloneWhereTheInverseOverflows) {
  std::vector<double> x = {-0.0, -0.0, -0x1.d3a5252011p-293, 0x1.aad5252011p-252, -72.0};
  std::vector<double> y = {-125.0, 0.9921875, 105.0, 0.91015625, 0.91015625};
  x.resize(29, 0.91015625);
  y.resize(29, 0.91015625);
  const std::vector<std::vector<double>> signals = {y, std::vector<double>(29, 0.91015625)};
  const auto call = [&](mxArray* ys) {
    return std::vector<mxArray*>{make_column(x), ys, standin::make_char("Derivative"), S(1)};
  };
  for (int nlhs : {1, 2})
    expect_signals(
        run(call(signals_of(signals)), nlhs), 2,
        [&](std::size_t c) { return call(make_column(signals[c])); }, nlhs);
}

// The lines of several signals are told once all are fitted, each fit
// made again alone: a derivative's again, not its value's (the
// second-derivative fit near two all but equal abscissae told the value's
// estimate); and with several orders, signal after signal, not page after
// page. Both fuzz findings.
TEST(Signals, ADerivativesTroubleIsToldAsItsSignalsOwnCallTellsIt) {
  const std::vector<double> x = {0, 1, 2, 3, 0x1.f005f108d9a0ap-240, 5, 6, 7, 8};
  std::vector<double> y = {0.91015625, 11, 12, 0x0.000000000002ap-1022};
  y.resize(x.size(), -0x1.8e9e9e9e9e9e9p+912);
  std::vector<double> z = y;
  z[0] = 0.5;
  for (const std::vector<double>& orders : {std::vector<double>{2}, {2, 0, 1}}) {
    const auto call = [&](mxArray* ys) {
      return std::vector<mxArray*>{make_row({4.5, 0.5, 1.5}), standin::make_array(0, 0), S(0.5),
                                   S(0), S(2), make_column(x), ys,
                                   standin::make_char("Derivative"), make_row(orders)};
    };
    const std::vector<std::vector<double>> signals = {y, z};
    const run_result all = run(call(signals_of(signals)));
    EXPECT_NE(all.err, "");
    if (orders.size() == 1) {
      expect_signals(all, 2, [&](std::size_t c) { return call(make_column(signals[c])); }, 1);
    } else {
      EXPECT_EQ(all.err, run(call(make_column(y))).err + run(call(make_column(z))).err);
    }
  }
}

TEST(Signals, ShapesThatDoNotPairEndTheCallBeforeAnyStorage) {
  const std::string bad_y = "Y must be a noncomplex double vector!!!";
  const std::string dims = "Y must not have more than two dimensions.";
  const std::string rows = "Y must have as many rows as X has elements.";
  const std::string length = "X and Y must have the same length!!!";
  for (bool row : {false, true}) {
    auto x = [&] { return row ? make_row(xs) : X(); };
    expect_error({x(), make_array(4, 12)}, rows, "quibra:YRows");  // transposed
    expect_error({x(), make_array(11, 3)}, rows, "quibra:YRows");
    expect_error({x(), make_array(12, 0)}, bad_y, "quibra:Y");  // no signal at all
    expect_error({x(), three_d(12, 2, 2)}, dims, "quibra:YDims");
    expect_error({x(), three_d(5, 2, 2)}, dims, "quibra:YDims");  // before the rows
    expect_error({x(), three_d(12, 0, 2)}, bad_y, "quibra:Y");    // empty first
    expect_error({x(), complex_of(make_array(12, 3))}, bad_y, "quibra:Y");
    expect_error({x(), sparse_of(make_array(12, 3))}, bad_y, "quibra:Y");
    expect_error({x(), make_array(4, 12), complex_of(S(0.5))}, rows, "quibra:YRows");
  }
  // A matrix X is a surface of at most 4 predictors; a 1-by-k Y is a
  // vector, not k signals.
  expect_error({make_array(2, 6), make_array(12, 2)},
               "A matrix X takes 2 to 4 predictors, a column each; X has 6 columns.",
               "quibra:XColumns");
  expect_error({S(5), make_row({1, 2, 3})}, length, "quibra:XYLength");
}

TEST(Signals, NodesTakeSeveralSignalsAndYOnlyChecksOrEmpty) {
  const auto signals = four_signals();
  const std::vector<double> q = {7, 2, 7, 11};
  const auto nodes = [&](mxArray* y, mxArray* nodes_y) {
    return std::vector<mxArray*>{make_row(q), y, S(0.5), S(0), S(1), X(), nodes_y};
  };
  const run_result all = run(nodes(make_row({0, 0, 0, 0}), signals_of(signals)));
  EXPECT_TRUE(all.rows == q.size() && all.cols == signals.size());
  expect_signals(
      all, signals.size(),
      [&](std::size_t c) {
        return nodes(make_row({0, 0, 0, 0}), make_column(signals[c]));
      },
      1);
  // Any empty Y, or one of other signals, gives the same bits.
  for (mxArray* y :
       {make_array(0, 0), make_array(4, 0), make_array(0, 3), three_d(4, 0, 2), make_array(4, 2)}) {
    const run_result r = run(nodes(y, signals_of(signals)));
    EXPECT_TRUE(r.o.ok) << r.o.error;
    EXPECT_TRUE(r.rows == all.rows && r.cols == all.cols);
    EXPECT_EQ(bits(r.v), bits(all.v));
  }
  expect_error({make_array(2, 2), make_array(0, 0), S(0.5), S(0), S(1), X(), Y()},
               "X and Y must have the same length!!!", "quibra:XYLength");
  expect_error(nodes(class_of(make_array(0, 0), mx_class::logical_), Y()),
               "Y must be a noncomplex double vector!!!", "quibra:Y");
  expect_error(nodes(make_array(2, 4), make_array(3, 12)),  // Y's rows first
               "Y must have as many rows as X has elements.", "quibra:YRows");
  expect_error(nodes(make_array(0, 0), make_array(3, 12)),
               "nodes_y must have as many rows as nodes_x has elements.", "quibra:nodes_yRows");
  expect_error(nodes(make_array(0, 0), three_d(12, 2, 2)),
               "nodes_y must not have more than two dimensions.", "quibra:nodes_yDims");
  expect_error(nodes(make_array(0, 0), make_array(12, 0)),
               "nodes_y must be a noncomplex double vector!!!", "quibra:nodes_y");
}

TEST(Signals, InfoHoldsAColumnPerPointAndAnEntryPerCallForEachSignal) {
  // Robust: an outlier, a line its fits reproduce, all zeros; with a band.
  // Plain: abscissae whose windows weigh one of them, so fits fail.
  std::vector<double> line, zeros(xs.size(), 0.0);
  for (double x : xs) line.push_back(2.0 * x + 1.0);
  const std::vector<double> x = {0, 1, 2, 3, 3, 3, 3, 3, 3, 4, 5, 6};
  std::vector<double> sq, neg;
  for (double v : x) {
    sq.push_back(v * v);
    neg.push_back(-v * v);
  }
  struct signal_call {
    std::vector<double> x;
    std::vector<std::vector<double>> y;
    double f, robust, degree;
    std::vector<std::string> outcomes;
    long failures;
  };
  const std::vector<signal_call> calls = {
      {xs, {ys, line, zeros}, 0.5, 1, 1, {"converged", "exact", "abandoned"}, 0},
      {x, {sq, neg, ys}, 0.34, 0, 1, {"plain", "plain", "plain"}, 24}};
  for (const signal_call& s : calls) {
    const std::size_t k = s.y.size();
    const auto call = [&](mxArray* y) {
      return std::vector<mxArray*>{make_column(s.x),
                                   y,
                                   S(s.f),
                                   S(s.robust),
                                   S(s.degree),
                                   standin::make_char("Intervals"),
                                   standin::make_char("confidence")};
    };
    const run_result all = run(call(signals_of(s.y)), 2);
    ASSERT_NE(all.info, nullptr);
    for (const char* name : {"weights", "failed", "se", "lower", "upper"}) {
      const mxArray& f = field_of(all, name);
      EXPECT_TRUE(f.rows == s.x.size() && f.cols == k) << name;
    }
    for (const char* name : {"passes", "converged", "window", "scale", "sigma", "enp", "dof"}) {
      const mxArray& f = field_of(all, name);
      EXPECT_TRUE(f.rows == 1 && f.cols == k) << name;
    }
    const mxArray& outcome = field_of(all, "outcome");
    ASSERT_TRUE(outcome.cls == mx_class::cell_ && outcome.rows == 1 && outcome.cols == k);
    for (std::size_t c = 0; c < k; ++c) EXPECT_EQ(outcome.cells.at(c)->text, s.outcomes[c]);
    const std::vector<mxLogical>& failed = field_of(all, "failed").logicals;
    EXPECT_EQ(std::count(failed.begin(), failed.end(), 1), s.failures);
    expect_signals(
        all, k, [&](std::size_t c) { return call(make_column(s.y[c])); }, 2);
  }
}

TEST(Gateway, SeveralDerivativesGiveAPageEachAndInfoFollows) {
  const auto call = [](mxArray* orders) {
    return std::vector<mxArray*>{X(),
                                 Y(),
                                 S(0.8),
                                 S(0),
                                 S(2),
                                 standin::make_char("Derivative"),
                                 orders,
                                 standin::make_char("Intervals"),
                                 standin::make_char("confidence")};
  };
  const run_result both = run(call(make_row({0, 1})), 2);
  const run_result one = run(call(S(1)), 2);
  ASSERT_TRUE(both.o.ok && one.o.ok) << both.o.error;
  EXPECT_TRUE(both.rows == xs.size() && both.cols == 2);
  const std::vector<double> page(both.v.begin() + static_cast<std::ptrdiff_t>(xs.size()),
                                 both.v.end());
  EXPECT_EQ(bits(page), bits(one.v));
  for (const char* name : {"se", "upper", "failed", "unstable"}) {
    const mxArray& f = field_of(both, name);
    EXPECT_TRUE(f.ndims == 3 && f.dims == (std::vector<mwSize>{12, 1, 2})) << name;
  }
  const std::vector<double>& se = field_of(both, "se").real;
  EXPECT_EQ(bits(std::vector<double>(se.begin() + 12, se.end())), bits(field_of(one, "se").real));
}

}  // namespace
