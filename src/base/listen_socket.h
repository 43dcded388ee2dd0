// A listening TCP socket made by hand rather than by QTcpServer::listen, so that a failure names
// the system's error code and the socket call that failed. Used by the receiver port and the
// automation link's listener, which take the descriptor over with setSocketDescriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Listen_Failure {
  int Code = 0;               // errno of the failed call
  const char* Api = nullptr;  // "socket", "setsockopt", "bind" or "listen"; null = no failure
};

// A non-blocking socket of `type` (SOCK_STREAM or SOCK_DGRAM) bound to `port` on every local
// address, IPv6 and IPv4 together (IPv4 alone when the host has no IPv6). A stream socket may
// reuse an address still in TIME_WAIT; a datagram socket never shares its port. Returns the
// descriptor, or -1 with `failure` filled.
int Open_Bound_Socket(int type, uint16_t port, Listen_Failure& failure);

// A non-blocking socket listening on `port` on every local address, IPv6 and IPv4 together (IPv4
// alone when the host has no IPv6). Returns the descriptor, or -1 with `failure` filled.
int Open_Listen_Socket(uint16_t port, Listen_Failure& failure);

// The operator's text of a failed open: "Windows socket error: <system text> (<code>), on API
// '<call>'", the socket layer's wording that the station's operators know.
std::string Listen_Failure_Text(const Listen_Failure& failure);

// One accepted connection of a listening socket: non-blocking, no Nagle delay (answers are small
// and awaited one by one), with the peer's address as text (IPv4 peers of the dual-stack socket
// dotted, as they arrived as ::ffff:a.b.c.d) and port.
struct Accepted_Peer {
  int Fd = -1;
  std::string Address;
  int32_t Port = 0;
};
// Takes the next pending connection. Returns false when none is waiting (or the accept failed;
// `error` then holds its errno, 0 when simply none was waiting).
bool Accept_Connection(int listen_fd, Accepted_Peer& peer, int& error);

// A read of at most `size` bytes that never waits, also on a descriptor switched to waiting
// reads: the count (0 at the peer's end of stream), or -errno (-EAGAIN when nothing is waiting).
long Socket_Read(int fd, char* data, std::size_t size);
// A send that never raises SIGPIPE and never waits: the count sent, or -errno.
long Socket_Send(int fd, const char* data, std::size_t size);
// Switches the connection's reads to waiting ones, each waiting at most `timeout_ms`
// (Socket_Read_Waiting), or back to never waiting (`timeout_ms` < 0). False when it failed.
bool Socket_Wait_On_Reads(int fd, int timeout_ms);
// On a connection switched by Socket_Wait_On_Reads: waits for bytes at most its time-out. The
// count (0 at the peer's end of stream), or -errno (-EAGAIN when the time-out ran out).
long Socket_Read_Waiting(int fd, char* data, std::size_t size);
// The pending error of the socket (SO_ERROR), 0 when none.
int Socket_Pending_Error(int fd);
void Socket_Close(int fd);
// A look at what waits without taking it: the count (0 at the peer's end of stream), or -errno
// (-EAGAIN when nothing is waiting).
long Socket_Peek(int fd, char* data, std::size_t size);
// Waits at most `timeout_ms` until `fd` has something to read (data, end of stream or an error).
// True when it has.
bool Socket_Wait_Readable(int fd, int timeout_ms);
// Shuts both directions of a connection down without releasing the descriptor: a thread waiting
// on it wakes at once.
void Socket_Shut_Down(int fd);
// A descriptor of its own for the connection behind `fd` (another owner keeps `fd`):
// non-blocking, close-on-exec, no Nagle delay. -errno on failure.
int Socket_Duplicate(int fd);
