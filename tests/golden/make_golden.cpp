// Writes the golden file from the current build. Run it only when a change
// of results is intended, and say why in the commit:
//   build/tests/make_golden > tests/golden/cases.txt
#include <cmath>
#include <iostream>
#include <limits>

#include "golden.h"
#include "standin_host/standin.h"

namespace {

// A fixed generator, so the inputs never depend on a library's random numbers.
struct lcg {
  std::uint64_t state;
  double next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1.0p-53;
  }
  double normal() {  // sum of uniforms: bell-shaped enough for noise
    double s = 0.0;
    for (int i = 0; i < 12; ++i) s += next();
    return s - 6.0;
  }
};

std::vector<golden::call_case> cases;

golden::matrix numbers(std::size_t rows, std::size_t cols, std::vector<double> values) {
  golden::matrix m;
  m.rows = rows;
  m.cols = cols;
  m.values = std::move(values);
  return m;
}
golden::matrix column(const std::vector<double>& v) { return numbers(v.size(), 1, v); }
golden::matrix row(const std::vector<double>& v) { return numbers(1, v.size(), v); }
golden::matrix scalar(double v) { return numbers(1, 1, {v}); }
golden::matrix text(const std::string& t) {
  golden::matrix m;
  m.is_text = true;
  m.text = t;
  return m;
}

void add(const std::string& name, std::vector<golden::matrix> inputs) {
  cases.push_back({name, std::move(inputs), {}});
}

// Noisy sine on [0, 10), unsorted, with a fraction of gross outliers.
void noisy(std::uint64_t seed, int n, double outliers, std::vector<double>& x,
           std::vector<double>& y) {
  lcg g{seed};
  x.resize(n);
  y.resize(n);
  for (int i = 0; i < n; ++i) {
    x[i] = 10.0 * g.next();
    y[i] = std::sin(x[i]) + 0.2 * g.normal();
    if (g.next() < outliers) y[i] += (g.next() < 0.5 ? -1.0 : 1.0) * (3.0 + 5.0 * g.next());
  }
}

