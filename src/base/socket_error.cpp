#include "base/socket_error.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

struct Error_Mapping {
  QAbstractSocket::SocketError Error;
  int Code;
};

// What each Qt socket error stands for when the socket carries no pending error of its own.
constexpr Error_Mapping ERROR_CODES[] = {
    {QAbstractSocket::ConnectionRefusedError, ECONNREFUSED},
    {QAbstractSocket::RemoteHostClosedError, ECONNRESET},
    {QAbstractSocket::HostNotFoundError, EHOSTUNREACH},
    {QAbstractSocket::SocketAccessError, EACCES},
    {QAbstractSocket::SocketResourceError, EMFILE},
    {QAbstractSocket::SocketTimeoutError, ETIMEDOUT},
    {QAbstractSocket::DatagramTooLargeError, EMSGSIZE},
    {QAbstractSocket::NetworkError, ENETDOWN},
    {QAbstractSocket::AddressInUseError, EADDRINUSE},
    {QAbstractSocket::SocketAddressNotAvailableError, EADDRNOTAVAIL},
    {QAbstractSocket::UnsupportedSocketOperationError, EOPNOTSUPP},
    {QAbstractSocket::OperationError, EINVAL},
    {QAbstractSocket::TemporaryError, EAGAIN},
};

}  // namespace

int Socket_Error_Code(const QAbstractSocket& socket, QAbstractSocket::SocketError error) {
  const qintptr fd = socket.socketDescriptor();
  if (fd >= 0) {
    int pending = 0;
    socklen_t size = sizeof(pending);
    if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_ERROR, &pending, &size) == 0 &&
        pending != 0) {
      return pending;
    }
  }
  for (const Error_Mapping& mapping : ERROR_CODES) {
    if (mapping.Error == error) return mapping.Code;
  }
  return EIO;
}

std::string System_Error_Text(int code) {
  char text[256];
  // The GNU strerror_r returns the text, which may or may not be in `text`.
  const char* message = strerror_r(code, text, sizeof(text));
  return message ? std::string(message) : std::string();
}
