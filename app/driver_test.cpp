// The driver in process, for the one case no child process can show: Linux
// gives a program started with an empty argument vector an argv[0] of "".
#include "app/driver.h"

#include <gtest/gtest.h>

namespace {

TEST(Driver, EmptyArgumentVectorPrintsUsageWithTheToolName) {
  char* argv[] = {nullptr};
  testing::internal::CaptureStderr();
  const int status = runDriver(0, argv);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Usage: d88unpack [d88file]\n");
  EXPECT_EQ(status, 1);
}

}  // namespace
