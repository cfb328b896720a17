#include <gtest/gtest.h>
#include "standin_host/standin.h"
TEST(Smoke, Runs) {
  auto* x = standin::make_column({0,1,2,3,4,5,6,7,8,9});
  auto* y = standin::make_column({0,1,4,9,16,25,36,49,64,81});
  auto* f = standin::make_scalar(0.5);
  auto o = standin::call(1, {x, y, f});
  ASSERT_TRUE(o.ok) << o.error;
  for (double v : o.result->real) printf("%.17g\n", v);
  EXPECT_EQ(o.blocks_left, 0u);
}
