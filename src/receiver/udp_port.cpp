#include "receiver/udp_port.h"

bool Udp_Port::Open(uint16_t port, Listen_Failure& failure) {
  Close();
  fd_ = Open_Datagram_Socket(port, failure);
  if (fd_ < 0) return false;
  ++generation_;
  return true;
}

void Udp_Port::Close() {
  if (fd_ >= 0) Socket_Close(fd_);
  fd_ = -1;
}

void Udp_Port::Answer(uint32_t generation, const Datagram_Peer& peer, const std::string& bytes) {
  if (fd_ < 0 || generation != generation_) return;
  Send_Datagram(fd_, peer, bytes.data(), bytes.size());
}
