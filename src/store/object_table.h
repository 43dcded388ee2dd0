// Object_Table: one Object_Record per object (account), up to 10000, packed at the front, in
// memory and in "latevn.dat" (880,000 bytes, record i at 88*i). It keeps each object's last
// event, address, signal quality and link-test supervision.
//
// Threads. Update and Update_Later run on the receiver thread, for every accepted message;
// Write_Pending on the receiver's sync thread; Ping_Tick, the timeout change, Delete and Clear on
// the main thread; Supervision_Event and Clear_Report_Due on the
// report sender's thread; Count, Record and Snapshot on any thread. The table is the one owner of
// its records: the records, the count of used records and the index from account to record are
// read and changed only under the table lock, so a count is never used after a move it did not
// see. Every change that goes to the file at once also holds the shared Object_Table_Lock from the
// change to the end of its write, so the file gets the changes in the order memory got them. An
// Update_Later keeps the bytes its write would have written, under the table lock; Write_Pending
// writes them under Object_Table_Lock, and any write of the same record in between (which writes
// the record as memory holds it, so the kept bytes are older) drops them. A flag is
// set on the record of the account in the same locked step as the change that causes it, never
// afterwards by a remembered index; the report sender clears the flag of the account and lost
// state it was handed.
//
// Lock order: Object_Table_Lock (the file) before the table lock (the records). Neither is held
// while the caller waits for anything else (the report sender holds neither across a line and
// its answer).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/sync_objects.h"
#include "base/thread_annotations.h"
#include "protocol/event_record.h"

inline constexpr uint8_t OBJ_LOST = 1;        // the link-test timeout expired, no message since
inline constexpr uint8_t OBJ_REPORT_DUE = 2;  // a loss or return not yet acknowledged

struct Object_Record {
  int64_t Last_Event_Time;  // seconds since 1970 UTC of the last accepted message; 0 = empty
  char Account_Nr[17];      // the object's key
  char Receiver_Nr[7];
  char Line_Nr[7];
  char Event_Code[5];
  char Group_Nr[3];
  char Zone_Nr[4];
  char IP_Address[16];
  uint8_t Reserved_67[5];
  uint8_t Signal_Quality;  // 255 = none
  uint8_t Object_Flags;    // OBJ_LOST | OBJ_REPORT_DUE
  uint8_t Reserved_74[2];
  uint32_t Ping_Timeout;    // minutes; 0 = not supervised
  uint32_t Ping_Countdown;  // seconds left; 0 = not counting
  uint8_t Reserved_84[4];
};

static_assert(sizeof(Object_Record) == 88);
static_assert(std::is_trivially_copyable_v<Object_Record>);
static_assert(offsetof(Object_Record, Last_Event_Time) == 0);
static_assert(offsetof(Object_Record, Account_Nr) == 8);
static_assert(offsetof(Object_Record, Receiver_Nr) == 25);
static_assert(offsetof(Object_Record, Line_Nr) == 32);
static_assert(offsetof(Object_Record, Event_Code) == 39);
static_assert(offsetof(Object_Record, Group_Nr) == 44);
static_assert(offsetof(Object_Record, Zone_Nr) == 47);
static_assert(offsetof(Object_Record, IP_Address) == 51);
static_assert(offsetof(Object_Record, Reserved_67) == 67);
static_assert(offsetof(Object_Record, Signal_Quality) == 72);
static_assert(offsetof(Object_Record, Object_Flags) == 73);
static_assert(offsetof(Object_Record, Reserved_74) == 74);
static_assert(offsetof(Object_Record, Ping_Timeout) == 76);
static_assert(offsetof(Object_Record, Ping_Countdown) == 80);
static_assert(offsetof(Object_Record, Reserved_84) == 84);

inline constexpr int OBJECT_SLOTS = 10000;
inline constexpr std::size_t OBJECT_FILE_SIZE = sizeof(Object_Record) * OBJECT_SLOTS;
static_assert(OBJECT_FILE_SIZE == 880000);
inline constexpr const char* OBJECT_FILE_NAME = "latevn.dat";
// The largest timeout in minutes whose seconds fit the 32-bit countdown.
inline constexpr uint32_t MAX_PING_TIMEOUT = 71582788;

