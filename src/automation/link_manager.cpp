#include "automation/link_manager.h"

#include <unistd.h>

#include <cerrno>

#include "base/listen_socket.h"
#include "base/raw_file.h"
#include "base/settings_rules.h"
#include "base/socket_error.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include "automation/serial_names.h"
#include "automation/serial_port.h"
#include "protocol/event_record.h"

namespace {

constexpr int FIRST_TICK_MS = 2000;
constexpr int TICK_MS = 1000;
constexpr int PROMPT_TICK_MS = 500;
constexpr int DELAY_AFTER_ERROR = 10;           // ticks after a failed listen or a client error
constexpr int DELAY_AFTER_CLIENT_ATTEMPT = 30;  // ticks after a client open attempt
// The serial link always runs 8 data bits, no parity, one stop bit.
constexpr uint8_t LINK_BYTE_SIZE = 8;

}  // namespace

Link_Manager::Link_Manager(Settings_Record& settings, Shared_Sync& sync, Serial_Port& serial,
                           Operator_Port& screen, std::string data_folder, QObject* parent)
    : QObject(parent),
      settings_(settings),
      sync_(sync),
      serial_(serial),
      screen_(screen),
      data_folder_(std::move(data_folder)),
      ClientSocket_Out(new QTcpSocket(this)) {
  timer_out_.setSingleShot(false);
  timer_out_.setInterval(FIRST_TICK_MS);
  connect(&timer_out_, &QTimer::timeout, this, &Link_Manager::Timer_OutTimer);
  connect(ClientSocket_Out, &QTcpSocket::connected, this, &Link_Manager::ClientSocket_OutConnect);
  connect(ClientSocket_Out, &QTcpSocket::errorOccurred, this, &Link_Manager::ClientSocket_OutError);
}

Link_Manager::~Link_Manager() {
  timer_out_.stop();
  Close_Listener();
  Close_Client_Connection();
  ClientSocket_Out->abort();
}

void Link_Manager::Start() {
  timer_out_.setInterval(FIRST_TICK_MS);
  timer_out_.start();
}

void Link_Manager::Stop() {
  timer_out_.stop();
}

void Link_Manager::Close_Client() {
  Close_Client_Connection();
  ClientSocket_Out->abort();
}

bool Link_Manager::Listener_Active() const {
  return listen_fd_ >= 0;
}

int Link_Manager::Listener_Connections() const {
  return client_fd_ >= 0 ? 0 : tcp_.Count();
}

bool Link_Manager::Client_Connected() const {
  return client_fd_ >= 0;
}

void Link_Manager::Close_Client_Connection() {
  if (client_fd_ < 0) return;
  const int fd = client_fd_;
  client_fd_ = -1;
  Drop(fd);
}

void Link_Manager::Watch(int fd, bool client) {
  auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier.get(), &QSocketNotifier::activated, this,
          [this, fd, client] { Connection_Readable(fd, client); });
  watches_[fd] = std::move(notifier);
  tcp_.Add(fd);
}

void Link_Manager::Drop(int fd) {
  const auto found = watches_.find(fd);
  if (found != watches_.end()) {
    found->second->setEnabled(false);
    found->second.release()->deleteLater();
    watches_.erase(found);
  }
  tcp_.Remove(fd);
}

void Link_Manager::Set_Status(const std::string& text) {
  screen_.Set_Status_Text(STATUS_AUTOMATION, text);
}

void Link_Manager::Timer_OutTimer() {
  timer_out_.stop();
  timer_out_.setInterval(TICK_MS);
  switch (settings_.Out_Mode) {
    case OUT_MODE_TCP:
      Tick_Tcp();
      break;
    case OUT_MODE_SERIAL:
      Tick_Serial();
      break;
    default:
      Tick_Closed();
      break;
  }
  if (reconnect_delay_ != 0) --reconnect_delay_;
  // The link now runs with the settings this tick read (and may have switched it off): the
  // report sender gets the same values, so its choice of transport follows the link.
  if (settings_changed_) settings_changed_();
  timer_out_.start();
}

void Link_Manager::Prompt_Tick() {
  reconnect_delay_ = 0;
  if (timer_out_.interval() == TICK_MS) {
    timer_out_.stop();
    timer_out_.setInterval(PROMPT_TICK_MS);
    timer_out_.start();
  }
}

void Link_Manager::Tick_Tcp() {
  // While the delay runs (counted down at the end of the tick) the tick changes nothing else, so
  // neither the panel nor Link_State moves.
  if (reconnect_delay_ != 0) return;
  if (settings_.Out_TCP_Server == OUT_TCP_SERVER) {
    Tick_Tcp_Server();
  } else {
    Tick_Tcp_Client();
  }
}

