// A listening TCP socket made by hand rather than by QTcpServer::listen, so that a failure names
// the system's error code and the socket call that failed. Used by the receiver port and the
// automation link's listener, which take the descriptor over with setSocketDescriptor.
#pragma once

#include <cstdint>
#include <string>

struct Listen_Failure {
  int Code = 0;               // errno of the failed call
  const char* Api = nullptr;  // "socket", "setsockopt", "bind" or "listen"; null = no failure
};

// A non-blocking socket listening on `port` on every local address, IPv6 and IPv4 together (IPv4
// alone when the host has no IPv6). Returns the descriptor, or -1 with `failure` filled.
int Open_Listen_Socket(uint16_t port, Listen_Failure& failure);

// The operator's text of a failed open: "Windows socket error: <system text> (<code>), on API
// '<call>'", the socket layer's wording that the station's operators know.
std::string Listen_Failure_Text(const Listen_Failure& failure);
