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
  const std::shared_ptr<Shared> state = shared_;  // the wait may end after the hand-over is gone
  Shared& shared = *state;
  Mutex_Lock lock(shared.mutex);
  if (shared.closed) return false;
  shared.pending.push_back(task);
  std::vector<Main_Queue::Work> post{[state, task] { Perform(*state, task); }};
  queue_.Post(post);
  lock.Wait(shared.changed, [&] {
    shared.mutex.Assert_Held();
    return task->Now == State::Done || task->Now == State::Cancelled;
  });
  return task->Now == State::Done;
}

void Main_Hand_Over::Perform(Shared& shared, const std::shared_ptr<Task>& task) {
  if (shared.held) {
    shared.parked.push_back(task);
    return;
  }
  Mutex_Lock lock(shared.mutex);
  if (task->Now != State::Queued) return;  // cancelled by Close()
  shared.pending.erase(std::find(shared.pending.begin(), shared.pending.end(), task));
  task->Now = State::Running;
  lock.Unlock();
  (*task->Work)();
  lock.Lock();
  task->Now = State::Done;
  shared.changed.notify_all();
}

void Main_Hand_Over::Serve() {
  queue_.Drain();
}

void Main_Hand_Over::Close() {
  Shared& shared = *shared_;
  Mutex_Lock lock(shared.mutex);
  shared.closed = true;
  for (const auto& task : shared.pending) task->Now = State::Cancelled;
  shared.pending.clear();
  shared.parked.clear();
  shared.changed.notify_all();
}

void Main_Hand_Over::Hold(bool held) {
  Shared& shared = *shared_;
  shared.held = held;
  if (held) return;
  std::vector<std::shared_ptr<Task>> parked;
  parked.swap(shared.parked);
  for (const auto& task : parked) Perform(shared, task);
  Serve();
}
