#include "base/datagram_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

static_assert(sizeof(sockaddr_in6) <= sizeof(Datagram_Peer::Raw));

int Open_Datagram_Socket(uint16_t port, Listen_Failure& failure) {
  const int fd = Open_Bound_Socket(SOCK_DGRAM, port, failure);
  if (fd < 0) return -1;
  // Room for a burst from many senders while the receiver waits for a sync: the system's
  // default holds only a few hundred small datagrams. Best effort; the system caps it.
  const int buffer = 4 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
  return fd;
}

struct Datagram_Batch::Impl {
  std::size_t Size;
  std::vector<char> Buffers;
  std::vector<mmsghdr> Headers;
  std::vector<iovec> Vectors;
  std::vector<sockaddr_in6> Sources;
};

Datagram_Batch::Datagram_Batch(std::size_t count, std::size_t size) : impl_(new Impl) {
  impl_->Size = size;
  // One byte more than the largest datagram kept, to see a larger one, and one for the NUL.
  impl_->Buffers.resize(count * (size + 2));
  impl_->Headers.resize(count);
  impl_->Vectors.resize(count);
  impl_->Sources.resize(count);
}

Datagram_Batch::~Datagram_Batch() {
  delete impl_;
}

int Datagram_Batch::Receive(int fd) {
  Impl& m = *impl_;
  const std::size_t count = m.Headers.size();
  for (std::size_t i = 0; i < count; ++i) {
    m.Vectors[i].iov_base = &m.Buffers[i * (m.Size + 2)];
    m.Vectors[i].iov_len = m.Size + 1;
    m.Headers[i] = mmsghdr{};
    m.Headers[i].msg_hdr.msg_iov = &m.Vectors[i];
    m.Headers[i].msg_hdr.msg_iovlen = 1;
    m.Headers[i].msg_hdr.msg_name = &m.Sources[i];
    m.Headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in6);
  }
  for (;;) {
    const int n =
        ::recvmmsg(fd, m.Headers.data(), static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
    if (n >= 0) {
      for (int i = 0; i < n; ++i) Data(i)[Size(i)] = '\0';
      return n;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) return -errno;
  }
}

char* Datagram_Batch::Data(int i) {
  return &impl_->Buffers[static_cast<std::size_t>(i) * (impl_->Size + 2)];
}

std::size_t Datagram_Batch::Size(int i) const {
  const std::size_t got = impl_->Headers[static_cast<std::size_t>(i)].msg_len;
  return got > impl_->Size ? impl_->Size : got;
}

bool Datagram_Batch::Truncated(int i) const {
  const mmsghdr& h = impl_->Headers[static_cast<std::size_t>(i)];
  return h.msg_len > impl_->Size || (h.msg_hdr.msg_flags & MSG_TRUNC) != 0;
}

Datagram_Peer Datagram_Batch::Peer(int i) const {
  const mmsghdr& h = impl_->Headers[static_cast<std::size_t>(i)];
  Datagram_Peer peer;
  peer.Raw_Size = h.msg_hdr.msg_namelen;
  if (peer.Raw_Size > sizeof peer.Raw) peer.Raw_Size = sizeof peer.Raw;
  std::memcpy(peer.Raw, &impl_->Sources[static_cast<std::size_t>(i)], peer.Raw_Size);
  char text[INET6_ADDRSTRLEN] = {};
  const auto* from =
      reinterpret_cast<const sockaddr*>(&impl_->Sources[static_cast<std::size_t>(i)]);
  if (from->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(from);
    peer.Port = ntohs(in6->sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      ::inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, sizeof(text));
    } else {
      ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
    }
  } else if (from->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(from);
    peer.Port = ntohs(in->sin_port);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
  }
  peer.Address = text;
  return peer;
}

long Send_Datagram(int fd, const Datagram_Peer& peer, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::sendto(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT,
                               reinterpret_cast<const sockaddr*>(peer.Raw), peer.Raw_Size);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -errno;
  }
}
