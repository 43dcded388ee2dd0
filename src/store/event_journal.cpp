#include "store/event_journal.h"

#include <fcntl.h>

#include <cerrno>

#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "base/raw_file.h"

namespace {

bool Same_Record(const Event_Record& a, const Event_Record& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

Event_Journal::Event_Journal(std::string path) : path_(std::move(path)) {}

Event_Journal::~Event_Journal() {
  Close_Descriptor(fd_);
}

bool Event_Journal::Open_Kept(int& error) {
  if (fd_ >= 0) return true;
  // Never created here: a missing file is an error the operator sees, as in the save pass.
  const int fd = Open_Descriptor(path_, O_RDWR);
  if (fd < 0) {
    error = -fd;
    return false;
  }
  if (const int failed = Descriptor_Identity(fd, fd_device_, fd_inode_)) {
    Close_Descriptor(fd);
    error = failed;
    return false;
  }
  fd_ = fd;
  return true;
}

std::string Event_Journal::Load() {
  std::string message = Load_Image();
  std::lock_guard file_lock(file_mutex_);
  Close_Descriptor(fd_);
  fd_ = -1;
  int error = 0;
  Open_Kept(error);  // a file that cannot be opened now is tried again at the first write
  return message;
}

std::string Event_Journal::Load_Image() {
  {
    std::lock_guard lock(ring_mutex_);
    head_ = 0;
    std::memset(slots_, 0, sizeof slots_);
    std::memset(tickets_, 0, sizeof tickets_);
  }
  if (!File_Exists(path_)) {
    Write_Zero_File(path_, JOURNAL_FILE_SIZE);
    return {};
  }
  Raw_File file;
  // A file that exists but cannot be opened is left alone; the journal starts empty.
  if (!file.Open(path_, O_RDWR)) return {};
  const int64_t size = file.Size();
  if (size == static_cast<int64_t>(JOURNAL_FILE_SIZE)) {
    std::vector<char> image(JOURNAL_FILE_SIZE, 0);
    // A short read keeps the bytes that came; the rest of the journal stays zero.
    file.Read_Up_To(image.data(), image.size());
    uint32_t head;
    std::memcpy(&head, image.data(), sizeof head);
    std::lock_guard lock(ring_mutex_);
    head_ = head % JOURNAL_SLOTS;
    std::memcpy(slots_, image.data() + 4, sizeof slots_);
    return {};
  }
  file.Close();
  Write_Zero_File(path_, JOURNAL_FILE_SIZE);
  return Size_Repair_Message(path_, size, JOURNAL_FILE_SIZE);
}

bool Event_Journal::Is_Full() const {
  std::lock_guard lock(ring_mutex_);
  const Event_Record& next = slots_[head_];
  return (next.Status & EVT_PRESENT) && !(next.Status & EVT_REPORTED) && !Is_Link_Test(next);
}

void Event_Journal::Append(const Event_Record& record) {
  std::lock_guard lock(ring_mutex_);
  slots_[head_] = record;
  tickets_[head_] = 0;
  head_ = (head_ + 1) & (JOURNAL_SLOTS - 1);
}

Event_Journal::Written Event_Journal::Append_Written(const Event_Record& record) {
  Written written;
  std::lock_guard file_lock(file_mutex_);
  int error = 0;
  if (!Open_Kept(error)) {
    written.Error = "File open error. " + Error_Text(error);
    return written;
  }
  uint32_t head;
  {
    std::lock_guard lock(ring_mutex_);
    head = head_;
  }
  const uint32_t next = (head + 1) & (JOURNAL_SLOTS - 1);
  // The same bytes the save pass writes: the record with Status 1 here, the head (once for all
  // records of a sync) in Sync_File.
  error = Write_At(fd_, &record, sizeof record, static_cast<int64_t>(Journal_Slot_Offset(head)));
  if (error != 0) {
    written.Error = "Disk write error. " + Error_Text(error);
    return written;
  }
  std::lock_guard lock(ring_mutex_);
  slots_[head] = record;
  written.Slot = static_cast<int>(head);
  written.Ticket = next_ticket_++;
  tickets_[head] = written.Ticket;
  head_ = next;
  return written;
}

void Event_Journal::Set_Sync_Hook(std::function<void()> hook) {
  std::lock_guard lock(hook_mutex_);
  sync_hook_ = std::move(hook);
}

std::string Event_Journal::Sync_File() {
  int fd;
  uint64_t device;
  uint64_t inode;
  int error = 0;
  {
    std::lock_guard file_lock(file_mutex_);
    fd = fd_;
    device = fd_device_;
    inode = fd_inode_;
    // The head of every record written so far.
    const uint32_t head = Head();
    error = fd < 0 ? EBADF : Write_At(fd, &head, sizeof head, 0);
  }
  {
    std::lock_guard lock(hook_mutex_);
    if (sync_hook_) sync_hook_();
  }
  // Only this thread closes the kept descriptor, so `fd` stays valid without the lock.
  if (error == 0) error = Sync_Data(fd);
  uint64_t path_device = 0;
  uint64_t path_inode = 0;
  const bool same_file = error == 0 && Path_Identity(path_, path_device, path_inode) == 0 &&
                         path_device == device && path_inode == inode;
  if (same_file) return {};
  std::lock_guard file_lock(file_mutex_);
  if (fd_ == fd) {
    Close_Descriptor(fd_);
    fd_ = -1;
  }
  if (error != 0) return "Disk write error. " + Error_Text(error);
  // The path names another file or none: what was written went into a file no longer there.
  const int fresh = Open_Descriptor(path_, O_RDWR);
  if (fresh < 0) return "File open error. " + Error_Text(-fresh);
  Close_Descriptor(fresh);
  return "File open error. " + Error_Text(ESTALE);
}

void Event_Journal::Settle(const int* slots, const uint64_t* tickets, std::size_t count,
                           bool durable) {
  std::lock_guard lock(ring_mutex_);
  for (std::size_t i = 0; i < count; ++i) {
    const int k = slots[i];
    if (tickets_[k] != tickets[i]) continue;  // cleared or appended over meanwhile
    tickets_[k] = 0;
    if (durable && (slots_[k].Status & EVT_PRESENT)) slots_[k].Status |= EVT_SAVED;
  }
}

uint32_t Event_Journal::Head() const {
  std::lock_guard lock(ring_mutex_);
  return head_;
}

Event_Record Event_Journal::Slot(int k) const {
  std::lock_guard lock(ring_mutex_);
  return slots_[k];
}

Event_Journal::Save_Outcome Event_Journal::Save_New(const Manual_Reset_Event& run_gate) {
  Save_Outcome outcome;
  Raw_File file;
  // When the pass wrote anything: the head last, then the events window is to be refreshed.
  auto finish = [&] {
    if (!file.Is_Open()) return outcome;
    outcome.Wrote = true;
    outcome.Refresh = true;
    std::lock_guard file_lock(file_mutex_);
    const uint32_t head = Head();
    if (!file.Seek(0)) {
      outcome.Error = "File seek error. " + Error_Text(file.Error());
    } else if (!file.Write_All(&head, sizeof head)) {
      outcome.Error = "Disk write error. " + Error_Text(file.Error());
    }
    return outcome;
  };
  // The slots are looked at in blocks under one short lock each, so that the pass over an idle
  // journal stays cheap; the gate is still tested before every slot.
  constexpr int kBlock = 64;
  int candidates[kBlock];
  Event_Record copies[kBlock];
  for (int block = 0; block < JOURNAL_SLOTS; block += kBlock) {
    int count = 0;
    {
      std::lock_guard lock(ring_mutex_);
      for (int k = block; k < block + kBlock; ++k) {
        if ((slots_[k].Status & (EVT_PRESENT | EVT_SAVED)) != EVT_PRESENT) continue;
        if (tickets_[k] != 0) continue;  // written by the receiver, its sync still awaited
        candidates[count] = k;
        copies[count++] = slots_[k];
      }
    }
    int next = 0;
    for (int k = block; k < block + kBlock; ++k) {
      if (!run_gate.Is_Set()) return finish();
      if (next == count || candidates[next] != k) continue;
      const Event_Record& slot = copies[next++];
      // The check and the write are one step: an append that replaced the slot since its copy
      // (and may have written it already) must not be overwritten by the older record.
      std::lock_guard file_lock(file_mutex_);
      {
        std::lock_guard lock(ring_mutex_);
        if (!Same_Record(slots_[k], slot) || tickets_[k] != 0) continue;
      }
      // The file is opened only when a slot needs saving, so an idle pass touches no file.
      if (!file.Is_Open() && !file.Open(path_, O_WRONLY)) {
        outcome.Error = "File open error. " + Error_Text(file.Error());
        return outcome;
      }
      if (!file.Seek(static_cast<int64_t>(Journal_Slot_Offset(k)))) {
        outcome.Error = "File seek error. " + Error_Text(file.Error());
      } else if (!file.Write_All(&slot, sizeof slot)) {
        outcome.Error = "Disk write error. " + Error_Text(file.Error());
      }
      if (!outcome.Error.empty()) {
        outcome.Wrote = true;
        outcome.Refresh = true;
        return outcome;
      }
      std::lock_guard lock(ring_mutex_);
      // An append may have replaced the slot since its copy; the newcomer is not saved yet.
      if (Same_Record(slots_[k], slot)) slots_[k].Status |= EVT_SAVED;
    }
  }
  return finish();
}

bool Event_Journal::Is_Due(int k) const {
  std::lock_guard lock(ring_mutex_);
  const Event_Record& slot = slots_[k];
  return (slot.Status & (EVT_PRESENT | EVT_SAVED | EVT_REPORTED)) == (EVT_PRESENT | EVT_SAVED) &&
         !Is_Link_Test(slot);
}

std::string Event_Journal::Status_Writer::Save_Status(int k) {
  // The slot's check and its status write are one step against the receiver's appends.
  std::lock_guard file_lock(journal_.file_mutex_);
  Raw_File file;
  if (fd_ < 0) {
    // Opened at the first acknowledgement of the pass and kept open for the rest of it.
    if (!file.Open(journal_.path_, O_WRONLY)) return "File open error. " + Error_Text(file.Error());
  } else {
    file.Adopt(fd_);
  }
  fd_ = -1;
  uint8_t status;
  {
    std::lock_guard lock(journal_.ring_mutex_);
    Event_Record& slot = journal_.slots_[k];
    // Only a saved slot is marked: a slot that an append replaced meanwhile holds another event.
    if ((slot.Status & (EVT_PRESENT | EVT_SAVED)) != (EVT_PRESENT | EVT_SAVED)) {
      fd_ = file.Release();
      return {};
    }
    slot.Status |= EVT_REPORTED;
    status = slot.Status;
  }
  std::string error;
  if (!file.Seek(static_cast<int64_t>(Journal_Slot_Offset(k)))) {
    error = "File seek error. " + Error_Text(file.Error());
  } else if (!file.Write_All(&status, 1)) {
    error = "Disk write error. " + Error_Text(file.Error());
  }
  // After a failure the file is closed with the Raw_File; the pass ends there.
  if (error.empty()) fd_ = file.Release();
  return error;
}

void Event_Journal::Status_Writer::Close() {
  Raw_File file;
  file.Adopt(fd_);
  fd_ = -1;
}

bool Event_Journal::Clear(Manual_Reset_Event& run_gate) {
  if (!File_Exists(path_)) return false;
  run_gate.Reset();
  // Lets the report sender reach its next gate test and leave the journal alone.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  {
    std::lock_guard file_lock(file_mutex_);
    {
      std::lock_guard lock(ring_mutex_);
      head_ = 0;
      std::memset(slots_, 0, sizeof slots_);
      std::memset(tickets_, 0, sizeof tickets_);
    }
    Write_Zero_File(path_, JOURNAL_FILE_SIZE);
  }
  run_gate.Set();
  return true;
}
