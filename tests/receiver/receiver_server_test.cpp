// The receiver port end to end: real sockets on 127.0.0.1, real files in a temporary data folder.
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "automation/link_manager.h"
#include "base/socket_error.h"
#include "protocol/dc9_crypto.h"
#include "protocol/event_record.h"
#include "receiver_fixture.h"

namespace receiver_test {
namespace {

const std::string EXAMPLE_ACK = "\nD2770014\"ACK\"0001R1L1#1234[]\r";
const std::string SIA_DCS_DUH = "\n80B6000E\"DUH\"0000L0#[]\r";

std::string File_Bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

using Receiver_Port = Receiver_Fixture;

const uint8_t AES_KEY[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                             0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                             0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
const std::string FIXED_NOW_STAMP = "_12:30:00,06-15-2024";  // FIXED_NOW as UTC

// The example Contact ID message with its data encrypted by AES-256.
std::string Encrypted_Cid_Frame(const std::string& data = "#1234|1401 01 001]") {
  return Frame("\"*ADM-CID\"0001R1L1#1234[" +
               Encrypt_DC9_Data(3, AES_KEY, data, [] { return 11u; }));
}

TEST_F(Receiver_Port, ContactIdIsAcknowledgedStoredAndItsObjectKept) {
  Start();
  auto client = Connect();
  ASSERT_EQ(Cid_Frame(), "\nB5050029\"ADM-CID\"0001R1L1#1234[#1234|1401 01 001]\r");
  client->Send(Cid_Frame());
  EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
  ASSERT_TRUE(Wait_Until([&] { return core_->Journal().Head() == 1; }));

  // Written to the journal file and synced before the answer left: saved already.
  const Event_Record event = core_->Journal().Slot(0);
  EXPECT_EQ(event.Status, EVT_PRESENT | EVT_SAVED);
  EXPECT_EQ(Field_Text(event.Account_Nr), "1234");
  EXPECT_EQ(Field_Text(event.Event_Code), "1401");
  EXPECT_EQ(Field_Text(event.Group_Nr), "01");
  EXPECT_EQ(Field_Text(event.Zone_Nr), "001");
  EXPECT_EQ(event.Time_Received, FIXED_NOW);
  EXPECT_EQ(Field_Text(event.IP_Address), "127.0.0.1");
  EXPECT_EQ(event.Signal_Quality, 255);
  EXPECT_TRUE(core_->Sync().New_Event_Signal.Try_Take());

  ASSERT_EQ(core_->Objects().Count(), 1);
  const Object_Record object = core_->Objects().Record(0);
  EXPECT_EQ(Field_Text(object.Account_Nr), "1234");
  EXPECT_EQ(object.Last_Event_Time, FIXED_NOW);
  const std::string file = File_Bytes(folder_.File(OBJECT_FILE_NAME));
  ASSERT_EQ(file.size(), OBJECT_FILE_SIZE);
  EXPECT_EQ(std::memcmp(file.data(), &object, sizeof(object)), 0);

  EXPECT_EQ(Countdown_Of(*client), int{settings_.DC9_Conn_Timeout});
}

TEST_F(Receiver_Port, ExtendedDataAndTimeStampReachTheEventAndTheAnswer) {
  Start();
  auto client = Connect();
  client->Send(Frame("\"ADM-CID\"0007R1L1#1234[#1234|1401 01 001][Q25][B10.0.0.7]" +
                     std::string("_09:00:00,01-02-2024")));
  // The answer carries the receiver's own clock, not the message's time stamp.
  EXPECT_EQ(client->Answer(), Frame("\"ACK\"0007R1L1#1234[]" + FIXED_NOW_STAMP));
  ASSERT_TRUE(Wait_Until([&] { return core_->Journal().Head() == 1; }));
  const Event_Record event = core_->Journal().Slot(0);
  EXPECT_EQ(event.Time_Received, FIXED_NOW);
  EXPECT_EQ(Field_Text(event.IP_Address), "10.0.0.7");
  EXPECT_EQ(event.Signal_Quality, 25);
}

TEST_F(Receiver_Port, EncryptedMessageGetsAnEncryptedAckAndIsStored) {
  settings_.DC9_AES_Mode = 3;
  std::memcpy(settings_.DC9_AES_Key, AES_KEY, sizeof(AES_KEY));
  Start();
  auto client = Connect();
  client->Send(Encrypted_Cid_Frame());
  const std::string answer = client->Answer();
  const std::string head = "\"*ACK\"0001R1L1#1234[";
  ASSERT_EQ(answer.find(head), 9u) << answer;
  std::string hex = answer.substr(9 + head.size());
  ASSERT_EQ(hex.size(), 65u);  // two blocks as hexadecimal text, then CR
  EXPECT_EQ(answer, Frame(head + hex.substr(0, 64)));
  hex.pop_back();
  const char* plain = Decrypt_DC9_Data(3, AES_KEY, hex.data(), hex.size());
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(std::string(plain), "]" + FIXED_NOW_STAMP);

  ASSERT_TRUE(Wait_Until([&] { return core_->Journal().Head() == 1; }));
  EXPECT_EQ(Field_Text(core_->Journal().Slot(0).Event_Code), "1401");
  EXPECT_EQ(Countdown_Of(*client), int{settings_.DC9_Conn_Timeout});
}

TEST_F(Receiver_Port, TimeSynchronisationAnswersTheNakAndStoresNothing) {
  settings_.DC9_AES_Mode = 3;
  settings_.Time_Synch = 1;
  std::memcpy(settings_.DC9_AES_Key, AES_KEY, sizeof(AES_KEY));
  Start();
  auto client = Connect();
  client->Send(Encrypted_Cid_Frame());
  EXPECT_EQ(client->Answer(), Frame("\"NAK\"0000R0L0A0[]" + FIXED_NOW_STAMP));
  EXPECT_EQ(core_->Journal().Head(), 0u);
  EXPECT_EQ(core_->Objects().Count(), 0);
  EXPECT_EQ(Countdown_Of(*client), SHORT_COUNTDOWN);
}

TEST_F(Receiver_Port, SiaDcsIsRefusedWithTheExactDuhAndNothingStored) {
  Start();
  auto client = Connect();
  client->Send(Frame("\"SIA-DCS\"0002R1L1#1234[#1234|NRR01]"));
  EXPECT_EQ(client->Answer(), SIA_DCS_DUH);
  EXPECT_EQ(core_->Journal().Head(), 0u);
  EXPECT_EQ(core_->Objects().Count(), 0);
  EXPECT_EQ(Countdown_Of(*client), SHORT_COUNTDOWN);
}

TEST_F(Receiver_Port, PlainMessageIsRefusedWhileEncryptionIsConfigured) {
  settings_.DC9_AES_Mode = 3;
  Start();
  auto client = Connect();
  client->Send(Cid_Frame());
  const std::string answer = client->Answer();
  EXPECT_NE(answer.find("\"DUH\"0001R1L1#1234[]"), std::string::npos) << answer;
  EXPECT_EQ(core_->Journal().Head(), 0u);
}

TEST_F(Receiver_Port, UnrecognisedDataIsLoggedAndNotAnswered) {
  Start();
  auto client = Connect();
  Send_And_Wait(*client, "hello\r\n");
  EXPECT_EQ(client->Pending(), "");
  const auto lines = pane_.With("Unrecognised data received from IP: 127.0.0.1, port: " +
                                std::to_string(client->Local_Port()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Colour, LOG_BLACK);
  EXPECT_EQ(Countdown_Of(*client), SHORT_COUNTDOWN);
}

TEST_F(Receiver_Port, TwoFramesInOneReadAreAnsweredOnce) {
  Start();
  auto client = Connect();
  Send_And_Wait(*client, Cid_Frame("1234", 1) + Cid_Frame("5678", 2));
  EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
  EXPECT_EQ(client->Pending(), "");
  EXPECT_EQ(core_->Journal().Head(), 1u);
  EXPECT_EQ(core_->Objects().Count(), 1);
}

TEST_F(Receiver_Port, SplitFrameIsUnrecognisedAndItsRepeatWithinASecondLeftOut) {
  Start();
  auto client = Connect();
  const std::string frame = Cid_Frame();
  Send_And_Wait(*client, frame.substr(0, 20));
  Send_And_Wait(*client, frame.substr(20));
  EXPECT_EQ(client->Pending(), "");
  // Both halves are unrecognised; the second, within the same second, is left out of the log.
  EXPECT_EQ(pane_.With("Unrecognised data received from IP: 127.0.0.1").size(), 1u);
  EXPECT_EQ(core_->Journal().Head(), 0u);
  // Nothing more comes from that address: the ticks after its second still log the count left
  // out.
  EXPECT_TRUE(Wait_Until([&] {
    Server().Timer_DC9Timer();
    return !pane_.With("repeated 1 more times").empty();
  }));
}

TEST_F(Receiver_Port, DataLogShowsEachReadOnlyWhileVisible) {
  Start();
  auto client = Connect();
  Send_And_Wait(*client, Cid_Frame());
  EXPECT_TRUE(screen_.Data_Log.empty());
  screen_.Data_Log_Shown = true;
  Server().Settings_Changed();
  Send_And_Wait(*client, "abc");
  ASSERT_EQ(screen_.Data_Log.size(), 2u);
  EXPECT_EQ(screen_.Data_Log[0], "");
  // hh:mm:ss:ms, two spaces, the bytes.
  EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d:\\d{1,3}  abc$")
                  .match(QString::fromStdString(screen_.Data_Log[1]))
                  .hasMatch())
      << screen_.Data_Log[1];
}

TEST_F(Receiver_Port, IdlePeerIsClosedAtTheFifthTick) {
  Start();
  auto client = Connect();
  EXPECT_EQ(Countdown_Of(*client), SHORT_COUNTDOWN);
  for (int tick = 1; tick <= 4; ++tick) {
    Server().Timer_DC9Timer();
    EXPECT_FALSE(client->Closed_By_Peer(20)) << "tick " << tick;
  }
  Server().Timer_DC9Timer();
  EXPECT_TRUE(client->Closed_By_Peer());
  EXPECT_TRUE(Wait_Until([&] { return Server().Active_Connections() == 0; }));
}

TEST_F(Receiver_Port, AcknowledgedPeerGetsTheConnectionTimeoutAndEachMessageRestartsIt) {
  settings_.DC9_Conn_Timeout = 8;
  Start();
  auto client = Connect();
  client->Send(Cid_Frame());
  ASSERT_EQ(client->Answer(), EXAMPLE_ACK);
  EXPECT_EQ(Countdown_Of(*client), 8);
  for (int tick = 0; tick < 6; ++tick) Server().Timer_DC9Timer();
  client->Send(Cid_Frame());
  ASSERT_EQ(client->Answer(), EXAMPLE_ACK);
  EXPECT_EQ(Countdown_Of(*client), 8);
  for (int tick = 0; tick < 7; ++tick) Server().Timer_DC9Timer();
  EXPECT_FALSE(client->Closed_By_Peer(20));
  Server().Timer_DC9Timer();
  EXPECT_TRUE(client->Closed_By_Peer());
}

TEST_F(Receiver_Port, TimeoutZeroLeavesTheConnectionOpen) {
  settings_.DC9_Conn_Timeout = 0;
  Start();
  auto client = Connect();
  client->Send(Cid_Frame());
  ASSERT_EQ(client->Answer(), EXAMPLE_ACK);
  EXPECT_EQ(Countdown_Of(*client), -1);  // the slot is free
  for (int tick = 0; tick < 8; ++tick) Server().Timer_DC9Timer();
  EXPECT_FALSE(client->Closed_By_Peer(50));
  client->Send(Cid_Frame());
  EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
}

TEST_F(Receiver_Port, PeerCloseLogsNothingAndResetIsLoggedWithItsCode) {
  Start();
  auto closing = Connect();
  closing->Close();
  EXPECT_TRUE(Wait_Until([&] { return Server().Active_Connections() == 0; }));
  Server().Deliver_Pending();
  EXPECT_TRUE(pane_.With("Receiver port error").empty());

  auto resetting = Connect();
  Send_And_Wait(*resetting, Cid_Frame());
  ASSERT_EQ(resetting->Answer(), EXAMPLE_ACK);
  resetting->Reset();
  EXPECT_TRUE(Wait_Until([&] { return Server().Active_Connections() == 0; }));
  const std::string reset_line =
      "Receiver port error. " + std::to_string(ECONNRESET) + System_Error_Text(ECONNRESET);
  EXPECT_TRUE(Wait_Until([&] { return !pane_.With(reset_line).empty(); }));
  ASSERT_EQ(pane_.With("Receiver port error").size(), 1u);
  EXPECT_EQ(pane_.With(reset_line)[0].Colour, LOG_RED);
  // Closing the listener with its connections (a local abort) logs nothing either.
  auto local = Connect();
  Server().Close_Listener();
  EXPECT_TRUE(local->Closed_By_Peer());
  EXPECT_EQ(pane_.With("Receiver port error").size(), 1u);
}

TEST_F(Receiver_Port, SocketErrorsAreLoggedWithTheSystemTextExceptConnectionAborted) {
  Start();
  Server().ServerSocket_DC9ClientError(ECONNABORTED);
  EXPECT_TRUE(pane_.With("Receiver port error").empty());
  Server().ServerSocket_DC9ClientError(ETIMEDOUT);
  const auto lines = pane_.With("Receiver port error. " + std::to_string(ETIMEDOUT) +
                                System_Error_Text(ETIMEDOUT));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Colour, LOG_RED);
  EXPECT_EQ(System_Error_Text(ETIMEDOUT), std::strerror(ETIMEDOUT));
}

TEST_F(Receiver_Port, PortHeldByAnotherProgramIsRetriedEveryTenSeconds) {
  QTcpServer other;
  ASSERT_TRUE(other.listen(QHostAddress::Any));
  settings_.DC9_Port = other.serverPort();
  Start(false);
  const std::string port = std::to_string(other.serverPort());
  const std::string failure = "Windows socket error: " + System_Error_Text(EADDRINUSE) + " (" +
                              std::to_string(EADDRINUSE) + "), on API 'bind'";
  for (int attempt = 1; attempt <= 2; ++attempt) {
    Server().Timer_DC9Timer();
    EXPECT_FALSE(Server().Is_Active());
    EXPECT_EQ(Server().Timer_Interval(), 10000);
    EXPECT_EQ(pane_.With("Opening receiver port " + port).size(), static_cast<size_t>(attempt));
    const auto lines = pane_.With(failure);
    ASSERT_EQ(lines.size(), static_cast<size_t>(attempt));
    EXPECT_EQ(lines.back().Colour, LOG_RED);
    EXPECT_EQ(screen_.Beeps, attempt);
  }
  Server().Reset_Timer_Interval();  // the page's "Open"
  EXPECT_EQ(Server().Timer_Interval(), 1000);
  other.close();
  Server().Timer_DC9Timer();
  EXPECT_TRUE(Server().Is_Active());
  EXPECT_EQ(pane_.With("Port " + port + " is open.").size(), 1u);
}

TEST_F(Receiver_Port, StartLineThenRepairMessagesObjectsFirst) {
  std::ofstream(folder_.File(JOURNAL_FILE_NAME), std::ios::binary) << std::string(1000, 'x');
  std::ofstream(folder_.File(OBJECT_FILE_NAME), std::ios::binary) << std::string(10, 'x');
  Start(false);
  EXPECT_TRUE(pane_.Lines.empty());
  Server().Timer_DC9Timer();
  ASSERT_GE(pane_.Lines.size(), 3u);
  EXPECT_NE(pane_.Lines[0].Text.find("  Program started. Hostname of this computer: \""),
            std::string::npos);
  EXPECT_TRUE(QRegularExpression("\"  IP:\\d+\\.\\d+\\.\\d+\\.\\d+$")
                  .match(QString::fromStdString(pane_.Lines[0].Text))
                  .hasMatch())
      << pane_.Lines[0].Text;
  EXPECT_NE(pane_.Lines[1].Text.find("File " + folder_.File(OBJECT_FILE_NAME) +
                                     " size (10->880000) error, new file created."),
            std::string::npos);
  EXPECT_NE(pane_.Lines[2].Text.find("File " + folder_.File(JOURNAL_FILE_NAME) +
                                     " size (1000->327684) error, new file created."),
            std::string::npos);
  Server().Timer_DC9Timer();
  EXPECT_EQ(pane_.With("Program started.").size(), 1u);
  EXPECT_EQ(pane_.With("error, new file created.").size(), 2u);
}

TEST_F(Receiver_Port, SwitchingOffClosesListenerAndConnectionsAtTheNextTick) {
  Start();
  auto client = Connect();
  Server().Timer_DC9Timer();
  EXPECT_EQ(screen_.Receiver_Status(), "Receiver port is open.  Connections: 1");
  const std::string open_port = std::to_string(Server().Listening_Port());
  // The operator unticks "Open" and types another port before the tick: the line names the
  // port that was closed.
  core_->Settings().DC9_Port_Enable = 0;
  Server().Set_Port_Field_Text([] { return std::string("7777"); });
  Server().Timer_DC9Timer();
  EXPECT_FALSE(Server().Is_Active());
  EXPECT_EQ(pane_.With("Port " + open_port + " closed.").size(), 1u);
  EXPECT_TRUE(pane_.With("Port 7777 closed.").empty());
  EXPECT_EQ(screen_.Receiver_Status(), "Receiver port closed.");
  EXPECT_TRUE(client->Closed_By_Peer());
}

TEST_F(Receiver_Port, IPv4PeerOfTheDualStackListenerIsShownDotted) {
  Start();
  auto client = Connect();
  client->Send(Link_Test_Frame("77"));
  const std::string answer = client->Answer();
  EXPECT_NE(answer.find("\"ACK\"0000R0L0#77[]"), std::string::npos) << answer;
  ASSERT_EQ(core_->Objects().Count(), 1);
  EXPECT_EQ(Field_Text(core_->Objects().Record(0).IP_Address), "127.0.0.1");
}

// The ring holds 4096 events. While the automation link is on but no report has been taken, the
// 4097th Contact ID message would overwrite the oldest unreported event: it is not answered, so
// the communicator retries.
TEST_F(Receiver_Port, FullJournalLeavesContactIdUnansweredUntilEventsAreReported) {
  settings_.DC9_Conn_Timeout = 0;
  settings_.Out_Mode = 1;
  Start();
  core_->Link().Stop();  // the link stays closed: nobody takes the events
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(Connect());

  int acked = 0;
  int unanswered = 0;
  for (int n = 0; n < 4100; ++n) {
    Client& client = *clients[n % clients.size()];
    const std::string account = std::to_string(1000 + n % 50);
    Send_And_Wait(client, Cid_Frame(account, n % 10000));
    const std::string answer = client.Pending();
    if (answer.find("\"ACK\"") != std::string::npos) {
      ++acked;
    } else {
      ASSERT_EQ(answer, "") << "message " << n;
      ++unanswered;
    }
  }
  EXPECT_EQ(acked, JOURNAL_SLOTS);
  EXPECT_EQ(unanswered, 4);
  EXPECT_EQ(core_->Journal().Head(), 0u);
  EXPECT_EQ(Field_Text(core_->Journal().Slot(0).Account_Nr), "1000");  // the oldest is kept
  EXPECT_TRUE(Server().Journal_Refusing());
  EXPECT_EQ(Countdown_Of(*clients[0]), SHORT_COUNTDOWN);

  const auto full = pane_.With(
      "Event journal full, events are not answered until the automation software takes them.");
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].Colour, LOG_RED);
  EXPECT_EQ(screen_.Beeps, 1);

