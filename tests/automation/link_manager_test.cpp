// Tests of the automation link manager with real sockets on 127.0.0.1 and a pseudo-terminal
// linked as <data folder>/ports/COMn. The ticks are driven directly.
#include "automation/link_manager.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "automation/link_fixture.h"
#include "support/automation_peer.h"
#include "support/pty_pair.h"

namespace {

using namespace automation_test;

class Link_Manager_Test : public ::testing::Test {
 protected:
  std::string Port() const { return std::to_string(f.settings.Out_Port); }
  // A plain client of the automation listener (the automation software in server mode).
  std::unique_ptr<QTcpSocket> Connect_Client() {
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(f.settings.Out_Port));
    EXPECT_TRUE(client->waitForConnected(3000));
    return client;
  }
  void Link_Serial(const std::string& com_name, const std::string& target) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(f.folder.File("ports"))));
    ASSERT_EQ(::symlink(target.c_str(), f.folder.File("ports/" + com_name).c_str()), 0);
    f.settings.Out_Mode = 2;
    std::snprintf(f.settings.COM_Name, sizeof f.settings.COM_Name, "%s", com_name.c_str());
  }

  Link_Fixture f;
};

TEST_F(Link_Manager_Test, TimerStartsAt2000AndTicksEverySecondWithPromptTick) {
  f.link.Start();
  EXPECT_EQ(f.link.Out_Timer().interval(), 2000);
  f.link.Prompt_Tick();  // before the first tick the timer keeps its 2000 ms
  EXPECT_EQ(f.link.Out_Timer().interval(), 2000);
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.link.Out_Timer().interval(), 1000);
  EXPECT_TRUE(f.link.Out_Timer().isActive());
  f.link.Set_Reconnect_Delay(7);
  f.link.Prompt_Tick();
  EXPECT_EQ(f.link.Out_Timer().interval(), 500);
  EXPECT_EQ(f.link.Reconnect_Delay(), 0);
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software port closed.");
}

// Server mode: the listener opens with its log lines; with two clients the panel counts 2 and the
// oldest connection is closed, so the tick after counts 1; answers come from any connection.
TEST_F(Link_Manager_Test, ServerModeKeepsTheNewestClient) {
  f.settings.Out_Mode = 1;
  f.settings.Out_TCP_Server = 1;
  f.link.Timer_OutTimer();
  EXPECT_TRUE(f.screen.Logged("Opening automation software port " + Port(), LOG_BLACK));
  EXPECT_TRUE(f.screen.Logged(
      "Automation software port " + Port() + " is open. Waiting for connection...", LOG_BLACK));
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software port is open. Listenning...");
  EXPECT_EQ(f.sync.Link_State.load(), 0u);

  auto first = Connect_Client();
  auto second = Connect_Client();
  ASSERT_TRUE(Wait_Until([&] { return f.link.Listener_Connections() == 2; }));
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software: connected (2).");
  EXPECT_EQ(f.sync.Link_State.load(), LINK_OPEN);
  ASSERT_TRUE(Wait_Until([&] { return first->state() == QAbstractSocket::UnconnectedState; }));
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software: connected (1).");

  // Only the first byte of a block counts, and only when it is ACK or NAK.
  second->write("x\x06");
  second->flush();
  Wait_Until([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_FALSE(f.sync.Answer_Event.Is_Set());
  second->write("\x15\x06");
  second->flush();
  ASSERT_TRUE(Wait_Until([&] { return f.sync.Answer_Event.Is_Set(); }));
  EXPECT_EQ(f.sync.Answer_Byte.load(), 0x15);

  // The line goes to the newest connection.
  ASSERT_TRUE(f.link.Send_Tcp_Line("abc"));
  ASSERT_TRUE(Wait_Until([&] { return second->bytesAvailable() >= 3; }));
  EXPECT_EQ(second->readAll(), QByteArray("abc"));
}

// A port in use: the failure text in red with a beep, and the next attempt at the tenth tick.
TEST_F(Link_Manager_Test, ListenerThatCannotOpenRetriesAfterTenTicks) {
  QTcpServer holder;
  ASSERT_TRUE(holder.listen(QHostAddress::Any, static_cast<quint16>(f.settings.Out_Port)));
  f.settings.Out_Mode = 1;
  f.settings.Out_TCP_Server = 1;
  f.link.Timer_OutTimer();
  const std::string opening = "Opening automation software port " + Port();
  EXPECT_EQ(f.screen.Count(opening, LOG_BLACK), 1);
  EXPECT_EQ(f.screen.Beeps, 1);
  ASSERT_FALSE(f.screen.Lines.empty());
  EXPECT_EQ(f.screen.Lines.back().Colour, LOG_RED);
  EXPECT_EQ(f.screen.Lines.back().Text,
            "Windows socket error: " + std::string(strerror(EADDRINUSE)) + " (" +
                std::to_string(EADDRINUSE) + "), on API 'bind'");
  for (int tick = 1; tick <= 9; ++tick) f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Count(opening, LOG_BLACK), 1);
  holder.close();
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Count(opening, LOG_BLACK), 2);
  EXPECT_TRUE(f.link.Listener_Active());
}

