// Every golden call must reproduce its recorded result to the last bit.
#include <gtest/gtest.h>

#include "standin_host/standin.h"
#include "tests/golden/golden.h"

TEST(Golden, EveryRecordedCallReproducesItsBitPatterns) {
  const auto cases = golden::read_file(QUIBRA_GOLDEN_FILE);
  ASSERT_GE(cases.size(), 30u) << "golden file missing or truncated: " << QUIBRA_GOLDEN_FILE;
  testing::internal::CaptureStderr();  // singular local fits report there
  for (const auto& c : cases) {
    std::vector<mxArray*> args;
    for (const auto& m : c.inputs) args.push_back(standin::make_array(m.rows, m.cols, m.values));
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
