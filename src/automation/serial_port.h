// Serial_Port: the one serial device of the automation link. The main thread configures, opens
// and closes it (link manager), the report sender writes lines to it and AT_Rec_Thread reads the
// answer bytes. Every operation is safe on any thread: one mutex guards each use of the
// descriptor, so closing on the main thread never races a write or a read (a close waits for
// the write or read in progress, which its time-outs bound). Every failure throws ECommError
// and leaves the object as it was before the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "automation/serial_line_settings.h"
#include "base/thread_annotations.h"

// What failed (ECommError::Error_Id).
inline constexpr int32_t COMM_SET_BAUD_RATE = 1;
inline constexpr int32_t COMM_SET_STOP_BITS = 3;
inline constexpr int32_t COMM_SET_PARITY = 4;
inline constexpr int32_t COMM_SET_BYTE_SIZE = 5;
inline constexpr int32_t COMM_NAME_WHILE_OPEN = 6;
inline constexpr int32_t COMM_NOT_OPEN = 7;
inline constexpr int32_t COMM_OPEN = 8;  // also: device missing, or held by another program
inline constexpr int32_t COMM_WRITE = 9;
inline constexpr int32_t COMM_READ = 10;
inline constexpr int32_t COMM_CLOSE = 11;
inline constexpr int32_t COMM_GET_SETTINGS = 14;
inline constexpr int32_t COMM_APPLY_SETTINGS = 15;  // also: a rate with no termios form
inline constexpr int32_t COMM_QUEUE_SIZES = 16;     // never on this platform (no queue sizes)
inline constexpr int32_t COMM_TIMEOUTS = 17;        // never on this platform (kept with poll)
inline constexpr int32_t COMM_BYTES_WAITING = 18;

// The failure of a Serial_Port operation: what failed and the errno value at that moment
// (EBADF for "not open", EBUSY for a name change while open).
class ECommError : public std::exception {
 public:
  ECommError(int32_t error_id, int32_t system_error);
  const char* what() const noexcept override { return what_.c_str(); }
  // The system's text for System_Error in parentheses after a space, or nothing without one.
  std::string Reason() const;

  int32_t Error_Id;
  int32_t System_Error;

 private:
  std::string what_;
};

// Time-outs in milliseconds, as the port holds them once open. A read waits at most
// Read_Total_Constant + Read_Total_Per_Byte; a write of n bytes at most
// Write_Total_Constant + n * Write_Total_Per_Byte, then ends with what was written.
struct Serial_Timeouts {
  uint32_t Read_Interval = 15;
  uint32_t Read_Total_Per_Byte = 10;
  uint32_t Read_Total_Constant = 250;
  uint32_t Write_Total_Per_Byte = 10;
  uint32_t Write_Total_Constant = 250;
};

// Queue sizes of the open sequence; termios has none, so they are recorded, not applied.
inline constexpr uint32_t SERIAL_INPUT_QUEUE = 32768;
inline constexpr uint32_t SERIAL_OUTPUT_QUEUE = 9216;

class Serial_Port {
 public:
  Serial_Port() = default;
  ~Serial_Port();  // closes the device if it is open; errors are dropped
  Serial_Port(const Serial_Port&) = delete;
  Serial_Port& operator=(const Serial_Port&) = delete;

  // Store the value; when open, apply the whole line settings at once, and on failure put the
  // previous value back and throw (1, 5, 4, 3). A closed port checks nothing: an unusable value
  // shows at Open_Port (15).
  void Set_Baud_Rate(int32_t rate);
  void Set_Byte_Size(uint8_t bits);
  void Set_Parity(uint8_t code);
  void Set_Stop_Bits(uint8_t code);
  // The device path to open ("COM1" until set). Throws 6 while open.
  void Set_Port_Name(const std::string& name);
  std::string Port_Name() const;
  Serial_Line_Settings Line_Settings() const;
  Serial_Timeouts Timeouts() const;

  // Nothing when open. Otherwise opens the device exclusively, raw, with the line settings,
  // DTR and RTS off (8 when missing or held by another program or another Serial_Port,
  // 14 reading the settings, 15 applying them). The open flag is set only at the end.
  void Open_Port();
  // Nothing when closed. Otherwise releases the descriptor and clears the open flag; throws 11
  // when the system reports an error on close (the descriptor is released all the same).
  void Close_Port();
  bool Is_Open() const { return open_.load(std::memory_order_acquire); }

  // Writes the bytes of `text` (up to a NUL, none appended) within the write time-out; what is
  // not written by then is dropped, as the answer that never comes will show. 7 / 9.
  void Write_Text(std::string_view text);
  // The number of bytes in the input queue. 7 / 18.
  int Bytes_Waiting();
  // One byte 0..255, or -1 when none came within the read time-out (never an answer). 7 / 10.
  int Read_Byte();

 private:
  void Apply_Locked(const Serial_Line_Settings& previous, int32_t error_id) REQUIRES(mutex_);

  // Held for each whole operation on the descriptor; a write or read holds it at most for its
  // time-out, so a close waits at most that long.
  mutable Mutex mutex_;
  int fd_ GUARDED_BY(mutex_) = -1;
  std::string port_name_ GUARDED_BY(mutex_) = "COM1";
  Serial_Line_Settings settings_ GUARDED_BY(mutex_);
  Serial_Timeouts timeouts_ GUARDED_BY(mutex_);
  // An atomic copy of "fd_ is open", written under mutex_ and read anywhere without it.
  std::atomic<bool> open_{false};
};
