#include "base/log_flood_limiter.h"

std::string Log_Flood_Limiter::Summary(const std::string& text, int count) {
  return "The line \"" + text + "\" repeated " + std::to_string(count) +
         " more times within a second (left out).";
}

std::vector<std::string> Log_Flood_Limiter::Pass(const std::string& text, Clock::time_point now) {
  std::vector<std::string> lines;
  // Seconds that are over are closed: their left-out count is summarised and the text forgotten,
  // so the table holds only the texts of the last second.
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (now - it->second.start < WINDOW) {
      ++it;
      continue;
    }
    if (it->second.left_out > 0) lines.push_back(Summary(it->first, it->second.left_out));
    it = windows_.erase(it);
  }
  auto [it, fresh] = windows_.try_emplace(text, Window{now, 0});
  if (fresh)
    lines.push_back(text);
  else
    ++it->second.left_out;
  return lines;
}
