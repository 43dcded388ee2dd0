// The service manager's notification socket (sd_notify of libsystemd): start-up state, status
// text and watchdog keep-alives. Without NOTIFY_SOCKET in the environment every call does
// nothing. Main thread.
#pragma once

#include <cstdint>
#include <string>

// Sends `state` ("READY=1", "STATUS=...", "WATCHDOG=1", "RELOADING=1" ..., several joined by
// '\n'). True when it was delivered; false without a notification socket or on an error.
bool Notify_Service(const std::string& state);

// The watchdog period the service manager asked for (WATCHDOG_USEC, when WATCHDOG_PID is unset
// or this process), in microseconds; 0 when no watchdog is asked for.
uint64_t Service_Watchdog_Usec();
