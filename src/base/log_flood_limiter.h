// Log_Flood_Limiter: keeps a line that can repeat at a peer's pace from flooding the log. Each
// distinct text is let through at most once per second; the repeats left out in that second are
// summarised by one line with their count once the second is over (given with the next line
// passed in). Used by one thread only (the caller's); it holds no lock.
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

class Log_Flood_Limiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration WINDOW = std::chrono::seconds(1);

  // The lines to log now for `text` at `now`, oldest first: the summaries of the seconds that
  // ended with repeats left out, then `text` itself unless it was already let through this second.
  std::vector<std::string> Pass(const std::string& text, Clock::time_point now);

  // The summary line of `count` repeats of `text` left out.
  static std::string Summary(const std::string& text, int count);

 private:
  struct Window {
    Clock::time_point start;
    int left_out = 0;
  };
  std::unordered_map<std::string, Window> windows_;
};
