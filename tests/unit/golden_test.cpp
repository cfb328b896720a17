// Every golden call must reproduce its recorded result to the last bit, on
// one thread and shared among two and three (however small the call), with
// every lane width this processor runs.
#include <gtest/gtest.h>

#include <string>

#include "numeric/lanes.h"
#include "standin_host/standin.h"
#include "tests/golden/golden.h"
#include "tests/unit/unit_support.h"

namespace {

void expect_golden(const std::string& config) {
  SCOPED_TRACE(config);
  const auto cases = golden::read_file(QUIBRA_GOLDEN_FILE);
  ASSERT_GE(cases.size(), 30u) << "golden file missing or truncated: " << QUIBRA_GOLDEN_FILE;
  testing::internal::CaptureStderr();  // singular local fits report there
  for (const auto& c : cases) {
    std::vector<mxArray*> args;
    for (const auto& m : c.inputs)
      args.push_back(m.is_text ? standin::make_string(m.text)
                               : standin::make_array(m.rows, m.cols, m.values));
    const auto o = standin::call(1, std::vector<const mxArray*>(args.begin(), args.end()));
    ASSERT_TRUE(o.ok) << c.name << ": " << o.error;
    EXPECT_EQ(o.result->rows, c.output.rows) << c.name;
    EXPECT_EQ(o.result->cols, c.output.cols) << c.name;
    ASSERT_EQ(o.result->real.size(), c.output.values.size()) << c.name;
    for (std::size_t i = 0; i < c.output.values.size(); ++i) {
      ASSERT_EQ(golden::to_hex(o.result->real[i]), golden::to_hex(c.output.values[i]))
          << c.name << " element " << i;
    }
    delete o.result;
    for (auto* a : args) delete a;
  }
  testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(Golden, EveryRecordedCallReproducesItsBitPatternsOnEveryPathAndThreadCount) {
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  for (const int lanes : {2, 4, 8}) {
    if (lanes > supported_lanes()) continue;
    const scoped_env width("QUIBRA_LANES", std::to_string(lanes));
    for (const char* threads : {"1", "2", "3"}) {
      const scoped_env count("QUIBRA_NUM_THREADS", threads);
      expect_golden(std::to_string(lanes) + " lanes, " + threads + " threads");
    }
  }
}
