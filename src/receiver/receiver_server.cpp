#include "receiver/receiver_server.h"

#include "base/listen_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDateTime>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTime>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/process_setup.h"
#include "base/socket_error.h"
#include "protocol/dc9_parser.h"

namespace {

// The system's texts: the receiver port's log lines.
constexpr const char* UNRECOGNISED_TEXT = "Unrecognised data received from IP: ";
constexpr const char* JOURNAL_FULL_TEXT =
    "Event journal full, events are not answered until the automation software takes them.";
constexpr const char* JOURNAL_ACCEPTS_TEXT = "Event journal accepts events again.";

constexpr int TICK_MS = 1000;
constexpr int RETRY_MS = 10000;

// The peer's address as the system shows it: IPv4 peers of the dual-stack listener arrive as
// ::ffff:a.b.c.d and are shown dotted.
std::string Peer_Address_Text(const QHostAddress& address) {
  bool is_v4 = false;
  const quint32 v4 = address.toIPv4Address(&is_v4);
  if (is_v4) return QHostAddress(v4).toString().toStdString();
  return address.toString().toStdString();
}

// The host name and its first IPv4 address; "0.0.0.0" when the name does not resolve.
std::string Start_Line() {
  const std::string host = QHostInfo::localHostName().toStdString();
  std::string address = "0.0.0.0";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (!host.empty() && getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const auto* b = reinterpret_cast<const uint8_t*>(&in->sin_addr.s_addr);
    char dotted[16];
    std::snprintf(dotted, sizeof(dotted), "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    address = dotted;
  }
  if (found) freeaddrinfo(found);
  return "Program started. Hostname of this computer: \"" + host + "\"  IP:" + address;
}

}  // namespace

Receiver_Server::Receiver_Server(Settings_Record& settings, Event_Journal& journal,
                                 Object_Table& objects, Shared_Sync& sync,
                                 Operator_Port& operator_port, QObject* parent)
    : QObject(parent),
      settings_(settings),
      journal_(journal),
      objects_(objects),
      sync_(sync),
      operator_(operator_port),
      pad_generator_(static_cast<std::minstd_rand::result_type>(std::random_device{}())),
      listener_(new QTcpServer(this)) {
  clock_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
  pad_ = [this] { return static_cast<uint32_t>(pad_generator_()); };
  port_field_ = [this] { return std::to_string(settings_.DC9_Port); };
  timer_.setInterval(TICK_MS);
  connect(&timer_, &QTimer::timeout, this, &Receiver_Server::Timer_DC9Timer);
  listener_->setMaxPendingConnections(1024);
  connect(listener_, &QTcpServer::newConnection, this, &Receiver_Server::Accept_Pending);
}

Receiver_Server::~Receiver_Server() {
  Close_Listener();
}

void Receiver_Server::Set_Repair_Messages(std::string objects, std::string journal) {
  repair_objects_ = std::move(objects);
  repair_journal_ = std::move(journal);
}

void Receiver_Server::Start() {
  Raise_Open_File_Limit();
  timer_.start(TICK_MS);
}

void Receiver_Server::Stop() {
  timer_.stop();
  Close_Listener();
}

void Receiver_Server::Reset_Timer_Interval() {
  const bool running = timer_.isActive();
  timer_.setInterval(TICK_MS);
  if (running) timer_.start();
}

bool Receiver_Server::Is_Active() const {
  return listener_->isListening();
}

uint16_t Receiver_Server::Listening_Port() const {
  return Is_Active() ? listener_->serverPort() : 0;
}

void Receiver_Server::Close_Listener() {
  listener_->close();
  // Closing a socket may emit disconnected at once, which erases it from peers_.
  std::vector<QTcpSocket*> open;
  open.reserve(peers_.size());
  for (const auto& entry : peers_) open.push_back(entry.first);
  for (QTcpSocket* socket : open) {
    socket->abort();
    Forget(socket);
  }
}

void Receiver_Server::Accept_Pending() {
  while (QTcpSocket* socket = listener_->nextPendingConnection()) {
    Peer peer;
    peer.Address = Peer_Address_Text(socket->peerAddress());
    peer.Port = socket->peerPort();
    peers_.emplace(socket, std::move(peer));
    // Answers are small and awaited one by one: never hold one back.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this,
            [this, socket] { ServerSocket_DC9ClientRead(socket); });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this, socket](QAbstractSocket::SocketError error) {
              // The peer's ordinary close (and a reset, which Qt reports alike) is no error.
              if (error == QAbstractSocket::RemoteHostClosedError) return;
              ServerSocket_DC9ClientError(socket, Socket_Error_Code(*socket, error));
            });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { Forget(socket); });
    ServerSocket_DC9ClientConnect(socket);
  }
}