void Link_Manager::Tick_Tcp_Server() {
  Close_Client();
  const std::string port = std::to_string(settings_.Out_Port);
  if (Listener_Active()) {
    const auto count = static_cast<std::size_t>(tcp_.Count());
    if (count > 0) {
      Set_Status("Automation software: connected (" + std::to_string(count) + ").");
      sync_.Link_State.fetch_or(LINK_OPEN);
    } else {
      sync_.Link_State.store(0);
      Set_Status("Automation software port is open. Listenning...");
    }
    // The newest client is the one kept; at most one older connection goes per tick.
    if (count >= 2) Drop(tcp_.Oldest());
    return;
  }
  screen_.Log_Message("Opening automation software port " + port, LOG_BLACK);
  sync_.Link_State.store(0);
  const int32_t out_port = settings_.Out_Port;
  std::string failure;
  // Port 0 would listen on a port the system picks, which the automation software cannot know.
  if (Port_In_Range(out_port)) {
    Listen_Failure listen_failure;
    const int fd = Open_Listen_Socket(static_cast<uint16_t>(out_port), listen_failure);
    if (!listen_failure.Api) {
      listen_fd_ = fd;
      accept_notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
      connect(accept_notifier_.get(), &QSocketNotifier::activated, this,
              &Link_Manager::ServerSocket_OutAccept);
      screen_.Log_Message(
          "Automation software port " + port + " is open. Waiting for connection...", LOG_BLACK);
      return;
    }
    failure = Listen_Failure_Text(listen_failure);
  } else {
    failure = "Invalid port number " + port;
  }
  reconnect_delay_ = DELAY_AFTER_ERROR;
  screen_.Log_Message(failure, LOG_RED);
  screen_.Beep();
}

void Link_Manager::Tick_Tcp_Client() {
  Close_Listener();
  const std::string port = std::to_string(settings_.Out_Port);
  if (Client_Connected()) {
    Set_Status("Automation software server: connected.");
    if (sync_.Link_State.load() == 0) {
      screen_.Log_Message("Port " + port + " connected.", LOG_BLACK);
      sync_.Link_State.fetch_or(LINK_OPEN);
    }
    return;
  }
  sync_.Link_State.store(0);
  Set_Status("Automation software server: not connected.");
  const std::string address(Field_Text(settings_.Out_IP));
  screen_.Log_Message(
      "Connecting to automation software server. IP: " + address + "  Port: " + port, LOG_BLACK);
  Close_Client();
  const int32_t out_port = settings_.Out_Port;
  const bool started = Port_In_Range(out_port);
  if (started) {
    ClientSocket_Out->connectToHost(QString::fromLatin1(address.data(), address.size()),
                                    static_cast<quint16>(out_port));
  } else {
    screen_.Log_Message("Invalid port number " + port, LOG_RED);
  }
  if (!Client_Connected()) {
    if (started) screen_.Log_Message("Can't open port " + port, LOG_RED);
    reconnect_delay_ = DELAY_AFTER_CLIENT_ATTEMPT;
    screen_.Beep();
  }
}

// A client connection that completes is the link at once: the panel says so and reports flow,
// without waiting for the end of the delay that the attempt started (the attempt's red line stays,
// written when the connection was not yet made).
void Link_Manager::Take_Client_Connection() {
  if (settings_.Out_Mode != OUT_MODE_TCP || settings_.Out_TCP_Server == OUT_TCP_SERVER ||
      !Client_Connected())
    return;
  Set_Status("Automation software server: connected.");
  if (sync_.Link_State.load() == 0) {
    screen_.Log_Message("Port " + std::to_string(settings_.Out_Port) + " connected.", LOG_BLACK);
    sync_.Link_State.fetch_or(LINK_OPEN);
  }
}

void Link_Manager::Tick_Serial() {
  const std::string com_name(Field_Text(settings_.COM_Name));
  if (serial_.Is_Open()) {
    Set_Status("Automation software port " + com_name + " is open.");
    // The port may have stayed open while the link counted as closed: the box unticked and
    // ticked again within one tick (the report sender found no transport meanwhile and cleared
    // Link_State). An open port is an open link, so the flag is set again.
    sync_.Link_State.fetch_or(LINK_OPEN);
    return;
  }
  const std::string device = COM_Device_Path(data_folder_, com_name);
  try {
    serial_.Set_Baud_Rate(settings_.COM_Baud);
    serial_.Set_Byte_Size(LINK_BYTE_SIZE);
    serial_.Set_Parity(PARITY_NONE);
    serial_.Set_Stop_Bits(STOP_BITS_ONE);
    serial_.Set_Port_Name(device);
    serial_.Open_Port();
    screen_.Log_Message("Automation software port " + com_name + " is open.", LOG_BLACK);
    sync_.Link_State.fetch_or(LINK_OPEN);
  } catch (const ECommError& error) {
    screen_.Beep();
    settings_.Out_Mode = OUT_MODE_CLOSED;  // in memory only; the settings file is not written
    // The COM name, its device and the system's reason; "in use" only when the device is held.
    const int code = error.System_Error;
    const bool held = code == EBUSY || code == EAGAIN || code == EWOULDBLOCK;
    const std::string reason = code != 0 ? Error_Text(code) : std::string();
    screen_.Show_Message(error.Error_Id == COMM_OPEN
                             ? "Error opening " + com_name + " (" + device + ")." +
                                   (held ? " Port already in use?" : "") + reason
                             : "COM port error (" + com_name + ", " + device + ")." + reason);
    screen_.Refresh_Mon_Out();
  }
}

