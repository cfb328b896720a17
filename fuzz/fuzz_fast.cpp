// 'Method' 'fast' against 'direct' through the stand-in host, on data sets
// of 256 to 2000 points decoded from the input: abscissae uniform,
// clustered, heavily tied, far from zero or split by a gap; ordinates with
// outliers; prior weights and NaN ordinates ('Missing' 'omit') at times;
// any degree 0 to 4, plain or robust, smoothed at the data or at queries
// between and beyond it. Both calls must succeed with the same lowered
// fits and the same failed ones (or unstable in the other method), and
// wherever neither fit failed nor was unstable the values agree within
// 1e-10 of max|y| (degrees 0 to 2) or 1e-9 (3 and 4), or of the value
// where it is larger; robust calls with unstable fits on the way need
// only succeed.
// A window under 256 points, or degree 5, must give the direct bits.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

constexpr std::size_t LEAST_POINTS = 256;
constexpr std::size_t MOST_POINTS = 2000;
// Fast sums are taken only from this window size on.
constexpr std::size_t FAST_WINDOW = 256;
constexpr std::size_t MOST_QUERIES = 64;
// Cost cap of the robust passes: points times window, so that an input
// runs in milliseconds under the sanitizers.
constexpr double MOST_ROBUST_WORK = 6e5;

// Small generator seeded from the input: the bulk of the data, while the
// input's bytes pick its kind and edit single points.
struct lcg {
  std::uint64_t s;
  double unit() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) * 0x1p-53;
  }
};

struct data_set {
  std::vector<double> x, y, w, queries;
  bool weights = false, omit = false, nodes = false, lower = false;
  int degree = 0;
  bool robust = false;
  double f = 0.0;
  std::size_t window = 0;
  std::string kind;
};

double abscissa(int kind, lcg& r, double spread, double offset, int levels,
                const std::vector<double>& centres) {
  switch (kind) {
    case 0: return offset + spread * r.unit();
    case 1: {  // clusters of narrow width
      const double c = centres[static_cast<std::size_t>(r.unit() * centres.size())];
      return offset + c + spread * 1e-6 * r.unit();
    }
    case 2: return offset + std::round(levels * r.unit()) * spread / levels;  // ties
    case 3: return (r.unit() < 0.5 ? 1.7e9 : 738000.0) + spread * r.unit();   // one of the two
    default: {  // a gap of a million widths
      const double u = r.unit();
      return offset + spread * (u < 0.5 ? u : u + 1e6);
    }
  }
}

// Two bytes, in order (the operands of | are evaluated in any order).
std::size_t word(fuzz::reader& in) {
  const std::size_t high = in.byte();
  return high << 8 | in.byte();
}

