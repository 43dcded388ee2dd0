// The batch of the receiver port's group commit: the acknowledged messages of one or more passes
// of the receiver loop whose journal slots await one sync, with the answers held back until it
// has returned. Owned by the receiver thread (receiver_server.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/event_record.h"
#include "receiver/udp_port.h"

struct Held_Answer {
  int Fd;
  uint32_t Generation;
  std::string Bytes;
  int Result;             // the Parse_Result of its read, for Read_Handled once the answer is out
  bool Datagram = false;  // an answer to a UDP sender: Generation is the UDP socket's
  Datagram_Peer Peer{};
};

// An accepted message that becomes the last of its object once its sync has returned.
struct Remembered_Message {
  Event_Record Record;
  uint32_t Sequence;
  Extended_Data Extended;
};

// The acknowledged messages of one or more passes whose slots await one sync.
struct Commit_Batch {
  std::vector<int> Slots;
  std::vector<uint64_t> Tickets;
  std::vector<Held_Answer> Answers;
  std::vector<Remembered_Message> Remember;
  bool Has_Event = false;  // a Contact ID event the report sender is to take
  bool Empty() const { return Answers.empty() && Slots.empty(); }
  void Clear() {
    Slots.clear();
    Tickets.clear();
    Answers.clear();
    Remember.clear();
    Has_Event = false;
  }
};
