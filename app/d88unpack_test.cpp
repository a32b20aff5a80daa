#include <gtest/gtest.h>

#include "testing/tool_runner.h"

TEST(Placeholder, ToolIsBuilt) { EXPECT_FALSE(d88test::toolPath().empty()); }
