// Benchmark data that the host-side benchmark script reproduces exactly:
// a Park-Miller generator and a test curve of sums and products only, so no
// math library is involved.
#ifndef QUIBRA_BENCH_DATA_H
#define QUIBRA_BENCH_DATA_H

#include <vector>

namespace bench {

struct sample {
  std::vector<double> x;
  std::vector<double> y;
};

// n points, abscissae uniform on [0, 10) in random order, a cubic plus
// uniform noise, and every 50th ordinate an outlier.
inline sample make_sample(int n) {
  unsigned long long state = 12345;
  auto next = [&state]() {
    state = state * 16807 % 2147483647;
    return static_cast<double>(state) / 2147483647.0;
  };
  sample s;
  s.x.resize(n);
  s.y.resize(n);
  for (int i = 0; i < n; ++i) {
    const double x = 10.0 * next();
    const double noise = next() - 0.5;
    const double c = x - 5.0;
    s.x[i] = x;
    s.y[i] = c * c * c / 25.0 - c + noise;
    if (i % 50 == 49) s.y[i] += 20.0;
  }
  return s;
}

}  // namespace bench

#endif