data_set decode(fuzz::reader& in) {
  data_set d;
  lcg r{0x9e3779b97f4a7c15ULL ^ word(in)};
  const std::size_t n = LEAST_POINTS + (word(in) % (MOST_POINTS - 255));
  const int kind = in.byte() % 5;
  static const char* const kinds[] = {"uniform", "clustered", "ties", "offset", "gap"};
  d.kind = kinds[kind];
  const double spread = std::ldexp(1.0, static_cast<int>(in.upto(40)) - 20);
  static const double offsets[] = {0.0, 1.7e9, 738000.0, -1e6, 1e12, 3.0};
  const double offset = offsets[in.upto(5)];
  const int levels = 2 + static_cast<int>(in.byte());
  std::vector<double> centres(1 + in.upto(7));
  for (double& c : centres) c = spread * r.unit();
  const double outliers = in.upto(10) / 100.0;
  const double noise = std::ldexp(1.0, static_cast<int>(in.upto(20)) - 10);
  const std::uint8_t flags = in.byte();
  d.weights = (flags & 1) != 0;
  d.omit = (flags & 2) != 0;
  d.nodes = (flags & 4) != 0;
  d.lower = (flags & 8) != 0;
  d.degree = static_cast<int>(in.byte() % 6);  // 5: direct sums either way
  for (std::size_t i = 0; i < n; ++i) {
    const double x = abscissa(kind, r, spread, offset, levels, centres);
    double y = std::sin(6.0 * (x - offset) / spread) + noise * (r.unit() - 0.5);
    if (r.unit() < outliers) y += (r.unit() < 0.5 ? -1.0 : 1.0) * 100.0 * r.unit();
    d.x.push_back(x);
    d.y.push_back(y);
    d.w.push_back(r.unit() < 0.05 ? 0.0 : 0.1 + 2.0 * r.unit());
  }
  // Edits of single points: a copy of another's abscissa (a tie), an outlier.
  for (std::size_t e = in.upto(8); e > 0; --e) {
    const std::size_t i = word(in) % n;
    const std::size_t j = word(in) % n;
    const std::uint8_t how = in.byte();
    const double jump = static_cast<int>(in.byte()) - 128;
    if ((how & 1) != 0) {
      d.x[i] = d.x[j];
    } else {
      d.y[i] += jump;
    }
  }
  if (d.omit)
    for (std::size_t e = 1 + in.upto(4); e > 0; --e) d.y[word(in) % n] = std::nan("");
  // A window of FAST_WINDOW up to all points, mostly small; now and then
  // one below it.
  const std::uint8_t wb = in.byte();
  const double share = (wb % 128) / 127.0;
  d.window = wb >= 240 ? static_cast<std::size_t>(d.degree + 1) + wb % 16 * 15
                       : FAST_WINDOW + static_cast<std::size_t>(share * share * share * (n - 256));
  d.f = (static_cast<double>(d.window) + 0.5) / static_cast<double>(n);
  d.robust = (in.byte() & 1) != 0 && static_cast<double>(n) * d.window <= MOST_ROBUST_WORK;
  if (d.nodes) {
    // At data points, halfway between neighbours in input order, and
    // beyond the ends.
    double lo = d.x[0], hi = d.x[0];
    for (double v : d.x) lo = std::fmin(lo, v), hi = std::fmax(hi, v);
    for (std::size_t k = 1 + in.upto(MOST_QUERIES - 1); k > 0; --k) {
      const std::size_t i = word(in) % (n - 1);
      const std::uint8_t how = in.byte();
      const double beyond = (hi - lo) * (how % 64) / 256.0 + 1.0;
      if (how % 4 == 0) {
        d.queries.push_back(d.x[i]);
      } else if (how % 4 == 1) {
        d.queries.push_back((d.x[i] + d.x[i + 1]) / 2.0);
      } else {
        d.queries.push_back(how % 4 == 2 ? lo - beyond : hi + beyond);
      }
    }
  }
  return d;
}

struct call {
  std::unique_ptr<mxArray> result, info;
};

// The passes every call makes at most.
constexpr int MOST_PASSES = 3;

call smooth(const data_set& d, const char* method, int passes = MOST_PASSES) {
  std::vector<std::unique_ptr<mxArray>> args;
  const auto add = [&](mxArray* a) { args.emplace_back(a); };
  if (d.nodes) {
    add(standin::make_column(d.queries));
    add(standin::make_array(0, 0));
  } else {
    add(standin::make_column(d.x));
    add(standin::make_column(d.y));
  }
  add(standin::make_scalar(d.f));
  add(standin::make_scalar(d.robust ? 1.0 : 0.0));
  add(standin::make_scalar(d.degree));
  if (d.nodes) {
    add(standin::make_column(d.x));
    add(standin::make_column(d.y));
  }
  const auto option = [&](const char* name, mxArray* value) {
    add(standin::make_char(name));
    add(value);
  };
  option("Method", standin::make_char(method));
  option("Diagnostics", standin::make_char("off"));
  option("MaxPasses", standin::make_scalar(passes));
  if (d.weights) option("Weights", standin::make_column(d.w));
  if (d.omit) option("Missing", standin::make_char("omit"));
  if (d.lower) option("Fallback", standin::make_char("lower"));
  std::vector<const mxArray*> inputs;
  for (const auto& a : args) inputs.push_back(a.get());
  const standin::outcome o = standin::call(2, inputs);
  call c{std::unique_ptr<mxArray>(o.result), std::unique_ptr<mxArray>(o.second)};
  fuzz::require_clean_storage(o);
  fuzz::require(o.ok && c.result != nullptr && c.info != nullptr, "the call failed", o.error);
  return c;
}

const std::vector<mxLogical>& flags_of(const call& c, const char* name) {
  static const std::vector<mxLogical> none;
  const mxArray* a = standin::field(c.info.get(), name);
  return a != nullptr ? a->logicals : none;
}