  // A link test is still answered and updates its object, but is not stored.
  Server().Set_Clock([] { return FIXED_NOW + 60; });
  clients[1]->Send(Link_Test_Frame("1001"));
  EXPECT_NE(clients[1]->Answer().find("\"ACK\"0000R0L0#1001[]"), std::string::npos);
  EXPECT_EQ(core_->Journal().Head(), 0u);
  bool link_test_seen = false;
  for (int i = 0; i < core_->Objects().Count(); ++i) {
    const Object_Record object = core_->Objects().Record(i);
    if (Field_Text(object.Account_Nr) == "1001") {
      link_test_seen =
          Field_Text(object.Event_Code) == "NULL" && object.Last_Event_Time == FIXED_NOW + 60;
    }
  }
  EXPECT_TRUE(link_test_seen);

  // The automation software takes the events: the refused messages are acknowledged when sent
  // again.
  ASSERT_EQ(core_->Journal().Save_New(core_->Sync().Run_Gate).Error, "");
  {
    Event_Journal::Status_Writer writer(core_->Journal());
    for (int k = 0; k < JOURNAL_SLOTS; ++k) ASSERT_EQ(writer.Save_Status(k), "");
  }
  for (int n = 4096; n < 4100; ++n) {
    Client& client = *clients[n % clients.size()];
    client.Send(Cid_Frame(std::to_string(1000 + n % 50), n));
    EXPECT_NE(client.Answer().find("\"ACK\""), std::string::npos) << n;
  }
  EXPECT_EQ(core_->Journal().Head(), 4u);
  EXPECT_FALSE(Server().Journal_Refusing());
  const auto again = pane_.With("Event journal accepts events again.");
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].Colour, LOG_BLACK);
  EXPECT_EQ(pane_.With("Event journal full").size(), 1u);
}

}  // namespace
}  // namespace receiver_test
