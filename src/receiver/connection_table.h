// Connection_Table: the receiver's 2048 in-memory slots (peer address, peer port, countdown) by
// which it closes communicator connections that stay silent. Plain logic, main thread only, no
// lock. A countdown is in seconds (timer ticks); 0 means the slot is free.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

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
  // A peer: its address text and port. Looked up by a view of the address, stored with a copy.
  struct Peer {
    std::string_view Address;
    int32_t Port;
  };
  struct Peer_Key {
    std::string Address;
    int32_t Port;
  };
  struct Peer_Hash {
    using is_transparent = void;
    std::size_t operator()(const Peer& peer) const {
      return std::hash<std::string_view>()(peer.Address) ^ (std::size_t(uint32_t(peer.Port)) << 1);
    }
    std::size_t operator()(const Peer_Key& key) const {
      return (*this)(Peer{key.Address, key.Port});
    }
  };
  struct Peer_Equal {
    using is_transparent = void;
    static Peer View(const Peer& peer) { return peer; }
    static Peer View(const Peer_Key& key) { return Peer{key.Address, key.Port}; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      const Peer x = View(a);
      const Peer y = View(b);
      return x.Port == y.Port && x.Address == y.Address;
    }
  };
  void Mark_Free(int i, bool free);
  // The first free slot (countdown 0), CONNECTION_SLOTS when every slot is live.
  int First_Free() const;

  Connection_Slot slots_[CONNECTION_SLOTS] = {};
  // One past the highest slot ever taken: the tick's walk stops here.
  int used_end_ = 0;
  // The live slots by peer, and a bit per slot that is free: a read finds its slot without a
  // scan of the table (5,000 communicators read 5,000 times a second).
  std::unordered_map<Peer_Key, int, Peer_Hash, Peer_Equal> live_;
  static constexpr int FREE_WORDS = CONNECTION_SLOTS / 64;
  uint64_t free_[FREE_WORDS] = {};
  bool free_ready_ = false;  // free_ is filled at the first use
};