// Whether the two calls' robustness weights agree to rounding, when
// their fits agree within `e`: a residual moved by e moves its bisquare
// weight by up to 1.54 e / s (s the residual scale), and the passes carry
// that on. Noise far below max|y| makes s small and the weights touchy.
bool same_weights(const call& a, const call& b, double e) {
  const mxArray* wa = standin::field(a.info.get(), "weights");
  const mxArray* wb = standin::field(b.info.get(), "weights");
  if (wa == nullptr || wb == nullptr) return wa == wb;
  if (wa->real.size() != wb->real.size()) return false;
  const mxArray* sa = standin::field(a.info.get(), "scale");
  const mxArray* sb = standin::field(b.info.get(), "scale");
  const double s = sa != nullptr && sb != nullptr ? std::fmin(sa->real[0], sb->real[0]) : 0.0;
  const double tolerance = 1e-9 + (s > 0.0 ? 10.0 * e / s : 0.0);
  for (std::size_t i = 0; i < wa->real.size(); ++i) {
    const double u = wa->real[i];
    const double v = wb->real[i];
    if (!(std::fabs(u - v) <= tolerance) && !(std::isnan(u) && std::isnan(v))) return false;
  }
  return true;
}

// Whether the direct smooth at the data reports an unstable fit before
// robustness or after any number of passes: each pass's weights come
// from the residuals of the fits before it, and the last fits may be
// stable where those were not.
bool unstable_at_data(const data_set& d) {
  data_set at = d;
  at.nodes = false;
  for (int passes = 0; passes <= MOST_PASSES; ++passes) {
    at.robust = passes > 0;
    const call c = smooth(at, "direct", passes > 0 ? passes : 1);
    for (const mxLogical u : flags_of(c, "unstable"))
      if (u != 0) return true;
  }
  return false;
}

std::string describe(const data_set& d) {
  char text[200];
  std::snprintf(text, sizeof text, "%s, n %zu, window %zu (f %.17g), degree %d, robust %d%s%s%s%s",
                d.kind.c_str(), d.x.size(), d.window, d.f, d.degree, d.robust ? 1 : 0,
                d.weights ? ", weights" : "", d.omit ? ", omit" : "", d.nodes ? ", nodes form" : "",
                d.lower ? ", lower" : "");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const data_set d = decode(in);
  const call direct = smooth(d, "direct");
  const call fast = smooth(d, "fast");
  const std::string what = describe(d);
  const std::vector<double>& a = direct.result->real;
  const std::vector<double>& b = fast.result->real;
  if (d.window < FAST_WINDOW || d.degree > 4) {
    fuzz::require(fuzz::same_values(a, b), "not the direct bits", what);
    return 0;
  }
  double scale = 0.0;
  for (double v : d.y)
    if (std::isfinite(v)) scale = std::fmax(scale, std::fabs(v));
  // A value far beyond the data's magnitude (a line carried across a gap)
  // carries rounding of its own size in either method.
  const double share = d.degree <= 2 ? 1e-10 : 1e-9;
  // Where the passes' residuals include those of fits whose value is
  // rounding noise (reported unstable), the weights made from them, and
  // all that follows (which fits fail or are lowered too), may differ by
  // more than rounding: the two methods need only both succeed. That
  // takes four more direct calls, so it is looked at only for a check
  // that fails.
  int exempt = -1;
  const auto check = [&](bool ok, const char* message, const std::string& detail) {
    if (ok) return;
    if (d.robust && exempt < 0) exempt = unstable_at_data(d) ? 1 : 0;
    if (exempt != 1) fuzz::fail(message, detail);
  };
  if (d.robust) check(same_weights(direct, fast, share * scale), "robustness weights differ", what);
  check(flags_of(direct, "lowered") == flags_of(fast, "lowered"), "lowered fits differ", what);
  const auto& failed = flags_of(direct, "failed");
  const auto& failed_b = flags_of(fast, "failed");
  const auto& unstable_a = flags_of(direct, "unstable");
  const auto& unstable_b = flags_of(fast, "unstable");
  fuzz::require(failed.size() == failed_b.size() && unstable_a.size() == unstable_b.size(),
                "info shapes differ", what);
  for (std::size_t i = 0; i < a.size(); ++i) {
    // A system singular but for rounding: one method's sums may meet an
    // exact zero pivot where the other's meet a tiny one, which the
    // product check reports unstable.
    if (failed[i] != failed_b[i])
      check(failed[i] != 0 ? unstable_b[i] != 0 : unstable_a[i] != 0, "failed fits differ", what);
    if (failed[i] != 0 || failed_b[i] != 0 || unstable_a[i] != 0 || unstable_b[i] != 0) continue;
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (!(std::fabs(a[i] - b[i]) <= share * std::fmax(scale, std::fabs(a[i])))) {
      char detail[160];
      std::snprintf(detail, sizeof detail,
                    "\nat %zu (x %.17g): direct %.17g, fast %.17g, max|y| %g", i,
                    d.nodes ? d.queries[i] : d.x[i], a[i], b[i], scale);
      check(false, "fast and direct values differ", what + detail);
    }
  }
  return 0;
}
