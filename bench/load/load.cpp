// Load case: one plain call with 10^6 points and a small span, one robust
// call with 10^5 points, one call with a confidence band (two results)
// with 10^6 points, one plain call of 8 signals with 10^6 points and one
// call with 'Method' 'fast' at span 0.2 with a band (10^6 points), each
// through the stand-in host in a child
// process of its own so that its peak resident memory is its own. Each is
// also run at a tenth of its size: peak storage per point that stays put
// as n grows tenfold is what "linear in n" means here (per point and
// signal with several).
//
//   build/bench/load/quibra_load            all eight runs
//   build/bench/load/quibra_load N MODE     one run (0 plain, 1 robust, 2 with a band,
//                                           3 plain with 8 signals, 4 fast with a band,
//                                           5 fast, 6 fast robust)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "standin_host/standin.h"

namespace {

// A small span: every local fit uses 100 points, whatever n is
// (f = 1e-4 at 10^6 points, 1e-3 at 10^5).
double span_for(long n) { return 100.0 / static_cast<double>(n); }

// A noisy sine with 5% gross outliers, in shuffled order (LCG, fixed seed).
void make_data(long n, std::vector<double>& x, std::vector<double>& y) {
  std::uint64_t s = 12345;
  auto unit = [&s] {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) / 9007199254740992.0;
  };
  x.resize(static_cast<std::size_t>(n));
  y.resize(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i) {
    const double t = 100.0 * unit();
    x[static_cast<std::size_t>(i)] = t;
    y[static_cast<std::size_t>(i)] =
        std::sin(t) + 0.2 * (unit() - 0.5) + (unit() < 0.05 ? 5.0 * (unit() - 0.5) : 0.0);
  }
}

// Lines of `file` that start with `prefix`.
long count_lines(std::FILE* file, const char* prefix) {
  std::rewind(file);
  long count = 0;
  char line[256];
  const std::size_t len = std::strlen(prefix);
  while (std::fgets(line, sizeof line, file) != nullptr)
    count += std::strncmp(line, prefix, len) == 0;
  return count;
}

// Runs one call in this process and prints its figures. The module's
// diagnostics (narrow windows far from 0 make many local systems
// ill-conditioned) are counted, not shown.
// mode 0: plain, 1: robust, 2: plain with a confidence band (two results),
// 3: plain with SIGNALS columns of ordinates, 4: 'Method' 'fast' at span
// 0.2 with a confidence band, where the moment tree holds the moments the
// band needs too; 5: 'fast' plain and 6: 'fast' robust, at span 0.2.
constexpr int SIGNALS = 8;
int run(long n, int mode) {
  const bool robust = mode == 1 || mode == 6;
  const int columns = mode == 3 ? SIGNALS : 1;
  std::FILE* diagnostics = std::tmpfile();
  if (diagnostics == nullptr) return 1;
  std::FILE* real_stderr = stderr;
  stderr = diagnostics;
  std::vector<double> x, y;
  make_data(n, x, y);
  const bool fast = mode >= 4;
  const bool band = mode == 2 || mode == 4;
  const double f = fast ? 0.2 : span_for(n);
  mxArray* ax = standin::make_column(x);
  std::vector<double> ys;
  for (int c = 0; c < columns; ++c)
    for (double v : y) ys.push_back(v + 0.01 * c);
  mxArray* ay = standin::make_array(y.size(), static_cast<std::size_t>(columns), ys);
  mxArray* af = standin::make_scalar(f);
  mxArray* ar = standin::make_scalar(robust ? 1.0 : 0.0);
  mxArray* ad = standin::make_scalar(2.0);
  mxArray* an = standin::make_char("Intervals");
  mxArray* av = standin::make_char("confidence");
  mxArray* am = standin::make_char("Method");
  mxArray* amv = standin::make_char("fast");
  std::vector<const mxArray*> in = {ax, ay, af, ar, ad};
  if (band) in.insert(in.end(), {an, av});
  if (fast) in.insert(in.end(), {am, amv});
  std::fflush(stdout);
  const auto t0 = std::chrono::steady_clock::now();
  const standin::outcome o = standin::call(band ? 2 : 1, in);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  stderr = real_stderr;
  if (!o.ok) {
    std::fprintf(stderr, "call failed: %s\n", o.error.c_str());
    return 1;
  }
  long failed = 0;
  for (double v : o.result->real) failed += v == 1.7976931348623157e308 ? 1 : 0;
  std::printf(
      "%-11s n = %7ld  f = %-6g %7.2f s  peak mxMalloc %6.1f MiB = %4.1f bytes/point%s"
      "  (unstable fits %ld, failed %ld)\n",
      mode == 1   ? "robust"
      : mode == 2 ? "bands"
      : mode == 3 ? "x8"
      : mode == 4 ? "fast"
      : mode == 5 ? "fast plain"
      : mode == 6 ? "fast robust"
                  : "plain",
      n, f, secs, o.peak_bytes / 1048576.0,
      static_cast<double>(o.peak_bytes) / static_cast<double>(n * columns),
      columns > 1 ? " and signal" : "",
      count_lines(diagnostics, "Warning"), failed);
  std::fclose(diagnostics);
  delete o.result;
  delete o.second;
  for (mxArray* a : {ax, ay, af, ar, ad, an, av, am, amv}) delete a;
  return 0;
}

// Runs one call in a child and adds the child's peak resident set.
int run_child(long n, int mode) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    const int rc = run(n, mode);
    std::fflush(stdout);
    std::_Exit(rc);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 1;
  std::printf("       peak resident memory of the process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) return run_child(std::atol(argv[1]), std::atoi(argv[2]));
  int rc = 0;
  rc |= run_child(100000, 0);
  rc |= run_child(1000000, 0);
  rc |= run_child(10000, 1);
  rc |= run_child(100000, 1);
  rc |= run_child(100000, 2);
  rc |= run_child(1000000, 2);
  rc |= run_child(100000, 3);
  rc |= run_child(1000000, 3);
  rc |= run_child(100000, 4);
  rc |= run_child(1000000, 4);
  rc |= run_child(100000, 5);
  rc |= run_child(1000000, 5);
  rc |= run_child(100000, 6);
  rc |= run_child(1000000, 6);
  return rc;
}
