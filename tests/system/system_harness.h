// Harness of the whole-program tests: starts the real `quenor` headless in its own temporary
// XDG_DATA_HOME and XDG_RUNTIME_DIR, configured only through its files, and drives it from
// outside with blocking POSIX sockets and pseudo-terminals. Every wait has a deadline.
// The program is the build's `quenor` unless QUENOR_TEST_BINARY names another one (for example
// the build of another branch, to run these tests against it).
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "support/wait.h"

namespace sys {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void Write_File(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline long File_Size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long>(st.st_size);
}

// A port that was free a moment ago on 127.0.0.1.
inline int Free_Port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

// One run of the program in its own temporary folders.
class Quenor_Process {
 public:
  Quenor_Process() {
    char tmpl[] = "/tmp/quenor-system-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    xdg_data_ = root_ + "/data";
    xdg_runtime_ = root_ + "/run";
    ::mkdir(xdg_data_.c_str(), 0700);
    ::mkdir(xdg_runtime_.c_str(), 0700);
  }
  ~Quenor_Process() {
    Kill();
    std::string cmd = "rm -rf '" + root_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  Quenor_Process(const Quenor_Process&) = delete;
  Quenor_Process& operator=(const Quenor_Process&) = delete;

  // The program's data folder (ends with '/').
  std::string Data_Folder() const { return xdg_data_ + "/ORN RAD-EZ Ududerud/"; }
  std::string File(const std::string& name) const { return Data_Folder() + name; }
  const std::string& Runtime_Dir() const { return xdg_runtime_; }

  void Make_Data_Folder() { ::mkdir(Data_Folder().c_str(), 0700); }
  void Write_Settings(const Settings_Record& record) {
    Make_Data_Folder();
    Write_File(File(SETTINGS_FILE_NAME),
               std::string(reinterpret_cast<const char*>(&record), sizeof record));
  }

  // The program the tests run.
  static std::string Program() {
    const char* other = std::getenv("QUENOR_TEST_BINARY");
    return other != nullptr && *other != '\0' ? other : std::string(QUENOR_BIN_DIR) + "/quenor";
  }

  // Starts the program headless; standard error goes to a file in the temporary root. With a
  // `wrapper` (such as {"/usr/bin/strace", "-f", ...}) the wrapper runs with the program's path
  // as its last argument, and Pid() is the wrapper's.
  void Start(const std::vector<std::string>& wrapper = {}) {
    stderr_path_ = root_ + "/stderr." + std::to_string(starts_++);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("XDG_DATA_HOME", xdg_data_.c_str(), 1);
      ::setenv("XDG_RUNTIME_DIR", xdg_runtime_.c_str(), 1);
      ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      int err = ::open(stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(err, 2);
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::chdir(root_.c_str());
      const std::string exe = Program();
      if (wrapper.empty()) {
        ::execl(exe.c_str(), "quenor", static_cast<char*>(nullptr));
      } else {
        std::vector<char*> argv;
        for (const std::string& arg : wrapper) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(const_cast<char*>(exe.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
      }
      ::_exit(127);
    }
  }

  pid_t Pid() const { return pid_; }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_status_ = status;
      pid_ = -1;
      return false;
    }
    return true;
  }
  // Sends SIGTERM and waits at most `timeout`; returns the exit code, or -1 when it did not end.
  int Terminate(std::chrono::milliseconds timeout = 10s) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    return Wait_Exit(timeout);
  }
  int Wait_Exit(std::chrono::milliseconds timeout) {
    if (!Wait_Until([&] { return !Running(); }, timeout)) return -1;
    return WIFEXITED(exit_status_) ? WEXITSTATUS(exit_status_) : 128 + WTERMSIG(exit_status_);
  }
  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

  std::string Stderr() const { return Read_File(stderr_path_); }

  // All lines of all monthly log files, oldest file first.
  std::string Log_Text() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(Data_Folder().c_str())) {
      while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.rfind("dorvex_", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".log")
          names.push_back(n);
      }
      ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::string all;
    for (auto& n : names) all += Read_File(File(n));
    return all;
  }
  bool Log_Has(const std::string& text) const { return Log_Text().find(text) != std::string::npos; }
  size_t Log_Count(const std::string& text) const {
    std::string all = Log_Text();
    size_t n = 0;
    for (size_t p = all.find(text); p != std::string::npos; p = all.find(text, p + 1)) ++n;
    return n;
  }
  bool Wait_Log(const std::string& text, std::chrono::milliseconds timeout = 5s) const {
    return Wait_Until([&] { return Log_Has(text); }, timeout);
  }

 private:
  std::string root_, xdg_data_, xdg_runtime_, stderr_path_;
  pid_t pid_ = -1;
  int exit_status_ = 0;
  int starts_ = 0;
};

