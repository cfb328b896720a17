// Storage discipline of whole calls, audited by the stand-in host: what a
// call leaves live is exactly what outlives it by design (the model's
// record, x and y, plus the weights after a robust call that succeeded),
// nothing is freed twice or from outside the call, an allocation failure at
// any point ends the call cleanly, and peak storage is linear in the input.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "standin_host/standin.h"
#include "tests/unit/unit_support.h"

namespace {

// Owns the arrays of one call and its result.
struct call_args {
  std::vector<std::unique_ptr<mxArray>> arrays;

  call_args& add(mxArray* a) & {
    arrays.emplace_back(a);
    return *this;
  }
  call_args add(mxArray* a) && {
    arrays.emplace_back(a);
    return std::move(*this);
  }
  standin::outcome run(int nlhs = 1) const {
    std::vector<const mxArray*> in;
    for (const auto& a : arrays) in.push_back(a.get());
    testing::internal::CaptureStderr();  // singular local fits report there
    standin::outcome o = standin::call(nlhs, in);
    stderr_text = testing::internal::GetCapturedStderr();
    return o;
  }
  mutable std::string stderr_text;
};

using data = sample;
data noisy(int n, std::uint64_t seed) { return noisy_sine(n, seed, 17); }

call_args smooth_call(const data& d, double f, double robust, double degree) {
  call_args c;
  c.add(standin::make_column(d.x)).add(standin::make_column(d.y));
  c.add(standin::make_scalar(f))
      .add(standin::make_scalar(robust))
      .add(standin::make_scalar(degree));
  return c;
}

constexpr std::size_t MODEL_BLOCKS = 3;  // record, x, y

void expect_clean(const standin::outcome& o, std::size_t blocks_left) {
  EXPECT_TRUE(o.faults.empty()) << o.faults.front();
  EXPECT_EQ(o.blocks_left, blocks_left);
  EXPECT_EQ(o.console, "");
}

}  // namespace

TEST(Memory, SuccessfulCallsLeaveOnlyTheModel) {
  const data d = noisy(300, 7);
  {
    const auto o = smooth_call(d, 0.3, 0, 2).run();
    ASSERT_TRUE(o.ok) << o.error;
    expect_clean(o, MODEL_BLOCKS);
    delete o.result;
  }
  {
    const auto o = smooth_call(d, 0.3, 1, 2).run();
    ASSERT_TRUE(o.ok) << o.error;
    expect_clean(o, MODEL_BLOCKS + 1);  // and the robustness weights
    delete o.result;
  }
  {
    // Nodes: the model is built from the nodes, evaluated at X.
    call_args c = smooth_call(d, 0.5, 0, 1);
    c.add(standin::make_row({0, 2, 4, 6, 8, 10})).add(standin::make_row({1, 0, 1, 0, 1, 0}));
    const auto o = c.run();
    ASSERT_TRUE(o.ok) << o.error;
    expect_clean(o, MODEL_BLOCKS);
    delete o.result;
  }
  {
    // Robust with nodes: the weights belong to the nodes' model.
    call_args c = smooth_call(d, 0.5, -3, 1);
    c.add(standin::make_column(d.x)).add(standin::make_column(d.y));
    const auto o = c.run();
    ASSERT_TRUE(o.ok) << o.error;
    expect_clean(o, MODEL_BLOCKS + 1);
    delete o.result;
  }
}

TEST(Memory, RobustPassesThatGiveUpLeaveTheModelAsBuilt) {
  // A window of one point never fits, so every residual is missing, every
  // bisquare weight is 0 and the robustness passes give up.
  const data d = noisy(20, 3);
  const auto o = smooth_call(d, 0.01, 1, 0).run();
  ASSERT_TRUE(o.ok) << o.error;
  expect_clean(o, MODEL_BLOCKS);
  for (double v : o.result->real) EXPECT_EQ(v, 1.7976931348623157e308);
  delete o.result;
}

