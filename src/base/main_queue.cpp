#include "base/main_queue.h"

#include <QSocketNotifier>

Main_Queue::Main_Queue() {
  if (wake_.Fd() >= 0) {
    notifier_ = new QSocketNotifier(wake_.Fd(), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { Drain(); });
  }
}

Main_Queue::~Main_Queue() {
  delete notifier_;
}

void Main_Queue::Post(std::vector<Work>& batch) {
  if (batch.empty()) return;
  bool wake;
  {
    std::lock_guard lock(mutex_);
    wake = queue_.empty();
    if (wake) {
      queue_.swap(batch);
    } else {
      for (Work& work : batch) queue_.push_back(std::move(work));
    }
  }
  batch.clear();
  if (wake) wake_.Signal();
}

void Main_Queue::Drain() {
  wake_.Consume();
  // A local batch: work that drains the queue itself (a wait that serves the main thread) runs
  // what came after it and leaves the rest of this batch to this call.
  std::vector<Work> running;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      running.swap(queue_);
    }
    for (Work& work : running) work();
    running.clear();
  }
}
