// Object_Table: one Object_Record per object (account), up to 10000, packed at the front, in
// memory and in "latevn.dat" (880,000 bytes, record i at 88*i). It keeps each object's last
// event, address, signal quality and link-test supervision. Updates, ticks, edits and deletions
// run on the main thread; the report sender reads records and clears OBJ_REPORT_DUE on its own
// thread. An internal lock keeps record copies whole; every write of the file is made while
// holding the shared Object_Table_Lock, which guards the file.
//
// Lock order: Object_Table_Lock (the file) before the internal table lock (the records). A file
// write takes the table lock inside the file lock for its copy of the records; the table lock is
// never held while the file lock is taken, and neither is held while the caller waits for
// anything else (the report sender holds neither across a line and its answer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>

#include "base/sync_objects.h"
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

class Object_Table {
 public:
  // `path` is the full path of "latevn.dat"; `file_lock` is the shared Object_Table_Lock.
  Object_Table(std::string path, std::mutex& file_lock);
  ~Object_Table();

  // Object_Load: zeroes the table and fills it from the file (created when missing, recreated
  // zeroed when of the wrong size); then re-arms every countdown to Ping_Timeout*60. Returns the
  // kept repair message, empty when there is none.
  std::string Load();

  // Object_Update (main thread, for every accepted message): finds or creates the object of
  // `event` (Status 1 and Time_Received set), copies the event into it and completes the event's
  // Signal_Quality and IP_Address from the "[Q" and "[B" fields. Writes the record to the file.
  // Returns the record's index.
  int Update(Event_Record& event, const Extended_Data& extended);

  // Ping_Tick (main thread, once a second): counts every supervised object down; true when at
  // least one object became lost in this tick.
  bool Ping_Tick();

  // The timeout change of the object list (main thread): false, and nothing changed, when
  // `minutes` exceeds MAX_PING_TIMEOUT or i is not a used record.
  bool Change_Timeout(int i, uint32_t minutes);

  // Object_Delete (main thread): pauses the report sender through `run_gate`, moves records
  // i+1..n-1 down, zeroes the last, rewrites the file and opens the gate again.
  void Delete(int i, Manual_Reset_Event& run_gate);

  // Object_Clear (main thread; the caller stops the supervision timer around it): when the file
  // exists, closes `run_gate`, waits 50 ms, zeroes table and file, opens the gate. Returns false
  // and changes nothing when the file does not exist.
  bool Clear(Manual_Reset_Event& run_gate);

  // Number of used records (they are packed at the front).
  int Count() const;
  Object_Record Record(int i) const;

  // Report sender thread: when record i has OBJ_REPORT_DUE, fills `event` with its
  // Supervision_Record and returns true.
  bool Supervision_Event(int i, Event_Record& event) const;
  // Report sender thread, after the ACK: clears OBJ_REPORT_DUE in memory (file not written).
  // The flag is cleared on the record of the account that the last Supervision_Event handed out
  // (found again when a deletion moved it), and only while its lost state is still the one that
  // was reported: a loss or return that happened during the wait for the answer stays due.
  void Clear_Report_Due(int i);

  // Object_Save_Record: writes record i at 88*i into the existing file (never created or
  // truncated) through the descriptor kept open from the first write on (one pwrite per
  // record); a file that cannot be opened is skipped silently. The caller holds the file lock.
  void Save_Record(int i);
  // Object_Save_All: writes the whole table over the existing file; the caller holds the lock.
  void Save_All();

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::mutex& file_lock_;  // Object_Table_Lock: taken first, around every file write
  int fd_ =
      -1;  // the kept descriptor of the file, -1 until the first write (guarded by file_lock_)
  mutable std::mutex table_mutex_;  // guards records_ (held only for short copies and updates);
                                    // taken second, never while waiting for file_lock_
  Object_Record records_[OBJECT_SLOTS] = {};
  // The last supervision line handed to the report sender (guarded by table_mutex_).
  struct Handed_Out {
    bool Valid = false;
    char Account_Nr[17] = {};
    uint8_t Lost = 0;
  };
  mutable Handed_Out handed_out_;
};
