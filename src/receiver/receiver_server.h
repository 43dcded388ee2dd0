// Receiver_Server: the receiver port, the system's face towards the alarm communicators. It owns
// the listener ServerSocket_DC9 (dual-stack TCP, IPv4 peers shown as dotted addresses), opens and
// closes it from the one-second timer Timer_DC9 as DC9_Port_Enable says, answers every read with
// its DC-09 response, hands every accepted message to the object table and the event journal, and
// closes connections that stay silent through the Connection_Table. Everything here runs on the
// main thread: the timer ticks and the socket events are delivered there one at a time.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/operator_port.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "protocol/dc9_response.h"
#include "receiver/connection_table.h"
#include "store/event_journal.h"
#include "store/object_table.h"

class QTcpServer;
class QTcpSocket;

class Receiver_Server : public QObject {
  Q_OBJECT

 public:
  // Seconds since 1970-01-01 UTC: the reception time of events and the time in answers.
  using Utc_Clock = std::function<int64_t()>;

  // The references live as long as the server (the core owns them all).
  Receiver_Server(Settings_Record& settings, Event_Journal& journal, Object_Table& objects,
                  Shared_Sync& sync, Operator_Port& operator_port, QObject* parent = nullptr);
  ~Receiver_Server() override;

  // Tests fix the clock and the pad bytes of "*ACK" answers; by default the system clock and a
  // seeded pseudo-random generator are used.
  void Set_Clock(Utc_Clock clock) { clock_ = std::move(clock); }
  void Set_Pad_Source(Pad_Source pad) { pad_ = std::move(pad); }
  // The loaders' repair messages, logged once at the first tick right after the start line, the
  // object table's first (empty texts are skipped).
  void Set_Repair_Messages(std::string objects, std::string journal);
  // The text of the receiver page's port field, shown in "Port <text> closed."; by default the
  // DC9_Port setting.
  void Set_Port_Field_Text(std::function<std::string()> text) { port_field_ = std::move(text); }

  // Start-up: raises the open-file limit and starts Timer_DC9 (first tick after 1000 ms).
  void Start();
  // Shutdown: stops Timer_DC9, then closes the listener with all its connections.
  void Stop();
  // The page's "Open": the next tick comes 1000 ms from now, also after a failed open.
  void Reset_Timer_Interval();
  // Closes the listener and every communicator connection.
  void Close_Listener();

  // Timer_DC9's tick (Timer_DC9Timer). Tests call it directly instead of waiting; a direct call
  // restarts the timer only when it was running.
  void Timer_DC9Timer();
  // The listener's per-connection handlers (the socket layer calls them; public for tests).
  void ServerSocket_DC9ClientConnect(QTcpSocket* socket);
  void ServerSocket_DC9ClientRead(QTcpSocket* socket);
  // `error_code` is the system's errno; ECONNABORTED logs nothing. The peer's ordinary close is
  // not an error and never reaches this handler.
  void ServerSocket_DC9ClientError(QTcpSocket* socket, int error_code);

  QTimer& Timer_DC9() { return timer_; }
  QTcpServer& ServerSocket_DC9() { return *listener_; }
  bool Is_Active() const;
  // The port the listener is bound to; 0 while it is closed.
  uint16_t Listening_Port() const;
  int Active_Connections() const { return static_cast<int>(peers_.size()); }
  const Connection_Table& Connections() const { return connections_; }
  // True from the first Contact ID refused because the journal was full until the next append.
  bool Journal_Refusing() const { return journal_refusing_; }

 signals:
  // After every read has been handled (answer written and flushed, event stored), with its
  // Parse_Result. For the data log window and tests.
  void Read_Handled(int parse_result);

 private:
  struct Peer {
    std::string Address;  // dotted for IPv4 (also when it arrived as ::ffff:a.b.c.d)
    int32_t Port = 0;
  };

  void Accept_Pending();
  void Forget(QTcpSocket* socket);
  void Log_Start_Line();
  void Open_Listener();
  void Close_Expired(std::string_view address, int32_t port);
  void Data_Log_Received(const char* text);
  // The receive path of one read after the parser; returns the countdown for the peer's slot.
  int32_t Answer_And_Store(QTcpSocket* socket, const Peer& peer, Parse_Result result,
                           Event_Record& record, uint32_t sequence, const Extended_Data& extended);

  Settings_Record& settings_;
  Event_Journal& journal_;
  Object_Table& objects_;
  Shared_Sync& sync_;
  Operator_Port& operator_;
  Utc_Clock clock_;
  Pad_Source pad_;
  std::minstd_rand pad_generator_;
  std::function<std::string()> port_field_;

  QTimer timer_;
  QTcpServer* listener_;  // owned by this object (Qt parent)
  std::unordered_map<QTcpSocket*, Peer> peers_;
  Connection_Table connections_;
  std::vector<char> read_buffer_;

  std::string repair_objects_;
  std::string repair_journal_;
  bool start_logged_ = false;
  bool journal_refusing_ = false;
};
