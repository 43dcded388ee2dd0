// Log_Flood_Limiter: keeps a line that can repeat at a peer's pace from flooding the log. Each
// key (a sender's address, or the text itself) is let through at most once per second; the lines
// left out in that second are summarised by one line with their count once the second is over
// (given with the next line passed in, or by Flush on the caller's tick when the flood stopped).
// Over all keys at most GLOBAL_LIMIT lines a second are let through, so that senders with ever new
// (spoofed) addresses cannot flood the log either: the rest are summarised by one line with their
// count. Used by one thread only (the caller's); it holds no lock.
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

class Log_Flood_Limiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration WINDOW = std::chrono::seconds(1);
  static constexpr int GLOBAL_LIMIT = 20;

  // The lines to log now for `text` at `now`, oldest first: the summaries of the seconds that
  // ended with lines left out, then `text` itself unless its key was already let through this
  // second or the global limit is reached.
  std::vector<std::string> Pass(const std::string& key, const std::string& text,
                                Clock::time_point now);
  // Keyed by the text itself.
  std::vector<std::string> Pass(const std::string& text, Clock::time_point now) {
    return Pass(text, text, now);
  }

  // The summaries of the seconds that ended before `now` with lines left out, oldest first; the
  // caller's tick asks, so that the count of a flood that stopped is not held back.
  std::vector<std::string> Flush(Clock::time_point now);

  // The summary line of `count` repeats of `text` left out.
  static std::string Summary(const std::string& text, int count);
  // The summary line of `count` lines left out over the global limit.
  static std::string Global_Summary(int count);

 private:
  struct Window {
    Clock::time_point start;
    std::string text;  // the line let through
    int left_out = 0;
  };
  std::unordered_map<std::string, Window> windows_;  // at most 2 x GLOBAL_LIMIT keys
  Clock::time_point global_start_{};
  int global_passed_ = 0;
  int global_left_out_ = 0;
};
