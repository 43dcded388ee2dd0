// Link_Manager: opens, watches and closes the link to the automation software (TCP server, TCP
// client or serial line) from the settings alone, driven by Timer_Out (first tick after 2000 ms,
// then every 1000 ms). It keeps LINK_OPEN of Link_State, shows the link's state in the automation
// panel of the status bar. It only opens, accepts and closes TCP connections and hands each one
// to its Tcp_Link; the report sender writes its lines and reads their answers there, on its own
// thread. A block that arrives while no line waits is still taken here: its first byte, when ACK
// or NAK, goes to Answer_Byte and Answer_Event.
//
// Main thread only, except Tcp(), which the report sender uses from its thread; what other
// threads see of the link goes through the atomics of Shared_Sync (Link_State, Answer_Byte) and
// the events set after them.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/tcp_link.h"
#include "base/operator_port.h"
#include "base/settings.h"
#include "base/sync_objects.h"

class QSocketNotifier;
class QTcpSocket;
class Serial_Port;

class Link_Manager : public QObject {
  Q_OBJECT

 public:
  // Reads `settings` at every tick (and may set Out_Mode to 0 in memory when the serial device
  // cannot be opened); changes `sync.Link_State` flag-wise; reports through `screen`.
  // `data_folder` (ending with '/') locates the serial device behind COM_Name. All references
  // must outlive this object.
  Link_Manager(Settings_Record& settings, Shared_Sync& sync, Serial_Port& serial,
               Operator_Port& screen, std::string data_folder, QObject* parent = nullptr);
  ~Link_Manager() override;

  // Enables Timer_Out with its first tick 2000 ms from now.
  void Start();
  // Called on the main thread at the end of every tick, which applied the link's settings (and
  // may have switched the link off in memory): the report sender's snapshot follows the link.
  void Set_Settings_Changed(std::function<void()> changed) {
    settings_changed_ = std::move(changed);
  }

  // Stops Timer_Out (shutdown).
  void Stop();
  // Closes the automation client socket (shutdown).
  void Close_Client();

  // One tick of Timer_Out (public so tests and the settings page drive it directly).
  void Timer_OutTimer();
  // The prompt tick of the automation settings page after Out_Mode changed: Reconnect_Delay 0,
  // and when the timer runs at 1000 ms, the next tick comes 500 ms from now.
  void Prompt_Tick();

  // Ticks during which no new TCP open attempt is made (0 = attempt at the next tick). The
  // automation page sets it to 0 when an "Open" box changes.
  int Reconnect_Delay() const { return reconnect_delay_; }
  void Set_Reconnect_Delay(int ticks) { reconnect_delay_ = ticks; }

  // Writes `line` on the automation TCP link chosen by Out_TCP_Server: the newest connection of
  // the listener in server mode, the client socket in client mode. False when there is no
  // connection to write to (no transport). Main thread.
  bool Send_Tcp_Line(const std::string& line);
  // The TCP connections, shared with the report sender's thread.
  Tcp_Link& Tcp() { return tcp_; }
  // Main thread, at the sender's notices (Tcp_Link::Notices): the watch of a connection the
  // sender let go reads again; a held connection whose peer ended it or failed is closed and
  // logged as the watch does.
  void Resume_Watch(int fd);
  void Held_Connection_Ended(int fd, int error);

  // State for the report sender's choices and for tests (main thread).
  bool Listener_Active() const;
  int Listener_Connections() const;
  bool Client_Connected() const;
  const QTimer& Out_Timer() const { return timer_out_; }

 private:
  void Tick_Tcp();
  void Tick_Tcp_Server();
  void Tick_Tcp_Client();
  void Take_Client_Connection();
  void Tick_Serial();
  void Tick_Closed();
  void Close_Listener();
  void Set_Status(const std::string& text);
  void Close_Client_Connection();
  void Watch(int fd, bool client);
  void Drop(int fd);

  // Socket event handlers (main thread).
  void ServerSocket_OutAccept();
  void Connection_Readable(int fd, bool client);
  void Connection_Ended(int fd, bool client, int error);
  void ClientSocket_OutConnect();
  void ClientSocket_OutError();

  Settings_Record& settings_;
  Shared_Sync& sync_;
  Serial_Port& serial_;
  Operator_Port& screen_;
  std::string data_folder_;

  QTimer timer_out_;
  Tcp_Link tcp_;
  int listen_fd_ = -1;
  std::unique_ptr<QSocketNotifier> accept_notifier_;
  // Connects in client mode; once connected, the connection is handed to tcp_ and this socket
  // is reset.
  QTcpSocket* ClientSocket_Out;  // owned (child)
  int client_fd_ = -1;           // the client connection in tcp_, -1 when none
  // Read watches of the connections in tcp_, by descriptor.
  std::map<int, std::unique_ptr<QSocketNotifier>> watches_;
  int reconnect_delay_ = 0;
  std::function<void()> settings_changed_;
};