TEST(Memory, ArgumentErrorsAllocateNothing) {
  using maker = std::function<call_args()>;
  auto col = [](int n) { return standin::make_column(std::vector<double>(n, 1.0)); };
  auto base = [&](int nargs) {
    // The first `nargs` of X, Y, f, robust, degree, all valid.
    call_args c;
    for (int i = 0; i < nargs && i < 2; ++i) c.add(col(5));
    const double extra[] = {0.2, 0, 2};
    for (int i = 2; i < nargs && i < 5; ++i) c.add(standin::make_scalar(extra[i - 2]));
    return c;
  };
  const std::vector<std::pair<std::string, maker>> cases = {
      {"Wrong number of input arguments.", [&] { return base(1); }},
      {"Wrong number of input arguments.", [&] { return base(5).add(col(5)); }},
      {"X must be a noncomplex double vector!!!",
       [&] { return call_args{}.add(standin::make_array(0, 3)).add(col(3)); }},
      {"Y must be a noncomplex double vector!!!",
       [&] {
         call_args c;
         c.add(col(3)).add(col(3));
         c.arrays[1]->cls = mx_class::single_;
         return c;
       }},
      {"X and Y must have the same length!!!", [&] { return call_args{}.add(col(4)).add(col(3)); }},
      {"f must be a noncomplex scalar double.",
       [&] { return call_args{}.add(col(3)).add(col(3)).add(col(2)); }},
      {"robust must be a noncomplex scalar double.",
       [&] {
         call_args c = base(4);
         c.arrays[3]->complex = true;
         c.arrays[3]->imag = {1.0};
         return c;
       }},
      {"degree must be a noncomplex scalar double.",
       [&] {
         call_args c = base(5);
         c.arrays[4]->sparse = true;
         return c;
       }},
      {"degree must not be negative.",
       [&] {
         call_args c = base(5);
         c.arrays[4]->real = {-1.0};
         return c;
       }},
      {"degree is too large.",
       [&] {
         call_args c = base(5);
         c.arrays[4]->real = {101.0};
         return c;
       }},
      {"nodes_x must be a noncomplex double vector!!!",
       [&] { return base(5).add(standin::make_array(3, 0)).add(col(3)); }},
      {"nodes_y must be a noncomplex double vector!!!",
       [&] {
         call_args c = base(5).add(col(3)).add(col(3));
         c.arrays[6]->cls = mx_class::logical_;
         return c;
       }},
      {"nodes_x and nodes_y must have the same length!!!",
       [&] {
         return base(5).add(col(3)).add(standin::make_row({1, 2, 3}));
       }},
  };
  for (const auto& [message, make] : cases) {
    const auto o = make().run();
    ASSERT_FALSE(o.ok) << message;
    EXPECT_EQ(o.error, message);
    EXPECT_EQ(o.allocations, 0u) << message;
    expect_clean(o, 0);
  }
}

TEST(Memory, TheSecondResultLeavesNothingBehind) {
  // What info needs while the call runs is released before it returns.
  const data d = noisy(300, 7);
  for (const double robust : {0.0, 1.0}) {
    const auto o = smooth_call(d, 0.3, robust, 2).run(2);
    ASSERT_TRUE(o.ok) << o.error;
    expect_clean(o, MODEL_BLOCKS + (robust != 0 ? 1 : 0));
    EXPECT_NE(o.second, nullptr);
    delete o.result;
    delete o.second;
  }
}

// Fails each allocation of a robust call in turn, with one result and
// with two (see below).
static void fail_each_allocation() {
  const data d = noisy(40, 11);
  const call_args c = smooth_call(d, 0.4, 1, 2);
  for (const int nlhs : {1, 2}) {
    const auto full = c.run(nlhs);
    ASSERT_TRUE(full.ok) << full.error;
    delete full.result;
    delete full.second;
    ASSERT_GT(full.allocations, 100u);
    // Every early allocation, then a sample of the rest (the robust passes repeat).
    for (std::size_t k = 1; k <= full.allocations; k += k < 200 ? 1 : 97) {
      standin::fail_allocation(k);
      const auto o = c.run(nlhs);
      standin::fail_allocation(0);
      ASSERT_FALSE(o.ok) << "allocation " << k;
      EXPECT_EQ(o.error, "Out of memory.") << "allocation " << k;
      EXPECT_TRUE(o.faults.empty()) << "allocation " << k;
      EXPECT_EQ(o.allocations, k);
      const std::string& err = c.stderr_text;
      ASSERT_GE(err.size(), 18u);
      EXPECT_EQ(err.substr(err.size() - 18), "Alzheimer's error\n") << "allocation " << k;
    }
  }
}

TEST(Memory, AllocationFailureAnywhereEndsTheCallCleanly) {
  // Fail each allocation of a robust call in turn: the call must end with
  // the out-of-memory message, its one stderr line, and no storage fault;
  // whatever was live is the host's to reclaim. On one thread, and with
  // the fits shared among three (each with its own scratch).
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  for (const char* threads : {"1", "3"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    const scoped_env count("QUIBRA_NUM_THREADS", threads);
    fail_each_allocation();
  }
}

TEST(Memory, SharedCallsLeaveOnlyTheModel) {
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  const scoped_env count("QUIBRA_NUM_THREADS", "3");
  const data d = noisy(300, 8);
  for (const double robust : {0.0, 1.0}) {
    const auto o = smooth_call(d, 0.3, robust, 2).run();
    ASSERT_TRUE(o.ok) << o.error;
    expect_clean(o, MODEL_BLOCKS + (robust != 0 ? 1 : 0));
    delete o.result;
  }
}

TEST(Memory, PeakStorageIsLinearInThePointCount) {
  // Input bytes: x and y, 16 per point. A plain call holds the sort's
  // pointers and scratch (1.5x), a robust one also the working copy, the
  // residuals and the selection's pointers (4x); one local fit's scratch
  // adds a constant.
  for (const int n : {500, 4000}) {
    const data d = noisy(n, 5);
    const std::size_t input = 16u * static_cast<std::size_t>(n);
    for (const double robust : {0.0, 1.0}) {
      const auto o = smooth_call(d, 0.05, robust, 2).run();
      ASSERT_TRUE(o.ok) << o.error;
      delete o.result;
      const std::size_t multiple = robust != 0 ? 5 : 2;
      EXPECT_LE(o.peak_bytes, multiple * input + 8192) << "n = " << n << ", robust = " << robust;
    }
  }
}
