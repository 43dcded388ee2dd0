#include "base/log_flood_limiter.h"

std::string Log_Flood_Limiter::Summary(const std::string& text, int count) {
  return "The line \"" + text + "\" repeated " + std::to_string(count) +
         " more times within a second (left out).";
}

std::string Log_Flood_Limiter::Global_Summary(int count) {
  return std::to_string(count) + " more lines of other senders within a second (left out).";
}

std::vector<std::string> Log_Flood_Limiter::Flush(Clock::time_point now) {
  std::vector<std::string> lines;
  // Seconds that are over are closed: their left-out count is summarised and the key forgotten,
  // so the table holds only the keys of the last second.
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (now - it->second.start < WINDOW) {
      ++it;
      continue;
    }
    if (it->second.left_out > 0) lines.push_back(Summary(it->second.text, it->second.left_out));
    it = windows_.erase(it);
  }
  if (now - global_start_ >= WINDOW) {
    if (global_left_out_ > 0) lines.push_back(Global_Summary(global_left_out_));
    global_start_ = now;
    global_passed_ = 0;
    global_left_out_ = 0;
  }
  return lines;
}

std::vector<std::string> Log_Flood_Limiter::Pass(const std::string& key, const std::string& text,
                                                 Clock::time_point now) {
  std::vector<std::string> lines = Flush(now);
  if (const auto it = windows_.find(key); it != windows_.end()) {
    ++it->second.left_out;
  } else if (global_passed_ >= GLOBAL_LIMIT) {
    ++global_left_out_;
  } else {
    ++global_passed_;
    windows_.emplace(key, Window{now, text, 0});
    lines.push_back(text);
  }
  return lines;
}
