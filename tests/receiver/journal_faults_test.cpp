// The receiver and the journal file under faults, end to end: an answer that waits for its sync
// outlives the connection's end of stream and its countdown; a failed sync leaves no copy of the
// unanswered message; a deleted or renamed journal file is made again; a process out of
// descriptors neither spins nor floods the log. Real sockets on 127.0.0.1, real files in a
// temporary data folder, the real receiver thread.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "base/raw_file.h"
#include "base/socket_error.h"
#include "receiver_fixture.h"
#include "store/test_files.h"

namespace receiver_test {
namespace {

const std::string EXAMPLE_ACK = "\nD2770014\"ACK\"0001R1L1#1234[]\r";

using Journal_Faults = Receiver_Fixture;

// Holds the journal's sync until released.
class Held_Sync {
 public:
  explicit Held_Sync(Event_Journal& journal) : journal_(journal) {
    journal_.Set_Sync_Hook([this] {
      std::unique_lock lock(mutex_);
      syncing_ = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return released_; });
    });
  }
  ~Held_Sync() {
    Release();
    journal_.Set_Sync_Hook({});
  }
  bool Wait_Syncing() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return syncing_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  Event_Journal& journal_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool syncing_ = false;
  bool released_ = false;
};

// The communicator's end of stream, or the countdown running out, while the answer waits for
// the sync: the answer still leaves, then the receiver closes the connection.
TEST_F(Journal_Faults, AnswerWaitingForItsSyncOutlivesEndOfStreamAndCountdown) {
  for (const bool half_close : {true, false}) {
    SCOPED_TRACE(half_close ? "end of stream" : "countdown 1");
    core_.reset();
    settings_.DC9_Conn_Timeout = half_close ? 30 : 1;
    Start();
    auto held = std::make_unique<Held_Sync>(core_->Journal());
    auto client = Connect();
    client->Send(Cid_Frame());
    ASSERT_TRUE(held->Wait_Syncing());
    std::unique_ptr<Client> other;
    if (half_close) {
      client->Shut_Write();
      // A read on another connection, handled in the pass that sees the end of stream or later.
      other = Connect();
      Send_And_Wait(*other, "not a message");
    } else {
      Server().Timer_DC9Timer();  // the countdown of 1 runs out
    }
    EXPECT_EQ(Server().Active_Connections(), half_close ? 2 : 1);
    held->Release();
    EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
    EXPECT_TRUE(client->Closed_By_Peer());
    held.reset();
  }
}

// Counts the slots of a journal image that hold an event of `account`.
int Copies_In_File(const std::string& image, const std::string& account) {
  int copies = 0;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    Event_Record r;
    std::memcpy(&r, image.data() + Journal_Slot_Offset(k), sizeof r);
    if (r.Status != 0 && Field_Text(r.Account_Nr) == account) ++copies;
  }
  return copies;
}

// A sync that fails: the message is not answered and leaves no copy behind, in memory or in the
// file, so that the communicator's retry is the one event stored and reported.
TEST_F(Journal_Faults, MessageWhoseSyncFailedIsNeitherAnsweredNorKept) {
  Start();
  std::atomic<int> failures{1};
  core_->Journal().Set_Sync_Failure_Hook([&] { return failures.exchange(0) != 0 ? EIO : 0; });
  auto client = Connect();
  client->Send(Cid_Frame("1234", 1));
  const std::string error_line = "Disk write error. " + Error_Text(EIO);
  ASSERT_TRUE(Wait_Until([&] { return !pane_.With(error_line).empty(); }));
  EXPECT_EQ(client->Pending(), "");

  client->Send(Cid_Frame("1234", 2));
  EXPECT_EQ(client->Answer(), Frame("\"ACK\"0002R1L1#1234[]"));
  // The save pass as the report sender runs it: nothing of the first message is left to save.
  Manual_Reset_Event open_gate(true);
  core_->Journal().Save_New(open_gate);
  int in_memory = 0;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    const Event_Record r = core_->Journal().Slot(k);
    if (r.Status != 0 && Field_Text(r.Account_Nr) == "1234") ++in_memory;
  }
  EXPECT_EQ(in_memory, 1);
  EXPECT_EQ(Copies_In_File(Read_Bytes(folder_.File(JOURNAL_FILE_NAME)), "1234"), 1);
  core_->Journal().Set_Sync_Failure_Hook({});
}

