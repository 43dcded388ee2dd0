#include "receiver/receiver_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_set>

#include "base/listen_socket.h"
#include "base/process_setup.h"
#include "base/raw_file.h"
#include "base/settings_rules.h"
#include "base/socket_error.h"
#include "protocol/dc9_parser.h"

namespace {

// The system's texts: the receiver port's log lines.
constexpr const char* JOURNAL_FULL_TEXT =
    "Event journal full, events are not answered until the automation software takes them.";
constexpr const char* JOURNAL_ACCEPTS_TEXT = "Event journal accepts events again.";

constexpr int TICK_MS = 1000;
constexpr int RETRY_MS = 10000;
constexpr int SETTINGS_WATCH_MS = 100;
// The largest read: a communicator sends one message and waits for its answer.
constexpr std::size_t READ_SIZE = 64 * 1024;

// Loop tags above every descriptor number.
constexpr uint64_t TAG_COMMAND = uint64_t{1} << 40;
constexpr uint64_t TAG_SYNCED = TAG_COMMAND + 1;
constexpr uint64_t TAG_TIMER = TAG_COMMAND + 2;
constexpr uint64_t TAG_LISTENER = TAG_COMMAND + 3;
constexpr uint64_t TAG_UDP = TAG_COMMAND + 4;

// The host name and its first IPv4 address; "0.0.0.0" when the name does not resolve.
std::string Start_Line() {
  char name[256] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) name[0] = '\0';
  const std::string host = name;
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

bool Write_Ahead_Wanted() {
  const char* off = std::getenv(NO_WRITE_AHEAD_VARIABLE);
  return off == nullptr || std::strcmp(off, "1") != 0;
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
      write_ahead_(Write_Ahead_Wanted()) {
  clock_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
  pad_ = [this] { return static_cast<uint32_t>(pad_generator_()); };
  port_field_ = [this] { return std::to_string(settings_.DC9_Port); };
  read_buffer_.resize(READ_SIZE + 1);
  settings_watch_.setInterval(SETTINGS_WATCH_MS);
  connect(&settings_watch_, &QTimer::timeout, this, [this] {
    if (std::memcmp(&last_settings_, &settings_, sizeof settings_) != 0 ||
        port_field_() != last_port_field_ ||
        operator_.Data_Log_Visible() != last_data_log_visible_) {
      Settings_Changed();
    }
  });
  loop_.Add(command_wake_.Fd(), TAG_COMMAND);
  loop_.Add(sync_wake_.Fd(), TAG_SYNCED);
  loop_.Add(timer_.Fd(), TAG_TIMER);
}

Receiver_Server::~Receiver_Server() {
  Stop();
}

void Receiver_Server::Set_Clock(Utc_Clock clock) {
  Call([&] { clock_ = std::move(clock); });
}

void Receiver_Server::Set_Pad_Source(Pad_Source pad) {
  Call([&] { pad_ = std::move(pad); });
}

void Receiver_Server::Set_Repair_Messages(std::string objects, std::string journal) {
  Call([&] {
    repair_objects_ = std::move(objects);
    repair_journal_ = std::move(journal);
  });
}

// ---- Main thread --------------------------------------------------------------------------

void Receiver_Server::Call(const std::function<void()>& work) {
  if (!thread_.joinable() || std::this_thread::get_id() == thread_.get_id()) {
    work();
    to_main_->Post(for_main_);
    to_main_->Drain();
    return;
  }
  bool done = false;
  {
    Mutex_Lock lock(command_mutex_);
    commands_.emplace_back(&work, &done);
  }
  command_wake_.Signal();
  {
    Mutex_Lock lock(command_mutex_);
    lock.Wait(command_done_, [&] { return done; });
  }
  to_main_->Drain();
}

void Receiver_Server::Settings_Changed() {
  Settings_Copy copy;
  copy.Port_Enable = settings_.DC9_Port_Enable != 0;
  copy.Port = settings_.DC9_Port;
  copy.Conn_Timeout = settings_.DC9_Conn_Timeout;
  copy.AES_Mode = settings_.DC9_AES_Mode;
  std::memcpy(copy.AES_Key, settings_.DC9_AES_Key, sizeof copy.AES_Key);
  copy.Time_Synch = settings_.Time_Synch != 0;
  copy.Link_On = settings_.Out_Mode == 1 || settings_.Out_Mode == 2;
  copy.Data_Log_Visible = operator_.Data_Log_Visible();
  copy.Port_Field = port_field_();
  copy.UDP_Enable = settings_.DC9_UDP_Enable != 0;
  copy.Repeat_Window = settings_.DC9_Repeat_Window;
  last_settings_ = settings_;
  last_port_field_ = copy.Port_Field;
  last_data_log_visible_ = copy.Data_Log_Visible;
  if (!thread_.joinable()) {
    settings_copy_ = std::move(copy);
    return;
  }
  {
    Mutex_Lock lock(command_mutex_);
    pending_settings_ = std::move(copy);
    settings_pending_ = true;
  }
  command_wake_.Signal();
}

void Receiver_Server::Start() {
  if (thread_.joinable()) return;
  Raise_Open_File_Limit();
  Settings_Changed();
  stop_.store(false);
  timer_running_.store(true);
  timer_interval_.store(TICK_MS);
  timer_.Arm(TICK_MS);
  {
    Mutex_Lock lock(sync_mutex_);
    sync_stop_ = false;
  }
  sync_thread_ = std::thread([this] { Sync_Run(); });
  thread_ = std::thread([this] { Run(); });
  settings_watch_.start();
}

void Receiver_Server::Stop() {
  settings_watch_.stop();
  Call([this] {
    timer_running_.store(false);
    timer_.Disarm();
    Close_All();
    stop_.store(true);
  });
  if (thread_.joinable()) thread_.join();
  {
    Mutex_Lock lock(sync_mutex_);
    sync_stop_ = true;
  }
  sync_changed_.notify_all();
  if (sync_thread_.joinable()) sync_thread_.join();
  // The answers still waiting are gone with their connections, so the communicators send those
  // messages again: their slots are taken back (the retries are the only copies), and the
  // emptied slots are made durable.
  if (!syncing_.Empty() || !filling_.Empty()) {
    for (Batch* batch : {&syncing_, &filling_}) {
      journal_.Settle(batch->Slots.data(), batch->Tickets.data(), batch->Slots.size(), false);
      batch->Clear();
    }
    journal_.Sync_File();
    sync_busy_ = false;
  }
  objects_.Write_Pending();
  to_main_->Post(for_main_);
  to_main_->Drain();
}

void Receiver_Server::Reset_Timer_Interval() {
  Call([this] {
    timer_interval_.store(TICK_MS);
    if (timer_running_.load()) timer_.Arm(TICK_MS);
  });
}

void Receiver_Server::Close_Listener() {
  Call([this] { Close_All(); });
}

void Receiver_Server::Timer_DC9Timer() {
  Settings_Changed();
  Call([this] {
    timer_.Disarm();
    Tick();
  });
}

void Receiver_Server::Stop_Timer() {
  Call([this] {
    timer_running_.store(false);
    timer_.Disarm();
  });
}

Connection_Table Receiver_Server::Connections() {
  Connection_Table copy;
  Call([&] { copy = table_; });
  return copy;
}

void Receiver_Server::ServerSocket_DC9ClientError(int error_code) {
  // A connection aborted on this host is the receiver's own doing (or the system's) and no news
  // to the operator.
  if (error_code == ECONNABORTED) return;
  std::string text =
      "Receiver port error. " + std::to_string(error_code) + System_Error_Text(error_code);
  if (thread_.joinable() && std::this_thread::get_id() == thread_.get_id()) {
    Log(std::move(text), LOG_RED);
    return;
  }
  Call([&] { Log(std::move(text), LOG_RED); });
}

// ---- Receiver thread -----------------------------------------------------------------------

void Receiver_Server::Run() {
  constexpr int MAX_READY = 256;
  Poll_Loop::Ready ready[MAX_READY];
  while (!stop_.load()) {
    const int n = loop_.Wait(ready, MAX_READY, Linger_Timeout());
    loop_turns_.fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
      const Poll_Loop::Ready& r = ready[i];
      switch (r.Tag) {
        case TAG_COMMAND:
          command_wake_.Consume();
          Run_Commands();
          break;
        case TAG_SYNCED:
          sync_wake_.Consume();
          Sync_Finished();
          break;
        case TAG_TIMER:
          if (timer_.Consume()) Tick();
          break;
        case TAG_LISTENER:
          Accept_All();
          break;
        case TAG_UDP:
          Read_Datagrams();
          break;
        default: {
          const int fd = static_cast<int>(r.Tag);
          if (fd < 0 || static_cast<std::size_t>(fd) >= connections_by_fd_.size() ||
              connections_by_fd_[fd].Fd != fd) {
            break;  // closed earlier in this pass
          }
          if (r.Writable) Flush(fd);
          if (connections_by_fd_[fd].Fd != fd) break;
          if (r.Readable) {
            Read_From(fd);
          } else if (r.Failed) {
            Close_Connection(fd, Socket_Pending_Error(fd));
          }
          break;
        }
      }
      if (stop_.load()) break;
    }
    // Group commit: every slot written in this pass shares one sync, run while the next pass is
    // read; a sync under way takes this pass's slots with the next one.
    Commit_Or_Linger();
    to_main_->Post(for_main_);
  }
}

void Receiver_Server::Run_Commands() {
  std::deque<std::pair<const std::function<void()>*, bool*>> commands;
  bool adopt = false;
  {
    Mutex_Lock lock(command_mutex_);
    commands.swap(commands_);
    adopt = settings_pending_;
    settings_pending_ = false;
    if (adopt) settings_copy_ = std::move(pending_settings_);
  }
  for (auto& command : commands) (*command.first)();
  // What the commands left for the main thread is queued before they count as done.
  to_main_->Post(for_main_);
  if (commands.empty()) return;
  {
    Mutex_Lock lock(command_mutex_);
    for (auto& command : commands) *command.second = true;
  }
  command_done_.notify_all();
}

void Receiver_Server::Tick() {
  const bool running = timer_running_.load();
  timer_interval_.store(TICK_MS);

  if (!start_logged_) Log_Start_Line();
  Journal_Notice();  // a file the save pass made again
  for (std::string& line : unrecognised_log_.Flush(Log_Flood_Limiter::Clock::now()))
    Log(std::move(line), LOG_BLACK);

  if (settings_copy_.Port_Enable) {
    if (listen_fd_ >= 0) {
      Watch_Listener();  // watched again a second after descriptors ran out
      if (!settings_copy_.UDP_Enable) Close_Udp();
      std::string text =
          "Receiver port is open.  Connections: " + std::to_string(active_connections_.load());
      if (settings_copy_.Repeat_Window > 0) {
        text += "  Repeats: " + std::to_string(repeat_count_.load());
      }
      To_Main([this, text = std::move(text)] { operator_.Set_Status_Text(STATUS_RECEIVER, text); });
    } else {
      Open_Listener();
    }
  } else {
    if (listen_fd_ >= 0) {
      Close_All();
      Log("Port " + std::to_string(listen_port_) + " closed.", LOG_BLACK);
    }
    To_Main([this] { operator_.Set_Status_Text(STATUS_RECEIVER, "Receiver port closed."); });
  }

  std::vector<std::pair<std::string, int32_t>> expired;
  table_.Tick([&](std::string_view address, int32_t port) {
    expired.emplace_back(std::string(address), port);
  });
  if (!expired.empty() && active_connections_.load() > 0) {
    std::unordered_set<std::string> keys;
    for (const auto& [address, port] : expired) keys.insert(address + '|' + std::to_string(port));
    for (Connection& connection : connections_by_fd_) {
      if (connection.Fd < 0) continue;
      if (keys.count(connection.Address + '|' + std::to_string(connection.Port)) != 0) {
        Finish_Connection(connection);
      }
    }
  }

  if (running) timer_.Arm(timer_interval_.load());
}

void Receiver_Server::Log_Start_Line() {
  Log(Start_Line(), LOG_BLACK);
  if (!repair_objects_.empty()) Log(repair_objects_, LOG_BLACK);
  if (!repair_journal_.empty()) Log(repair_journal_, LOG_BLACK);
  repair_objects_.clear();
  repair_journal_.clear();
  start_logged_ = true;
}

void Receiver_Server::Open_Listener() {
  const int32_t port = settings_copy_.Port;
  Log("Opening receiver port " + std::to_string(port), LOG_BLACK);
  std::string failure;
  if (!Port_In_Range(port)) {
    // A number the port field cannot name would otherwise open another port.
    failure = "Invalid port number " + std::to_string(port);
  } else {
    Listen_Failure listen_failure;
    const int fd = Open_Listen_Socket(static_cast<uint16_t>(port), listen_failure);
    if (fd >= 0 && !loop_.Add(fd, TAG_LISTENER)) {
      listen_failure = {errno, "listen"};
      Socket_Close(fd);
    }
    if (!listen_failure.Api) {
      listen_fd_ = fd;
      listener_watched_ = true;
      if (spare_fd_ < 0) spare_fd_ = Open_Descriptor("/dev/null", O_RDONLY);
      listen_port_ = port;
      listening_port_.store(static_cast<uint16_t>(port));
      Note_Listen("");
      Log("Port " + std::to_string(port) + " is open.", LOG_BLACK);
      if (settings_copy_.UDP_Enable) Open_Udp(static_cast<uint16_t>(port));
      return;
    }
    failure = Listen_Failure_Text(listen_failure);
  }
  timer_interval_.store(RETRY_MS);
  Note_Listen(failure);
  Log(failure, LOG_RED);
  To_Main([this] { operator_.Beep(); });
}

void Receiver_Server::Close_All() {
  if (listen_fd_ >= 0) {
    if (listener_watched_) loop_.Remove(listen_fd_);
    listener_watched_ = false;
    Socket_Close(listen_fd_);
    listen_fd_ = -1;
    listening_port_.store(0);
  }
  Close_Descriptor(spare_fd_);
  spare_fd_ = -1;
  Close_Udp();
  for (Connection& connection : connections_by_fd_) {
    if (connection.Fd >= 0) Close_Connection(connection.Fd, 0);
  }
}

void Receiver_Server::Accept_All() {
  Accepted_Peer peer;
  int error = 0;
  while (listen_fd_ >= 0 && Accept_Connection(listen_fd_, peer, error)) {
    const auto fd = static_cast<std::size_t>(peer.Fd);
    if (fd >= connections_by_fd_.size()) connections_by_fd_.resize(fd + 64);
    Connection& connection = connections_by_fd_[fd];
    connection = Connection{};
    connection.Fd = peer.Fd;
    connection.Generation = next_generation_++;
    connection.Address = std::move(peer.Address);
    connection.Port = peer.Port;
    if (!loop_.Add(peer.Fd, static_cast<uint64_t>(peer.Fd))) {
      Socket_Close(peer.Fd);
      connection = Connection{};
      continue;
    }
    active_connections_.fetch_add(1);
    table_.Set_Countdown(connection.Address, connection.Port, SHORT_COUNTDOWN);
  }
  if (error == EMFILE || error == ENFILE) {
    Out_Of_Descriptors(error);
  } else if (error != 0 && error != ECONNABORTED) {
    // Another failure of accept: logged like any socket error; the pending connection is taken
    // at the next readiness.
    ServerSocket_DC9ClientError(error);
  }
}

void Receiver_Server::Out_Of_Descriptors(int error_code) {
  // While it lasts the cause is named once every few seconds, not at every pass.
  const auto now = std::chrono::steady_clock::now();
  if (!descriptor_error_logged_ || now - last_descriptor_error_ >= FILE_ERROR_REPEAT) {
    descriptor_error_logged_ = true;
    last_descriptor_error_ = now;
    ServerSocket_DC9ClientError(error_code);
  }
  // The level-triggered listener stays ready while a connection waits: the spare descriptor
  // makes room to take the newcomers and close them at once (they connect again later). The
  // listener is then left unwatched, and the spare's descriptor free (for the log line among
  // others), until a connection closes or the next tick.
  Close_Descriptor(spare_fd_);
  spare_fd_ = -1;
  Accepted_Peer peer;
  int error = 0;
  while (Accept_Connection(listen_fd_, peer, error)) Socket_Close(peer.Fd);
  if (listener_watched_) loop_.Remove(listen_fd_);
  listener_watched_ = false;
}

void Receiver_Server::Watch_Listener() {
  if (listen_fd_ < 0 || listener_watched_) return;
  if (spare_fd_ < 0) spare_fd_ = Open_Descriptor("/dev/null", O_RDONLY);
  listener_watched_ = loop_.Add(listen_fd_, TAG_LISTENER);
}

void Receiver_Server::Finish_Connection(Connection& connection) {
  if (connection.Waiting == 0 && connection.Out.empty()) {
    Close_Connection(connection.Fd, 0);
    return;
  }
  connection.Closing = true;
  loop_.Modify(connection.Fd, static_cast<uint64_t>(connection.Fd), !connection.Out.empty(), false);
}

void Receiver_Server::Close_If_Finished(int fd) {
  Connection& connection = connections_by_fd_[fd];
  if (connection.Fd == fd && connection.Closing && connection.Waiting == 0 &&
      connection.Out.empty()) {
    Close_Connection(fd, 0);
  }
}

void Receiver_Server::Close_Connection(int fd, int error_code) {
  Connection& connection = connections_by_fd_[fd];
  if (connection.Fd != fd) return;
  if (error_code != 0) ServerSocket_DC9ClientError(error_code);
  loop_.Remove(fd);
  Socket_Close(fd);
  connection = Connection{};
  active_connections_.fetch_sub(1);
  Watch_Listener();  // a descriptor is free again
}

void Receiver_Server::Read_From(int fd) {
  Connection& connection = connections_by_fd_[fd];
  // All waiting bytes with a NUL behind them (the parser works in place).
  const long got = Socket_Read(fd, read_buffer_.data(), READ_SIZE);
  if (got == -EAGAIN || got == -EWOULDBLOCK) return;
  if (got == 0) {
    // The peer's end of stream (it may still read): its waiting answers go out first.
    Finish_Connection(connection);
    return;
  }
  if (got < 0) {
    // A reset or another failure closes at once and is logged with its code.
    Close_Connection(fd, static_cast<int>(-got));
    return;
  }
  const auto size = static_cast<std::size_t>(got);
  read_buffer_[size] = '\0';

  Data_Log(read_buffer_.data());

  // A copy: answering may close the connection at once (a failed send), which clears it.
  const std::string address = connection.Address;
  const int32_t port = connection.Port;
  Event_Record record{};
  Extended_Data extended{};
  uint32_t sequence = 0;
  const Dc9_Aes_Config aes{settings_copy_.AES_Mode, settings_copy_.AES_Key};
  const Parse_Result result =
      Parse_DC9_Message(read_buffer_.data(), size, record, sequence, extended, aes);
  int32_t countdown = SHORT_COUNTDOWN;
  read_result_ = result;
  read_held_ = false;
  if (result == PARSE_UNRECOGNISED) {
    Log_Unrecognised(address, port);
  } else {
    countdown =
        Answer_And_Store(Reply_To{&connection, nullptr}, result, record, sequence, extended);
  }
  table_.Set_Countdown(address, port, countdown);
  if (!read_held_ && read_notices_.load()) To_Main([this, result] { emit Read_Handled(result); });
}

void Receiver_Server::Open_Udp(uint16_t port) {
  Listen_Failure failure;
  if (udp_.Open(port, failure)) {
    if (loop_.Add(udp_.Fd(), TAG_UDP)) {
      udp_open_.store(true);
      Log("UDP port " + std::to_string(port) + " is open.", LOG_BLACK);
      return;
    }
    failure = {errno, "epoll_ctl"};
    udp_.Close();
  }
  // The TCP listener stays open: only the UDP senders go unanswered.
  Log("UDP port " + std::to_string(port) + " not opened. " + Listen_Failure_Text(failure), LOG_RED);
  To_Main([this] { operator_.Beep(); });
}

void Receiver_Server::Close_Udp() {
  if (!udp_.Is_Open()) return;
  loop_.Remove(udp_.Fd());
  udp_.Close();
  udp_open_.store(false);
}

void Receiver_Server::Read_Datagrams() {
  // Bounded: the rest waits for the next pass, after the ready connections have had theirs.
  int taken = 0;
  while (udp_.Is_Open() && taken < UDP_PASS_LIMIT) {
    const int n = udp_.Receive();
    if (n <= 0) break;
    Datagram_Batch& batch = udp_.Batch();
    for (int i = 0; i < n && udp_.Is_Open(); ++i) {
      const std::size_t size = batch.Truncated(i) ? UDP_MESSAGE_LIMIT + 1 : batch.Size(i);
      Handle_Datagram(batch.Data(i), size, batch.Peer(i));
    }
    taken += n;
    if (n < UDP_BATCH) break;
  }
}

void Receiver_Server::Handle_Datagram(char* data, std::size_t size, const Datagram_Peer& peer) {
  Data_Log(data);
  Event_Record record{};
  Extended_Data extended{};
  uint32_t sequence = 0;
  const Dc9_Aes_Config aes{settings_copy_.AES_Mode, settings_copy_.AES_Key};
  // A datagram larger than a message is not read as one.
  const Parse_Result result = size > UDP_MESSAGE_LIMIT
                                  ? PARSE_UNRECOGNISED
                                  : Parse_DC9_Message(data, size, record, sequence, extended, aes);
  read_result_ = result;
  read_held_ = false;
  if (result == PARSE_UNRECOGNISED) {
    Log_Unrecognised(peer.Address, peer.Port);  // unanswered
  } else {
    Answer_And_Store(Reply_To{nullptr, &peer}, result, record, sequence, extended);
  }
  if (!read_held_ && read_notices_.load()) To_Main([this, result] { emit Read_Handled(result); });
}

int32_t Receiver_Server::Answer_And_Store(const Reply_To& to, Parse_Result result,
                                          Event_Record& record, uint32_t sequence,
                                          const Extended_Data& extended) {
  const std::string& address = to.Stream ? to.Stream->Address : to.Datagram->Address;
  if (address.size() < sizeof(record.IP_Address)) {
    std::memcpy(record.IP_Address, address.data(), address.size());
  }
  const int64_t now = clock_();
  const Response_Kind kind =
      Choose_Response_Kind(result, settings_copy_.Time_Synch, settings_copy_.AES_Mode);
  const bool accepted = kind == RESPONSE_ACK || kind == RESPONSE_AES_ACK;
  const int32_t timeout = settings_copy_.Conn_Timeout > 0 ? settings_copy_.Conn_Timeout : 0;

  // A repeat of the object's last stored message (a communicator that missed the answer sends the
  // same message with the same sequence number): answered as the first copy was, the object's
  // supervision refreshed as by a link test, but neither stored nor reported again.
  int64_t earlier = 0;
  if (accepted &&
      repeats_.Is_Repeat(record, sequence, extended, now, settings_copy_.Repeat_Window, earlier)) {
    const Dc9_Aes_Config aes{settings_copy_.AES_Mode, settings_copy_.AES_Key};
    std::string answer = Build_DC9_Response(kind, sequence, record, aes, now, pad_);
    record.Status = EVT_PRESENT;
    record.Time_Received = now;
    objects_.Update(record, extended);
    repeat_count_.fetch_add(1);
    Note_Answer(true);
    Data_Log_Repeat(earlier);
    Send_Or_Hold(to, std::move(answer));
    return timeout;
  }

  // While the automation link is on, an event that the ring cannot take without overwriting one
  // the automation software never got is not answered at all: the communicator then retries it,
  // whereas after an answer it would consider it delivered. A link test is answered (the object
  // stays supervised) but not stored. With the link off nobody takes events, so the ring takes
  // each new one over the oldest.
  const bool journal_full = accepted && settings_copy_.Link_On && journal_.Is_Full();
  const bool link_test = Is_Link_Test(record);
  if (journal_full && !link_test) {
    if (!journal_refusing_.exchange(true)) {
      Log(JOURNAL_FULL_TEXT, LOG_RED);
      To_Main([this] { operator_.Beep(); });
    }
    return SHORT_COUNTDOWN;
  }

  const Dc9_Aes_Config aes{settings_copy_.AES_Mode, settings_copy_.AES_Key};
  std::string answer = Build_DC9_Response(kind, sequence, record, aes, now, pad_);
  Note_Answer(accepted);
  if (!accepted) {
    Send_Or_Hold(to, std::move(answer));
    return SHORT_COUNTDOWN;
  }

  record.Status = EVT_PRESENT;
  record.Time_Received = now;
  // An answer held for the write-ahead leaves after the sync of its commit; the object's record
  // is written with the other records of that commit just before that sync (Sync_Run).
  const bool held = write_ahead_ && !journal_full;
  if (held) {
    objects_.Update_Later(record, extended);
  } else {
    objects_.Update(record, extended);
  }
  const bool remember = settings_copy_.Repeat_Window > 0;
  if (journal_full) {
    Send_Or_Hold(to, std::move(answer));  // a link test, not stored
  } else if (!write_ahead_) {
    journal_.Append(record);
    if (remember) repeats_.Remember(record, sequence, extended, now);
    Send_Or_Hold(to, std::move(answer));
    sync_.New_Event_Signal.Set();
    if (!link_test) sync_.Event_Stored.Set();
    if (stored_notice_) stored_notice_();
  } else {
    // The write-ahead: the answer waits for the sync of its batch, which first writes the
    // batch's slots (neighbours in one write) and the head, then makes them durable. A file that
    // cannot be written fails that sync: the batch is not answered and its slots are taken back.
    const Event_Journal::Written written = journal_.Append_Later(record);
    filling_.Slots.push_back(written.Slot);
    filling_.Tickets.push_back(written.Ticket);
    filling_.Has_Event = filling_.Has_Event || !link_test;
    // Remembered only once durable: a copy that comes after a failed sync is stored again.
    if (remember) filling_.Remember.push_back({record, sequence, extended});
    Hold(to, std::move(answer));
  }
  if (!journal_full && journal_refusing_.exchange(false)) Log(JOURNAL_ACCEPTS_TEXT, LOG_BLACK);
  // A negative timeout in the settings file would never count down to the close; it means the
  // same as 0: the receiver leaves the connection open.
  return timeout;
}

void Receiver_Server::Send_Or_Hold(const Reply_To& to, std::string bytes) {
  if (to.Datagram != nullptr) {
    udp_.Answer(udp_.Generation(), *to.Datagram, bytes);
    return;
  }
  // An answer never overtakes one of the same connection that waits for its sync.
  if (to.Stream->Waiting > 0) {
    Hold(to, std::move(bytes));
    return;
  }
  Send(*to.Stream, bytes.data(), bytes.size());
}

void Receiver_Server::Hold(const Reply_To& to, std::string bytes) {
  if (to.Datagram != nullptr) {
    filling_.Answers.push_back(
        {udp_.Fd(), udp_.Generation(), std::move(bytes), read_result_, true, *to.Datagram});
  } else {
    filling_.Answers.push_back(
        {to.Stream->Fd, to.Stream->Generation, std::move(bytes), read_result_});
    ++to.Stream->Waiting;
  }
  read_held_ = true;
}

void Receiver_Server::Send(Connection& connection, const char* data, std::size_t size) {
  if (!connection.Out.empty()) {
    connection.Out.append(data, size);
    return;
  }
  const long sent = Socket_Send(connection.Fd, data, size);
  if (sent == static_cast<long>(size)) return;
  if (sent < 0 && sent != -EAGAIN && sent != -EWOULDBLOCK) {
    Close_Connection(connection.Fd, static_cast<int>(-sent));
    return;
  }
  const std::size_t done = sent > 0 ? static_cast<std::size_t>(sent) : 0;
  connection.Out.assign(data + done, size - done);
  loop_.Modify(connection.Fd, static_cast<uint64_t>(connection.Fd), true, !connection.Closing);
}

void Receiver_Server::Flush(int fd) {
  Connection& connection = connections_by_fd_[fd];
  if (connection.Out.empty()) {
    loop_.Modify(fd, static_cast<uint64_t>(fd), false, !connection.Closing);
    return;
  }
  const long sent = Socket_Send(fd, connection.Out.data(), connection.Out.size());
  if (sent < 0 && sent != -EAGAIN && sent != -EWOULDBLOCK) {
    Close_Connection(fd, static_cast<int>(-sent));
    return;
  }
  if (sent > 0) connection.Out.erase(0, static_cast<std::size_t>(sent));
  if (connection.Out.empty()) {
    loop_.Modify(fd, static_cast<uint64_t>(fd), false, !connection.Closing);
    Close_If_Finished(fd);
  }
}