// A port number outside 1..65535 (0 included, which would listen on a port the system picks) is
// refused in server and client mode alike: "Invalid port number" in red with a beep, nothing
// opened.
TEST_F(Link_Manager_Test, PortOutsideTheRangeIsRefusedInBothModes) {
  for (const uint8_t server : {1, 0}) {
    for (const int32_t port : {0, 70000, -1}) {
      SCOPED_TRACE(std::to_string(server) + " " + std::to_string(port));
      Link_Fixture g;
      g.settings.Out_Mode = 1;
      g.settings.Out_TCP_Server = server;
      g.settings.Out_Port = port;
      g.link.Timer_OutTimer();
      EXPECT_TRUE(g.screen.Logged("Invalid port number " + std::to_string(port), LOG_RED));
      EXPECT_EQ(g.screen.Beeps, 1);
      EXPECT_FALSE(g.link.Listener_Active());
      EXPECT_EQ(g.screen.Count("Automation software port " + std::to_string(port) +
                                   " is open. Waiting for connection...",
                               LOG_BLACK),
                0);
    }
  }
}

// Client mode towards a listening automation software: the attempt is logged, "Can't open port"
// follows in red with a beep (the connection is asynchronous, not yet made at that moment); the
// connection then completes with the sound and is the link at once: the panel says connected and
// Link_State is open while the delay the attempt started runs out.
TEST_F(Link_Manager_Test, ClientModeTakesTheConnectionWhenItCompletes) {
  Automation_Peer peer(Automation_Peer::Always(PEER_ACK));
  f.settings.Out_Mode = 1;
  f.settings.Out_TCP_Server = 0;
  f.settings.Out_Port = peer.Port();
  f.link.Timer_OutTimer();
  EXPECT_TRUE(f.screen.Logged(
      "Connecting to automation software server. IP: 127.0.0.1  Port: " + Port(), LOG_BLACK));
  EXPECT_EQ(f.screen.Count("Can't open port " + Port(), LOG_RED), 1);
  EXPECT_EQ(f.screen.Beeps, 1);
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software server: not connected.");
  ASSERT_TRUE(Wait_Until([&] { return f.sync.Link_State.load() == LINK_OPEN; }));
  EXPECT_TRUE(f.link.Client_Connected());
  EXPECT_EQ(f.screen.Sounds, 1);
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software server: connected.");
  EXPECT_EQ(f.screen.Count("Port " + Port() + " connected.", LOG_BLACK), 1);
  // The ticks of the delay and the one after it change nothing and log nothing more.
  EXPECT_EQ(f.link.Reconnect_Delay(), 29);
  for (int tick = 1; tick <= 30; ++tick) f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software server: connected.");
  EXPECT_EQ(f.screen.Count("Port " + Port() + " connected.", LOG_BLACK), 1);
  EXPECT_EQ(f.screen.Count("Can't open port " + Port(), LOG_RED), 1);
  EXPECT_EQ(f.sync.Link_State.load(), LINK_OPEN);

  // Switching the link off closes the connection.
  f.settings.Out_Mode = 0;
  f.link.Timer_OutTimer();
  EXPECT_TRUE(f.screen.Logged("Automation software port " + Port() + " closed.", LOG_BLACK));
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software port closed.");
  EXPECT_EQ(f.sync.Link_State.load(), 0u);
  EXPECT_FALSE(f.link.Client_Connected());
  EXPECT_TRUE(Wait_Until([&] { return peer.Closed(); }));
}

