// The wide paths' quotient without a division (numeric/lanes.h) against the
// division, on the operands the local fits give it: a = x - q and b = h, a
// distance between two abscissae, where every abscissa and query is 0 or of
// magnitude within [2^-340, 2^340] (smaller or larger data take the
// 2-lane path, which divides). Any bit of difference is a finding.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "numeric/lanes.h"
#include "numeric/reference/quotients.h"

namespace {

// A raw double brought into the range the wide paths see: its sign and
// significand kept, its exponent folded into [-340, 340], or 0.
double moderate(double v) {
  if (v == 0.0 || !std::isfinite(v)) return 0.0;
  int e = 0;
  const double m = std::frexp(v, &e);  // v = m 2^e, 0.5 <= |m| < 1
  e = ((e % 681) + 681) % 681 - 340;
  return std::ldexp(m, e);
}

constexpr int GROUP = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#if QUIBRA_WIDE_LANES
  const int widest = supported_lanes();
  if (widest < 4) return 0;
  fuzz::reader in(data, size);
  double a[GROUP];
  double b[GROUP];
  for (int k = 0; k < GROUP; ++k) {
    // A point, the query, and the window's farther end.
    const double x = moderate(in.raw_double());
    const double q = moderate(in.raw_double());
    const double end = moderate(in.raw_double());
    a[k] = x - q;
    b[k] = std::fabs(end - q);
    if (!(b[k] > 0.0)) b[k] = 1.0;
  }
  double got[GROUP];
  quotients_4(a, b, got, GROUP);
  for (int pass = 0; pass < (widest == 8 ? 2 : 1); ++pass) {
    if (pass == 1) quotients_8(a, b, got, GROUP);
    for (int k = 0; k < GROUP; ++k) {
      const double want = a[k] / b[k];
      if (std::memcmp(&got[k], &want, sizeof want) != 0) {
        char detail[160];
        std::snprintf(detail, sizeof detail, "%a / %a: %a, the division %a (%d lanes)", a[k], b[k],
                      got[k], want, pass == 0 ? 4 : 8);
        fuzz::fail("quotient differs from the division", detail);
      }
    }
  }
#else
  (void)data;
  (void)size;
#endif
  return 0;
}