void Receiver_Server::Forget(QTcpSocket* socket) {
  if (peers_.erase(socket) == 0) return;
  socket->disconnect(this);
  socket->deleteLater();
}

void Receiver_Server::ServerSocket_DC9ClientConnect(QTcpSocket* socket) {
  const auto found = peers_.find(socket);
  if (found == peers_.end()) return;
  connections_.Set_Countdown(found->second.Address, found->second.Port, SHORT_COUNTDOWN);
}

void Receiver_Server::ServerSocket_DC9ClientError(QTcpSocket* socket, int error_code) {
  (void)socket;
  // A connection aborted on this host is the receiver's own doing (or the system's) and no news
  // to the operator.
  if (error_code == ECONNABORTED) return;
  operator_.Log_Message(
      "Receiver port error. " + std::to_string(error_code) + System_Error_Text(error_code),
      LOG_RED);
}

void Receiver_Server::Data_Log_Received(const char* text) {
  const QTime now = QTime::currentTime();
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%02u:%02u:%02u:%u", now.hour(), now.minute(), now.second(),
                now.msec());
  operator_.Data_Log_Line("");
  operator_.Data_Log_Line(std::string(stamp) + "  " + text);
}

void Receiver_Server::ServerSocket_DC9ClientRead(QTcpSocket* socket) {
  const auto found = peers_.find(socket);
  if (found == peers_.end()) return;
  // A copy: answering may close the socket at once (a failed write aborts it), which erases it.
  const Peer peer = found->second;

  // All waiting bytes with a NUL behind them (the parser works in place).
  const qint64 waiting = socket->bytesAvailable();
  if (waiting <= 0) return;
  read_buffer_.resize(static_cast<std::size_t>(waiting) + 1);
  const qint64 got = socket->read(read_buffer_.data(), waiting);
  if (got <= 0) return;
  read_buffer_[static_cast<std::size_t>(got)] = '\0';

  if (operator_.Data_Log_Visible()) Data_Log_Received(read_buffer_.data());

  Event_Record record{};
  Extended_Data extended{};
  uint32_t sequence = 0;
  const Dc9_Aes_Config aes{settings_.DC9_AES_Mode, settings_.DC9_AES_Key};
  const Parse_Result result = Parse_DC9_Message(read_buffer_.data(), static_cast<std::size_t>(got),
                                                record, sequence, extended, aes);
  int32_t countdown = SHORT_COUNTDOWN;
  if (result == PARSE_UNRECOGNISED) {
    operator_.Log_Message(UNRECOGNISED_TEXT + peer.Address + ", port: " + std::to_string(peer.Port),
                          LOG_BLACK);
  } else {
    countdown = Answer_And_Store(socket, peer, result, record, sequence, extended);
  }
  connections_.Set_Countdown(peer.Address, peer.Port, countdown);
  emit Read_Handled(result);
}