// Client mode towards a closed port: the refusal is logged with the system's text, and the next
// attempt comes after 10 ticks.
TEST_F(Link_Manager_Test, RefusedClientConnectionRetriesAfterTenTicks) {
  f.settings.Out_Mode = 1;
  f.settings.Out_TCP_Server = 0;
  f.link.Timer_OutTimer();
  ASSERT_TRUE(Wait_Until(
      [&] { return f.screen.Logged("Communication port error. Connection refused", LOG_RED); }));
  EXPECT_EQ(f.link.Reconnect_Delay(), 10);
  const std::string connecting =
      "Connecting to automation software server. IP: 127.0.0.1  Port: " + Port();
  for (int tick = 1; tick <= 10; ++tick) f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Count(connecting, LOG_BLACK), 1);
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Count(connecting, LOG_BLACK), 2);
}

TEST_F(Link_Manager_Test, SerialPortOpensAndCloses) {
  Pty_Pair pty;
  Link_Serial("COM7", pty.Slave_Path());
  f.link.Timer_OutTimer();
  EXPECT_TRUE(f.serial.Is_Open());
  EXPECT_TRUE(f.screen.Logged("Automation software port COM7 is open.", LOG_BLACK));
  EXPECT_EQ(f.sync.Link_State.load(), LINK_OPEN);
  f.link.Timer_OutTimer();
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software port COM7 is open.");
  EXPECT_EQ(f.screen.Count("Automation software port COM7 is open.", LOG_BLACK), 1);

  f.settings.Out_Mode = 0;
  f.link.Timer_OutTimer();
  EXPECT_FALSE(f.serial.Is_Open());
  EXPECT_TRUE(f.screen.Logged("Automation software port COM7 closed.", LOG_BLACK));
  EXPECT_EQ(f.screen.Automation_Status(), "Automation software port closed.");
  EXPECT_EQ(f.sync.Link_State.load(), 0u);
}

// A serial port that cannot be opened switches the serial link off in memory, with a beep, the
// message box of its kind and the page refresh.
TEST_F(Link_Manager_Test, SerialOpenFailureSwitchesTheLinkOff) {
  Pty_Pair pty;
  Serial_Port holder;  // another program holds the port
  holder.Set_Port_Name(pty.Slave_Path());
  holder.Open_Port();
  Pty_Pair free_pty;
  struct Row {
    std::string Com_Name;
    std::string Target;
    int32_t Baud;
    std::string Message;
  };
  // Each names the COM name and its device; "in use" only for the held port; the reason last.
  const Row rows[] = {
      {"COM3", pty.Slave_Path(), 9600, "Error opening COM3 (| Port already in use? Error: "},
      {"COM4", f.folder.File("no-such-device"), 9600, "Error opening COM4 (|No such file"},
      {"COM5", free_pty.Slave_Path(), 12345, "COM port error (COM5, |"},  // no such line speed
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Com_Name);
    Link_Serial(row.Com_Name, row.Target);
    f.settings.COM_Baud = row.Baud;
    f.link.Timer_OutTimer();
    ++n;
    EXPECT_FALSE(f.serial.Is_Open());
    EXPECT_EQ(f.settings.Out_Mode, 0);
    EXPECT_EQ(f.screen.Beeps, n);
    ASSERT_EQ(f.screen.Messages.size(), static_cast<std::size_t>(n));
    const std::string& shown = f.screen.Messages.back();
    const std::size_t bar = row.Message.find('|');
    EXPECT_EQ(shown.rfind(row.Message.substr(0, bar), 0), 0u) << shown;
    EXPECT_NE(shown.find(row.Message.substr(bar + 1)), std::string::npos) << shown;
    if (row.Com_Name != "COM3") {
      EXPECT_EQ(shown.find("in use"), std::string::npos) << shown;
    }
    EXPECT_EQ(f.screen.Mon_Out_Refreshes, n);
    EXPECT_EQ(f.sync.Link_State.load(), 0u);
  }
}

}  // namespace
