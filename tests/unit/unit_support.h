// Small helpers shared by the unit tests: reproducible data, bit patterns,
// and running code inside a stand-in call scope.
#ifndef QUIBRA_TESTS_UNIT_SUPPORT_H
#define QUIBRA_TESTS_UNIT_SUPPORT_H

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "standin_host/standin.h"

// 64-bit LCG: every run sees the same "random" data.
struct lcg {
  std::uint64_t s;
  explicit lcg(std::uint64_t seed) : s(seed) {}
  std::uint32_t next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(s >> 33);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
  double unit() { return next() / 2147483648.0; }  // [0, 1)
};

inline std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

inline std::vector<std::uint64_t> bits(const std::vector<double>& v) {
  std::vector<std::uint64_t> out;
  for (double d : v) out.push_back(bits(d));
  return out;
}

// Sets an environment variable for the life of the object, then restores it.
class scoped_env {
 public:
  scoped_env(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~scoped_env() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

// Runs `body` in a call scope; what it writes to standard error goes to *err.
inline standin::outcome quiet_call(const std::function<void()>& body, std::string* err) {
  testing::internal::CaptureStderr();
  standin::outcome o = standin::within_call(body);
  *err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(o.faults.empty());
  return o;
}

// What one mexFunction call gave: the outcome, the result's values and
// shape, and what it wrote to standard error.
struct call_result {
  standin::outcome o;
  std::vector<double> v;
  std::size_t rows = 0, cols = 0;
  std::string err;
  std::unique_ptr<mxArray> info;  // the second result, when asked for
};

// Calls mexFunction for `nlhs` results, taking ownership of the inputs and
// the results.
inline call_result run_call(const std::vector<mxArray*>& in, int nlhs = 1) {
  std::vector<std::unique_ptr<mxArray>> owned(in.begin(), in.end());
  call_result r;
  testing::internal::CaptureStderr();
  r.o = standin::call(nlhs, std::vector<const mxArray*>(in.begin(), in.end()));
  r.err = testing::internal::GetCapturedStderr();
  r.info.reset(r.o.second);
  r.o.second = nullptr;
  if (r.o.result != nullptr) {
    r.v = r.o.result->real;
    r.rows = r.o.result->rows;
    r.cols = r.o.result->cols;
    delete r.o.result;
    r.o.result = nullptr;
  }
  EXPECT_TRUE(r.o.faults.empty());
  return r;
}

// n noisy points of a sine, unsorted; every `outlier_every`-th point (from
// the sixth) is raised by 8 unless it is 0.
struct sample {
  std::vector<double> x, y;
};
inline sample noisy_sine(int n, std::uint64_t seed, int outlier_every = 0) {
  lcg r(seed);
  sample d;
  for (int i = 0; i < n; ++i) {
    const double x = 10.0 * r.unit();
    double y = std::sin(x) + 0.1 * (r.unit() - 0.5);
    if (outlier_every > 0 && i % outlier_every == 5) y += 8.0;
    d.x.push_back(x);
    d.y.push_back(y);
  }
  return d;
}

#endif
