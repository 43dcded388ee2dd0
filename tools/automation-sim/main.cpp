// automation-sim: a stand-in for the station's automation software. It takes the receiver's
// report lines over TCP (as server or client) or a serial device, prints each line decoded with
// a time stamp and answers ACK, NAK or nothing. Meant for manual trials, tests and benchmarks:
// --count and --seconds end it by itself, --stats prints lines per second.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "report_line_decode.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr char LINE_END = 0x14;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;

const char USAGE[] =
    "usage: automation-sim (--tcp-server PORT | --tcp-client HOST:PORT | --serial PATH) [options]\n"
    "  --tcp-server PORT    listen on PORT (the receiver connects in its client mode)\n"
    "  --bind ADDRESS       address to listen on (127.0.0.1)\n"
    "  --tcp-client H:P     connect to the receiver's automation port (retried every 500 ms)\n"
    "  --serial PATH        open a serial device (a tty, one end of a virtual pair)\n"
    "  --baud N             serial baud rate (9600)\n"
    "  --answer ack|nak|none  answer to every line (ack)\n"
    "  --nak-line N         answer NAK to the Nth received line (1 = first; repeatable)\n"
    "  --delay D            answer D ms after the line arrived (0)\n"
    "  --format 0|1         report format for decoding: 0 SG MLR2-DG, 1 SG MLR2000 (0)\n"
    "  --count N            end after the Nth line has been answered\n"
    "  --seconds S          end after S seconds\n"
    "  --stats              print lines per second every second and at the end\n"
    "  --quiet              do not print the lines\n";

enum class Mode { None, Server, Client, Serial };
enum class Answer { Ack, Nak, None };

struct Options {
  Mode mode = Mode::None;
  int port = 0;
  std::string bind_address = "127.0.0.1";
  std::string host;
  std::string serial_path;
  int baud = 9600;
  Answer answer = Answer::Ack;
  std::set<long> nak_lines;
  long delay_ms = 0;
  int format = 0;
  long count = 0;
  double seconds = 0;
  bool stats = false;
  bool quiet = false;
};

[[noreturn]] void Fail(const std::string& text) {
  std::fprintf(stderr, "automation-sim: %s\n%s", text.c_str(), USAGE);
  std::exit(2);
}

long Number(const char* text, const char* what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0) Fail(std::string("bad ") + what);
  return value;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) Fail("missing value after " + arg);
      return argv[++i];
    };
    if (arg == "--tcp-server") {
      o.mode = Mode::Server;
      o.port = static_cast<int>(Number(value(), "port"));
    } else if (arg == "--bind") {
      o.bind_address = value();
    } else if (arg == "--tcp-client") {
      o.mode = Mode::Client;
      const std::string target = value();
      const auto colon = target.rfind(':');
      if (colon == std::string::npos) Fail("--tcp-client wants HOST:PORT");
      o.host = target.substr(0, colon);
      o.port = static_cast<int>(Number(target.c_str() + colon + 1, "port"));
    } else if (arg == "--serial") {
      o.mode = Mode::Serial;
      o.serial_path = value();
    } else if (arg == "--baud") {
      o.baud = static_cast<int>(Number(value(), "baud rate"));
    } else if (arg == "--answer") {
      const std::string a = value();
      if (a == "ack") {
        o.answer = Answer::Ack;
      } else if (a == "nak") {
        o.answer = Answer::Nak;
      } else if (a == "none") {
        o.answer = Answer::None;
      } else {
        Fail("--answer wants ack, nak or none");
      }
    } else if (arg == "--nak-line") {
      o.nak_lines.insert(Number(value(), "line number"));
    } else if (arg == "--delay") {
      o.delay_ms = Number(value(), "delay");
    } else if (arg == "--format") {
      o.format = static_cast<int>(Number(value(), "format"));
    } else if (arg == "--count") {
      o.count = Number(value(), "count");
    } else if (arg == "--seconds") {
      o.seconds = static_cast<double>(Number(value(), "seconds"));
    } else if (arg == "--stats") {
      o.stats = true;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      std::exit(0);
    } else {
      Fail("unknown option " + arg);
    }
  }
  if (o.mode == Mode::None) Fail("choose --tcp-server, --tcp-client or --serial");
  if ((o.mode == Mode::Server || o.mode == Mode::Client) && (o.port <= 0 || o.port > 65535)) {
    Fail("port out of range");
  }
  return o;
}

