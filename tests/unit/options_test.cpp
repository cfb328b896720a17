// Name-value options through mexFunction: identifiers on every error,
// option checks, and each option's effect against a call without it.
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "smoother/model.h"
#include "unit_support.h"

namespace {

using standin::make_char;
using standin::make_column;
using standin::make_row;

const double nan_value = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

call_result call(const std::vector<mxArray*>& in) { return run_call(in); }

// `copies`: texts too long for the reading buffer, each read through one
// transient copy that must be released at once.
void expect_error(const std::vector<mxArray*>& in, const std::string& id,
                  const std::string& message, std::size_t copies = 0) {
  const call_result r = call(in);
  EXPECT_FALSE(r.o.ok) << message;
  EXPECT_EQ(r.o.error_id, id) << message;
  EXPECT_EQ(r.o.error, message);
  EXPECT_EQ(r.o.allocations, copies) << message;  // checks take no other storage
  EXPECT_EQ(r.o.blocks_left, 0u) << message;
}

// The same bits and the same standard error as `want`.
void expect_same(const call_result& got, const call_result& want) {
  ASSERT_TRUE(got.o.ok) << got.o.error;
  ASSERT_TRUE(want.o.ok) << want.o.error;
  EXPECT_EQ(bits(got.v), bits(want.v));
  EXPECT_EQ(got.err, want.err);
}

// Noisy data with an outlier; f = 0.2 gives windows of 3 with degree 2, so
// plain local quadratics fail, with singular lines, at most points.
const std::vector<double> xs = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
const std::vector<double> ys = {0.1, 0.9, 2.2, 2.8, 4.1,  15.0, 6.2,
                                6.9, 8.1, 9.2, 9.8, 11.1, 12.3, 12.9};
mxArray* X() { return make_column(xs); }
mxArray* Y() { return make_column(ys); }
mxArray* S(double v) { return standin::make_scalar(v); }
mxArray* T(const char* s) { return make_char(s); }

TEST(Options, EveryPositionalErrorCarriesItsIdentifier) {
  expect_error({X()}, "quibra:nargin", "Wrong number of input arguments.");
  expect_error({make_row({}), Y()}, "quibra:X", "X must be a noncomplex double vector!!!");
  expect_error({X(), T("Y")}, "quibra:Y", "Y must be a noncomplex double vector!!!");
  expect_error({X(), make_row(ys)}, "quibra:XYLength", "X and Y must have the same length!!!");
  expect_error({X(), Y(), make_row({1, 2})}, "quibra:f", "f must be a noncomplex scalar double.");
  expect_error({X(), Y(), S(0.2), make_row({})}, "quibra:robust",
               "robust must be a noncomplex scalar double.");
  expect_error({X(), Y(), S(0.2), S(0), make_row({})}, "quibra:degree",
               "degree must be a noncomplex scalar double.");
  expect_error({X(), Y(), S(0.2), S(0), S(-1)}, "quibra:degreeNegative",
               "degree must not be negative.");
  expect_error({X(), Y(), S(0.2), S(0), S(101)}, "quibra:degreeTooLarge", "degree is too large.");
  expect_error({X(), Y(), S(0.2), S(0), S(2), make_row({}), Y()}, "quibra:nodes_x",
               "nodes_x must be a noncomplex double vector!!!");
  expect_error({X(), Y(), S(0.2), S(0), S(2), X(), make_row({})}, "quibra:nodes_y",
               "nodes_y must be a noncomplex double vector!!!");
  expect_error({X(), Y(), S(0.2), S(0), S(2), X(), make_row(ys)}, "quibra:nodesLength",
               "nodes_x and nodes_y must have the same length!!!");
}

TEST(Options, PositionalPartEndsAtTheFirstTextFromTheThirdInput) {
  const std::string nargin = "Wrong number of input arguments.";
  // Six positional inputs are wrong with options as without.
  expect_error({X(), Y(), S(0.2), S(0), S(2), X(), T("Delta"), S(1)}, "quibra:nargin", nargin);
  expect_error({X(), T("Delta"), S(1)}, "quibra:Y", "Y must be a noncomplex double vector!!!");
  // Positional checks come first, in their order, whatever the options say.
  expect_error({X(), Y(), S(0.2), S(0), S(-1), T("Bogus")}, "quibra:degreeNegative",
               "degree must not be negative.");
  // Every positional form takes options.
  for (std::size_t npos : {2u, 3u, 4u, 5u, 7u}) {
    std::vector<mxArray*> in = {X(), Y(), S(0.5), S(0), S(1), X(), Y()};
    std::vector<mxArray*> with = {X(), Y(), S(0.5), S(0), S(1), X(), Y()};
    for (std::size_t i = npos; i < in.size(); ++i) delete in[i], delete with[i];
    in.resize(npos);
    with.resize(npos);
    with.push_back(T("MaxPasses"));
    with.push_back(S(100));
    expect_same(call(with), call(in));
  }
}

TEST(Options, NamesAreCheckedLeftToRight) {
  expect_error({X(), Y(), T("Delta")}, "quibra:optionPairs",
               "Options must come in name-value pairs.");
  expect_error({X(), Y(), T("Delta"), S(-1), T("MaxPasses")}, "quibra:optionPairs",
               "Options must come in name-value pairs.");
  expect_error({X(), Y(), T("Delta"), S(1), S(3), S(1)}, "quibra:optionName",
               "Option names must be char row vectors.");
  mxArray* column = make_char("Delta");
  column->rows = 5;
  column->cols = 1;
  expect_error({X(), Y(), T("Delta"), S(1), column, S(1)}, "quibra:optionName",
               "Option names must be char row vectors.");
  expect_error({X(), Y(), T("Delt"), S(1)}, "quibra:optionUnknown", "Unknown option 'Delt'.");
  // A character 0 is part of the name, not its end.
  std::string nul("Delta");
  nul.push_back('\0');
  expect_error({X(), Y(), make_char(nul), S(1)}, "quibra:optionUnknown",
               "Unknown option 'Delta?'.");
  expect_error({X(), Y(), T("a\tb"), S(1)}, "quibra:optionUnknown", "Unknown option 'a?b'.");
  const std::string long_name(100, 'z');
  expect_error({X(), Y(), make_char(long_name), S(1)}, "quibra:optionUnknown",
               "Unknown option '" + std::string(40, 'z') + "...'.", 1);
  expect_error({X(), Y(), T("delta"), S(1), T("DELTA"), S(2)}, "quibra:optionRepeated",
               "Option 'Delta' is given twice.");
  // A bad value before a later bad name wins.
  expect_error({X(), Y(), T("Delta"), S(-1), T("Bogus"), S(1)}, "quibra:Delta",
               "Delta must be a finite noncomplex scalar double >= 0.");
  // Case does not matter, and a string object is read as its text.
  expect_same(call({X(), Y(), T("mAXpASSES"), S(100), standin::make_string("missing"),
                    make_char("PROPAGATE")}),
              call({X(), Y()}));
}

TEST(Options, LongTextIsShownByItsFirstFortyCharactersWhateverItsLength) {
  for (const std::size_t n : {40u, 41u, 63u, 64u, 65u, 1000u}) {
    std::string name;
    for (std::size_t i = 0; i < n; ++i) name.push_back(static_cast<char>('a' + i % 26));
    const std::string message =
        "Unknown option '" + name.substr(0, 40) + (n > 40 ? "..." : "") + "'.";
    const std::size_t copies = n >= 64 ? 1 : 0;  // the reading buffer holds 63
    expect_error({X(), Y(), make_char(name), S(1)}, "quibra:optionUnknown", message, copies);
    expect_error({X(), Y(), standin::make_string(name), S(1)}, "quibra:optionUnknown", message,
                 copies);
    // With F empty the names are first searched for 'Window' or
    // 'Convention': still one copy.
    expect_error({X(), Y(), standin::make_array(0, 0), make_char(name), S(1), T("Window"), S(3)},
                 "quibra:optionUnknown", message, copies);
  }
  // Keyword values are read the same way and match by their whole length.
  expect_error({X(), Y(), T("Missing"), make_char("omit" + std::string(60, ' '))}, "quibra:Missing",
               "Missing must be 'propagate' or 'omit'.", 1);
  // A copy that cannot be made ends the call as any failed allocation does.
  standin::fail_allocation(1);
  const call_result r = call({X(), Y(), make_char(std::string(64, 'q')), S(1)});
  standin::fail_allocation(0);
  EXPECT_EQ(r.o.error, "Out of memory.");
  EXPECT_EQ(r.err, "Alzheimer's error\n");
  EXPECT_TRUE(r.o.faults.empty());
}

// A value of each kind that no numeric option accepts.
std::vector<mxArray*> bad_numbers() {
  mxArray* complex = S(1);
  complex->complex = true;
  complex->imag = {1};
  mxArray* sparse = S(1);
  sparse->sparse = true;
  mxArray* single = S(1);
  single->cls = mx_class::single_;
  return {complex, sparse, single, make_row({}), make_row({1, 2}), T("1")};
}

TEST(Options, ValuesAreCheckedAsCarefullyAsThePositionalArguments) {
  struct option_case {
    const char* name;
    const char* id;
    std::string message;
    std::vector<double> bad;
  };
  const std::vector<option_case> cases = {
      {"Delta",
       "quibra:Delta",
       "Delta must be a finite noncomplex scalar double >= 0.",
       {-1e-300, nan_value, inf, -inf}},
      {"MaxPasses",
       "quibra:MaxPasses",
       "MaxPasses must be an integer from 1 to 100.",
       {0, 101, 2.5, nan_value, inf, -1}},
      {"FailedValue", "quibra:FailedValue", "FailedValue must be a noncomplex scalar double.", {}},
      {"Threads",
       "quibra:Threads",
       "Threads must be an integer from 1 to 1024.",
       {0, -2, 1.5, nan_value, inf, 1025}},
  };
  for (const auto& c : cases) {
    for (mxArray* v : bad_numbers()) expect_error({X(), Y(), T(c.name), v}, c.id, c.message);
    for (double v : c.bad) expect_error({X(), Y(), T(c.name), S(v)}, c.id, c.message);
  }
  for (mxArray* v : bad_numbers()) {
    if (v->cls == mx_class::char_) {  // text is Missing's kind of value
      delete v;
      continue;
    }
    expect_error({X(), Y(), T("Missing"), v}, "quibra:Missing",
                 "Missing must be 'propagate' or 'omit'.");
  }
  expect_error({X(), Y(), T("Missing"), T("omitted")}, "quibra:Missing",
               "Missing must be 'propagate' or 'omit'.");
  expect_error({X(), Y(), T("Diagnostics"), T("")}, "quibra:Diagnostics",
               "Diagnostics must be 'stderr', 'warning' or 'off'.");
  // Weights: shape, then values.
  const std::string shape = "Weights must be a noncomplex double vector as long as the data.";
  for (mxArray* v : bad_numbers())
    expect_error({X(), Y(), T("Weights"), v}, "quibra:Weights", shape);
  expect_error({X(), Y(), T("Weights"), make_column(std::vector<double>(13, 1.0))},
               "quibra:Weights", shape);
  expect_error({X(), Y(), T("Weights"), standin::make_array(2, 7)}, "quibra:Weights", shape);
  // In the nodes form the weights go with the nodes.
  expect_error({X(), Y(), S(0.5), S(0), S(1), make_row({1, 2, 3}), make_row({1, 2, 3}),
                T("Weights"), make_row(std::vector<double>(14, 1.0))},
               "quibra:Weights", shape);
  for (double bad : {-1.0, nan_value, inf}) {
    std::vector<double> w(14, 1.0);
    w[7] = bad;
    expect_error({X(), Y(), T("Weights"), make_row(w)}, "quibra:WeightValues",
                 "Weights must be finite and >= 0.");
  }
}

TEST(Options, DefaultValuesGiveTheBitsAndLinesOfACallWithoutThem) {
  for (double robust : {0.0, 1.0}) {
    const auto plain = call({X(), Y(), S(0.2), S(robust), S(2)});
    ASSERT_FALSE(plain.err.empty());  // the singular lines are compared too
    const std::vector<std::pair<const char*, mxArray* (*)()>> defaults = {
        {"Delta", [] { return S(0); }},
        {"Weights", [] { return make_row(std::vector<double>(14, 1.0)); }},
        {"Missing", [] { return T("propagate"); }},
        {"MaxPasses", [] { return S(100); }},
        {"FailedValue", [] { return S(FIT_FAILED); }},
        {"Diagnostics", [] { return T("stderr"); }},
        {"Threads", [] { return S(2); }},
    };
    for (const auto& [name, value] : defaults)
      expect_same(call({X(), Y(), S(0.2), S(robust), S(2), T(name), value()}), plain);
  }
}

TEST(Options, OmittedAndZeroWeightPointsAreAsIfRemovedByHand) {
  auto y = ys;
  y[2] = y[9] = nan_value;
  const std::vector<double> kept_x = {0, 1, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13};
  std::vector<double> kept_y;
  for (double k : kept_x) kept_y.push_back(ys[static_cast<int>(k)]);
  std::vector<double> w(14, 1.0);
  w[2] = w[9] = 0.0;
  for (double robust : {0.0, 1.0}) {
    const auto by_hand =
        call({X(), Y(), S(0.5), S(robust), S(1), make_row(kept_x), make_row(kept_y)});
    ASSERT_TRUE(by_hand.o.ok);
    const auto omitted =
        call({X(), make_column(y), S(0.5), S(robust), S(1), T("Missing"), T("omit")});
    expect_same(omitted, by_hand);
    expect_same(call({X(), Y(), S(0.5), S(robust), S(1), T("Weights"), make_column(w)}), by_hand);
    // Propagated, the NaN spreads into the fits whose windows hold it.
    const auto spread = call({X(), make_column(y), S(0.5), S(robust), S(1)});
    EXPECT_TRUE(std::isnan(spread.v[3]));
  }
  // Weights other than 0 and 1 weight the fits.
  w[2] = w[9] = 0.5;
  EXPECT_NE(bits(call({X(), Y(), S(0.5), S(0), S(1), T("Weights"), make_column(w)}).v),
            bits(call({X(), Y(), S(0.5), S(0), S(1)}).v));
  // Nothing left: an error, before any storage is taken.
  expect_error({X(), Y(), T("Weights"), make_column(std::vector<double>(14, 0.0))}, "quibra:noData",
               "No data point is left: every one is missing or has weight 0.");
  expect_error({X(), make_column(std::vector<double>(14, nan_value)), T("Missing"), T("omit")},
               "quibra:noData", "No data point is left: every one is missing or has weight 0.");
}

TEST(Options, FailedValueAndDiagnosticsChangeOnlyHowFailuresShow) {
  const auto plain = call({X(), Y(), S(0.2)});
  const auto nan_failed = call({X(), Y(), S(0.2), T("FailedValue"), S(nan_value)});
  ASSERT_EQ(plain.v.size(), nan_failed.v.size());
  int failed = 0;
  for (std::size_t i = 0; i < plain.v.size(); ++i) {
    if (plain.v[i] == FIT_FAILED) {
      ++failed;
      EXPECT_TRUE(std::isnan(nan_failed.v[i]));
    } else {
      EXPECT_EQ(bits(nan_failed.v[i]), bits(plain.v[i]));
    }
  }
  ASSERT_GT(failed, 0);
  EXPECT_EQ(nan_failed.err, plain.err);

  const auto warned = call({X(), Y(), S(0.2), T("Diagnostics"), T("warning")});
  EXPECT_EQ(bits(warned.v), bits(plain.v));
  EXPECT_EQ(warned.err, "");
  ASSERT_EQ(warned.o.warnings.size(), 1u);
  EXPECT_EQ(warned.o.warnings[0].first, "quibra:singular");
  EXPECT_EQ(warned.o.warnings[0].second,
            std::to_string(failed) + " local fits failed: their systems were singular.");

  const auto off = call({X(), Y(), S(0.2), T("Diagnostics"), T("off")});
  EXPECT_EQ(bits(off.v), bits(plain.v));
  EXPECT_EQ(off.err, "");
  EXPECT_TRUE(off.o.warnings.empty());
  EXPECT_TRUE(plain.o.warnings.empty());
}

TEST(Options, MaxPassesBoundsTheRobustnessPasses) {
  // An outlier that takes more than one pass to settle.
  const auto one = call({X(), Y(), S(0.6), S(1), S(1), T("MaxPasses"), S(1)});
  const auto three = call({X(), Y(), S(0.6), S(1), S(1), T("MaxPasses"), S(3)});
  const auto all = call({X(), Y(), S(0.6), S(1), S(1)});
  EXPECT_NE(bits(one.v), bits(all.v));
  EXPECT_NE(bits(one.v), bits(three.v));
  // Without robustness it has no effect.
  expect_same(call({X(), Y(), S(0.6), S(0), S(1), T("MaxPasses"), S(1)}),
              call({X(), Y(), S(0.6), S(0), S(1)}));
}

}  // namespace
