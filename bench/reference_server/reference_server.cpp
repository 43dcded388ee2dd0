// The reference of bench/compare_receivers.sh: the least a DC-09 receiver can do on this machine.
// One thread, one level-triggered epoll loop over non-blocking sockets; every frame received (a
// CR ends it) is answered with the same fixed 29-byte ACK frame, without parsing or checking.
// Its rate is the physical limit of the load, against which the real receiver is measured.
//
// With --write-ahead it also does what the receiver's write-ahead must do before it answers: each
// frame's 80-byte slot goes into a 327,684-byte journal file (a 4-byte head and 4096 slots), and
// after every pass over the ready connections the head is written and the file made durable once
// (fdatasync, or msync with --mapped) before that pass's answers are sent. The difference between
// the two modes is the cost of the sync itself.
//
// Usage: reference-server [--port N] [--write-ahead [--mapped]] [--journal PATH]
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/dc9_frame_builder.h"

namespace {

constexpr std::size_t Slot_Size = 80;
constexpr uint32_t Slot_Count = 4096;
constexpr std::size_t Journal_Size = 4 + Slot_Size * Slot_Count;
static_assert(Journal_Size == 327684, "the journal file's size");

volatile std::sig_atomic_t Stop_Requested = 0;

void On_Stop_Signal(int) {
  Stop_Requested = 1;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "reference-server: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

// The journal of --write-ahead: slots written where the next append goes, the head after them.
class Journal {
 public:
  Journal(const std::string& path, bool mapped) : mapped_(mapped) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd_ < 0) Fail("journal open");
    // The file always has its full size, as the receiver's journal file does.
    if (ftruncate(fd_, Journal_Size) != 0) Fail("journal size");
    if (mapped_) {
      void* image = mmap(nullptr, Journal_Size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
      if (image == MAP_FAILED) Fail("journal mapping");
      image_ = static_cast<uint8_t*>(image);
    }
  }

  void Append(const char* data, std::size_t size) {
    uint8_t slot[Slot_Size] = {1};  // status "present", then as much of the frame as fits
    std::memcpy(slot + 1, data, size < Slot_Size - 1 ? size : Slot_Size - 1);
    const std::size_t offset = 4 + Slot_Size * head_;
    if (mapped_) {
      std::memcpy(image_ + offset, slot, Slot_Size);
    } else if (pwrite(fd_, slot, Slot_Size, static_cast<off_t>(offset)) != Slot_Size) {
      Fail("journal slot write");
    }
    head_ = (head_ + 1) % Slot_Count;
  }

  // The head, then one sync for everything appended since the last one.
  void Sync() {
    if (mapped_) {
      std::memcpy(image_, &head_, sizeof head_);
      if (msync(image_, Journal_Size, MS_SYNC) != 0) Fail("journal msync");
      return;
    }
    if (pwrite(fd_, &head_, sizeof head_, 0) != sizeof head_) Fail("journal head write");
    if (fdatasync(fd_) != 0) Fail("journal fdatasync");
  }

 private:
  bool mapped_;
  int fd_ = -1;
  uint8_t* image_ = nullptr;
  uint32_t head_ = 0;
};

struct Options {
  int Port = 17777;
  bool Write_Ahead = false;
  bool Mapped = false;
  std::string Journal_Path = "reference_journal.dat";
};

Options Parse_Options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--write-ahead") {
      o.Write_Ahead = true;
    } else if (name == "--mapped") {
      o.Mapped = true;
    } else if (name == "--port" && i + 1 < argc) {
      o.Port = std::atoi(argv[++i]);
    } else if (name == "--journal" && i + 1 < argc) {
      o.Journal_Path = argv[++i];
    } else {
      std::fprintf(stderr,
                   "Usage: reference-server [--port N] [--write-ahead [--mapped]] "
                   "[--journal PATH]\n");
      std::exit(2);
    }
  }
  if (o.Port < 1 || o.Port > 65535) {
    std::fprintf(stderr, "reference-server: bad port\n");
    std::exit(2);
  }
  return o;
}

int Open_Listener(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
  if (listen(fd, SOMAXCONN) != 0) Fail("listen");
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse_Options(argc, argv);
  // Thousands of connections: the soft limit of open files up to the hard one.
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGTERM, On_Stop_Signal);
  std::signal(SIGINT, On_Stop_Signal);

  const std::string answer = Frame_DC9_Body("\"ACK\"0001L1#12345[]");
  if (answer.size() != 29) {
    std::fprintf(stderr, "reference-server: the answer is %zu bytes\n", answer.size());
    return 1;
  }
  Journal* journal =
      options.Write_Ahead ? new Journal(options.Journal_Path, options.Mapped) : nullptr;

  const int listener = Open_Listener(options.Port);
  const int epoll = epoll_create1(EPOLL_CLOEXEC);
  if (epoll < 0) Fail("epoll_create1");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = listener;
  epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
  std::fprintf(stderr, "reference-server: port %d is open%s\n", options.Port,
               !journal         ? ""
               : options.Mapped ? ", write-ahead with msync"
                                : ", write-ahead with fdatasync");

  std::vector<epoll_event> ready(1024);
  // The connections answered in this pass and their frame counts, sent after the pass's sync.
  std::vector<std::pair<int, int>> due;
  char buffer[65536];
  while (!Stop_Requested) {
    const int count = epoll_wait(epoll, ready.data(), static_cast<int>(ready.size()), -1);
    if (count < 0) {
      if (errno == EINTR) continue;
      Fail("epoll_wait");
    }
    due.clear();
    for (int e = 0; e < count; ++e) {
      const int fd = ready[e].data.fd;
      if (fd == listener) {
        for (;;) {
          const int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (client < 0) break;
          const int one = 1;
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          epoll_event added{};
          added.events = EPOLLIN | EPOLLRDHUP;
          added.data.fd = client;
          epoll_ctl(epoll, EPOLL_CTL_ADD, client, &added);
        }
        continue;
      }
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        close(fd);  // also leaves the epoll set
        continue;
      }
      int frames = 0;
      const char* start = buffer;
      for (const char* p = buffer; p < buffer + n; ++p) {
        if (*p != '\r') continue;
        ++frames;
        if (journal) journal->Append(start, static_cast<std::size_t>(p + 1 - start));
        start = p + 1;
      }
      if (frames > 0) due.emplace_back(fd, frames);
    }
    if (journal && !due.empty()) journal->Sync();
    for (const auto& [fd, frames] : due) {
      for (int f = 0; f < frames; ++f) {
        if (send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
      }
    }
  }
  delete journal;
  return 0;
}
