// Calls through the stand-in host, for instruction counts and whole-process
// timing:
//   valgrind --tool=callgrind --toggle-collect=mexFunction count_call N F DEGREE ROBUST [REPEAT [RESULTS]]
// makes the call REPEAT times (default 1) for RESULTS results (default 1; 2
// adds the info struct) and prints the number of (evaluation point x
// window point) pairs of one call.
#include <cstdio>
#include <cstdlib>

#include "bench/bench_data.h"
#include "smoother/model.h"
#include "standin_host/standin.h"

int main(int argc, char** argv) {
  if (argc < 5 || argc > 7) {
    std::fprintf(stderr, "usage: %s N F DEGREE ROBUST [REPEAT [RESULTS]]\n", argv[0]);
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
  const int repeat = argc >= 6 ? std::atoi(argv[5]) : 1;
  const int results = argc == 7 ? std::atoi(argv[6]) : 1;
  for (int k = 0; k < repeat; ++k) {
    const standin::outcome o =
        standin::call(results, {args[0], args[1], args[2], args[3], args[4]});
    if (!o.ok) {
      std::fprintf(stderr, "%s\n", o.error.c_str());
      return 1;
    }
    delete o.result;
    delete o.second;
  }
  std::printf("pairs %.0f\n", static_cast<double>(n) * window_size(n, f, degree));
  for (mxArray* a : args) delete a;
  return 0;
}
