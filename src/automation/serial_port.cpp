#include "automation/serial_port.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "automation/serial_termios.h"
#include "base/socket_error.h"

namespace {

using Clock = std::chrono::steady_clock;

int Remaining_Ms(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is ready for `events` or the deadline passes: 1 ready, 0 time-out, -errno.
int Wait_Ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, Remaining_Ms(deadline));
    if (r > 0) return 1;
    if (r == 0) return 0;
    if (errno != EINTR) return -errno;
  }
}

}  // namespace

ECommError::ECommError(int32_t error_id, int32_t system_error)
    : Error_Id(error_id), System_Error(system_error) {
  what_ = "Serial port error " + std::to_string(error_id) + " (system error " +
          std::to_string(system_error) + ")";
}

std::string ECommError::Reason() const {
  return System_Error != 0 ? " (" + System_Error_Text(System_Error) + ")" : std::string();
}

Serial_Port::~Serial_Port() {
  Mutex_Lock lock(mutex_);
  if (fd_ >= 0) Serial_Device_Close(fd_);
  fd_ = -1;
  open_.store(false, std::memory_order_release);
}

void Serial_Port::Apply_Locked(const Serial_Line_Settings& previous, int32_t error_id) {
  if (fd_ < 0) return;
  termios tio{};
  int error = Serial_Device_Get(fd_, tio);
  if (error == 0) error = Settings_To_Termios(settings_, tio);
  if (error == 0) error = Serial_Device_Set(fd_, tio);
  if (error != 0) {
    settings_ = previous;
    throw ECommError(error_id, error);
  }
}

void Serial_Port::Set_Baud_Rate(int32_t rate) {
  Mutex_Lock lock(mutex_);
  const Serial_Line_Settings previous = settings_;
  settings_.Baud_Rate = rate;
  Apply_Locked(previous, COMM_SET_BAUD_RATE);
}

void Serial_Port::Set_Byte_Size(uint8_t bits) {
  Mutex_Lock lock(mutex_);
  const Serial_Line_Settings previous = settings_;
  settings_.Byte_Size = bits;
  Apply_Locked(previous, COMM_SET_BYTE_SIZE);
}

void Serial_Port::Set_Parity(uint8_t code) {
  Mutex_Lock lock(mutex_);
  const Serial_Line_Settings previous = settings_;
  settings_.Parity = code;
  Apply_Locked(previous, COMM_SET_PARITY);
}

void Serial_Port::Set_Stop_Bits(uint8_t code) {
  Mutex_Lock lock(mutex_);
  const Serial_Line_Settings previous = settings_;
  settings_.Stop_Bits = code;
  Apply_Locked(previous, COMM_SET_STOP_BITS);
}

void Serial_Port::Set_Port_Name(const std::string& name) {
  Mutex_Lock lock(mutex_);
  if (fd_ >= 0) throw ECommError(COMM_NAME_WHILE_OPEN, EBUSY);
  port_name_ = name;
}

std::string Serial_Port::Port_Name() const {
  Mutex_Lock lock(mutex_);
  return port_name_;
}

Serial_Line_Settings Serial_Port::Line_Settings() const {
  Mutex_Lock lock(mutex_);
  return settings_;
}

Serial_Timeouts Serial_Port::Timeouts() const {
  Mutex_Lock lock(mutex_);
  return timeouts_;
}

void Serial_Port::Open_Port() {
  Mutex_Lock lock(mutex_);
  if (fd_ >= 0) return;
  const Serial_Line_Settings wanted = settings_;

  const int fd = Serial_Device_Open(port_name_);
  if (fd < 0) throw ECommError(COMM_OPEN, -fd);

  termios tio{};
  if (const int error = Serial_Device_Get(fd, tio); error != 0) {
    Serial_Device_Close(fd);
    throw ECommError(COMM_GET_SETTINGS, error);
  }
  int error = Settings_To_Termios(wanted, tio);
  if (error == 0) error = Serial_Device_Set(fd, tio);
  // DTR and RTS held inactive: the automation link uses no modem-line handshake.
  if (error == 0) error = Serial_Device_Modem_Lines_Off(fd);
  if (error != 0) {
    Serial_Device_Close(fd);
    throw ECommError(COMM_APPLY_SETTINGS, error);
  }
  // Queue sizes (SERIAL_INPUT_QUEUE, SERIAL_OUTPUT_QUEUE) have no termios form; the kernel's
  // tty buffers are larger than the longest report line. The time-outs are kept by poll.
  timeouts_ = Serial_Timeouts{};
  fd_ = fd;
  open_.store(true, std::memory_order_release);
}

void Serial_Port::Close_Port() {
  Mutex_Lock lock(mutex_);
  if (fd_ < 0) return;
  // close() releases the descriptor even when it reports an error; keeping the flag set and
  // closing again later could close a descriptor the process has reused meanwhile.
  const int error = Serial_Device_Close(fd_);
  fd_ = -1;
  open_.store(false, std::memory_order_release);
  if (error != 0) throw ECommError(COMM_CLOSE, error);
}

void Serial_Port::Write_Text(std::string_view text) {
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  Mutex_Lock lock(mutex_);
  if (fd_ < 0) throw ECommError(COMM_NOT_OPEN, EBADF);
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(timeouts_.Write_Total_Constant +
                                               timeouts_.Write_Total_Per_Byte * text.size());
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) throw ECommError(COMM_WRITE, errno);
    // The output queue is full (the other end does not read): wait within the time-out.
    const int ready = Wait_Ready(fd_, POLLOUT, deadline);
    if (ready < 0) throw ECommError(COMM_WRITE, -ready);
    if (ready == 0) return;  // time-out: the rest is dropped, the byte count is not reported
  }
}

int Serial_Port::Bytes_Waiting() {
  Mutex_Lock lock(mutex_);
  if (fd_ < 0) throw ECommError(COMM_NOT_OPEN, EBADF);
  int count = 0;
  if (const int error = Serial_Device_Bytes_Waiting(fd_, count); error != 0) {
    throw ECommError(COMM_BYTES_WAITING, error);
  }
  return count;
}

int Serial_Port::Read_Byte() {
  Mutex_Lock lock(mutex_);
  if (fd_ < 0) throw ECommError(COMM_NOT_OPEN, EBADF);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.Read_Total_Constant +
                                                                 timeouts_.Read_Total_Per_Byte);
  for (;;) {
    unsigned char byte = 0;
    const ssize_t n = ::read(fd_, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) throw ECommError(COMM_READ, errno);
    if (n == 0 && Remaining_Ms(deadline) == 0) return -1;
    const int ready = Wait_Ready(fd_, POLLIN, deadline);
    if (ready < 0) throw ECommError(COMM_READ, -ready);
    if (ready == 0) return -1;
  }
}