// Local time with milliseconds, "HH:MM:SS.mmm".
std::string Time_Stamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<Ms>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms));
  return text;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

std::string Describe(const std::string& line, int format) {
  const Decoded_Report_Line d = Decode_Report_Line(line, format);
  switch (d.Kind) {
    case Report_Line_Kind::Heartbeat:
      return "heartbeat receiver=" + d.Receiver;
    case Report_Line_Kind::Event:
      return "event receiver=" + d.Receiver + " line=" + d.Line + " account=" + d.Account +
             " qualifier=" + std::string(1, d.Qualifier) + " event=" + d.Event +
             " group=" + d.Group + " zone=" + d.Zone;
    case Report_Line_Kind::Unknown:
      break;
  }
  return "unknown \"" + Printable(line) + "\"";
}

void Set_Non_Blocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int Open_Server(const Options& o) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(o.port));
  if (::inet_pton(AF_INET, o.bind_address.c_str(), &address.sin_addr) != 1) Fail("bad --bind");
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 8) != 0) {
    std::fprintf(stderr, "automation-sim: cannot listen on %s:%d: %s\n", o.bind_address.c_str(),
                 o.port, std::strerror(errno));
    std::exit(1);
  }
  Set_Non_Blocking(fd);
  return fd;
}

// One connection attempt; the socket, or -1.
int Connect_Client(const Options& o) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(o.host.c_str(), std::to_string(o.port).c_str(), &hints, &found) != 0) {
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(found);
  if (fd >= 0) {
    Set_Non_Blocking(fd);
    // Every answer is one byte sent at once, as by the software this stands in for.
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  }
  return fd;
}

// The simulator's own small termios set-up: raw 8N1, no flow control, modem lines ignored.
int Open_Serial(const Options& o) {
  const int fd = ::open(o.serial_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "automation-sim: cannot open %s: %s\n", o.serial_path.c_str(),
                 std::strerror(errno));
    std::exit(1);
  }
  static const struct {
    int rate;
    speed_t speed;
  } RATES[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
               {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
               {230400, B230400}, {460800, B460800}, {921600, B921600}};
  speed_t speed = 0;
  for (const auto& r : RATES) {
    if (r.rate == o.baud) speed = r.speed;
  }
  if (speed == 0) Fail("baud rate not supported");
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | HUPCL);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    ::tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

struct Connection {
  int fd;
  std::string pending;  // bytes after the last DC4
};

struct Due_Answer {
  Clock::time_point when;
  int fd;
  char byte;
  bool last;  // the answer to the line that --count waits for
};

