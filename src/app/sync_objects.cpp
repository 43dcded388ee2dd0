#include "app/sync_objects.h"

void Manual_Reset_Event::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

void Manual_Reset_Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Manual_Reset_Event::Is_Set() const {
  std::lock_guard lock(mutex_);
  return set_;
}

bool Manual_Reset_Event::Wait(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return set_; });
}
