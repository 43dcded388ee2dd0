#include "base/listen_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/socket_error.h"

int Open_Bound_Socket(int type, uint16_t port, Listen_Failure& failure) {
  int fd = ::socket(AF_INET6, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const bool v6 = fd >= 0;
  if (!v6) fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = {errno, "socket"};
    return -1;
  }
  const int on = 1;
  const int off = 0;
  // SO_REUSEADDR lets a restarted receiver bind while old connections sit in TIME_WAIT; on this
  // system it never lets two programs listen on one port. On a datagram socket it would let two
  // programs share the port, so it is left off there.
  if ((type == SOCK_STREAM && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) ||
      (v6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off)) != 0)) {
    failure = {errno, "setsockopt"};
    ::close(fd);
    return -1;
  }
  int bound;
  if (v6) {
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    any.sin6_port = htons(port);
    bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof(any));
  } else {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof(any));
  }
  if (bound != 0) {
    failure = {errno, "bind"};
    ::close(fd);
    return -1;
  }
  return fd;
}

int Open_Listen_Socket(uint16_t port, Listen_Failure& failure) {
  const int fd = Open_Bound_Socket(SOCK_STREAM, port, failure);
  if (fd < 0) return -1;
  if (::listen(fd, SOMAXCONN) != 0) {
    failure = {errno, "listen"};
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string Listen_Failure_Text(const Listen_Failure& failure) {
  char text[512];
  std::snprintf(text, sizeof(text), "Windows socket error: %s (%d), on API '%s'",
                System_Error_Text(failure.Code).c_str(), failure.Code,
                failure.Api ? failure.Api : "");
  return text;
}

bool Accept_Connection(int listen_fd, Accepted_Peer& peer, int& error) {
  sockaddr_storage from{};
  socklen_t size = sizeof(from);
  error = 0;
  const int fd =
      ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&from), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) error = errno;
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  char text[INET6_ADDRSTRLEN] = {};
  peer.Fd = fd;
  if (from.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&from);
    peer.Port = ntohs(in6->sin6_port);
    if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
      ::inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, sizeof(text));
    } else {
      ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
    }
  } else {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&from);
    peer.Port = ntohs(in->sin_port);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
  }
  peer.Address = text;
  return true;
}

long Socket_Read(int fd, char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -errno;
  }
}

long Socket_Send(int fd, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -errno;
  }
}

bool Socket_Wait_On_Reads(int fd, int timeout_ms) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  if (timeout_ms < 0) return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
  timeval limit{};
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
  if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
  return ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

long Socket_Read_Waiting(int fd, char* data, std::size_t size) {
  const ssize_t n = ::recv(fd, data, size, 0);
  if (n >= 0) return static_cast<long>(n);
  // A signal that interrupts the wait counts as its end; the caller asks again.
  if (errno == EWOULDBLOCK || errno == EINTR) return -EAGAIN;
  return -errno;
}

int Socket_Pending_Error(int fd) {
  int pending = 0;
  socklen_t size = sizeof(pending);
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) return errno;
  return pending;
}

void Socket_Close(int fd) {
  if (fd >= 0) ::close(fd);
}

long Socket_Peek(int fd, char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(fd, data, size, MSG_PEEK | MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -errno;
  }
}

bool Socket_Wait_Readable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  const int n = ::poll(&entry, 1, timeout_ms);
  return n > 0;
}

void Socket_Shut_Down(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

int Socket_Duplicate(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return -errno;
  const int flags = ::fcntl(copy, F_GETFL);
  ::fcntl(copy, F_SETFL, flags | O_NONBLOCK);
  const int on = 1;
  ::setsockopt(copy, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return copy;
}
