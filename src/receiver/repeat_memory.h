// Repeat_Memory: the last accepted message of each object (account with receiver and line): its
// sequence number, its decrypted data (event code, group, zone and extended data) and its
// reception time. A communicator that did not get its answer sends the same message again with
// the same sequence number; the receiver answers such a repeat but does not store it again. The
// memory starts empty (the journal holds no sequence numbers) and holds at most `capacity`
// objects, the object table's size; the object whose message is the oldest makes room.
//
// Threads: the receiver thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "protocol/event_record.h"

class Repeat_Memory {
 public:
  explicit Repeat_Memory(std::size_t capacity);

  // True when `record` (with its sequence number and extended data) repeats the last remembered
  // message of its object, received less than `window_minutes` minutes before `now`; `earlier`
  // then holds that message's reception time. Never true with a window of 0.
  bool Is_Repeat(const Event_Record& record, uint32_t sequence, const Extended_Data& extended,
                 int64_t now, int window_minutes, int64_t& earlier) const;
  // Makes `record` the last message of its object, received at `time`.
  void Remember(const Event_Record& record, uint32_t sequence, const Extended_Data& extended,
                int64_t time);
  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    uint32_t Sequence = 0;
    std::string Data;
    int64_t Time = 0;
    std::list<std::string>::iterator Place;  // in order_
  };
  std::size_t capacity_;
  std::unordered_map<std::string, Entry> entries_;
  std::list<std::string> order_;  // keys, the least recently remembered first
};
