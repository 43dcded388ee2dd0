// The receiver's group commit: the slots written in one pass of the loop are synced together on
// the sync thread while the next pass is read; when the sync has returned, their held answers
// leave (or, after a failed sync, their slots are taken back and nothing is answered).
#include "receiver/receiver_server.h"

#include <cstring>

namespace {

// Many communicators that each send now and then (5,000 link tests a second from 5,000
// connections) would otherwise get a sync for every two or three messages: the syncs run back
// to back, and each costs a hand-over to the sync thread and back, a head write and a disk flush.
// While at least LINGER_MIN_CONNECTIONS are open and fewer than one in LINGER_IDLE_SHARE of them
// waits for an answer, a batch waits up to LINGER before its sync starts, or until it holds
// LINGER_BATCH slots. Busy connections (a flood from a few, or every connection waiting) never
// wait: their next message comes only after the answer.
constexpr std::chrono::milliseconds LINGER{2};
constexpr int LINGER_MIN_CONNECTIONS = 64;
constexpr int LINGER_IDLE_SHARE = 8;
constexpr std::size_t LINGER_BATCH = 256;

}  // namespace

void Receiver_Server::Commit_Or_Linger() {
  if (sync_busy_ || filling_.Empty()) {
    lingering_ = false;
    return;
  }
  const int connections = active_connections_.load();
  const std::size_t waiting = filling_.Answers.size();
  const bool idle_mostly = connections >= LINGER_MIN_CONNECTIONS &&
                           waiting * LINGER_IDLE_SHARE < static_cast<std::size_t>(connections) &&
                           filling_.Slots.size() < LINGER_BATCH;
  if (idle_mostly) {
    const auto now = std::chrono::steady_clock::now();
    if (!lingering_) {
      lingering_ = true;
      linger_until_ = now + LINGER;
    }
    if (now < linger_until_) return;
  }
  lingering_ = false;
  Start_Sync();
}

int Receiver_Server::Linger_Timeout() const {
  if (!lingering_) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(linger_until_ -
                                                                 std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void Receiver_Server::Start_Sync() {
  std::swap(syncing_, filling_);
  filling_.Clear();
  sync_busy_ = true;
  if (syncing_.Slots.empty()) {
    // Only answers held behind an earlier sync, which has returned: nothing to sync.
    Mutex_Lock lock(sync_mutex_);
    sync_error_.clear();
    sync_wake_.Signal();
    return;
  }
  {
    Mutex_Lock lock(sync_mutex_);
    sync_requested_ = true;
  }
  sync_changed_.notify_one();
}

void Receiver_Server::Sync_Finished() {
  if (!sync_busy_) return;
  std::string error;
  {
    Mutex_Lock lock(sync_mutex_);
    error = std::move(sync_error_);
    sync_error_.clear();
  }
  const bool durable = error.empty();
  // After a failed sync the slots are taken back: their messages are not answered, and the
  // communicators' retries are the only copies.
  journal_.Settle(syncing_.Slots.data(), syncing_.Tickets.data(), syncing_.Slots.size(), durable);
  Journal_Notice();
  if (!durable) File_Error(error);
  if (durable) Note_Journal("", syncing_.Slots.size());
  // The events are stored before anyone hears of them: the signals go before the answers.
  if (durable && !syncing_.Slots.empty()) {
    sync_.New_Event_Signal.Set();
    if (syncing_.Has_Event) sync_.Event_Stored.Set();
    if (stored_notice_) stored_notice_();
  }
  if (durable) {
    for (const Remembered& r : syncing_.Remember) {
      repeats_.Remember(r.Record, r.Sequence, r.Extended, r.Record.Time_Received);
    }
  }
  const bool notices = read_notices_.load();
  for (Held_Answer& held : syncing_.Answers) {
    if (held.Datagram) {
      // After a failed sync nothing of the batch is answered: the senders send it again.
      if (durable) udp_.Answer(held.Generation, held.Peer, held.Bytes);
      if (notices) To_Main([this, result = held.Result] { emit Read_Handled(result); });
      continue;
    }
    const bool live = held.Fd >= 0 &&
                      static_cast<std::size_t>(held.Fd) < connections_by_fd_.size() &&
                      connections_by_fd_[held.Fd].Fd == held.Fd &&
                      connections_by_fd_[held.Fd].Generation == held.Generation;
    if (live) {
      Connection& connection = connections_by_fd_[held.Fd];
      --connection.Waiting;
      // After a failed sync nothing of the batch is answered: the communicators send it again,
      // and, as after any read that is not acknowledged, the countdown is the short one.
      if (durable) {
        Send(connection, held.Bytes.data(), held.Bytes.size());
      } else {
        table_.Set_Countdown(connection.Address, connection.Port, SHORT_COUNTDOWN);
      }
      Close_If_Finished(held.Fd);
    }
    if (notices) To_Main([this, result = held.Result] { emit Read_Handled(result); });
  }
  syncing_.Clear();
  sync_busy_ = false;
  Commit_Or_Linger();
}

// ---- Sync thread ---------------------------------------------------------------------------

void Receiver_Server::Sync_Run() {
  Mutex_Lock lock(sync_mutex_);
  while (true) {
    lock.Wait(sync_changed_, [this] {
      sync_mutex_.Assert_Held();
      return sync_requested_ || sync_stop_;
    });
    if (!sync_requested_) return;
    sync_requested_ = false;
    lock.Unlock();
    // The object records of the messages whose answers wait for this sync go first, so that an
    // acknowledged message's object is in the file as its slot is.
    objects_.Write_Pending();
    std::string error = journal_.Sync_File();
    lock.Lock();
    sync_error_ = std::move(error);
    sync_wake_.Signal();
  }
}
