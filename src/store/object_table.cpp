#include "store/object_table.h"

#include <fcntl.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iterator>
#include <limits>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "base/raw_file.h"

namespace {

// Seconds of a timeout in minutes; a timeout loaded from a file that would overflow the 32-bit
// countdown counts from the largest value instead of wrapping to a short one.
uint32_t Full_Countdown(uint32_t minutes) {
  const uint64_t seconds = uint64_t{minutes} * 60;
  return seconds > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(seconds);
}

// The text after the first `tag` ("[Q", "[B"): at most 16 characters, each a digit or a dot.
std::string_view Tag_Text(std::string_view extended, std::string_view tag) {
  const std::size_t at = extended.find(tag);
  if (at == std::string_view::npos) return {};
  std::string_view rest = extended.substr(at + tag.size());
  std::size_t n = 0;
  while (n < rest.size() && n < 16 && ((rest[n] >= '0' && rest[n] <= '9') || rest[n] == '.')) ++n;
  return rest.substr(0, n);
}

// The "[Q" value as a whole number that fits a signed 32-bit integer; -1 when there is none or
// it does not convert (a dot, or too many digits).
int64_t Quality_Value(std::string_view text) {
  int32_t value = 0;
  if (text.empty()) return -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return -1;
  return value;
}

template <std::size_t N>
bool Field_Empty(const char (&field)[N]) {
  return field[0] == '\0';
}

Account_Key Key_Of(const char (&account)[sizeof(Account_Key)]) {
  Account_Key key;
  std::memcpy(key.data(), account, key.size());
  return key;
}

}  // namespace

Event_Record Supervision_Record(const Object_Record& object) {
  Event_Record event{};
  static_assert(sizeof event.Receiver_Nr == sizeof object.Receiver_Nr);
  static_assert(sizeof event.Line_Nr == sizeof object.Line_Nr);
  static_assert(sizeof event.Account_Nr == sizeof object.Account_Nr);
  std::memcpy(event.Receiver_Nr, object.Receiver_Nr, sizeof event.Receiver_Nr);
  std::memcpy(event.Line_Nr, object.Line_Nr, sizeof event.Line_Nr);
  std::memcpy(event.Account_Nr, object.Account_Nr, sizeof event.Account_Nr);
  std::memcpy(event.Event_Code, (object.Object_Flags & OBJ_LOST) ? "1350" : "3350", 5);
  std::memcpy(event.Group_Nr, "01", 3);
  std::memcpy(event.Zone_Nr, "000", 4);
  return event;
}

Object_Table::Object_Table(std::string path, Mutex& file_lock)
    : path_(std::move(path)), file_lock_(file_lock) {
  Mutex_Lock lock(table_mutex_);
  index_.reserve(OBJECT_SLOTS);
  std::fill(std::begin(pending_at_), std::end(pending_at_), -1);
}

Object_Table::~Object_Table() {
  Mutex_Lock file_lock(file_lock_);
  Close_Descriptor(fd_);
}

std::string Object_Table::Load() {
  std::string message;
  Mutex_Lock file_lock(file_lock_);
  Close_Descriptor(fd_);
  fd_ = -1;
  std::vector<char> image(OBJECT_FILE_SIZE, 0);
  if (!File_Exists(path_)) {
    Write_Zero_File(path_, OBJECT_FILE_SIZE);
  } else {
    Raw_File file;
    // A file that exists but cannot be opened is left alone; the table starts empty.
    if (file.Open(path_, O_RDWR)) {
      const int64_t size = file.Size();
      if (size == static_cast<int64_t>(OBJECT_FILE_SIZE)) {
        file.Read_Up_To(image.data(), image.size());
      } else {
        file.Close();
        Write_Zero_File(path_, OBJECT_FILE_SIZE);
        message = Size_Repair_Message(path_, size, OBJECT_FILE_SIZE);
      }
    }
  }
  Mutex_Lock lock(table_mutex_);
  Drop_All_Pending();
  std::memcpy(records_, image.data(), sizeof records_);
  // Every supervised object gets its full timeout again from the start, lost objects included.
  for (Object_Record& r : records_) r.Ping_Countdown = Full_Countdown(r.Ping_Timeout);
  Rebuild_Index();
  return message;
}

