// A receiver core in a temporary data folder with its port on 127.0.0.1, a recording screen and
// log pane, and a plain blocking-free TCP client that pumps the core's event loop while it waits.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/receiver_core.h"
#include "receiver/receiver_server.h"
#include "support/qt_app.h"
#include "support/recording_screen.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace receiver_test {

// CRC-16/ARC of `data`.
inline uint16_t Crc16_Arc(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

// LF, CRC, length, the body, CR.
inline std::string Frame(const std::string& body) {
  char head[16];
  std::snprintf(head, sizeof(head), "\n%04X%04X", Crc16_Arc(body),
                static_cast<unsigned>(body.size()));
  return head + body + "\r";
}

// The example Contact ID message: "ADM-CID"0001R1L1#1234[#1234|1401 01 001].
inline std::string Cid_Frame(const std::string& account = "1234", int sequence = 1) {
  char seq[8];
  std::snprintf(seq, sizeof(seq), "%04d", sequence);
  return Frame("\"ADM-CID\"" + std::string(seq) + "R1L1#" + account + "[#" + account +
               "|1401 01 001]");
}

inline std::string Link_Test_Frame(const std::string& account = "1234") {
  return Frame("\"NULL\"0000R0L0#" + account + "[]");
}

struct Log_Line {
  std::string Text;  // the line as the pane got it (date, time, two spaces, text)
  uint32_t Colour;
};

class Recording_Pane : public Log_Pane {
 public:
  void Show_Log_Line(const std::string& line, uint32_t colour) override {
    Lines.push_back({line, colour});
  }
  // Lines whose text contains `part`.
  std::vector<Log_Line> With(const std::string& part) const {
    std::vector<Log_Line> found;
    for (const Log_Line& line : Lines) {
      if (line.Text.find(part) != std::string::npos) found.push_back(line);
    }
    return found;
  }
  std::vector<Log_Line> Lines;
};

// A TCP client on 127.0.0.1 whose waits run the core's event loop.
class Client {
 public:
  explicit Client(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    local_port_ = ntohs(local.sin_port);
  }
  ~Client() {
    if (fd_ >= 0) ::close(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  uint16_t Local_Port() const { return local_port_; }

  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Everything received until a CR arrived or `ms` passed.
  std::string Answer(int ms = 5000) {
    Wait_Until(
        [&] {
          Drain();
          return received_.find('\r') != std::string::npos || closed_;
        },
        std::chrono::milliseconds(ms));
    const std::size_t end = received_.find('\r');
    std::string answer = received_.substr(0, end == std::string::npos ? end : end + 1);
    received_.erase(0, answer.size());
    return answer;
  }
  // Whatever has arrived so far, without waiting.
  std::string Pending() {
    Drain();
    return std::exchange(received_, std::string());
  }
  // True when the receiver closed the connection within `ms`.
  bool Closed_By_Peer(int ms = 5000) {
    return Wait_Until(
        [&] {
          Drain();
          return closed_;
        },
        std::chrono::milliseconds(ms));
  }
  // Closes with a reset instead of the ordinary close.
  void Reset() {
    linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    ::close(fd_);
    fd_ = -1;
  }
  void Close() {
    ::close(fd_);
    fd_ = -1;
  }
  // Ends the sending side only (the peer reads its end of stream); answers still arrive.
  void Shut_Write() { ::shutdown(fd_, SHUT_WR); }

 private:
  void Drain() {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT);
      if (got > 0) {
        received_.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) closed_ = true;
      return;
    }
  }

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  uint16_t local_port_ = 0;
  std::string received_;
};

// A port that was free a moment ago (the receiver port must be named: 0 is refused).
inline int Free_Port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any));
  socklen_t size = sizeof(any);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&any), &size);
  ::close(fd);
  return ntohs(any.sin_port);
}

inline constexpr int64_t FIXED_NOW = 1718454600;  // 2024-06-15 12:30:00 UTC

// A started core whose timers are stopped: the tests drive Timer_DC9 by hand.
class Receiver_Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Test_Core_App();
    settings_ = Settings_Defaults();
    settings_.DC9_Port_Enable = 1;
    settings_.DC9_Port = Free_Port();
  }
  void TearDown() override { core_.reset(); }

  // Writes dorvex.cfg from settings_, starts the core and opens the port with the first tick.
  void Start(bool open = true) {
    std::ofstream(folder_.File(SETTINGS_FILE_NAME), std::ios::binary)
        .write(reinterpret_cast<const char*>(&settings_), sizeof(settings_));
    core_ = std::make_unique<Receiver_Core>(folder_.Path());
    core_->Log().Set_Pane(&pane_);
    core_->Attach_Screen(&screen_);
    core_->Start();
    Server().Stop_Timer();
    Server().Set_Read_Notices(true);
    core_->Ping_Timer().stop();
    Server().Set_Clock([] { return FIXED_NOW; });
    Server().Set_Pad_Source([] { return 7u; });
    if (open) {
      Server().Timer_DC9Timer();
      ASSERT_TRUE(Server().Is_Active());
    }
  }

  Receiver_Server& Server() { return core_->Receiver(); }
  uint16_t Port() { return Server().Listening_Port(); }

  // Connects and waits until the receiver has accepted the connection.
  std::unique_ptr<Client> Connect() {
    const int before = Server().Active_Connections();
    auto client = std::make_unique<Client>(Port());
    EXPECT_TRUE(client->Connected());
    EXPECT_TRUE(Wait_Until([&] { return Server().Active_Connections() > before; }));
    return client;
  }

  // Sends and waits until the receiver has handled that many more reads.
  void Send_And_Wait(Client& client, const std::string& bytes, int reads = 1) {
    int handled = 0;
    auto connection =
        QObject::connect(&Server(), &Receiver_Server::Read_Handled, [&](int) { ++handled; });
    client.Send(bytes);
    EXPECT_TRUE(Wait_Until([&] { return handled >= reads; }));
    QObject::disconnect(connection);
  }

  // The countdown of the slot that holds the client's connection; -1 when there is none.
  int Countdown_Of(const Client& client) {
    const auto table = std::make_unique<Connection_Table>(Server().Connections());
    for (int i = 0; i < CONNECTION_SLOTS; ++i) {
      const Connection_Slot& slot = table->Slot(i);
      if (slot.Countdown != 0 && slot.Port == client.Local_Port() &&
          std::string(slot.Address) == "127.0.0.1") {
        return slot.Countdown;
      }
    }
    return -1;
  }

  Temp_Folder folder_;
  Settings_Record settings_{};
  Recording_Pane pane_;
  Recording_Screen screen_;
  std::unique_ptr<Receiver_Core> core_;
};

}  // namespace receiver_test
