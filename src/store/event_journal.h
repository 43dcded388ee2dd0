// Event_Journal: the last 4096 accepted events, in memory and in "dorvex.dat" (a 4-byte head and
// 4096 Event_Record slots, 327,684 bytes). It is both the event history and the queue of the
// report sender. The receiver appends on the main thread; the report sender saves new slots and
// marks reported ones on its own thread. A short internal lock keeps every slot copy and the head
// whole, so neither side ever sees a half-copied record; the file is written as a raw image.
//
// The journal file is written by two threads, each opening it per operation: the report sender
// (Save_New: new slots and the head; Status_Writer: Status bytes) and the main thread (Load, before
// the sender starts; Clear, on the operator's command). No lock guards the file. Clear keeps the
// sender out through Run_Gate: it closes the gate and waits 50 ms before it writes, and the sender
// tests the gate before every slot it saves or sends. A Status byte for an answer that arrives
// after the gate closed is written only while the slot in memory is still saved and present,
// which the zeroing of the ring under the internal lock ends. The 50 ms is a grace period, not
// a lock: a sender write already in progress that outlasts it could land after the zeroing.
#pragma once

#include <cstddef>
#include <cstdint>
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
  void Append(const Event_Record& record);

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

 private:
  std::string path_;
  mutable std::mutex ring_mutex_;  // guards head_ and slots_ (held only for copies)
  uint32_t head_ = 0;
  Event_Record slots_[JOURNAL_SLOTS] = {};
};