// The record a supervision line is made from: zeroed, then receiver, line and account copied
// from the object, Event_Code "1350" when the object is lost (OBJ_LOST) and "3350" when it is
// restored, Group_Nr "01", Zone_Nr "000".
Event_Record Supervision_Record(const Object_Record& object);

// An object's key: the 17 bytes of its Account_Nr, compared byte for byte ("1234" and "01234"
// are two objects).
using Account_Key = std::array<char, sizeof(Object_Record::Account_Nr)>;

// A supervision line handed to the report sender: the line's record, and the account and lost
// state it reports, by which the acknowledgement finds the object again.
struct Supervision_Report {
  Event_Record Event{};
  Account_Key Account{};
  bool Lost = false;
};

class Object_Table {
 public:
  // `path` is the full path of "latevn.dat"; `file_lock` is the shared Object_Table_Lock.
  Object_Table(std::string path, Mutex& file_lock);
  ~Object_Table();

  // Object_Load (start-up, before the other threads use the table): zeroes the table and fills it
  // from the file (created when missing, recreated zeroed when of the wrong size); then re-arms
  // every countdown to Ping_Timeout*60. Returns the kept repair message, empty when there is none.
  std::string Load() EXCLUDES(file_lock_, table_mutex_);

  // Object_Update (receiver thread, for every accepted message): finds the object of `event`
  // (Status 1 and Time_Received set) through the account index, or creates it in the first
  // empty record, or in a full table gives it the record with the oldest last message (the first
  // of several); copies the event into it and completes the event's Signal_Quality and
  // IP_Address from the "[Q" and "[B" fields. Writes the record to the file. Returns the
  // record's index at the time of the update.
  int Update(Event_Record& event, const Extended_Data& extended) EXCLUDES(file_lock_, table_mutex_);
  // The same change as Update, whose record write is left to the next Write_Pending (the
  // receiver writes the records of one group commit together before its sync). The file gets the
  // same bytes as from Update, unless a later write of the record came first.
  int Update_Later(Event_Record& event, const Extended_Data& extended) EXCLUDES(table_mutex_);
  // Writes the records left by Update_Later, neighbouring records in one write each.
  void Write_Pending() EXCLUDES(file_lock_, table_mutex_);

  // Ping_Tick (main thread, once a second): counts every supervised object down and marks the
  // expired ones lost and due for a report; true when at least one object became lost.
  bool Ping_Tick() EXCLUDES(file_lock_, table_mutex_);

  // The timeout change of the object list (main thread): false, and nothing changed, when
  // `minutes` exceeds MAX_PING_TIMEOUT or i is not a used record.
  bool Change_Timeout(int i, uint32_t minutes) EXCLUDES(file_lock_, table_mutex_);

  // Object_Delete (main thread): when record i is one of the used records and still holds the
  // object `account` (the text the operator confirmed), moves records i+1..n-1 down, zeroes the
  // last, rewrites the file and returns true; otherwise changes nothing and returns false. The
  // count and the move are taken under one lock, so an object that arrives meanwhile keeps its
  // place; the report sender needs no pause, as it finds each acknowledged object by account.
  bool Delete(int i, std::string_view account) EXCLUDES(file_lock_, table_mutex_);

  // Object_Clear (main thread; the caller stops the supervision timer around it): when the file
  // exists, closes `run_gate`, waits 50 ms, zeroes table and file, opens the gate. Returns false
  // and changes nothing when the file does not exist.
  bool Clear(Manual_Reset_Event& run_gate) EXCLUDES(file_lock_, table_mutex_);

  // Number of used records (they are packed at the front).
  int Count() const EXCLUDES(table_mutex_);
  Object_Record Record(int i) const EXCLUDES(table_mutex_);
  // The used records, copied under one lock.
  std::vector<Object_Record> Snapshot() const EXCLUDES(table_mutex_);

