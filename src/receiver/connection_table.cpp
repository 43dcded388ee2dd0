#include "receiver/connection_table.h"

#include <cstring>

namespace {

bool Same_Peer(const Connection_Slot& slot, std::string_view address, int32_t port) {
  return slot.Port == port && std::string_view(slot.Address) == address;
}

}  // namespace

int Connection_Table::Set_Countdown(std::string_view address, int32_t port, int32_t countdown) {
  // A peer that already holds a live slot keeps it, even when a free slot comes earlier: a
  // second entry for the same peer would keep counting the old time and close it too soon.
  if (address.size() >= CONNECTION_ADDRESS_SIZE) return -1;
  int first_free = -1;
  for (int i = 0; i < used_end_; ++i) {
    Connection_Slot& slot = slots_[i];
    if (slot.Countdown == 0) {
      if (first_free < 0) first_free = i;
      continue;
    }
    if (Same_Peer(slot, address, port)) {
      slot.Countdown = countdown;
      return i;
    }
  }
  if (first_free < 0) {
    if (used_end_ == CONNECTION_SLOTS) return -1;
    first_free = used_end_++;
  }
  Connection_Slot& slot = slots_[first_free];
  std::memset(slot.Address, 0, sizeof(slot.Address));
  std::memcpy(slot.Address, address.data(), address.size());
  slot.Port = port;
  slot.Countdown = countdown;
  return first_free;
}

void Connection_Table::Tick(const std::function<void(std::string_view, int32_t)>& close) {
  for (int i = 0; i < used_end_; ++i) {
    Connection_Slot& slot = slots_[i];
    if (slot.Countdown == 0) continue;
    if (slot.Countdown == 1) {
      close(std::string_view(slot.Address), slot.Port);
      slot.Port = 0;
      std::memset(slot.Address, 0, sizeof(slot.Address));
    }
    --slot.Countdown;
  }
  while (used_end_ > 0 && slots_[used_end_ - 1].Countdown == 0) --used_end_;
}

int Connection_Table::Live_Count() const {
  int live = 0;
  for (int i = 0; i < used_end_; ++i) live += slots_[i].Countdown != 0;
  return live;
}
