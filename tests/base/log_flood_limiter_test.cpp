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

  // A flood that stops is summarised by the tick, once, when its second is over.
  EXPECT_EQ(limiter.Pass(a, t0 + 5s), Lines{a});
  EXPECT_EQ(limiter.Pass(a, t0 + 5100ms), Lines{});
  EXPECT_EQ(limiter.Flush(t0 + 5900ms), Lines{});
  EXPECT_EQ(limiter.Flush(t0 + 6s), Lines{Log_Flood_Limiter::Summary(a, 1)});
  EXPECT_EQ(limiter.Flush(t0 + 7s), Lines{});
}

TEST(Log_Flood_Limiter_Test, OneLinePerAddressAndACapOverAllAddresses) {
  Log_Flood_Limiter limiter;
  const auto t0 = Log_Flood_Limiter::Clock::time_point{} + 100s;
  auto line = [](int host, int port) {
    return "Unrecognised data received from IP: 10.0.0." + std::to_string(host) +
           ", port: " + std::to_string(port);
  };
  auto address = [](int host) { return "10.0.0." + std::to_string(host); };

  // Another port of the same address is the same sender.
  EXPECT_EQ(limiter.Pass(address(1), line(1, 5000), t0), Lines{line(1, 5000)});
  EXPECT_EQ(limiter.Pass(address(1), line(1, 5001), t0 + 1ms), Lines{});
  // Spoofed sources: each address new, only the first GLOBAL_LIMIT lines of the second pass.
  const int limit = Log_Flood_Limiter::GLOBAL_LIMIT;
  int passed = 1;
  for (int host = 2; host < 2 + 3 * limit; ++host)
    passed += static_cast<int>(limiter.Pass(address(host), line(host, 5000), t0 + 2ms).size());
  EXPECT_EQ(passed, limit);
  EXPECT_EQ(limiter.Pass(address(1), line(1, 5002), t0 + 1s),
            (Lines{Log_Flood_Limiter::Summary(line(1, 5000), 1),
                   Log_Flood_Limiter::Global_Summary(3 * limit - (limit - 1)), line(1, 5002)}));
}

}  // namespace
