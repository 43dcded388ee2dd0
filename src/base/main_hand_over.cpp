#include "base/main_hand_over.h"

#include <algorithm>

Main_Hand_Over::Main_Hand_Over(Main_Queue* queue)
    : main_thread_(std::this_thread::get_id()),
      own_queue_(queue ? nullptr : std::make_unique<Main_Queue>()),
      queue_(queue ? *queue : *own_queue_) {}

Main_Hand_Over::~Main_Hand_Over() {
  Close();
}

bool Main_Hand_Over::Run(const std::function<void()>& work) {
  if (std::this_thread::get_id() == main_thread_) {
    work();
    return true;
  }
  auto task = std::make_shared<Task>(Task{&work});
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  pending_.push_back(task);
  std::vector<Main_Queue::Work> post{[this, task] { Perform(task); }};
  queue_.Post(post);
  changed_.wait(lock, [&] { return task->Now == State::Done || task->Now == State::Cancelled; });
  return task->Now == State::Done;
}

void Main_Hand_Over::Perform(const std::shared_ptr<Task>& task) {
  if (held_) {
    parked_.push_back(task);
    return;
  }
  std::unique_lock lock(mutex_);
  if (task->Now != State::Queued) return;  // cancelled by Close()
  pending_.erase(std::find(pending_.begin(), pending_.end(), task));
  task->Now = State::Running;
  lock.unlock();
  (*task->Work)();
  lock.lock();
  task->Now = State::Done;
  changed_.notify_all();
}

void Main_Hand_Over::Serve() {
  queue_.Drain();
}

void Main_Hand_Over::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& task : pending_) task->Now = State::Cancelled;
  pending_.clear();
  parked_.clear();
  changed_.notify_all();
}

void Main_Hand_Over::Hold(bool held) {
  held_ = held;
  if (held) return;
  std::vector<std::shared_ptr<Task>> parked;
  parked.swap(parked_);
  for (const auto& task : parked) Perform(task);
  Serve();
}
