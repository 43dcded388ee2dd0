#include "base/main_hand_over.h"

Main_Hand_Over::Main_Hand_Over(Main_Queue& bridge)
    : bridge_(bridge), shared_(std::make_shared<Shared>()) {
  shared_->Main_Thread = std::this_thread::get_id();
}

Main_Hand_Over::Main_Hand_Over()
    : own_bridge_(std::make_unique<Main_Queue>()),
      bridge_(*own_bridge_),
      shared_(std::make_shared<Shared>()) {
  shared_->Main_Thread = std::this_thread::get_id();
}

Main_Hand_Over::~Main_Hand_Over() {
  Close();
}

bool Main_Hand_Over::Run(const std::function<void()>& work) {
  if (std::this_thread::get_id() == shared_->Main_Thread) {
    work();
    return true;
  }
  Task task{&work};
  {
    std::lock_guard lock(shared_->Mutex);
    if (shared_->Closed) return false;
    shared_->Queue.push_back(&task);
  }
  std::vector<Main_Queue::Work> wake;
  wake.emplace_back([shared = shared_] { shared->Serve(); });
  bridge_.Post(wake);
  std::unique_lock lock(shared_->Mutex);
  shared_->Changed.wait(lock,
                        [&] { return task.Now == State::Done || task.Now == State::Cancelled; });
  return task.Now == State::Done;
}

void Main_Hand_Over::Serve() {
  shared_->Serve();
}

void Main_Hand_Over::Shared::Serve() {
  if (Held) return;
  std::unique_lock lock(Mutex);
  while (!Queue.empty()) {
    Task* task = Queue.front();
    Queue.pop_front();
    task->Now = State::Running;
    lock.unlock();
    (*task->Work)();
    lock.lock();
    task->Now = State::Done;
    Changed.notify_all();
  }
}

void Main_Hand_Over::Close() {
  std::lock_guard lock(shared_->Mutex);
  shared_->Closed = true;
  for (Task* task : shared_->Queue) task->Now = State::Cancelled;
  shared_->Queue.clear();
  shared_->Changed.notify_all();
}

void Main_Hand_Over::Hold(bool held) {
  shared_->Held = held;
  if (!held) Serve();
}