// A blocking TCP connection with deadlines, for communicators and the automation software.
class Tcp_Link {
 public:
  Tcp_Link() = default;
  explicit Tcp_Link(int fd) : fd_(fd) {}
  ~Tcp_Link() { Close(); }
  Tcp_Link(Tcp_Link&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Tcp_Link& operator=(Tcp_Link&& o) noexcept {
    Close();
    fd_ = o.fd_;
    o.fd_ = -1;
    return *this;
  }

  // Connects to 127.0.0.1:port, retrying until the deadline (the program opens its port late).
  static std::optional<Tcp_Link> Connect(int port, std::chrono::milliseconds timeout = 5s) {
    auto end = Clock::now() + timeout;
    do {
      int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return Tcp_Link(fd);
      }
      ::close(fd);
      std::this_thread::sleep_for(50ms);
    } while (Clock::now() < end);
    return std::nullopt;
  }

  bool Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Reads until `until` (a byte) arrives, the peer closes or the deadline passes.
  std::string Read_Until(char until, std::chrono::milliseconds timeout) {
    std::string got;
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, std::max(left, 1)) <= 0) continue;
      char c;
      ssize_t n = ::recv(fd_, &c, 1, 0);
      if (n <= 0) break;
      got.push_back(c);
      if (c == until) break;
    }
    return got;
  }
  // Reads whatever arrives within `timeout`.
  std::string Read_For(std::chrono::milliseconds timeout) {
    std::string got;
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  // True when the peer has closed the connection within `timeout`.
  bool Closed_By_Peer(std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char c;
      ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK);
      if (n == 0) return true;
      if (n < 0) return true;
      std::string drain = Read_For(5ms);
    }
    return false;
  }
  // Reads until the peer closes the connection or `timeout` passes; `closed` tells which.
  std::string Read_Until_Closed(std::chrono::milliseconds timeout, bool& closed) {
    std::string got;
    closed = false;
    auto end = Clock::now() + timeout;
    while (!closed && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[4096];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) closed = true;
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  // Ends the sending direction: the peer reads the end of the stream after the bytes sent.
  void Shutdown_Sending() { ::shutdown(fd_, SHUT_WR); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// How many of `links` the peer has closed, looked at without waiting (pending bytes are left).
inline int Count_Closed_By_Peer(const std::vector<Tcp_Link>& links) {
  std::vector<pollfd> polls;
  for (const Tcp_Link& link : links) polls.push_back({link.Fd(), POLLIN, 0});
  if (::poll(polls.data(), polls.size(), 0) <= 0) return 0;
  int closed = 0;
  for (const pollfd& p : polls) {
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char c;
    const ssize_t n = ::recv(p.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) ++closed;
  }
  return closed;
}

// A UDP socket connected to 127.0.0.1:port, for communicators that send their messages as
// datagrams: it takes datagrams from that address only.
class Udp_Link {
 public:
  explicit Udp_Link(int port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~Udp_Link() { ::close(fd_); }
  Udp_Link(const Udp_Link&) = delete;
  Udp_Link& operator=(const Udp_Link&) = delete;

  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // The next datagram within `timeout` (empty when none came); `refused` is set when the host
  // reported that nothing listens on the port.
  std::string Receive(std::chrono::milliseconds timeout, bool* refused = nullptr) {
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[2048];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n >= 0) return std::string(buf, static_cast<size_t>(n));
      if (errno == ECONNREFUSED) {
        if (refused) *refused = true;
        return {};
      }
    }
    return {};
  }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A listening TCP socket on 127.0.0.1 (the automation software in client mode of the receiver).
class Tcp_Listener {
 public:
  explicit Tcp_Listener(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 16);
  }
  ~Tcp_Listener() { ::close(fd_); }
  std::optional<Tcp_Link> Accept(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    int fd = ::accept(fd_, nullptr, nullptr);
    if (fd < 0) return std::nullopt;
    return Tcp_Link(fd);
  }

 private:
  int fd_ = -1;
};

// A pseudo-terminal pair whose slave end is linked as <data folder>/ports/COMn; the test keeps
// the master end as the automation software's side of the serial line.
class Pty_Pair {
 public:
  Pty_Pair(const std::string& data_folder, int com_number) {
    char name[256];
    int slave = -1;
    ::openpty(&master_, &slave, name, nullptr, nullptr);
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    slave_name_ = name;
    ::close(slave);  // the program opens the slave by its link
    std::string ports = data_folder + "ports";
    ::mkdir(ports.c_str(), 0700);
    link_ = ports + "/COM" + std::to_string(com_number);
    ::unlink(link_.c_str());
    if (::symlink(slave_name_.c_str(), link_.c_str()) != 0) {
    }
  }
  ~Pty_Pair() {
    ::close(master_);
    ::unlink(link_.c_str());
  }
  int Master() const { return master_; }

 private:
  int master_ = -1;
  std::string slave_name_, link_;
};

// Reads one report line (ending with DC4) from a file descriptor (socket or pty master).
inline std::string Read_Line(int fd, std::chrono::milliseconds timeout) {
  std::string got;
  auto end = Clock::now() + timeout;
  while (Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) break;
    got.push_back(c);
    if (c == '\x14') return got;
  }
  return got;
}

inline bool Write_Byte(int fd, uint8_t byte) {
  return ::write(fd, &byte, 1) == 1;
}

}  // namespace sys
