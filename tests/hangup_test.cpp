#include <gtest/gtest.h>

#include <string>

#include "ras/ras.h"

namespace {

// A line up for `up_for` queries (-1: for ever, though a wait without end
// fails here rather than hangs); a clock that adds up delays.
int up_for, queries;
DWORD slept;
bool is_up(HRASCONN) { return (++queries <= up_for || up_for < 0) && queries < 1000; }
void delay(DWORD milliseconds) { slept += milliseconds; }

TEST(HangUpWait, EndsInEveryCase) {
  struct {
    DWORD hang_up_result;
    int up_for, queries;
    DWORD slept;
  } const cases[] = {
      {0, 2, 3, 6000},       // two dots, then down, as ever
      {5, 3, 4, 7000},       // refused, but the line drops by itself
      {5, -1, 5, 8000},      // refused, the line stays up
      {0, -1, 120, 123000},  // accepted, the line stays up
  };
  for (const auto& c : cases) {
    up_for = c.up_for;
    queries = 0;
    slept = 0;
    testing::internal::CaptureStdout();
    const bool dropped = wait_for_drop(HRASCONN{}, c.hang_up_result, is_up, delay);
    const std::string dots = testing::internal::GetCapturedStdout();
    EXPECT_EQ(dropped, c.up_for >= 0);
    EXPECT_EQ(dots, std::string(dropped ? c.up_for : c.queries, '.'));
    EXPECT_EQ(queries, c.queries);
    EXPECT_EQ(slept, c.slept);
  }
}

}  // namespace