void build_cases() {
  std::vector<double> x, y;
  noisy(1, 100, 0.0, x, y);
  add("defaults", {column(x), column(y)});
  add("span_0.3_line", {column(x), column(y), scalar(0.3), scalar(0), scalar(1)});
  for (int degree = 0; degree <= 3; ++degree)
    add("degree_" + std::to_string(degree),
        {row(x), row(y), scalar(0.25), scalar(0), scalar(degree)});

  noisy(2, 150, 0.1, x, y);
  add("outliers_plain", {column(x), column(y), scalar(0.25), scalar(0), scalar(2)});
  add("outliers_robust_quadratic", {column(x), column(y), scalar(0.25), scalar(1), scalar(2)});
  add("outliers_robust_line", {column(x), column(y), scalar(0.3), scalar(-1), scalar(1)});
  add("outliers_robust_truncated_off", {column(x), column(y), scalar(0.3), scalar(0.9), scalar(1)});

  std::vector<double> grid;
  for (int i = 0; i < 57; ++i) grid.push_back(-0.5 + 11.0 * i / 56.0);
  const std::vector<double> unused(grid.size(), 0.0);
  add("nodes_plain",
      {column(grid), column(unused), scalar(0.2), scalar(0), scalar(2), column(x), column(y)});
  add("nodes_robust", {row(grid), row(unused), scalar(0.2), scalar(1), scalar(1), row(x), row(y)});

  // Repeated abscissae: ties broken by input order inside windows.
  lcg g{3};
  std::vector<double> xr(80), yr(80);
  for (int i = 0; i < 80; ++i) {
    xr[i] = std::floor(8.0 * g.next());
    yr[i] = xr[i] * 0.5 + g.normal();
  }
  add("repeated_x", {column(xr), column(yr), scalar(0.3), scalar(0), scalar(1)});
  add("repeated_x_robust", {column(xr), column(yr), scalar(0.3), scalar(1), scalar(1)});

  noisy(4, 40, 0.05, x, y);
  add("span_all", {column(x), column(y), scalar(1.0), scalar(0), scalar(2)});
  add("span_beyond", {column(x), column(y), scalar(7.5), scalar(1), scalar(2)});
  add("span_negative", {column(x), column(y), scalar(-1.0), scalar(0), scalar(2)});
  add("degree_fraction", {column(x), column(y), scalar(0.5), scalar(0), scalar(1.7)});

  for (int n : {1, 2, 3, 5}) {
    std::vector<double> xs(x.begin(), x.begin() + n), ys(y.begin(), y.begin() + n);
    add("tiny_" + std::to_string(n), {column(xs), column(ys), scalar(0.5), scalar(1), scalar(1)});
  }

  std::vector<double> xp(10), yp(10);
  for (int i = 0; i < 10; ++i) {
    xp[i] = i;
    yp[i] = i * i - 3.0 * i;
  }
  add("parabola_plain", {column(xp), column(yp), scalar(0.5), scalar(0), scalar(2)});
  add("parabola_robust", {column(xp), column(yp), scalar(0.5), scalar(1), scalar(2)});
  add("ten_points_singular", {column(xp), column(yp), scalar(0.2), scalar(0), scalar(2)});

  noisy(5, 60, 0.0, x, y);
  std::vector<double> xn = x, yn = y;
  yn[7] = std::nan("");
  yn[31] = std::numeric_limits<double>::infinity();
  add("nonfinite_y_plain", {column(xn), column(yn), scalar(0.3), scalar(0), scalar(1)});
  add("nonfinite_y_robust", {column(xn), column(yn), scalar(0.3), scalar(1), scalar(1)});
  xn = x;
  xn[12] = std::nan("");
  add("nan_x_plain", {column(xn), column(y), scalar(0.3), scalar(0), scalar(1)});

  // Data far from zero against their spread: date numbers a minute apart,
  // and the mirror image below zero.
  noisy(7, 120, 0.05, x, y);
  std::vector<double> xd(x.size()), xm(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    xd[i] = 738000.0 + std::floor(x[i] * 144.0) / 1440.0;
    xm[i] = -4000.0 - x[i] * 10.0;
  }
  add("offset_dates", {column(xd), column(y), scalar(0.3), scalar(0), scalar(2)});
  add("offset_negative_robust", {row(xm), row(y), scalar(0.4), scalar(1), scalar(1)});

  noisy(6, 2000, 0.02, x, y);
  add("large_plain", {column(x), column(y), scalar(0.05), scalar(0), scalar(2)});
  add("large_robust", {column(x), column(y), scalar(0.05), scalar(1), scalar(1)});

  // Several signals at once, a column each: the sine, its negative plus a
  // line, and a copy with a missing and an infinite ordinate.
  noisy(8, 90, 0.05, x, y);
  std::vector<double> signals(3 * x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    signals[i] = y[i];
    signals[x.size() + i] = 0.3 * x[i] - y[i];
    signals[2 * x.size() + i] = y[i];
  }
  signals[2 * x.size() + 10] = std::nan("");
  signals[2 * x.size() + 40] = -std::numeric_limits<double>::infinity();
  const golden::matrix three = numbers(x.size(), 3, signals);
  add("columns_plain", {column(x), three, scalar(0.3), scalar(0), scalar(2)});
  add("columns_robust_row_x", {row(x), three, scalar(0.3), scalar(1), scalar(1)});
  add("columns_nodes",
      {column(grid), numbers(0, 0, {}), scalar(0.4), scalar(0), scalar(2), column(x), three});

  // Derivatives: of local quadratics and cubics, at the data and beyond
  // them (a query outside its window's span), plain, robust, in columns.
  add("derivative_2_columns",
      {column(x), three, scalar(0.3), scalar(0), scalar(2), text("Derivative"), scalar(2)});
  noisy(9, 120, 0.05, x, y);
  add("derivative_1",
      {column(x), column(y), scalar(0.3), scalar(0), scalar(2), text("Derivative"), scalar(1)});
  add("derivative_2_robust",
      {row(x), row(y), scalar(0.4), scalar(1), scalar(3), text("Derivative"), scalar(2)});
  add("derivative_1_nodes", {column(grid), numbers(0, 0, {}), scalar(0.3), scalar(0), scalar(3),
                             column(x), column(y), text("Derivative"), scalar(1)});
  add("window_31", {column(x), column(y), text("Window"), scalar(31)});

  // The moments method, at every degree, robust, weighted, in columns and
  // at nodes: its sums are another order than the direct ones.
  noisy(10, 1200, 0.03, x, y);
  const golden::matrix fast = text("Method"), moments = text("fast");
  add("fast_plain", {column(x), column(y), scalar(0.05), scalar(0), scalar(2), fast, moments});
  add("fast_robust_line", {column(x), column(y), scalar(0.1), scalar(1), scalar(1), fast, moments});
  add("fast_cubic_nodes", {column(grid), numbers(0, 0, {}), scalar(0.2), scalar(0), scalar(3),
                           column(x), column(y), fast, moments});
  std::vector<double> weights(x.size());
  lcg w{11};
  for (double& v : weights) v = w.next() < 0.1 ? 0.0 : 0.5 + w.next();
  add("fast_weighted_constant", {column(x), column(y), scalar(0.03), scalar(0), scalar(0), fast,
                                 moments, text("Weights"), column(weights)});
  noisy(8, 90, 0.05, x, y);
  add("fast_columns", {column(x), three, scalar(0.3), scalar(0), scalar(2), fast, moments});

  // R's conventions, robust, on data with ties.
  add("lowess_robust", {column(xr), column(yr), scalar(0.4), scalar(1), scalar(1),
                        text("Convention"), text("lowess")});
  add("loess_robust", {column(xr), column(yr), scalar(0.5), scalar(1), scalar(2),
                       text("Convention"), text("loess")});
}

}  // namespace

int main() {
  build_cases();
  std::cout << "# Golden results: inputs and outputs as IEEE 754 bit patterns.\n"
            << "# Regenerate only for an intended change of results.\n";
  for (auto& c : cases) {
    std::vector<mxArray*> args;
    for (const auto& m : c.inputs)
      args.push_back(m.is_text ? standin::make_string(m.text)
                               : standin::make_array(m.rows, m.cols, m.values));
    const standin::outcome o =
        standin::call(1, std::vector<const mxArray*>(args.begin(), args.end()));
    if (!o.ok) {
      std::cerr << c.name << ": " << o.error << '\n';
      return 1;
    }
    c.output = numbers(o.result->rows, o.result->cols, o.result->real);
    std::cout << "case " << c.name << '\n';
    for (const auto& m : c.inputs) golden::write_matrix(std::cout, "in", m);
    golden::write_matrix(std::cout, "out", c.output);
    delete o.result;
    for (auto* a : args) delete a;
  }
  return 0;
}
