#include "receiver/repeat_memory.h"

namespace {

std::string Object_Key(const Event_Record& record) {
  std::string key;
  key.append(Field_Text(record.Account_Nr)).push_back('|');
  key.append(Field_Text(record.Receiver_Nr)).push_back('|');
  key.append(Field_Text(record.Line_Nr));
  return key;
}

std::string Message_Data(const Event_Record& record, const Extended_Data& extended) {
  std::string data;
  data.append(Field_Text(record.Event_Code)).push_back('|');
  data.append(Field_Text(record.Group_Nr)).push_back('|');
  data.append(Field_Text(record.Zone_Nr)).push_back('|');
  data.append(Extended_Text(extended));
  return data;
}

}  // namespace

Repeat_Memory::Repeat_Memory(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {}

bool Repeat_Memory::Is_Repeat(const Event_Record& record, uint32_t sequence,
                              const Extended_Data& extended, int64_t now, int window_minutes,
                              int64_t& earlier) const {
  if (window_minutes <= 0) return false;
  const auto found = entries_.find(Object_Key(record));
  if (found == entries_.end()) return false;
  const Entry& entry = found->second;
  // A message dated before the remembered one (the clock was set back) is no repeat.
  const int64_t age = now - entry.Time;
  if (entry.Sequence != sequence || age < 0 || age >= int64_t{window_minutes} * 60) return false;
  if (entry.Data != Message_Data(record, extended)) return false;
  earlier = entry.Time;
  return true;
}

void Repeat_Memory::Remember(const Event_Record& record, uint32_t sequence,
                             const Extended_Data& extended, int64_t time) {
  std::string key = Object_Key(record);
  auto found = entries_.find(key);
  if (found == entries_.end()) {
    if (entries_.size() >= capacity_) {
      entries_.erase(order_.front());
      order_.pop_front();
    }
    order_.push_back(key);
    found = entries_.emplace(std::move(key), Entry{}).first;
    found->second.Place = std::prev(order_.end());
  } else {
    order_.splice(order_.end(), order_, found->second.Place);
  }
  found->second.Sequence = sequence;
  found->second.Data = Message_Data(record, extended);
  found->second.Time = time;
}
