#include "receiver/connection_table.h"

#include <bit>
#include <cstring>

void Connection_Table::Mark_Free(int i, bool free) {
  const uint64_t bit = uint64_t{1} << (i % 64);
  if (free) {
    free_[i / 64] |= bit;
  } else {
    free_[i / 64] &= ~bit;
  }
}

int Connection_Table::First_Free() const {
  for (int w = 0; w < FREE_WORDS; ++w) {
    if (free_[w] != 0) return w * 64 + std::countr_zero(free_[w]);
  }
  return CONNECTION_SLOTS;
}

int Connection_Table::Set_Countdown(std::string_view address, int32_t port, int32_t countdown) {
  // A peer that already holds a live slot keeps it, even when a free slot comes earlier: a
  // second entry for the same peer would keep counting the old time and close it too soon.
  if (address.size() >= CONNECTION_ADDRESS_SIZE) return -1;
  if (!free_ready_) {
    for (int i = 0; i < CONNECTION_SLOTS; ++i) Mark_Free(i, slots_[i].Countdown == 0);
    free_ready_ = true;
  }
  const auto found = live_.find(Peer{address, port});
  if (found != live_.end()) {
    const int i = found->second;
    slots_[i].Countdown = countdown;
    if (countdown == 0) {
      live_.erase(found);
      Mark_Free(i, true);
    }
    return i;
  }
  // The first free slot: below used_end_, or used_end_ itself (every slot from there on is free).
  const int i = First_Free();
  if (i == CONNECTION_SLOTS) return -1;
  if (i >= used_end_) used_end_ = i + 1;
  Connection_Slot& slot = slots_[i];
  std::memset(slot.Address, 0, sizeof(slot.Address));
  std::memcpy(slot.Address, address.data(), address.size());
  slot.Port = port;
  slot.Countdown = countdown;
  if (countdown != 0) {
    Mark_Free(i, false);
    live_.emplace(Peer_Key{std::string(address), port}, i);
  }
  return i;
}

void Connection_Table::Tick(const std::function<void(std::string_view, int32_t)>& close) {
  for (int i = 0; i < used_end_; ++i) {
    Connection_Slot& slot = slots_[i];
    if (slot.Countdown == 0) continue;
    if (slot.Countdown == 1) {
      const auto found = live_.find(Peer{std::string_view(slot.Address), slot.Port});
      if (found != live_.end()) live_.erase(found);
      close(std::string_view(slot.Address), slot.Port);
      slot.Port = 0;
      std::memset(slot.Address, 0, sizeof(slot.Address));
      Mark_Free(i, true);
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
