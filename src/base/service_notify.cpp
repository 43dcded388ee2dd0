#include "base/service_notify.h"

#include <systemd/sd-daemon.h>

bool Notify_Service(const std::string& state) {
  return ::sd_notify(0, state.c_str()) > 0;
}

uint64_t Service_Watchdog_Usec() {
  uint64_t usec = 0;
  return ::sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}
