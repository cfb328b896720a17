// Small helpers shared by the unit tests: reproducible data, bit patterns,
// and running code inside a stand-in call scope.
#ifndef QUIBRA_TESTS_UNIT_SUPPORT_H
#define QUIBRA_TESTS_UNIT_SUPPORT_H

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
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

// Runs `body` in a call scope; what it writes to standard error goes to *err.
inline standin::outcome quiet_call(const std::function<void()>& body, std::string* err) {
  testing::internal::CaptureStderr();
  standin::outcome o = standin::within_call(body);
  *err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(o.faults.empty());
  return o;
}

#endif
