// Link_Manager: opens, watches and closes the link to the automation software (TCP server, TCP
// client or serial line) from the settings alone, driven by Timer_Out (first tick after 2000 ms,
// then every 1000 ms). It keeps LINK_OPEN of Link_State, shows the link's state in the automation
// panel of the status bar, and owns the TCP receive handlers that pass ACK/NAK bytes to the
// report sender through Answer_Byte and Answer_Event.
//
// Main thread only: every socket belongs to it. The report sender never touches a socket; it
// hands each TCP line to the main thread, where Send_Tcp_Line decides and writes. So no field
// here is shared between threads and none needs a lock; what other threads see of the link goes
// through the atomics of Shared_Sync (Link_State, Answer_Byte) and the events set after them.
#pragma once

#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

#include "base/operator_port.h"
#include "base/settings.h"
#include "base/sync_objects.h"

class QTcpServer;
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

  // State for the report sender's choices and for tests (main thread).
  bool Listener_Active() const;
  int Listener_Connections() const { return static_cast<int>(connections_.size()); }
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
  void Take_Answer(QTcpSocket* socket);

  // Socket event handlers (main thread).
  void ServerSocket_OutAccept();
  void ServerSocket_OutClientRead(QTcpSocket* connection);
  void ServerSocket_OutClientError(QTcpSocket* connection);
  void ClientSocket_OutConnect();
  void ClientSocket_OutRead();
  void ClientSocket_OutError();

  Settings_Record& settings_;
  Shared_Sync& sync_;
  Serial_Port& serial_;
  Operator_Port& screen_;
  std::string data_folder_;

  QTimer timer_out_;
  QTcpServer* ServerSocket_Out;  // owned (child)
  QTcpSocket* ClientSocket_Out;  // owned (child)
  // Accepted connections of the listener, oldest first; the last one is written to.
  std::vector<QTcpSocket*> connections_;
  int reconnect_delay_ = 0;
};