int32_t Receiver_Server::Answer_And_Store(QTcpSocket* socket, const Peer& peer, Parse_Result result,
                                          Event_Record& record, uint32_t sequence,
                                          const Extended_Data& extended) {
  if (peer.Address.size() < sizeof(record.IP_Address)) {
    std::memcpy(record.IP_Address, peer.Address.data(), peer.Address.size());
  }
  const int64_t now = clock_();
  const Response_Kind kind =
      Choose_Response_Kind(result, settings_.Time_Synch != 0, settings_.DC9_AES_Mode);
  const bool accepted = kind == RESPONSE_ACK || kind == RESPONSE_AES_ACK;

  // An event that the ring cannot take without overwriting one the automation software never got
  // is not answered at all: the communicator then retries it, whereas after an answer it would
  // consider it delivered. A link test is answered (the object stays supervised) but not stored.
  const bool journal_full = accepted && journal_.Is_Full();
  const bool link_test = Is_Link_Test(record);
  if (journal_full && !link_test) {
    if (!journal_refusing_) {
      journal_refusing_ = true;
      operator_.Log_Message(JOURNAL_FULL_TEXT, LOG_RED);
      operator_.Beep();
    }
    return SHORT_COUNTDOWN;
  }

  const Dc9_Aes_Config aes{settings_.DC9_AES_Mode, settings_.DC9_AES_Key};
  const std::string answer = Build_DC9_Response(kind, sequence, record, aes, now, pad_);
  socket->write(answer.data(), static_cast<qint64>(answer.size()));
  socket->flush();
  if (!accepted) return SHORT_COUNTDOWN;

  record.Status = EVT_PRESENT;
  record.Time_Received = now;
  objects_.Update(record, extended);
  if (!journal_full) {
    journal_.Append(record);
    if (journal_refusing_) {
      journal_refusing_ = false;
      operator_.Log_Message(JOURNAL_ACCEPTS_TEXT, LOG_BLACK);
    }
  }
  sync_.New_Event_Signal.Set();
  // A negative timeout in the settings file would never count down to the close; it means the
  // same as 0: the receiver leaves the connection open.
  return settings_.DC9_Conn_Timeout > 0 ? settings_.DC9_Conn_Timeout : 0;
}

void Receiver_Server::Log_Start_Line() {
  operator_.Log_Message(Start_Line(), LOG_BLACK);
  if (!repair_objects_.empty()) operator_.Log_Message(repair_objects_, LOG_BLACK);
  if (!repair_journal_.empty()) operator_.Log_Message(repair_journal_, LOG_BLACK);
  repair_objects_.clear();
  repair_journal_.clear();
  start_logged_ = true;
}

void Receiver_Server::Open_Listener() {
  const auto port = static_cast<uint16_t>(settings_.DC9_Port);
  operator_.Log_Message("Opening receiver port " + std::to_string(settings_.DC9_Port), LOG_BLACK);
  Listen_Failure failure;
  const int fd = Open_Listen_Socket(port, failure);
  if (fd >= 0 && !listener_->setSocketDescriptor(fd)) {
    failure = {EBADF, "listen"};
    ::close(fd);
  }
  if (failure.Api) {
    timer_.setInterval(RETRY_MS);
    operator_.Log_Message(Listen_Failure_Text(failure), LOG_RED);
    operator_.Beep();
    return;
  }
  operator_.Log_Message("Port " + std::to_string(listener_->serverPort()) + " is open.", LOG_BLACK);
}

void Receiver_Server::Close_Expired(std::string_view address, int32_t port) {
  if (peers_.empty()) return;
  std::vector<QTcpSocket*> expired;
  for (const auto& [socket, peer] : peers_) {
    if (peer.Port == port && peer.Address == address) expired.push_back(socket);
  }
  for (QTcpSocket* socket : expired) {
    if (socket->state() == QAbstractSocket::ConnectedState) socket->close();
  }
}

void Receiver_Server::Timer_DC9Timer() {
  const bool running = timer_.isActive();
  timer_.stop();
  timer_.setInterval(TICK_MS);

  if (!start_logged_) Log_Start_Line();

  if (settings_.DC9_Port_Enable) {
    if (Is_Active()) {
      operator_.Set_Status_Text(STATUS_RECEIVER, "Receiver port is open.  Connections: " +
                                                     std::to_string(Active_Connections()));
    } else {
      Open_Listener();
    }
  } else {
    if (Is_Active()) {
      Close_Listener();
      operator_.Log_Message("Port " + port_field_() + " closed.", LOG_BLACK);
    }
    operator_.Set_Status_Text(STATUS_RECEIVER, "Receiver port closed.");
  }

  connections_.Tick(
      [this](std::string_view address, int32_t port) { Close_Expired(address, port); });

  if (running) timer_.start();
}
