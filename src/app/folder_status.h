// The state of a data folder as its files show it, for `quenor status` and monitoring systems:
// whether a receiver holds the folder's instance lock, the journal's events by state, the oldest
// event still waiting for the automation software, the objects and how many are lost. Read from
// the files only, never from a running process. Plain functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct Folder_Status {
  bool Receiver_Running = false;
  // Journal: every present record of "dorvex.dat" is saved; of those, the reportable ones are
  // pending until the automation software acknowledged them (reported). Link tests are never
  // reported.
  int Events_Saved = 0;
  int Events_Pending = 0;
  int Events_Reported = 0;
  int Link_Tests = 0;
  std::optional<int64_t> Oldest_Pending_Time;  // seconds since 1970 UTC
  std::optional<int64_t> Last_Event_Time;      // newest Time_Received of the journal
  // Object table: objects in "latevn.dat" and those marked lost.
  int Objects = 0;
  int Objects_Lost = 0;
};

// A pending event older than this makes the folder unhealthy.
inline constexpr int64_t STATUS_MAX_PENDING_AGE = 60;  // seconds

// Reads the folder (ending with '/'). A missing journal or object file counts as empty (the
// receiver has not run yet). False, with `error` set, when the folder or a file cannot be read
// or a file has the wrong size.
bool Read_Folder_Status(const std::string& folder, Folder_Status& status, std::string& error);

// 0 when no object is lost and no pending event is older than a minute at `now`; 1 otherwise.
int Status_Exit_Code(const Folder_Status& status, int64_t now);

// The report as lines of text, or as one JSON object (with "healthy" and the pending age in
// seconds at `now`). Times are shown in local time (text) or as ISO 8601 UTC and seconds since
// 1970 (JSON).
std::string Status_Text(const Folder_Status& status, int64_t now);
std::string Status_Json(const Folder_Status& status, int64_t now);
