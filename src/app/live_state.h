// The live state of a running receiver: what only the running process knows (its port, its
// journal writes, its automation link, its counters), written every few seconds as a small JSON
// file in the data folder so that `quenor status` and monitoring read it without asking the
// process. Plain data and conversions; any thread.
#pragma once

#include <cstdint>
#include <string>

// The file in the data folder. Replaced as a whole at each write; removed by an orderly end.
inline constexpr const char* LIVE_STATE_FILE_NAME = "quenor.state";
// How often the receiver rewrites it, and the age after which a reader counts it stale (the
// receiver's main thread has stopped turning).
inline constexpr int LIVE_STATE_INTERVAL_MS = 2000;
inline constexpr int64_t LIVE_STATE_STALE_AFTER = 15;  // seconds

struct Live_State {
  int64_t Pid = 0;
  int64_t Started = 0;  // seconds since 1970 UTC
  int64_t Written = 0;  // seconds since 1970 UTC
  bool Headless = false;
  // The receiver port: enabled in the settings, open, and why not when it is not.
  bool Port_Enabled = false;
  int32_t Port = 0;
  bool Port_Open = false;
  std::string Port_Error;
  // The journal file: "" while it can be written, else the last error.
  std::string Journal_Error;
  // The automation link: configured (Out_Mode not closed), its mode text, transport open,
  // automation software answering.
  bool Link_Configured = false;
  std::string Link_Mode;  // "off", "tcp server", "tcp client" or "serial"
  bool Link_Open = false;
  bool Link_Alive = false;
  // Counters since the start.
  uint64_t Messages_Answered = 0;
  uint64_t Naks = 0;  // answers that were NAK or DUH
  uint64_t Events_Stored = 0;
  uint64_t Lines_Forwarded = 0;
  uint64_t Write_Errors = 0;
};

// One JSON object, the file's content.
std::string Live_State_Json(const Live_State& state);
// False, with `error` set, when `text` is not such an object or misses a field.
bool Parse_Live_State(const std::string& text, Live_State& state, std::string& error);

// Reads the live state of `folder` (ending with '/'). False, with `error` set, when the file is
// missing, unreadable or no live state, or the process that wrote it has ended.
bool Read_Live_State(const std::string& folder, Live_State& state, std::string& error);
