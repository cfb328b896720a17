// Calls through the stand-in host, for instruction counts and whole-process
// timing:
//   valgrind --tool=callgrind --toggle-collect=mexFunction count_call N F DEGREE ROBUST [REPEAT
//   [RESULTS [NAME VALUE]...]]
// makes the call REPEAT times (default 1) for RESULTS results (default 1; 2
// adds the info struct), with the options NAME VALUE (a VALUE that reads as
// a number is passed as one, else as text), and prints the number of
// (evaluation point x window point) pairs of one call.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_data.h"
#include "smoother/model.h"
#include "standin_host/standin.h"

int main(int argc, char** argv) {
  if (argc < 5 || (argc > 7 && argc % 2 == 0)) {
    std::fprintf(stderr, "usage: %s N F DEGREE ROBUST [REPEAT [RESULTS [NAME VALUE]...]]\n",
                 argv[0]);
    return 2;
  }
  const int n = std::atoi(argv[1]);
  const double f = std::atof(argv[2]);
  const int degree = std::atoi(argv[3]);
  const double robust = std::atof(argv[4]);
  const bench::sample s = bench::make_sample(n);
  std::vector<mxArray*> args = {standin::make_column(s.x), standin::make_column(s.y),
                                standin::make_scalar(f), standin::make_scalar(robust),
                                standin::make_scalar(degree)};
  for (int a = 7; a + 1 < argc; a += 2) {
    args.push_back(standin::make_char(argv[a]));
    char* end = nullptr;
    const double v = std::strtod(argv[a + 1], &end);
    args.push_back(*end == '\0' ? standin::make_scalar(v) : standin::make_char(argv[a + 1]));
  }
  const int repeat = argc >= 6 ? std::atoi(argv[5]) : 1;
  const int results = argc >= 7 ? std::atoi(argv[6]) : 1;
  const std::vector<const mxArray*> in(args.begin(), args.end());
  for (int k = 0; k < repeat; ++k) {
    const standin::outcome o = standin::call(results, in);
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