// "dorvex.dat" deleted or renamed away while running: the next message makes it again with the
// whole ring, a red line is logged, and answering goes on.
TEST_F(Journal_Faults, DeletedOrRenamedJournalFileIsMadeAgain) {
  for (const bool rename : {false, true}) {
    SCOPED_TRACE(rename ? "renamed away" : "deleted");
    core_.reset();
    pane_.Lines.clear();
    const std::string path = folder_.File(JOURNAL_FILE_NAME);
    std::remove(path.c_str());
    Start();
    auto client = Connect();
    client->Send(Cid_Frame("1234", 1));
    ASSERT_EQ(client->Answer(), EXAMPLE_ACK);
    if (rename) {
      ASSERT_EQ(std::rename(path.c_str(), (path + ".away").c_str()), 0);
    } else {
      ASSERT_EQ(::unlink(path.c_str()), 0);
    }
    client->Send(Cid_Frame("5678", 2));
    EXPECT_EQ(client->Answer(), Frame("\"ACK\"0002R1L1#5678[]"));
    const std::string image = Read_Bytes(path);
    ASSERT_EQ(image.size(), JOURNAL_FILE_SIZE);
    uint32_t head;
    std::memcpy(&head, image.data(), 4);
    EXPECT_EQ(head, 2u);
    EXPECT_EQ(Copies_In_File(image, "1234"), 1);  // the ring written back whole
    EXPECT_EQ(Copies_In_File(image, "5678"), 1);
    const std::string made_again = "File " + path + " was missing or replaced";
    ASSERT_TRUE(Wait_Until([&] { return !pane_.With(made_again).empty(); }));
    Server().Deliver_Pending();
    const auto lines = pane_.With(made_again);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Colour, LOG_RED);
    std::remove((path + ".away").c_str());
  }
}

// Out of descriptors: the newcomers are taken and closed at once and the listener rests until
// the next tick (it does not stay ready), and the cause is logged once, not at every pass.
TEST_F(Journal_Faults, OutOfDescriptorsShedsNewcomersAndLogsTheCauseOnce) {
  Start();
  // The clients' sockets exist before the limit is lowered; only the receiver's accepts need
  // new descriptors, and exactly one is left below the limit.
  int sockets[3];
  for (int& fd : sockets) fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  ::close(probe);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit lowered = before;
  lowered.rlim_cur = static_cast<rlim_t>(probe) + 1;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(Port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto connect_one = [&](int fd) {
    return ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  };
  // While the limit is lowered the waits stay off the Qt event loop and the sanitizers'
  // run-time, which may need a descriptor of their own: a plain poll with a deadline.
  auto plain_wait = [](auto condition) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= until) return false;
      ::poll(nullptr, 0, 1);
    }
    return true;
  };
  auto closed_by_peer = [&](int fd) {
    return plain_wait([&] {
      char byte;
      return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
    });
  };
  EXPECT_TRUE(connect_one(sockets[0]));
  EXPECT_TRUE(plain_wait([&] { return Server().Active_Connections() == 1; }));
  // After a shed the listener rests until the next tick (or a closed connection), so a tick
  // follows each newcomer.
  for (const int fd : {sockets[1], sockets[2]}) {
    EXPECT_TRUE(connect_one(fd));
    Server().Timer_DC9Timer();
    EXPECT_TRUE(closed_by_peer(fd));
  }
  EXPECT_EQ(Server().Active_Connections(), 1);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);

  const std::string cause = "Receiver port error. 24" + System_Error_Text(EMFILE);
  ASSERT_TRUE(Wait_Until([&] { return !pane_.With(cause).empty(); }));
  Server().Deliver_Pending();
  const auto lines = pane_.With(cause);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Colour, LOG_RED);
  for (const int fd : sockets) ::close(fd);
}

}  // namespace
}  // namespace receiver_test
