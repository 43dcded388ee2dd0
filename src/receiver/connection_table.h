// Connection_Table: the receiver's 2048 in-memory slots (peer address, peer port, countdown) by
// which it closes communicator connections that stay silent. Plain logic, main thread only, no
// lock. A countdown is in seconds (timer ticks); 0 means the slot is free.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

// The address field holds any IPv6 text too (the listener is dual-stack), so a peer with a long
// address is tracked like any other instead of sharing a stale or empty address text.
inline constexpr int CONNECTION_ADDRESS_SIZE = 46;

struct Connection_Slot {
  char Address[CONNECTION_ADDRESS_SIZE];  // the peer's address text (dotted for IPv4), NUL-ended
  int32_t Port;                           // the peer's TCP port; 0 after the slot was cleared
  int32_t Countdown;  // seconds before the receiver closes the peer's connection; 0 = free
};

inline constexpr int CONNECTION_SLOTS = 2048;
// The countdown of a new connection and of a read that was not acknowledged.
inline constexpr int32_t SHORT_COUNTDOWN = 5;

class Connection_Table {
 public:
  // Finds the peer's slot and sets its countdown to `countdown` (0 frees it). A live slot
  // matches only when its address text equals `address` exactly and its port equals `port`; a
  // peer without a live slot takes the first free one. Returns the slot index, or -1 when all
  // slots are taken or the address does not fit: the peer is then not tracked and never closed
  // by the receiver.
  int Set_Countdown(std::string_view address, int32_t port, int32_t countdown);

  // One timer tick. Every slot whose countdown is 1 is expired: `close` is called with its
  // address and port (the caller closes that peer's connection), and the slot is cleared. Then
  // every non-zero countdown goes down by one.
  void Tick(const std::function<void(std::string_view address, int32_t port)>& close);

  const Connection_Slot& Slot(int i) const { return slots_[i]; }
  // The number of slots whose countdown is not 0.
  int Live_Count() const;

 private:
  Connection_Slot slots_[CONNECTION_SLOTS] = {};
  // One past the highest slot ever taken: scans stop here, so a lightly used table is cheap.
  int used_end_ = 0;
};
