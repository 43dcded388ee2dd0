#include "base/log_flood_limiter.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

TEST(Log_Flood_Limiter_Test, OneLinePerTextPerSecondThenTheCountLeftOut) {
  Log_Flood_Limiter limiter;
  const auto t0 = Log_Flood_Limiter::Clock::time_point{} + 100s;
  const std::string a = "Unrecognised data received from IP: 10.0.0.1, port: 5000";
  const std::string b = "Unrecognised data received from IP: 10.0.0.2, port: 5000";

  EXPECT_EQ(limiter.Pass(a, t0), Lines{a});
  for (int i = 0; i < 49; ++i) EXPECT_EQ(limiter.Pass(a, t0 + 10ms * (i + 1)), Lines{});
  EXPECT_EQ(limiter.Pass(b, t0 + 500ms), Lines{b});  // another address has its own second
  EXPECT_EQ(limiter.Pass(b, t0 + 600ms), Lines{});

  // After the second: the summaries come first, then the new line.
  EXPECT_EQ(limiter.Pass(a, t0 + 1s), (Lines{Log_Flood_Limiter::Summary(a, 49), a}));
  EXPECT_EQ(limiter.Pass(a, t0 + 1400ms), Lines{});
  EXPECT_EQ(limiter.Pass("other", t0 + 1600ms), (Lines{Log_Flood_Limiter::Summary(b, 1), "other"}));
  // A second without repeats needs no summary.
  EXPECT_EQ(limiter.Pass("other", t0 + 2700ms), (Lines{Log_Flood_Limiter::Summary(a, 1), "other"}));
  EXPECT_EQ(limiter.Pass("other", t0 + 3800ms), Lines{"other"});
  EXPECT_NE(Log_Flood_Limiter::Summary(a, 49).find("49"), std::string::npos);
}

}  // namespace