int Object_Table::Find(const Account_Key& key) const {
  const auto found = index_.find(key);
  return found == index_.end() ? -1 : found->second;
}

void Object_Table::Index_Following() {
  // emplace keeps an account's first record: records are indexed in table order.
  while (used_ < OBJECT_SLOTS && records_[used_].Last_Event_Time != 0) {
    index_.emplace(Key_Of(records_[used_].Account_Nr), used_);
    ++used_;
  }
}

void Object_Table::Rebuild_Index() {
  index_.clear();
  used_ = 0;
  Index_Following();
}

int Object_Table::Oldest(int64_t now) const {
  int oldest = 0;
  int64_t minimum = now;
  for (int i = 0; i < OBJECT_SLOTS; ++i) {
    if (records_[i].Last_Event_Time < minimum) {
      oldest = i;
      minimum = records_[i].Last_Event_Time;
    }
  }
  return oldest;
}

void Object_Table::Save_Record(int i, const Object_Record& record) {
  Save_Run(i, &record, 1);
}

void Object_Table::Save_Run(int first, const Object_Record* records, int count) {
  // The kept descriptor; a file that could not be opened is tried again and skipped silently.
  // Never created or truncated here: a missing file leaves memory ahead.
  if (fd_ < 0) {
    const int fd = Open_Descriptor(path_, O_WRONLY);
    if (fd < 0) return;
    fd_ = fd;
  }
  Write_At(fd_, records, sizeof(Object_Record) * static_cast<std::size_t>(count),
           static_cast<int64_t>(sizeof(Object_Record)) * first);
}

void Object_Table::Save_All(const std::vector<char>& image) {
  // Opened by its path: the next record write opens it again too, so a file that was replaced
  // meanwhile is written, not the one it replaced.
  Close_Descriptor(fd_);
  fd_ = -1;
  Raw_File file;
  if (!file.Open(path_, O_WRONLY)) return;
  file.Write_All(image.data(), image.size());
}

int Object_Table::Change(Event_Record& event, const Extended_Data& extended,
                         Object_Record& written) {
  const std::string_view text = Extended_Text(extended);
  const int64_t quality = Quality_Value(Tag_Text(text, "[Q"));
  std::string_view address = Tag_Text(text, "[B");
  // 16 characters would leave the field without its terminator.
  if (address.size() > 15) address = address.substr(0, 15);

  event.Signal_Quality = quality < 0 ? 255 : static_cast<int32_t>(quality & 0xFF);
  if (!address.empty()) {
    std::memset(event.IP_Address, 0, sizeof event.IP_Address);
    std::memcpy(event.IP_Address, address.data(), address.size());
  }
  event.IP_Address[sizeof event.IP_Address - 1] = '\0';
  const Account_Key key = Key_Of(event.Account_Nr);

  int index = Find(key);
  const bool is_new = index < 0;
  if (is_new) {
    if (used_ < OBJECT_SLOTS) {
      index = used_;
    } else {
      // A full table without this account: the object with the oldest last message goes.
      index = Oldest(event.Time_Received);
      const Account_Key gone = Key_Of(records_[index].Account_Nr);
      const auto entry = index_.find(gone);
      if (entry != index_.end() && entry->second == index) {
        index_.erase(entry);
        // A second record of the same account (a file written elsewhere) takes over its key.
        for (int k = 0; k < used_; ++k) {
          if (k != index && Key_Of(records_[k].Account_Nr) == gone) {
            index_.emplace(gone, k);
            break;
          }
        }
      }
    }
  }

  Object_Record& r = records_[index];
  if (is_new) r = Object_Record{};
  r.Last_Event_Time = event.Time_Received;
  std::memcpy(r.Account_Nr, event.Account_Nr, sizeof r.Account_Nr);
  std::memcpy(r.Receiver_Nr, event.Receiver_Nr, sizeof r.Receiver_Nr);
  std::memcpy(r.Line_Nr, event.Line_Nr, sizeof r.Line_Nr);
  std::memcpy(r.Event_Code, event.Event_Code, sizeof r.Event_Code);
  std::memcpy(r.Group_Nr, event.Group_Nr, sizeof r.Group_Nr);
  std::memcpy(r.Zone_Nr, event.Zone_Nr, sizeof r.Zone_Nr);
  std::memcpy(r.IP_Address, event.IP_Address, sizeof r.IP_Address);
  r.Signal_Quality = static_cast<uint8_t>(event.Signal_Quality);
  bool returned = false;
  if (is_new) {
    // The first message decides the timeout: 6 minutes with a signal quality, else 70.
    r.Ping_Timeout = quality < 0 ? 70 : 6;
    r.Ping_Countdown = Full_Countdown(r.Ping_Timeout);
    r.Object_Flags = 0;
    index_.emplace(key, index);
    if (index == used_) {
      ++used_;
      Index_Following();
    }
  } else {
    if (r.Ping_Timeout != 0) r.Ping_Countdown = Full_Countdown(r.Ping_Timeout);
    if (r.Object_Flags & OBJ_LOST) {
      r.Object_Flags &= ~OBJ_LOST;
      returned = true;
    }
  }
  // The file gets the record without the report-due flag of this return; memory gets it on
  // this very record.
  written = r;
  if (returned) r.Object_Flags |= OBJ_REPORT_DUE;
  return index;
}