  // Report sender thread: when record i has OBJ_REPORT_DUE, fills `report` with its supervision
  // line and returns true.
  bool Supervision_Event(int i, Supervision_Report& report) const EXCLUDES(table_mutex_);
  // Report sender thread, after the ACK of `report`: clears OBJ_REPORT_DUE in memory (file not
  // written) on the record of the reported account, wherever it is now, and only while its lost
  // state is still the one reported: a loss or return during the wait for the answer stays due.
  // Nothing happens when the object has left the table.
  void Clear_Report_Due(const Supervision_Report& report) EXCLUDES(table_mutex_);

  // Tests: runs at the end of every Update and Ping_Tick, after the record writes, with no lock
  // held, so that a test can put another operation (a deletion) right behind them. Set before the
  // table is shared between threads.
  void Set_After_Write_Hook(std::function<void()> hook) { after_write_hook_ = std::move(hook); }

  const std::string& Path() const { return path_; }

 private:
  // The record of `key` among the used records, -1 when there is none.
  int Find(const Account_Key& key) const REQUIRES(table_mutex_);
  // Extends the used records over the used ones that follow record used_ - 1 (a file may hold
  // records behind an empty one; they join once the gap is filled), indexing each.
  void Index_Following() REQUIRES(table_mutex_);
  // Rebuilds the count and the index from the records.
  void Rebuild_Index() REQUIRES(table_mutex_);
  // The record a new account takes in a full table: the first of those with the oldest last
  // message before `now`; record 0 when none is older than `now`.
  int Oldest(int64_t now) const REQUIRES(table_mutex_);

  // Object_Save_Record: writes `record` at 88*i into the existing file (never created or
  // truncated) through the descriptor kept open from the first write on (one pwrite per
  // record); a file that cannot be opened is skipped silently.
  void Save_Record(int i, const Object_Record& record) REQUIRES(file_lock_);
  // Object_Save_All: writes a whole table image over the existing file.
  void Save_All(const std::vector<char>& image) REQUIRES(file_lock_);
  // Writes `count` records from `first` on in one pwrite.
  void Save_Run(int first, const Object_Record* records, int count) REQUIRES(file_lock_);
  // The change of Update under the table lock: `written` gets the bytes for the file.
  int Change(Event_Record& event, const Extended_Data& extended, Object_Record& written)
      REQUIRES(table_mutex_);
  // Forgets the kept write of record i (a newer write of the record is made), or all of them.
  void Drop_Pending(int i) REQUIRES(table_mutex_);
  void Drop_All_Pending() REQUIRES(table_mutex_);

  struct Key_Hash {
    std::size_t operator()(const Account_Key& key) const {
      return std::hash<std::string_view>()(std::string_view(key.data(), key.size()));
    }
  };

  std::string path_;
  Mutex& file_lock_;  // Object_Table_Lock: taken first, around every change that is written
  mutable Mutex table_mutex_ ACQUIRED_AFTER(file_lock_);  // records, their count and their index
  int fd_ GUARDED_BY(file_lock_) =
      -1;  // the kept descriptor of the file, -1 before the first write
  Object_Record records_[OBJECT_SLOTS] GUARDED_BY(table_mutex_) = {};
  // Used records: 0..used_-1, up to the first empty record.
  int used_ GUARDED_BY(table_mutex_) = 0;
  // Account -> record for the used records; of two records with one account (only a file written
  // elsewhere has them) the first, as a scan from record 0 would find it.
  std::unordered_map<Account_Key, int, Key_Hash> index_ GUARDED_BY(table_mutex_);
  std::function<void()> after_write_hook_;
  // The writes left by Update_Later: the record's index and bytes, the latest per record
  // (pending_at_[i] is its place in pending_, -1 for none).
  struct Pending {
    int Index;
    Object_Record Record;
  };
  std::vector<Pending> pending_ GUARDED_BY(table_mutex_);
  int pending_at_[OBJECT_SLOTS] GUARDED_BY(table_mutex_);
};
