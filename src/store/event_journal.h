// Event_Journal: the last 4096 accepted events, in memory and in "dorvex.dat" (a 4-byte head and
// 4096 Event_Record slots, 327,684 bytes). It is both the event history and the queue of the
// report sender. The file is written as a raw image.
//
// Threads: the receiver thread appends; with the write-ahead it writes each new slot and the
// head to the file before it answers (Append_Written), and its sync thread makes them durable
// (Sync_File). The report sender saves slots that were appended without the write-ahead and
// writes the status byte of reported ones; the main thread clears the journal. Two locks:
// file_mutex_ makes every write to the file one writer's at a time, so the receiver's record, the
// sender's status byte and the clearing never interleave inside a record, and a check of the
// slot in memory and the write that follows it are one step; ring_mutex_ (taken inside
// file_mutex_ when both are held) keeps every slot copy and the head whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "base/sync_objects.h"
#include "protocol/event_record.h"

inline constexpr int JOURNAL_SLOTS = 4096;
inline constexpr std::size_t JOURNAL_FILE_SIZE = 4 + sizeof(Event_Record) * JOURNAL_SLOTS;
static_assert(JOURNAL_FILE_SIZE == 327684);
inline constexpr const char* JOURNAL_FILE_NAME = "dorvex.dat";

// Byte offset of slot k in the journal file.
constexpr std::size_t Journal_Slot_Offset(int k) {
  return 4 + sizeof(Event_Record) * k;
}

class Event_Journal {
 public:
  // `path` is the full path of "dorvex.dat".
  explicit Event_Journal(std::string path);

  // Journal_Load: zeroes the ring and fills it from the file; a missing file is created, a file of
  // the wrong size is recreated zeroed. Returns the kept repair message ("File <path> size
  // (<found>-><expected>) error, new file created."), empty when there is none. A loaded head of
  // 4096 or more is taken modulo 4096.
  std::string Load();

  // Main thread. True when the slot at head still holds an event that is present, not reported
  // and not a link test: appending would overwrite an event the automation software never got.
  bool Is_Full() const;
  // Journal_Append: copies the record (Status 1, Time_Received set) to slot head, advances head.
  // Memory only; the report sender's save pass writes the slot later.
  void Append(const Event_Record& record);

  // The write-ahead (receiver thread): writes the record to the file as slot head (Sync_File
  // writes the advanced head), and on success appends it in memory like Append, with the slot
  // marked in flight so that the save pass leaves it alone. `Error` is the red line ("File open
  // error. ", "Disk write error. " + error text) when the file could not be written: nothing is
  // appended.
  struct Written {
    int Slot = -1;
    uint64_t Ticket = 0;  // names this append of the slot in Settle
    std::string Error;
  };
  Written Append_Written(const Event_Record& record);
  // Sync thread: writes the head, makes everything written so far durable (fdatasync) and
  // checks that the kept
  // descriptor still names "dorvex.dat" (a file put in its place would take writes into a
  // deleted file). "" on success, else the red error line; after a failure the descriptor is
  // opened anew at the next write.
  std::string Sync_File();
  // Tests: work run on the sync thread in every Sync_File after the head is written, before the
  // sync (an injected delay shows that no answer leaves before the sync has returned).
  void Set_Sync_Hook(std::function<void()> hook);
  // Receiver thread, when the sync of slots written by Append_Written has returned: `durable`
  // sets EVT_SAVED in memory for each slot still holding that append; otherwise the slots are
  // left to the save pass, which writes them again.
  void Settle(const int* slots, const uint64_t* tickets, std::size_t count, bool durable);

  uint32_t Head() const;
  Event_Record Slot(int k) const;

  // Outcome of one save pass. `Error` is the whole red line to log (with a beep) after which the
  // caller pauses 2 seconds; `Refresh` says whether the events window is to be refreshed.
  struct Save_Outcome {
    bool Wrote = false;
    bool Refresh = false;
    std::string Error;
  };
  // Journal_Save_New (report sender thread): writes every slot whose Status & 3 == 1, then the
  // head, and sets EVT_SAVED in memory. Tests `run_gate` before each slot and stops when closed.
  // An idle pass opens no file.
  Save_Outcome Save_New(const Manual_Reset_Event& run_gate);

  // True when slot k is saved, not reported and not a link test (the data pass sends it).
  bool Is_Due(int k) const;

  // Journal_Save_Status for one data pass (report sender thread): the file is opened at the first
  // acknowledged slot and stays open until Close() or destruction.
  class Status_Writer {
   public:
    explicit Status_Writer(Event_Journal& journal) : journal_(journal) {}
    ~Status_Writer() { Close(); }
    Status_Writer(const Status_Writer&) = delete;
    Status_Writer& operator=(const Status_Writer&) = delete;
    // Sets EVT_REPORTED in slot k and writes its Status byte (7) to the file. Returns "" on
    // success, else the red error line; when the file cannot be opened the slot is not marked.
    std::string Save_Status(int k);
    bool Is_Open() const { return fd_ >= 0; }
    void Close();

   private:
    Event_Journal& journal_;
    int fd_ = -1;
  };

  // Journal_Clear (main thread, after the operator confirmed): when the file exists, closes
  // `run_gate`, waits 50 ms, zeroes the ring, rewrites the file with zeros and opens the gate.
  // Returns false and changes nothing when the file does not exist.
  bool Clear(Manual_Reset_Event& run_gate);

  const std::string& Path() const { return path_; }
  ~Event_Journal();

 private:
  std::string Load_Image();
  // Opens the kept descriptor when it is closed; the caller holds file_mutex_.
  bool Open_Kept(int& error);

  std::string path_;
  std::mutex hook_mutex_;
  std::function<void()> sync_hook_;  // guarded by hook_mutex_
  std::mutex file_mutex_;            // one writer of the file at a time
  int fd_ = -1;                      // the kept descriptor of the file (guarded by file_mutex_)
  uint64_t fd_device_ = 0;  // identity of the file fd_ was opened on (guarded by file_mutex_)
  uint64_t fd_inode_ = 0;
  mutable std::mutex ring_mutex_;  // guards head_, slots_ and tickets_ (held only for copies)
  uint32_t head_ = 0;
  Event_Record slots_[JOURNAL_SLOTS] = {};
  // The write-ahead ticket of a slot whose durability is still awaited; 0 for none.
  uint64_t tickets_[JOURNAL_SLOTS] = {};
  uint64_t next_ticket_ = 1;  // receiver thread only
};