void Link_Manager::Tick_Closed() {
  sync_.Link_State.store(0);
  if (serial_.Is_Open()) {
    const std::string com_name(Field_Text(settings_.COM_Name));
    try {
      serial_.Close_Port();
      screen_.Log_Message("Automation software port " + com_name + " closed.", LOG_BLACK);
    } catch (const ECommError&) {
      // The port stays open (its flag stays set); the next tick tries again.
    }
  }
  if (Listener_Active() || Client_Connected()) {
    screen_.Log_Message(
        "Automation software port " + std::to_string(settings_.Out_Port) + " closed.", LOG_BLACK);
  }
  Close_Listener();
  Close_Client();
  Set_Status("Automation software port closed.");
}

void Link_Manager::Close_Listener() {
  if (listen_fd_ < 0) return;
  accept_notifier_.reset();
  Socket_Close(listen_fd_);
  listen_fd_ = -1;
  std::vector<int> accepted;
  for (const auto& [fd, watch] : watches_) {
    if (fd != client_fd_) accepted.push_back(fd);
  }
  for (const int fd : accepted) Drop(fd);
}

bool Link_Manager::Send_Tcp_Line(const std::string& line) {
  if (settings_.Out_TCP_Server == OUT_TCP_SERVER ? client_fd_ >= 0 : client_fd_ < 0) return false;
  return tcp_.Write(line);
}

void Link_Manager::ServerSocket_OutAccept() {
  Accepted_Peer peer;
  int error = 0;
  while (listen_fd_ >= 0 && Accept_Connection(listen_fd_, peer, error)) Watch(peer.Fd, false);
}

void Link_Manager::Connection_Readable(int fd, bool client) {
  int error = 0;
  const int state = tcp_.Take_Readable(
      fd,
      [this](uint8_t byte) {
        sync_.Answer_Byte.store(byte);
        sync_.Answer_Event.Set();
      },
      error);
  if (state == 1) {
    // The sender holds the connection and reads it itself: the watch is parked until the sender
    // lets it go (Resume_Watch).
    const auto found = watches_.find(fd);
    if (found != watches_.end()) found->second->setEnabled(false);
    return;
  }
  if (state >= 0) return;
  Connection_Ended(fd, client, error);
}

void Link_Manager::Resume_Watch(int fd) {
  const auto found = watches_.find(fd);
  if (found != watches_.end()) found->second->setEnabled(true);
}

void Link_Manager::Held_Connection_Ended(int fd, int error) {
  // Stale when the sender let the connection go meanwhile: the resumed watch sees the end then.
  if (!tcp_.Ended_While_Held(fd)) return;
  Connection_Ended(fd, fd == client_fd_, error);
}

void Link_Manager::Connection_Ended(int fd, bool client, int error) {
  // A peer that closes its end in order (or resets it) is a disconnection, not a failure.
  if (error != 0 && error != ECONNRESET) {
    screen_.Log_Message("Communication port error. " + System_Error_Text(error), LOG_RED);
    if (client) reconnect_delay_ = DELAY_AFTER_ERROR;
  }
  if (client) {
    Close_Client_Connection();
  } else {
    Drop(fd);
  }
}

void Link_Manager::ClientSocket_OutConnect() {
  // The connection is handed to the TCP link; the socket that made it lets it go.
  const int fd = Socket_Duplicate(static_cast<int>(ClientSocket_Out->socketDescriptor()));
  ClientSocket_Out->abort();
  if (fd >= 0) {
    client_fd_ = fd;
    Watch(fd, true);
  }
  screen_.Play_Notify_Sound();
  Take_Client_Connection();
}

void Link_Manager::ClientSocket_OutError() {
  if (ClientSocket_Out->error() == QAbstractSocket::RemoteHostClosedError) return;
  screen_.Log_Message("Communication port error. " + ClientSocket_Out->errorString().toStdString(),
                      LOG_RED);
  reconnect_delay_ = DELAY_AFTER_ERROR;
}
