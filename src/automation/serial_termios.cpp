#include "automation/serial_termios.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

const std::array<Baud_Speed, 30> BAUD_SPEEDS = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

namespace {

struct Byte_Size_Flag {
  uint8_t bits;
  tcflag_t flag;
};
constexpr Byte_Size_Flag BYTE_SIZES[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

// Parity code -> the c_cflag bits that give it (CMSPAR turns odd/even into mark/space).
struct Parity_Flags {
  uint8_t code;
  tcflag_t flags;
};
constexpr tcflag_t PARITY_MASK = PARENB | PARODD | CMSPAR;
constexpr Parity_Flags PARITIES[] = {
    {PARITY_NONE, 0},
    {PARITY_ODD, PARENB | PARODD},
    {PARITY_EVEN, PARENB},
    {PARITY_MARK, PARENB | PARODD | CMSPAR},
    {PARITY_SPACE, PARENB | CMSPAR},
};

int Errno_Or_Zero(int result) {
  return result == 0 ? 0 : errno;
}

}  // namespace

bool Baud_To_Speed(int32_t rate, speed_t& speed) {
  for (const auto& b : BAUD_SPEEDS) {
    if (b.Rate == rate) {
      speed = b.Speed;
      return true;
    }
  }
  return false;
}

int32_t Speed_To_Baud(speed_t speed) {
  for (const auto& b : BAUD_SPEEDS) {
    if (b.Speed == speed) return b.Rate;
  }
  return -1;
}

int Settings_To_Termios(const Serial_Line_Settings& settings, termios& tio) {
  speed_t speed;
  if (!Baud_To_Speed(settings.Baud_Rate, speed)) return EINVAL;
  const Byte_Size_Flag* size = nullptr;
  for (const auto& s : BYTE_SIZES) {
    if (s.bits == settings.Byte_Size) size = &s;
  }
  const Parity_Flags* parity = nullptr;
  for (const auto& p : PARITIES) {
    if (p.code == settings.Parity) parity = &p;
  }
  if (size == nullptr || parity == nullptr) return EINVAL;
  if (settings.Stop_Bits != STOP_BITS_ONE && settings.Stop_Bits != STOP_BITS_TWO) return EINVAL;

  termios t = tio;
  // Input: no break or parity marking, no stripping to 7 bits, no CR/LF mapping (an answer
  // byte or a line passes untouched), no XON/XOFF (0x11/0x13 are ordinary bytes here).
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 INPCK | IGNPAR | IMAXBEL | IUCLC);
  // Output: sent as written (no NL -> CRNL and the like).
  t.c_oflag &= ~OPOST;
  // Local: no echo (an echo would come back to the automation software), no line editing,
  // no signal characters.
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  // Control: character size, parity and stop bits as asked; no RTS/CTS handshake; receiver on;
  // modem status lines ignored, so a port without carrier opens and reads; no hang-up on close.
  t.c_cflag &= ~(CSIZE | PARITY_MASK | CSTOPB | CRTSCTS | HUPCL);
  t.c_cflag |= size->flag | parity->flags | CREAD | CLOCAL;
  if (settings.Stop_Bits == STOP_BITS_TWO) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  tio = t;
  return 0;
}

bool Termios_To_Settings(const termios& tio, Serial_Line_Settings& settings) {
  const int32_t rate = Speed_To_Baud(cfgetospeed(&tio));
  if (rate < 0) return false;
  Serial_Line_Settings s;
  s.Baud_Rate = rate;
  s.Byte_Size = 0;
  for (const auto& b : BYTE_SIZES) {
    if ((tio.c_cflag & CSIZE) == b.flag) s.Byte_Size = b.bits;
  }
  if (s.Byte_Size == 0) return false;
  s.Parity = PARITY_NONE;
  for (const auto& p : PARITIES) {
    if ((tio.c_cflag & PARITY_MASK) == p.flags) s.Parity = p.code;
  }
  s.Stop_Bits = (tio.c_cflag & CSTOPB) ? STOP_BITS_TWO : STOP_BITS_ONE;
  settings = s;
  return true;
}

int Serial_Device_Open(const std::string& path) {
  if (path.empty()) return -ENOENT;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -errno;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  // A device that is no terminal refuses TIOCEXCL with ENOTTY; reading its termios fails next.
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

bool Serial_Device_Free(const std::string& path) {
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::isatty(fd) == 1;
  ::close(fd);
  return free;
}

int Serial_Device_Get(int fd, termios& tio) {
  return Errno_Or_Zero(::tcgetattr(fd, &tio));
}

int Serial_Device_Set(int fd, const termios& tio) {
  return Errno_Or_Zero(::tcsetattr(fd, TCSANOW, &tio));
}

int Serial_Device_Modem_Lines_Off(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIC, &lines) == 0) return 0;
  // A pseudo-terminal has no modem lines and says so with EINVAL or ENOTTY.
  if (errno == EINVAL || errno == ENOTTY) return 0;
  return errno;
}

int Serial_Device_Bytes_Waiting(int fd, int& count) {
  count = 0;
  return Errno_Or_Zero(::ioctl(fd, FIONREAD, &count));
}

int Serial_Device_Close(int fd) {
  ::ioctl(fd, TIOCNXCL);  // refused by a non-terminal; nothing to undo then
  // Output still queued is dropped: on a line held back by flow control a real port's close
  // would otherwise wait for it to drain (up to the driver's closing time, 30 s by default).
  ::tcflush(fd, TCIOFLUSH);
  return Errno_Or_Zero(::close(fd));
}
