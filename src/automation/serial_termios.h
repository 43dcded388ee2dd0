// The one place that talks termios and ioctl to a serial device. Two halves:
// - a pure translation between Serial_Line_Settings and struct termios (no device needed), and
// - a thin device layer (open exclusively, get/apply the termios, modem lines off, bytes
//   waiting, close) whose functions return 0 or an errno value and never throw.
// A pseudo-terminal has no modem lines: a modem-line call it refuses (EINVAL, ENOTTY) is taken
// as "no modem lines", not as an error, so the whole driver runs on one end of a pty pair.
// All functions are safe on any thread; the caller serialises the use of one descriptor.
#pragma once

#include <termios.h>

#include <array>
#include <cstdint>
#include <string>

#include "automation/serial_line_settings.h"

// Baud rates with a termios speed constant; a rate outside this table cannot be set (EINVAL).
struct Baud_Speed {
  int32_t Rate;
  speed_t Speed;
};
extern const std::array<Baud_Speed, 30> BAUD_SPEEDS;

// The speed constant of `rate`; false when the table has none.
bool Baud_To_Speed(int32_t rate, speed_t& speed);
// The rate of a speed constant; -1 when the table has none.
int32_t Speed_To_Baud(speed_t speed);

// Puts `settings` into `tio` and makes the line raw: no input or output processing, no echo, no
// signals, no software or hardware flow control, receiver on, modem status ignored (CLOCAL),
// VMIN = VTIME = 0 (the driver opens non-blocking and keeps its time-outs with poll, because
// termios has no write time-out and VTIME counts in 100 ms steps). Returns 0, or EINVAL when a
// setting has no termios form (a rate outside BAUD_SPEEDS, a byte size outside 5..8, an unknown
// parity code, one and a half stop bits); `tio` is then unchanged.
int Settings_To_Termios(const Serial_Line_Settings& settings, termios& tio);
// Reads the line settings back from `tio`; false when its speed or character size is unknown.
bool Termios_To_Settings(const termios& tio, Serial_Line_Settings& settings);

// Opens `path` for reading and writing, not as controlling terminal, non-blocking and
// close-on-exec, and takes it exclusively: an advisory lock (flock) that every open of this
// program also takes, and TIOCEXCL, which makes the kernel refuse other opens of the tty
// (except to a privileged process; the lock covers that case for this program). Returns the
// descriptor, or -errno (EBUSY / EWOULDBLOCK when another holds it, ENOENT when missing).
int Serial_Device_Open(const std::string& path);
// True when `path` is a terminal that could be opened exclusively at this moment. Leaves no
// trace: the probe neither sets TIOCEXCL nor keeps the descriptor.
bool Serial_Device_Free(const std::string& path);
// tcgetattr / tcsetattr(TCSANOW): 0 or errno.
int Serial_Device_Get(int fd, termios& tio);
int Serial_Device_Set(int fd, const termios& tio);
// Holds DTR and RTS inactive (TIOCMBIC): 0 or errno; 0 also when the device has no modem lines.
int Serial_Device_Modem_Lines_Off(int fd);
// The number of bytes in the input queue (FIONREAD): 0 or errno.
int Serial_Device_Bytes_Waiting(int fd, int& count);
// Lifts TIOCEXCL (so the tty can be opened again while a pty master keeps it alive), drops the
// queued input and output (so the close never waits for output to drain) and closes the
// descriptor. The descriptor is released even when close reports an error: 0 or errno.
int Serial_Device_Close(int fd);
