#include "base/listen_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/socket_error.h"

int Open_Listen_Socket(uint16_t port, Listen_Failure& failure) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const bool v6 = fd >= 0;
  if (!v6) fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failure = {errno, "socket"};
    return -1;
  }
  const int on = 1;
  const int off = 0;
  // SO_REUSEADDR lets a restarted receiver bind while old connections sit in TIME_WAIT; on this
  // system it never lets two programs listen on one port.
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
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