int Object_Table::Update(Event_Record& event, const Extended_Data& extended) {
  Mutex_Lock file_lock(file_lock_);
  int index;
  Object_Record written;
  {
    Mutex_Lock lock(table_mutex_);
    index = Change(event, extended, written);
    Drop_Pending(index);  // this write is newer than a kept one
  }
  Save_Record(index, written);
  file_lock.Unlock();
  if (after_write_hook_) after_write_hook_();
  return index;
}

int Object_Table::Update_Later(Event_Record& event, const Extended_Data& extended) {
  Mutex_Lock lock(table_mutex_);
  Object_Record written;
  const int index = Change(event, extended, written);
  int& at = pending_at_[index];
  if (at >= 0) {
    pending_[at].Record = written;  // the latest bytes of the record replace the kept ones
  } else {
    at = static_cast<int>(pending_.size());
    pending_.push_back({index, written});
  }
  return index;
}

void Object_Table::Write_Pending() {
  Mutex_Lock file_lock(file_lock_);
  std::vector<Pending> pending;
  {
    Mutex_Lock lock(table_mutex_);
    if (pending_.empty()) return;
    pending.swap(pending_);
    for (const Pending& p : pending) {
      if (p.Index >= 0) pending_at_[p.Index] = -1;
    }
  }
  std::sort(pending.begin(), pending.end(),
            [](const Pending& a, const Pending& b) { return a.Index < b.Index; });
  // Neighbouring records go out together: the communicators of one commit are often neighbours
  // in the table (their objects were made in the order they first called).
  std::vector<Object_Record> run;
  int first = -1;
  for (const Pending& p : pending) {
    if (p.Index < 0) continue;  // dropped: a newer write of the record was made
    if (!run.empty() && p.Index != first + static_cast<int>(run.size())) {
      Save_Run(first, run.data(), static_cast<int>(run.size()));
      run.clear();
    }
    if (run.empty()) first = p.Index;
    run.push_back(p.Record);
  }
  if (!run.empty()) Save_Run(first, run.data(), static_cast<int>(run.size()));
}

void Object_Table::Drop_Pending(int i) {
  int& at = pending_at_[i];
  if (at < 0) return;
  pending_[at].Index = -1;
  at = -1;
}

void Object_Table::Drop_All_Pending() {
  for (const Pending& p : pending_) {
    if (p.Index >= 0) pending_at_[p.Index] = -1;
  }
  pending_.clear();
}

