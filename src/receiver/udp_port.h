// Udp_Port: the receiver port's UDP socket, bound to the TCP listener's port number and opened and
// closed with it. Datagrams are read in batches; a pass of the receiver loop takes at most
// UDP_PASS_LIMIT of them, so that a flood cannot starve the TCP connections (the socket stays
// readable and the rest comes in the next pass). Each opening has its own generation, so that an
// answer held behind a journal sync is never sent from a later socket.
//
// Threads: the receiver thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/datagram_socket.h"

// The largest datagram answered: one message of a communicator.
inline constexpr std::size_t UDP_MESSAGE_LIMIT = 1024;
// Datagrams read by one recvmmsg call and by one pass of the receiver loop.
inline constexpr int UDP_BATCH = 64;
inline constexpr int UDP_PASS_LIMIT = 128;

class Udp_Port {
 public:
  Udp_Port() : batch_(UDP_BATCH, UDP_MESSAGE_LIMIT) {}
  ~Udp_Port() { Close(); }
  Udp_Port(const Udp_Port&) = delete;
  Udp_Port& operator=(const Udp_Port&) = delete;

  // Binds the socket; false with `failure` filled when it could not be opened.
  bool Open(uint16_t port, Listen_Failure& failure);
  void Close();
  bool Is_Open() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  uint32_t Generation() const { return generation_; }

  // Reads the next batch: the count (0 when none is waiting), or -errno.
  int Receive() { return fd_ >= 0 ? batch_.Receive(fd_) : 0; }
  Datagram_Batch& Batch() { return batch_; }

  // Sends an answer to `peer` when the socket of `generation` is still open. A full send queue
  // drops it: the communicator sends the message again, as after a lost datagram.
  void Answer(uint32_t generation, const Datagram_Peer& peer, const std::string& bytes);

 private:
  int fd_ = -1;
  uint32_t generation_ = 0;
  Datagram_Batch batch_;
};