volatile sig_atomic_t interrupted = 0;

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGINT, [](int) { interrupted = 1; });
  ::signal(SIGTERM, [](int) { interrupted = 1; });
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  const auto started = Clock::now();
  const auto end_time = o.seconds > 0 ? started + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(o.seconds))
                                      : Clock::time_point::max();

  int listener = -1;
  std::vector<Connection> connections;
  auto next_connect = started;
  if (o.mode == Mode::Server) {
    listener = Open_Server(o);
    std::printf("%s listening on %s:%d\n", Time_Stamp().c_str(), o.bind_address.c_str(), o.port);
  } else if (o.mode == Mode::Serial) {
    connections.push_back({Open_Serial(o), {}});
    std::printf("%s serial %s open at %d baud\n", Time_Stamp().c_str(), o.serial_path.c_str(),
                o.baud);
  }

  long lines = 0;
  long lines_this_second = 0;
  Clock::time_point first_line{}, last_line{};
  auto next_stats = started + std::chrono::seconds(1);
  std::deque<Due_Answer> answers;  // in due order: every answer has the same delay
  std::vector<pollfd> fds;         // the descriptors watched in one turn
  bool finished = false;

  auto send_answer = [&](const Due_Answer& a) {
    for (const auto& c : connections) {
      if (c.fd == a.fd) {
        (void)::write(c.fd, &a.byte, 1);
        break;
      }
    }
    if (a.last) finished = true;
  };

  auto count_reached = [&] { return o.count > 0 && lines >= o.count; };

  auto take_line = [&](int fd, const std::string& line) {
    if (count_reached()) return;  // lines after the last one counted are left unanswered
    const auto now = Clock::now();
    ++lines;
    ++lines_this_second;
    if (lines == 1) first_line = now;
    last_line = now;
    Answer answer = o.answer;
    if (o.nak_lines.count(lines)) answer = Answer::Nak;
    const bool last = o.count > 0 && lines == o.count;
    if (!o.quiet) {
      const char* word = answer == Answer::Ack ? "ACK" : answer == Answer::Nak ? "NAK" : "none";
      std::printf("%s #%ld %s -> %s\n", Time_Stamp().c_str(), lines,
                  Describe(line, o.format).c_str(), word);
    }
    if (answer == Answer::None) {
      if (last) finished = true;
      return;
    }
    Due_Answer a{now + Ms(o.delay_ms), fd, answer == Answer::Ack ? ACK : NAK, last};
    if (o.delay_ms == 0) {
      send_answer(a);
    } else {
      answers.push_back(a);
    }
  };

  while (!finished && !interrupted) {
    auto now = Clock::now();
    if (now >= end_time) break;
    while (!answers.empty() && answers.front().when <= now) {
      send_answer(answers.front());
      answers.pop_front();
    }
    if (finished) break;
    if (o.stats && now >= next_stats) {
      std::printf("%s stats: %ld lines/s, %ld lines in all\n", Time_Stamp().c_str(),
                  lines_this_second, lines);
      lines_this_second = 0;
      next_stats += std::chrono::seconds(1);
    }
    if (o.mode == Mode::Client && connections.empty() && now >= next_connect) {
      const int fd = Connect_Client(o);
      if (fd >= 0) {
        connections.push_back({fd, {}});
        std::printf("%s connected to %s:%d\n", Time_Stamp().c_str(), o.host.c_str(), o.port);
      } else {
        next_connect = now + Ms(500);
      }
    }

    fds.clear();
    if (listener >= 0) fds.push_back({listener, POLLIN, 0});
    for (const auto& c : connections) fds.push_back({c.fd, POLLIN, 0});
    auto wake = std::min(end_time, now + Ms(1000));
    if (o.stats) wake = std::min(wake, next_stats);
    if (!answers.empty()) wake = std::min(wake, answers.front().when);
    if (o.mode == Mode::Client && connections.empty()) wake = std::min(wake, next_connect);
    const auto wait = std::chrono::duration_cast<Ms>(wake - now).count();
    if (::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait, 0) + 1)) < 0 &&
        errno != EINTR) {
      break;
    }

    std::size_t k = 0;
    if (listener >= 0) {
      if (fds[k++].revents & POLLIN) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
          int yes = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
          char text[INET_ADDRSTRLEN] = "";
          ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
          connections.push_back({fd, {}});
          std::printf("%s client %s:%d connected\n", Time_Stamp().c_str(), text,
                      ntohs(peer.sin_port));
        }
      }
    }
    std::vector<int> closed;
    for (std::size_t i = 0; i < connections.size() && k < fds.size(); ++i, ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Connection& c = connections[i];
      char buffer[65536];
      const ssize_t n = ::read(c.fd, buffer, sizeof buffer);
      if (n > 0) {
        for (ssize_t j = 0; j < n; ++j) {
          if (buffer[j] == LINE_END) {
            take_line(c.fd, c.pending);
            c.pending.clear();
            if (count_reached()) break;
          } else {
            c.pending.push_back(buffer[j]);
          }
        }
      } else if (o.mode == Mode::Serial) {
        // A serial line has no end; a hung-up pty reports one, so wait rather than spin.
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) ::usleep(10000);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closed.push_back(c.fd);
      }
    }
    for (int fd : closed) {
      for (auto it = connections.begin(); it != connections.end(); ++it) {
        if (it->fd == fd) {
          connections.erase(it);
          break;
        }
      }
      ::close(fd);
      std::printf("%s connection closed\n", Time_Stamp().c_str());
      if (o.mode == Mode::Client) next_connect = Clock::now() + Ms(500);
    }
  }
  // Answers still due when --seconds ran out are dropped, as by software that went away.
  if (o.stats) {
    const double span = std::chrono::duration<double>(last_line - first_line).count();
    std::printf("%s total: %ld lines, %.1f lines/s\n", Time_Stamp().c_str(), lines,
                span > 0 ? static_cast<double>(lines - 1) / span : 0.0);
  }
  for (const auto& c : connections) ::close(c.fd);
  if (listener >= 0) ::close(listener);
  return 0;
}
