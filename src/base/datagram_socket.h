// The receiver port's UDP side: a datagram socket bound to the same port number as the TCP
// listener (dual-stack, IPv4 senders shown as dotted addresses), read in batches with recvmmsg
// and answered with sendto. The one place that makes these socket calls. The functions hold no
// state; a Datagram_Batch belongs to the thread that reads into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/listen_socket.h"

// A non-blocking UDP socket bound to `port` on every local address, IPv6 and IPv4 together (IPv4
// alone when the host has no IPv6). Returns the descriptor, or -1 with `failure` filled ("socket",
// "setsockopt" or "bind").
int Open_Datagram_Socket(uint16_t port, Listen_Failure& failure);

// A datagram's source: the raw socket address the answer goes back to, and its text form.
struct Datagram_Peer {
  unsigned char Raw[28] = {};  // a sockaddr_in6 or sockaddr_in
  uint32_t Raw_Size = 0;
  std::string Address;  // dotted for IPv4 senders
  int32_t Port = 0;
};

// Buffers for one recvmmsg call: up to `count` datagrams of up to `size` bytes each. A datagram
// larger than `size` is marked truncated. Each datagram's bytes are followed by a NUL.
class Datagram_Batch {
 public:
  Datagram_Batch(std::size_t count, std::size_t size);
  ~Datagram_Batch();
  Datagram_Batch(const Datagram_Batch&) = delete;
  Datagram_Batch& operator=(const Datagram_Batch&) = delete;

  // Reads what is waiting, at most the batch's count: the number of datagrams read (0 when none
  // is waiting), or -errno.
  int Receive(int fd);
  char* Data(int i);
  std::size_t Size(int i) const;
  bool Truncated(int i) const;
  // The sender of datagram i, with its text address and port.
  Datagram_Peer Peer(int i) const;

 private:
  struct Impl;
  Impl* impl_;
};

// Sends one datagram to `peer`: the count sent, or -errno (never raises SIGPIPE).
long Send_Datagram(int fd, const Datagram_Peer& peer, const char* data, std::size_t size);