bool Object_Table::Ping_Tick() {
  struct Lost {
    int Index;
    Object_Record Written;
  };
  std::vector<Lost> lost;
  Mutex_Lock file_lock(file_lock_);
  {
    Mutex_Lock lock(table_mutex_);
    for (int i = 0; i < OBJECT_SLOTS; ++i) {
      Object_Record& r = records_[i];
      if (!Field_Empty(r.Account_Nr) && r.Ping_Countdown >= 2) {
        --r.Ping_Countdown;
      } else if (r.Ping_Countdown == 1) {
        r.Ping_Countdown = 0;
        r.Object_Flags |= OBJ_LOST;
        // The file gets the loss; the report-due flag lives in memory, on this very record.
        lost.push_back({i, r});
        Drop_Pending(i);  // this write holds memory's record, newer than a kept one
        r.Object_Flags |= OBJ_REPORT_DUE;
      }
    }
  }
  for (const Lost& l : lost) Save_Record(l.Index, l.Written);
  file_lock.Unlock();
  if (after_write_hook_) after_write_hook_();
  return !lost.empty();
}

bool Object_Table::Change_Timeout(int i, uint32_t minutes) {
  if (minutes > MAX_PING_TIMEOUT || i < 0 || i >= OBJECT_SLOTS) return false;
  Mutex_Lock file_lock(file_lock_);
  Object_Record written;
  {
    Mutex_Lock lock(table_mutex_);
    Object_Record& r = records_[i];
    if (r.Last_Event_Time == 0) return false;
    if (r.Ping_Timeout != minutes) {
      r.Ping_Timeout = minutes;
      r.Ping_Countdown = minutes * 60;
    }
    written = r;
    Drop_Pending(i);
  }
  Save_Record(i, written);
  return true;
}

bool Object_Table::Delete(int i, std::string_view account) {
  Mutex_Lock file_lock(file_lock_);
  std::vector<char> image(OBJECT_FILE_SIZE);
  {
    Mutex_Lock lock(table_mutex_);
    const int n = used_;
    if (i < 0 || i >= n || Field_Text(records_[i].Account_Nr) != account) return false;
    std::memmove(&records_[i], &records_[i + 1], sizeof(Object_Record) * (n - 1 - i));
    records_[n - 1] = Object_Record{};
    Rebuild_Index();
    Drop_All_Pending();  // the whole image is written, and the records moved
    std::memcpy(image.data(), records_, sizeof records_);
  }
  Save_All(image);
  return true;
}

bool Object_Table::Clear(Manual_Reset_Event& run_gate) {
  if (!File_Exists(path_)) return false;
  run_gate.Reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  {
    Mutex_Lock file_lock(file_lock_);
    {
      Mutex_Lock lock(table_mutex_);
      std::memset(records_, 0, sizeof records_);
      Rebuild_Index();
      Drop_All_Pending();
    }
    Close_Descriptor(fd_);
    fd_ = -1;
    Write_Zero_File(path_, OBJECT_FILE_SIZE);
  }
  run_gate.Set();
  return true;
}

int Object_Table::Count() const {
  Mutex_Lock lock(table_mutex_);
  return used_;
}

Object_Record Object_Table::Record(int i) const {
  Mutex_Lock lock(table_mutex_);
  return records_[i];
}

std::vector<Object_Record> Object_Table::Snapshot() const {
  Mutex_Lock lock(table_mutex_);
  return std::vector<Object_Record>(records_, records_ + used_);
}

bool Object_Table::Supervision_Event(int i, Supervision_Report& report) const {
  if (i < 0 || i >= OBJECT_SLOTS) return false;
  Mutex_Lock lock(table_mutex_);
  const Object_Record& r = records_[i];
  if (!(r.Object_Flags & OBJ_REPORT_DUE)) return false;
  report.Event = Supervision_Record(r);
  report.Account = Key_Of(r.Account_Nr);
  report.Lost = (r.Object_Flags & OBJ_LOST) != 0;
  return true;
}

void Object_Table::Clear_Report_Due(const Supervision_Report& report) {
  Mutex_Lock lock(table_mutex_);
  const int at = Find(report.Account);
  if (at < 0) return;
  Object_Record& r = records_[at];
  // A change of state during the wait for the answer is still to be reported.
  if (((r.Object_Flags & OBJ_LOST) != 0) == report.Lost) r.Object_Flags &= ~OBJ_REPORT_DUE;
}
