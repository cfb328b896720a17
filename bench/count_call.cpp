// One call through the stand-in host, for instruction counting:
//   valgrind --tool=callgrind --toggle-collect=mexFunction count_call N F DEGREE ROBUST
// prints the number of (evaluation point x window point) pairs of the call.
#include <cstdio>
#include <cstdlib>

#include "bench/bench_data.h"
#include "smoother/model.h"
#include "standin_host/standin.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s N F DEGREE ROBUST\n", argv[0]);
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const double f = std::atof(argv[2]);
  const int degree = std::atoi(argv[3]);
  const double robust = std::atof(argv[4]);
  const bench::sample s = bench::make_sample(n);
  mxArray* args[5] = {standin::make_column(s.x), standin::make_column(s.y),
                      standin::make_scalar(f), standin::make_scalar(robust),
                      standin::make_scalar(degree)};
  const standin::outcome o = standin::call(1, {args[0], args[1], args[2], args[3], args[4]});
  if (!o.ok) {
    std::fprintf(stderr, "%s\n", o.error.c_str());
    return 1;
  }
  std::printf("pairs %.0f\n", static_cast<double>(n) * window_size(n, f, degree));
  delete o.result;
  for (mxArray* a : args) delete a;
  return 0;
}
