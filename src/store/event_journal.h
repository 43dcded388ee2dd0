// Event_Journal: the last 4096 accepted events, in memory and in "dorvex.dat" (a 4-byte head and
// 4096 Event_Record slots, 327,684 bytes). It is both the event history and the queue of the
// report sender. The file is written as a raw image through one descriptor kept open.
//
// Threads: the receiver thread appends; with the write-ahead it writes each new slot to the file
// before it answers (Append_Written), and its sync thread writes the head and makes them durable
// (Sync_File). The report sender saves slots that were appended without the write-ahead and
// writes the status byte of the reported ones; the main thread clears the journal. Two locks:
// file_mutex_ (taken first) makes every write to the file one writer's at a time, so a check of a
// slot in memory and the write that follows it are one step; ring_mutex_ keeps every slot, its
// generation and the head whole in memory. A missing or replaced file is made again from the
// ring in memory at the next write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/sync_objects.h"
#include "base/thread_annotations.h"
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
  // A slot marked reported, and the generation of the event it held then.
  struct Marked {
    int Slot;
    uint32_t Generation;
  };
  // `path` is the full path of "dorvex.dat".
  explicit Event_Journal(std::string path);

  // Journal_Load: zeroes the ring and fills it from the file; a missing file is created, a file of
  // the wrong size is recreated zeroed. Returns the kept repair message ("File <path> size
  // (<found>-><expected>) error, new file created."), empty when there is none. A loaded head of
  // 4096 or more is taken modulo 4096.
  std::string Load() EXCLUDES(file_mutex_, ring_mutex_);

  // Main thread. True when the slot at head still holds an event that is present, not reported
  // and not a link test: appending would overwrite an event the automation software never got.
  bool Is_Full() const EXCLUDES(ring_mutex_);
  // Journal_Append: copies the record (Status 1, Time_Received set) to slot head, advances head.
  // Memory only; the report sender's save pass writes the slot later.
  void Append(const Event_Record& record) EXCLUDES(ring_mutex_);

  // The write-ahead (receiver thread): writes the record to the file as slot head (Sync_File
  // writes the advanced head), and on success appends it in memory like Append, with the slot
  // marked in flight so that the save pass and Clear leave it alone. `Error` is the red line
  // ("File open error. ", "Disk write error. " + error text) when the file could not be written:
  // nothing is appended.
  struct Written {
    int Slot = -1;
    uint64_t Ticket = 0;  // names this append of the slot in Settle
    std::string Error;
  };
  Written Append_Written(const Event_Record& record) EXCLUDES(file_mutex_, ring_mutex_);
  // The write-ahead of a group commit (receiver thread): appends like Append_Written, in memory
  // only; the next Sync_File writes the slot, with every slot appended so since (neighbours in
  // one write), before the head. A file fault shows in that Sync_File, which then fails.
  Written Append_Later(const Event_Record& record) EXCLUDES(ring_mutex_);
  // Sync thread: writes the slots appended by Append_Later and the head, makes everything
  // written so far durable (fdatasync) and checks
  // that the kept descriptor still names "dorvex.dat"; a file deleted or replaced meanwhile is
  // made again from the ring (slots in flight included) and synced. "" on success, else the red
  // error line.
  std::string Sync_File() EXCLUDES(file_mutex_, ring_mutex_);
  // Tests: work run on the sync thread in every Sync_File after the head is written, before the
  // sync (an injected delay shows that no answer leaves before the sync has returned). A failure
  // hook's non-zero result is taken as the errno of a failed sync.
  void Set_Sync_Hook(std::function<void()> hook) EXCLUDES(hook_mutex_);
  void Set_Sync_Failure_Hook(std::function<int()> hook) EXCLUDES(hook_mutex_);
  // Receiver thread, when the sync of slots written by Append_Written has returned: `durable`
  // sets EVT_SAVED in memory for each slot still holding that append. Otherwise the slots are
  // taken back: emptied in memory and, at the next write that succeeds, in the file, since
  // their messages were not answered and the communicators send them again.
  void Settle(const int* slots, const uint64_t* tickets, std::size_t count, bool durable)
      EXCLUDES(file_mutex_, ring_mutex_);

  // Red lines about the file (a file made again) that the journal kept for the log; empty when
  // there is none. Any thread.
  std::string Take_Notice() EXCLUDES(file_mutex_);

  uint32_t Head() const EXCLUDES(ring_mutex_);
  Event_Record Slot(int k) const EXCLUDES(ring_mutex_);

  // Outcome of one save pass. `Error` is the whole red line to log (with a beep) after which the
  // caller pauses 2 seconds; `Refresh` says whether the events window is to be refreshed.
  struct Save_Outcome {
    bool Wrote = false;
    bool Refresh = false;
    std::string Error;
  };
  // Journal_Save_New (report sender thread): writes every slot whose Status & 3 == 1, then the
  // head, and sets EVT_SAVED in memory. Tests `run_gate` before each slot and stops when closed.
  // An idle pass writes nothing.
  Save_Outcome Save_New(const Manual_Reset_Event& run_gate) EXCLUDES(file_mutex_, ring_mutex_);

  // True when slot k is saved, not reported and not a link test (the data pass sends it).
  bool Is_Due(int k) const EXCLUDES(ring_mutex_);
  // The first such slot from slot `from` on, in storage order; -1 when none. The journal keeps
  // these slots marked as they change, so the data pass looks at no other slot.
  int Next_Due(int from) const EXCLUDES(ring_mutex_);
  // True when a slot appended without the write-ahead waits for the save pass.
  bool Has_Unsaved() const EXCLUDES(ring_mutex_);
  // The same test, and when due a copy of the slot and its generation, taken in one step: the
  // generation changes with every append to the slot and with every clearing, so that the status
  // of a report lands only on the event that was sent.
  bool Due_Slot(int k, Event_Record& record, uint32_t& generation) const EXCLUDES(ring_mutex_);

  // Journal_Save_Status for one data pass (report sender thread), through the journal's kept
  // descriptor. The marks in memory are made at once; the file gets them at Flush, slots next to
  // each other in one write, so a pass of many acknowledged lines costs few writes.
  class Status_Writer {
   public:
    // The pass looks the file's name up again at its first write.
    explicit Status_Writer(Event_Journal& journal) : journal_(journal) {
      journal_.Check_Path_Again();
    }
    Status_Writer(const Status_Writer&) = delete;
    Status_Writer& operator=(const Status_Writer&) = delete;
    // Sets EVT_REPORTED in slot k when the slot still holds the saved event of `generation`
    // (another event in the slot is left alone) and keeps the slot for Flush. Returns "" on
    // success or when there was nothing to mark, else the red error line: when the file cannot
    // be opened the slot is not marked.
    std::string Mark_Status(int k, uint32_t generation);
    // Mark_Status and Flush at once.
    std::string Save_Status(int k, uint32_t generation);
    // Marks whatever saved event slot k holds now and flushes (tests and tools).
    std::string Save_Status(int k);
    // Writes the Status byte (7) of every slot marked since the last Flush to the file, unless
    // the slot was cleared or taken by another event meanwhile. "" or the red error line.
    std::string Flush();
    // The number of marks waiting for Flush.
    std::size_t Waiting() const { return marked_.size(); }
    // True once a status byte was written in this pass (the events window is then refreshed).
    bool Is_Open() const { return used_; }
    void Close() { used_ = false; }

   private:
    Event_Journal& journal_;
    std::vector<Marked> marked_;
    bool used_ = false;
  };

  // Journal_Clear (main thread, after the operator confirmed): when the file exists, empties every
  // slot and the head in memory and in the file in one step against the receiver and the report
  // sender, except the slots whose write-ahead sync is still in flight: their answers have not
  // left yet, so they are events that arrive after the clearing and are kept. Returns false and
  // changes nothing when the file does not exist.
  bool Clear() EXCLUDES(file_mutex_, ring_mutex_);

  const std::string& Path() const { return path_; }
  ~Event_Journal() EXCLUDES(file_mutex_);

 private:
  std::string Load_Image() EXCLUDES(ring_mutex_);
  // Makes fd_ name "dorvex.dat": opens it when closed, and when the path names no file or another
  // file than fd_ (or the last file opened), makes it again from the ring. The path is looked up
  // only when fd_ is closed or a pass asked for it (Check_Path_Again), so that the receiver's
  // writes between two syncs do not each look it up. Then writes back the slots taken back. 0 on
  // success, else the errno (the line's head in `what`).
  int Ensure_File(const char*& what) REQUIRES(file_mutex_) EXCLUDES(ring_mutex_);
  // The next Ensure_File looks the path up again (the start of a sync or a sender's pass).
  void Check_Path_Again() EXCLUDES(file_mutex_);
  // Writes the ring whole (head and slots as the file holds them) through fd_ and syncs it.
  int Write_Ring() REQUIRES(file_mutex_) EXCLUDES(ring_mutex_);
  // Closes fd_, or leaves it to the sync thread when it is syncing it.
  void Drop_Kept() REQUIRES(file_mutex_);
  // Status_Writer's two steps: the mark in memory (`marked`, with the slot's generation), and
  // the write of marked slots to the file.
  std::string Status_Mark(int k, const uint32_t* generation, bool& marked,
                          uint32_t& marked_generation) EXCLUDES(file_mutex_, ring_mutex_);
  std::string Status_Flush(const std::vector<Marked>& marked) EXCLUDES(file_mutex_, ring_mutex_);
  // Keeps the bitmaps below in step with slot k's status and write-ahead ticket.
  void Note_Slot(int k) REQUIRES(ring_mutex_);
  void Note_All_Slots() REQUIRES(ring_mutex_);
  // Puts `record` in slot `head` with a new generation and ticket (given in `written`) and moves
  // the head past it.
  void Take_Slot(uint32_t head, const Event_Record& record, Written& written) REQUIRES(ring_mutex_);
  // Writes the slots that Append_Later left, in runs of neighbours, and gives the head taken in
  // the same step; 0 or the errno. On failure they stay left for the next sync.
  int Write_Later_Slots(uint32_t& head) REQUIRES(file_mutex_) EXCLUDES(ring_mutex_);

  std::string path_;
  Mutex hook_mutex_;
  std::function<void()> sync_hook_ GUARDED_BY(hook_mutex_);
  std::function<int()> sync_failure_hook_ GUARDED_BY(hook_mutex_);
  Mutex file_mutex_ ACQUIRED_BEFORE(ring_mutex_);  // one writer of the file at a time
  int fd_ GUARDED_BY(file_mutex_) = -1;            // the kept descriptor of the file
  // The identity of the last file fd_ was opened on (also once fd_ was closed after a fault).
  bool known_ GUARDED_BY(file_mutex_) = false;
  uint64_t fd_device_ GUARDED_BY(file_mutex_) = 0;
  uint64_t fd_inode_ GUARDED_BY(file_mutex_) = 0;
  // True once the path was found naming fd_'s file in this pass.
  bool path_checked_ GUARDED_BY(file_mutex_) = false;
  int syncing_fd_ GUARDED_BY(file_mutex_) = -1;  // the descriptor the sync thread is syncing
  int retired_fd_ GUARDED_BY(file_mutex_) = -1;  // closed by the sync thread when it is done
  // Slots taken back whose file copy is still to be emptied.
  bool erase_[JOURNAL_SLOTS] GUARDED_BY(file_mutex_) = {};
  bool erase_pending_ GUARDED_BY(file_mutex_) = false;
  std::string notice_ GUARDED_BY(file_mutex_);
  mutable Mutex ring_mutex_;  // held only for copies
  uint32_t head_ GUARDED_BY(ring_mutex_) = 0;
  Event_Record slots_[JOURNAL_SLOTS] GUARDED_BY(ring_mutex_) = {};
  // The write-ahead ticket of a slot whose durability is still awaited; 0 for none.
  uint64_t tickets_[JOURNAL_SLOTS] GUARDED_BY(ring_mutex_) = {};
  // Changes with every append to the slot and every clearing of it.
  uint32_t generations_[JOURNAL_SLOTS] GUARDED_BY(ring_mutex_) = {};
  uint64_t next_ticket_ GUARDED_BY(ring_mutex_) = 1;
  // By slot, 64 to a word: saved and due for a report (the data pass), and appended without the
  // write-ahead and not saved yet (the save pass).
  uint64_t due_[JOURNAL_SLOTS / 64] GUARDED_BY(ring_mutex_) = {};
  uint64_t unsaved_[JOURNAL_SLOTS / 64] GUARDED_BY(ring_mutex_) = {};
  // Slots appended by Append_Later whose file copy the next sync writes.
  bool later_[JOURNAL_SLOTS] GUARDED_BY(ring_mutex_) = {};
  bool later_pending_ GUARDED_BY(ring_mutex_) = false;
};
