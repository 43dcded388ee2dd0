// The system's numeric code and text for a socket failure. Qt reports socket failures as its own
// enumeration; the operator sees the system's error number and message, so the pending error of
// the socket is read where there is one and the enumeration is translated otherwise.
#pragma once

#include <QAbstractSocket>
#include <string>

// The errno value behind `error` on `socket` (its pending SO_ERROR when set, else the errno that
// the Qt error stands for).
int Socket_Error_Code(const QAbstractSocket& socket, QAbstractSocket::SocketError error);

// The system's message text for an errno value ("Connection timed out").
std::string System_Error_Text(int code);
