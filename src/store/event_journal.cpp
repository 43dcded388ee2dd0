#include "store/event_journal.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "base/raw_file.h"

namespace {

bool Same_Record(const Event_Record& a, const Event_Record& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The file holds a slot's Status as 0, 1 or 7: EVT_SAVED is a mark of memory only.
Event_Record As_In_File(Event_Record record) {
  if (!(record.Status & EVT_REPORTED)) record.Status &= static_cast<uint8_t>(~EVT_SAVED);
  return record;
}

}  // namespace

Event_Journal::Event_Journal(std::string path) : path_(std::move(path)) {}

void Event_Journal::Note_Slot(int k) {
  const uint64_t bit = uint64_t{1} << (k % 64);
  const Event_Record& slot = slots_[k];
  const uint8_t status = slot.Status & (EVT_PRESENT | EVT_SAVED | EVT_REPORTED);
  if (status == EVT_PRESENT && tickets_[k] == 0) {
    unsaved_[k / 64] |= bit;
  } else {
    unsaved_[k / 64] &= ~bit;
  }
  if (status == (EVT_PRESENT | EVT_SAVED) && !Is_Link_Test(slot)) {
    due_[k / 64] |= bit;
  } else {
    due_[k / 64] &= ~bit;
  }
}

void Event_Journal::Note_All_Slots() {
  for (int k = 0; k < JOURNAL_SLOTS; ++k) Note_Slot(k);
}

Event_Journal::~Event_Journal() {
  Mutex_Lock file_lock(file_mutex_);
  Close_Descriptor(fd_);
  Close_Descriptor(retired_fd_);
}

void Event_Journal::Drop_Kept() {
  if (fd_ >= 0 && fd_ == syncing_fd_) {
    // The sync thread is syncing it without the lock: it closes the descriptor when done.
    Close_Descriptor(retired_fd_);
    retired_fd_ = fd_;
  } else {
    Close_Descriptor(fd_);
  }
  fd_ = -1;
}

int Event_Journal::Write_Ring() {
  std::vector<char> image(JOURNAL_FILE_SIZE, 0);
  {
    Mutex_Lock lock(ring_mutex_);
    std::memcpy(image.data(), &head_, sizeof head_);
    for (int k = 0; k < JOURNAL_SLOTS; ++k) {
      const Event_Record record = As_In_File(slots_[k]);
      std::memcpy(image.data() + Journal_Slot_Offset(k), &record, sizeof record);
    }
  }
  int error = Write_At(fd_, image.data(), image.size(), 0);
  if (error == 0) error = Set_Size(fd_, static_cast<int64_t>(JOURNAL_FILE_SIZE));
  if (error == 0) error = Sync_Data(fd_);
  if (error == 0) {
    std::memset(erase_, 0, sizeof erase_);
    erase_pending_ = false;
  }
  return error;
}

int Event_Journal::Ensure_File(const char*& what) {
  uint64_t device = 0;
  uint64_t inode = 0;
  int path_error = 0;
  // The name is looked up once per pass (the sync, the sender's passes), not at every write:
  // a file deleted or replaced meanwhile is found at the next pass, which makes it again from
  // the ring, whatever went to the old file since included.
  if (fd_ < 0 || !path_checked_) {
    path_error = Path_Identity(path_, device, inode);
    if (fd_ >= 0 && (path_error != 0 || device != fd_device_ || inode != fd_inode_)) {
      // Deleted, renamed away or replaced: what went through fd_ is in a file no longer there.
      Drop_Kept();
    }
  }
  if (fd_ < 0) {
    bool remake = path_error == ENOENT;
    // A missing file is made anew (never through a name planted meanwhile); an existing one is
    // opened as it stands.
    const int fd =
        remake ? Open_Descriptor(path_, O_RDWR | O_CREAT | O_EXCL) : Open_Descriptor(path_, O_RDWR);
    if (fd < 0) {
      what = "File open error. ";
      return -fd;
    }
    if (const int failed = Descriptor_Identity(fd, device, inode)) {
      Close_Descriptor(fd);
      what = "File open error. ";
      return failed;
    }
    remake = remake || (known_ && (device != fd_device_ || inode != fd_inode_));
    fd_ = fd;
    known_ = true;
    fd_device_ = device;
    fd_inode_ = inode;
    if (remake) {
      // As at start-up: the file holds the whole ring, made durable before anything else.
      if (const int failed = Write_Ring()) {
        Drop_Kept();
        known_ = false;  // the half-made file is made again at the next write
        what = "Disk write error. ";
        return failed;
      }
      if (!notice_.empty()) notice_ += '\n';
      notice_ += "File " + path_ + " was missing or replaced, new file written from memory.";
    }
  }
  path_checked_ = true;
  if (erase_pending_) {
    // Slots taken back after a failed sync: their file copies go, unless a new append has
    // taken the slot (it wrote the slot itself).
    for (int k = 0; k < JOURNAL_SLOTS; ++k) {
      if (!erase_[k]) continue;
      Event_Record record;
      {
        Mutex_Lock lock(ring_mutex_);
        record = As_In_File(slots_[k]);
      }
      if (const int failed =
              Write_At(fd_, &record, sizeof record, static_cast<int64_t>(Journal_Slot_Offset(k)))) {
        what = "Disk write error. ";
        return failed;
      }
      erase_[k] = false;
    }
    erase_pending_ = false;
  }
  return 0;
}

void Event_Journal::Check_Path_Again() {
  Mutex_Lock file_lock(file_mutex_);
  path_checked_ = false;
}

std::string Event_Journal::Take_Notice() {
  Mutex_Lock file_lock(file_mutex_);
  return std::exchange(notice_, std::string());
}

std::string Event_Journal::Load() {
  std::string message = Load_Image();
  Mutex_Lock file_lock(file_mutex_);
  Drop_Kept();
  known_ = false;
  path_checked_ = false;
  std::memset(erase_, 0, sizeof erase_);
  erase_pending_ = false;
  const char* what = "";
  Ensure_File(what);      // a file that cannot be opened now is tried again at the first write
  path_checked_ = false;  // the first write looks the name up again
  return message;
}

std::string Event_Journal::Load_Image() {
  {
    Mutex_Lock lock(ring_mutex_);
    head_ = 0;
    std::memset(slots_, 0, sizeof slots_);
    std::memset(tickets_, 0, sizeof tickets_);
    std::memset(later_, 0, sizeof later_);
    later_pending_ = false;
    Note_All_Slots();
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
    Mutex_Lock lock(ring_mutex_);
    head_ = head % JOURNAL_SLOTS;
    std::memcpy(slots_, image.data() + 4, sizeof slots_);
    Note_All_Slots();
    return {};
  }
  file.Close();
  Write_Zero_File(path_, JOURNAL_FILE_SIZE);
  return Size_Repair_Message(path_, size, JOURNAL_FILE_SIZE);
}

bool Event_Journal::Is_Full() const {
  Mutex_Lock lock(ring_mutex_);
  const Event_Record& next = slots_[head_];
  return (next.Status & EVT_PRESENT) && !(next.Status & EVT_REPORTED) && !Is_Link_Test(next);
}

void Event_Journal::Append(const Event_Record& record) {
  Mutex_Lock lock(ring_mutex_);
  slots_[head_] = record;
  tickets_[head_] = 0;
  ++generations_[head_];
  Note_Slot(static_cast<int>(head_));
  head_ = (head_ + 1) & (JOURNAL_SLOTS - 1);
}

Event_Journal::Written Event_Journal::Append_Written(const Event_Record& record) {
  Written written;
  Mutex_Lock file_lock(file_mutex_);
  const char* what = "";
  if (const int error = Ensure_File(what)) {
    written.Error = what + Error_Text(error);
    return written;
  }
  uint32_t head;
  {
    Mutex_Lock lock(ring_mutex_);
    head = head_;
  }
  // The same bytes the save pass writes: the record with Status 1 here, the head (once for all
  // records of a sync) in Sync_File.
  if (const int error =
          Write_At(fd_, &record, sizeof record, static_cast<int64_t>(Journal_Slot_Offset(head)))) {
    // A part of the record may have reached the file: the slot's copy there is written again
    // from memory at the next write that succeeds.
    erase_[head] = true;
    erase_pending_ = true;
    written.Error = "Disk write error. " + Error_Text(error);
    return written;
  }
  erase_[head] = false;
  Mutex_Lock lock(ring_mutex_);
  Take_Slot(head, record, written);
  return written;
}

Event_Journal::Written Event_Journal::Append_Later(const Event_Record& record) {
  Written written;
  Mutex_Lock lock(ring_mutex_);
  later_[head_] = true;
  later_pending_ = true;
  Take_Slot(head_, record, written);
  return written;
}

void Event_Journal::Take_Slot(uint32_t head, const Event_Record& record, Written& written) {
  slots_[head] = record;
  ++generations_[head];
  written.Slot = static_cast<int>(head);
  written.Ticket = next_ticket_++;
  tickets_[head] = written.Ticket;
  Note_Slot(static_cast<int>(head));
  head_ = (head + 1) & (JOURNAL_SLOTS - 1);
}

int Event_Journal::Write_Later_Slots(uint32_t& head) {
  // The slots and the head as they are now, taken in one step: an append after this is left for
  // the next sync, and the head written with them never counts a slot not written yet. The file
  // gets what the save pass would write (Status 1).
  std::vector<int> slots;
  std::vector<Event_Record> records;
  {
    Mutex_Lock lock(ring_mutex_);
    head = head_;
    if (!later_pending_) return 0;
    for (int k = 0; k < JOURNAL_SLOTS; ++k) {
      if (!later_[k]) continue;
      slots.push_back(k);
      records.push_back(As_In_File(slots_[k]));
      later_[k] = false;
    }
    later_pending_ = false;
  }
  for (std::size_t first = 0; first < slots.size();) {
    std::size_t end = first + 1;
    while (end < slots.size() && slots[end] == slots[end - 1] + 1) ++end;
    const int error = Write_At(fd_, &records[first], sizeof(Event_Record) * (end - first),
                               static_cast<int64_t>(Journal_Slot_Offset(slots[first])));
    if (error != 0) {
      // Left for the next sync, which writes them as memory holds them then.
      Mutex_Lock lock(ring_mutex_);
      for (int k : slots) later_[k] = true;
      later_pending_ = true;
      return error;
    }
    first = end;
  }
  return 0;
}

void Event_Journal::Set_Sync_Hook(std::function<void()> hook) {
  Mutex_Lock lock(hook_mutex_);
  sync_hook_ = std::move(hook);
}

void Event_Journal::Set_Sync_Failure_Hook(std::function<int()> hook) {
  Mutex_Lock lock(hook_mutex_);
  sync_failure_hook_ = std::move(hook);
}

std::string Event_Journal::Sync_File() {
  int fd;
  {
    Mutex_Lock file_lock(file_mutex_);
    path_checked_ = false;
    const char* what = "";
    if (const int error = Ensure_File(what)) return what + Error_Text(error);
    // The head of every record written so far.
    uint32_t head = 0;
    if (const int error = Write_Later_Slots(head)) {
      Drop_Kept();
      return "Disk write error. " + Error_Text(error);
    }
    if (const int error = Write_At(fd_, &head, sizeof head, 0)) {
      Drop_Kept();
      return "Disk write error. " + Error_Text(error);
    }
    fd = fd_;
    syncing_fd_ = fd;
  }
  int error = 0;
  {
    Mutex_Lock lock(hook_mutex_);
    if (sync_hook_) sync_hook_();
    if (sync_failure_hook_) error = sync_failure_hook_();
  }
  // fd stays open while syncing_fd_ names it: a writer that drops it leaves it to this thread.
  if (error == 0) error = Sync_Data(fd);
  Mutex_Lock file_lock(file_mutex_);
  syncing_fd_ = -1;
  Close_Descriptor(retired_fd_);
  retired_fd_ = -1;
  if (error != 0) {
    if (fd_ == fd) Drop_Kept();
    return "Disk write error. " + Error_Text(error);
  }
  // The file may have been deleted or replaced during the sync: then the ring (the slots
  // written for this sync included) is written into a new file and synced there.
  path_checked_ = false;
  const char* what = "";
  if (const int failed = Ensure_File(what)) return what + Error_Text(failed);
  return {};
}

void Event_Journal::Settle(const int* slots, const uint64_t* tickets, std::size_t count,
                           bool durable) {
  Mutex_Lock file_lock(file_mutex_);
  Mutex_Lock lock(ring_mutex_);
  for (std::size_t i = 0; i < count; ++i) {
    const int k = slots[i];
    if (tickets_[k] != tickets[i]) continue;  // cleared or appended over meanwhile
    tickets_[k] = 0;
    if (durable) {
      if (slots_[k].Status & EVT_PRESENT) slots_[k].Status |= EVT_SAVED;
      Note_Slot(k);
      continue;
    }
    // Not answered: the communicator sends it again, and that copy is the only one kept.
    std::memset(&slots_[k], 0, sizeof slots_[k]);
    ++generations_[k];
    Note_Slot(k);
    erase_[k] = true;
    erase_pending_ = true;
  }
}

uint32_t Event_Journal::Head() const {
  Mutex_Lock lock(ring_mutex_);
  return head_;
}

Event_Record Event_Journal::Slot(int k) const {
  Mutex_Lock lock(ring_mutex_);
  return slots_[k];
}

Event_Journal::Save_Outcome Event_Journal::Save_New(const Manual_Reset_Event& run_gate) {
  Save_Outcome outcome;
  Check_Path_Again();
  // When the pass wrote anything: the head last, then the events window is to be refreshed.
  auto finish = [&] {
    if (!outcome.Wrote) return outcome;
    outcome.Refresh = true;
    Mutex_Lock file_lock(file_mutex_);
    const char* what = "";
    int error = Ensure_File(what);
    if (error == 0) {
      const uint32_t head = Head();
      what = "Disk write error. ";
      error = Write_At(fd_, &head, sizeof head, 0);
    }
    if (error != 0) outcome.Error = what + Error_Text(error);
    return outcome;
  };
  // The slots waiting for their save are kept by slot, so a pass looks only at them: a word of
  // 64 slots at a time, under one short lock.
  constexpr int kBlock = 64;
  int candidates[kBlock];
  Event_Record copies[kBlock];
  for (int block = 0; block < JOURNAL_SLOTS; block += kBlock) {
    int count = 0;
    {
      Mutex_Lock lock(ring_mutex_);
      uint64_t bits = unsaved_[block / 64];
      while (bits != 0) {
        const int k = block + __builtin_ctzll(bits);
        bits &= bits - 1;
        candidates[count] = k;
        copies[count++] = slots_[k];
      }
    }
    for (int next = 0; next < count; ++next) {
      if (!run_gate.Is_Set()) return finish();
      const int k = candidates[next];
      const Event_Record& slot = copies[next];
      // The check and the write are one step: an append that replaced the slot since its copy
      // (and may have written it already) must not be overwritten by the older record.
      Mutex_Lock file_lock(file_mutex_);
      {
        Mutex_Lock lock(ring_mutex_);
        if (!Same_Record(slots_[k], slot) || tickets_[k] != 0) continue;
      }
      const char* what = "";
      int error = Ensure_File(what);
      if (error != 0 && !outcome.Wrote) {
        outcome.Error = what + Error_Text(error);
        return outcome;  // nothing written: no head, no refresh
      }
      if (error == 0) {
        what = "Disk write error. ";
        error = Write_At(fd_, &slot, sizeof slot, static_cast<int64_t>(Journal_Slot_Offset(k)));
      }
      outcome.Wrote = true;
      if (error != 0) {
        outcome.Error = what + Error_Text(error);
        outcome.Refresh = true;
        return outcome;
      }
      Mutex_Lock lock(ring_mutex_);
      if (Same_Record(slots_[k], slot)) {
        slots_[k].Status |= EVT_SAVED;
        Note_Slot(k);
      }
    }
  }
  return finish();
}

bool Event_Journal::Is_Due(int k) const {
  Event_Record record;
  uint32_t generation;
  return Due_Slot(k, record, generation);
}

int Event_Journal::Next_Due(int from) const {
  Mutex_Lock lock(ring_mutex_);
  for (int word = from / 64; word < JOURNAL_SLOTS / 64; ++word) {
    uint64_t bits = due_[word];
    if (word == from / 64) bits &= ~uint64_t{0} << (from % 64);
    if (bits != 0) return word * 64 + __builtin_ctzll(bits);
  }
  return -1;
}

bool Event_Journal::Has_Unsaved() const {
  Mutex_Lock lock(ring_mutex_);
  for (const uint64_t bits : unsaved_) {
    if (bits != 0) return true;
  }
  return false;
}

bool Event_Journal::Due_Slot(int k, Event_Record& record, uint32_t& generation) const {
  Mutex_Lock lock(ring_mutex_);
  const Event_Record& slot = slots_[k];
  if ((slot.Status & (EVT_PRESENT | EVT_SAVED | EVT_REPORTED)) != (EVT_PRESENT | EVT_SAVED) ||
      Is_Link_Test(slot)) {
    return false;
  }
  record = slot;
  generation = generations_[k];
  return true;
}

std::string Event_Journal::Status_Mark(int k, const uint32_t* generation, bool& marked,
                                       uint32_t& marked_generation) {
  marked = false;
  // The slot's check and its mark are one step against appends and the clearing.
  Mutex_Lock file_lock(file_mutex_);
  auto holds_the_event = [&] {
    ring_mutex_.Assert_Held();
    const Event_Record& slot = slots_[k];
    // Only a saved slot is marked, and only while it holds the event that was reported.
    return (slot.Status & (EVT_PRESENT | EVT_SAVED)) == (EVT_PRESENT | EVT_SAVED) &&
           (generation == nullptr || generations_[k] == *generation);
  };
  {
    Mutex_Lock lock(ring_mutex_);
    if (!holds_the_event()) return {};
  }
  // A file that cannot be opened leaves the slot unmarked: it is sent again later.
  const char* what = "";
  if (const int error = Ensure_File(what)) return what + Error_Text(error);
  Mutex_Lock lock(ring_mutex_);
  if (!holds_the_event()) return {};  // the file was made again from the ring meanwhile
  slots_[k].Status |= EVT_REPORTED;
  Note_Slot(k);
  marked = true;
  marked_generation = generations_[k];
  return {};
}

std::string Event_Journal::Status_Flush(const std::vector<Marked>& marked) {
  // Slots next to each other go to the file in one write of their whole records: the bytes
  // besides the status are the file's own (a saved slot is in the file as it is in memory).
  Mutex_Lock file_lock(file_mutex_);
  const char* what = "";
  if (const int error = Ensure_File(what)) return what + Error_Text(error);
  std::vector<Event_Record> run;
  std::size_t i = 0;
  while (i < marked.size()) {
    const int first = marked[i].Slot;
    run.clear();
    {
      Mutex_Lock lock(ring_mutex_);
      while (i < marked.size() && marked[i].Slot == first + static_cast<int>(run.size())) {
        const int k = marked[i].Slot;
        // A slot cleared or taken by another event since its mark is not written: the file
        // holds what its clearing or its new event put there.
        if (generations_[k] != marked[i].Generation || !(slots_[k].Status & EVT_REPORTED)) break;
        run.push_back(As_In_File(slots_[k]));
        ++i;
      }
    }
    if (run.empty()) {
      ++i;
      continue;
    }
    if (const int error = Write_At(fd_, run.data(), run.size() * sizeof(Event_Record),
                                   static_cast<int64_t>(Journal_Slot_Offset(first)))) {
      return "Disk write error. " + Error_Text(error);
    }
  }
  return {};
}

std::string Event_Journal::Status_Writer::Mark_Status(int k, uint32_t generation) {
  bool marked = false;
  uint32_t marked_generation = 0;
  std::string error = journal_.Status_Mark(k, &generation, marked, marked_generation);
  if (marked) marked_.push_back({k, marked_generation});
  return error;
}

std::string Event_Journal::Status_Writer::Save_Status(int k, uint32_t generation) {
  std::string error = Mark_Status(k, generation);
  if (!error.empty()) return error;
  return Flush();
}

std::string Event_Journal::Status_Writer::Save_Status(int k) {
  bool marked = false;
  uint32_t marked_generation = 0;
  std::string error = journal_.Status_Mark(k, nullptr, marked, marked_generation);
  if (marked) marked_.push_back({k, marked_generation});
  if (!error.empty()) return error;
  return Flush();
}

std::string Event_Journal::Status_Writer::Flush() {
  if (marked_.empty()) return {};
  std::sort(marked_.begin(), marked_.end(),
            [](const Marked& a, const Marked& b) { return a.Slot < b.Slot; });
  used_ = true;
  std::string error = journal_.Status_Flush(marked_);
  marked_.clear();
  return error;
}

bool Event_Journal::Clear() {
  if (!File_Exists(path_)) return false;
  Mutex_Lock file_lock(file_mutex_);
  {
    Mutex_Lock lock(ring_mutex_);
    // A slot whose write-ahead sync is in flight holds a message not answered yet: the
    // communicator still waits for its ACK, which leaves once the sync returns. Clearing it
    // would lose an event acknowledged after the clearing, so it stays, with the head behind it
    // (those slots are the newest ones); with none in flight the head goes back to 0.
    bool in_flight = false;
    for (int k = 0; k < JOURNAL_SLOTS; ++k) {
      if (tickets_[k] != 0) {
        in_flight = true;
        continue;
      }
      std::memset(&slots_[k], 0, sizeof slots_[k]);
      ++generations_[k];
      Note_Slot(k);
    }
    if (!in_flight) head_ = 0;
  }
  std::memset(erase_, 0, sizeof erase_);
  erase_pending_ = false;
  path_checked_ = false;
  const char* what = "";
  // The buffer is cleared in any case; a file that cannot be written is made again (or its
  // fault reported) at the next write.
  if (Ensure_File(what) == 0) Write_Ring();
  return true;
}
