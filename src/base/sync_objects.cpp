#include "base/sync_objects.h"

void Manual_Reset_Event::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
    is_set_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
}

void Manual_Reset_Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
  is_set_.store(false, std::memory_order_release);
}

bool Manual_Reset_Event::Is_Set() const {
  return is_set_.load(std::memory_order_acquire);
}

bool Manual_Reset_Event::Wait(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return set_; });
}

void Waitable_Signal::Set() {
  {
    std::lock_guard lock(mutex_);
    set_ = true;
  }
  changed_.notify_one();
}

bool Waitable_Signal::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const bool set = changed_.wait_for(lock, timeout, [this] { return set_; });
  set_ = false;
  return set;
}
