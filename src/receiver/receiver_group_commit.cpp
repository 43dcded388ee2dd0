// The group commit of the receiver port: the write-ahead's slots written by one or more passes
// of the receiver loop are made durable by one sync on the sync thread, and their held answers go
// out when it has returned (after a failed sync the slots are taken back and nothing of the
// batch is answered).
#include <string>
#include <thread>

#include "receiver/receiver_server.h"

namespace {

// A lasting journal file fault is logged at most this often.
constexpr std::chrono::seconds FILE_ERROR_REPEAT{3};

}  // namespace

// ---- Main thread --------------------------------------------------------------------------

void Receiver_Server::Start_Sync_Thread() {
  {
    Mutex_Lock lock(sync_mutex_);
    sync_stop_ = false;
  }
  sync_thread_ = std::thread([this] { Sync_Run(); });
}

void Receiver_Server::Stop_Sync_Thread() {
  {
    Mutex_Lock lock(sync_mutex_);
    sync_stop_ = true;
  }
  sync_changed_.notify_all();
  if (sync_thread_.joinable()) sync_thread_.join();
}

void Receiver_Server::Take_Back_Unanswered() {
  // The answers still waiting are gone with their connections, so the communicators send those
  // messages again: their slots are taken back (the retries are the only copies), and the
  // emptied slots are made durable.
  if (syncing_.Empty() && filling_.Empty()) return;
  for (Batch* batch : {&syncing_, &filling_}) {
    journal_.Settle(batch->Slots.data(), batch->Tickets.data(), batch->Slots.size(), false);
    batch->Clear();
  }
  journal_.Sync_File();
  sync_busy_ = false;
}

// ---- Receiver thread -----------------------------------------------------------------------

void Receiver_Server::Journal_Notice() {
  const std::string notice = journal_.Take_Notice();
  if (notice.empty()) return;
  Log(notice, LOG_RED);
  To_Main([this] { operator_.Beep(); });
}

void Receiver_Server::File_Error(const std::string& line) {
  Note_Journal(line, 0);
  const auto now = std::chrono::steady_clock::now();
  if (file_error_logged_ && now - last_file_error_ < FILE_ERROR_REPEAT) return;
  file_error_logged_ = true;
  last_file_error_ = now;
  Log(line, LOG_RED);
  To_Main([this] { operator_.Beep(); });
}

void Receiver_Server::Hold(const Reply_To& to, std::string bytes) {
  if (to.Datagram != nullptr) {
    filling_.Answers.push_back(
        {udp_.Fd(), udp_.Generation(), std::move(bytes), read_result_, true, *to.Datagram});
  } else {
    filling_.Answers.push_back(
        {to.Stream->Fd, to.Stream->Generation, std::move(bytes), read_result_});
    ++to.Stream->Waiting;
  }
  read_held_ = true;
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
  }
  if (durable) {
    for (const Remembered_Message& r : syncing_.Remember) {
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
      // After a failed sync nothing of the batch is answered: the communicators send it again.
      if (durable) Send(connection, held.Bytes.data(), held.Bytes.size());
      Close_If_Finished(held.Fd);
    }
    if (notices) To_Main([this, result = held.Result] { emit Read_Handled(result); });
  }
  syncing_.Clear();
  sync_busy_ = false;
  if (!filling_.Empty()) Start_Sync();
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
    std::string error = journal_.Sync_File();
    lock.Lock();
    sync_error_ = std::move(error);
    sync_wake_.Signal();
  }
}
