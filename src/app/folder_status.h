// The state of a data folder for `quenor status` and monitoring systems: whether a receiver holds
// the folder's instance lock, what the running receiver says of itself in its live state file
// (port, journal, automation link, counters), the journal's events by state, the oldest event
// still waiting for the automation software, the objects and how many are lost. Read from the
// files only, never by asking the running process. Plain functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/live_state.h"

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
  std::optional<int64_t> Newest_Pending_Time;  // seconds since 1970 UTC
  std::optional<int64_t> Last_Event_Time;      // newest Time_Received of the journal
  // Object table: objects in "latevn.dat" and those marked lost.
  int Objects = 0;
  int Objects_Lost = 0;
};

// A pending event older than this makes the folder degraded while an automation link is configured.
inline constexpr int64_t STATUS_MAX_PENDING_AGE = 60;  // seconds
// A receiver this young whose port is not open yet and has not failed is still opening it.
inline constexpr int64_t STATUS_OPENING_GRACE = 5;  // seconds

// The exit codes of `quenor status`, worst first when several apply: unreadable, not running,
// degraded.
enum Status_Code {
  STATUS_HEALTHY = 0,
  STATUS_DEGRADED = 1,
  STATUS_UNREADABLE = 2,
  STATUS_NOT_RUNNING = 3,
};

// Reads the folder's journal and object table (ending with '/'). A missing journal or object
// file counts as empty (the receiver has not run yet). False, with `error` set, when the folder
// or a file cannot be read or a file has the wrong size.
bool Read_Folder_Status(const std::string& folder, Folder_Status& status, std::string& error);

// Everything `status` reports, and its verdict.
struct Status_Report {
  bool Files_Read = false;
  Folder_Status Files;
  std::optional<Live_State> Live;  // read when a receiver holds the lock
  std::string Error;               // what could not be read; "" when everything was
  Status_Code Code = STATUS_HEALTHY;
  std::vector<std::string> Problems;  // why it is degraded (also filled when not running)
};

// Reads the folder and judges it at `now` (seconds since 1970 UTC).
Status_Report Read_Status_Report(const std::string& folder, int64_t now);

// The verdict from what was read: unreadable when `Error` is set (or a running receiver left no
// readable live state), else not running without the lock, else degraded when the receiver port
// is enabled but not open (failed, or still closed STATUS_OPENING_GRACE after the start), the
// journal cannot be written, the automation link is configured but not up, an object is lost, the
// live state is stale, an event has been pending over a minute while an automation link is
// configured, or a pending event is stamped after `now`; healthy otherwise.
void Judge_Status(Status_Report& report, int64_t now);

// The report as lines of text, as one JSON object (always one, with "error" when something could
// not be read), or in the Prometheus text format (metrics named quenor_*, labelled with the
// folder). Times are shown in local time (text) or as ISO 8601 UTC and seconds since 1970 (JSON).
std::string Status_Text(const Status_Report& report, int64_t now);
std::string Status_Json(const Status_Report& report, int64_t now);
std::string Status_Prometheus(const Status_Report& report, const std::string& folder, int64_t now);
