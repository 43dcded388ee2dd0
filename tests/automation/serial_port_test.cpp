#include "automation/serial_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "support/pty_pair.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

// Runs `operation` and returns the Error_Id it threw (0 when it threw nothing).
template <typename F>
int32_t Error_Of(F&& operation, int32_t* system_error = nullptr) {
  try {
    operation();
  } catch (const ECommError& e) {
    if (system_error) *system_error = e.System_Error;
    return e.Error_Id;
  }
  return 0;
}

class Serial_Port_Test : public ::testing::Test {
 protected:
  void Open() {
    port_.Set_Port_Name(pty_.Slave_Path());
    port_.Open_Port();
    ASSERT_TRUE(port_.Is_Open());
  }

  Pty_Pair pty_;
  Serial_Port port_;
};

TEST_F(Serial_Port_Test, StartsClosedWithTheDefaultSettings) {
  EXPECT_FALSE(port_.Is_Open());
  EXPECT_EQ(port_.Port_Name(), "COM1");
  EXPECT_EQ(port_.Line_Settings(), (Serial_Line_Settings{9600, 8, PARITY_NONE, STOP_BITS_ONE}));
  const Serial_Timeouts t = port_.Timeouts();
  EXPECT_EQ(t.Read_Interval, 15u);
  EXPECT_EQ(t.Read_Total_Per_Byte, 10u);
  EXPECT_EQ(t.Read_Total_Constant, 250u);
  EXPECT_EQ(t.Write_Total_Per_Byte, 10u);
  EXPECT_EQ(t.Write_Total_Constant, 250u);
}

TEST_F(Serial_Port_Test, LineBytesPassUnchangedBothWays) {
  Open();
  // Every byte a line or an answer can hold passes raw: no CR/LF mapping, no XON/XOFF, no echo.
  const std::string line = std::string("5011 181234E13001015\r\n\x11\x13\x7f\xff", 26) + '\x14';
  port_.Write_Text(line);
  EXPECT_EQ(pty_.Read_Master(line.size()), line);

  const std::string answers("\x06\r\n\x11\x13\x03\x15", 7);
  pty_.Write_Master(answers);
  ASSERT_TRUE(
      Wait_Until([&] { return port_.Bytes_Waiting() >= static_cast<int>(answers.size()); }, 5s));
  std::string got;
  for (std::size_t i = 0; i < answers.size(); ++i) got.push_back(char(port_.Read_Byte()));
  EXPECT_EQ(got, answers);
  EXPECT_EQ(port_.Bytes_Waiting(), 0);
  EXPECT_EQ(port_.Read_Byte(), -1);  // time-out: no byte, and no answer either
  // Nothing came back to the other end: the line does not echo.
  EXPECT_EQ(pty_.Read_Master(1, 50ms), "");
}

TEST_F(Serial_Port_Test, WriteStopsAtTheNul) {
  Open();
  port_.Write_Text(std::string_view("AB\0CD", 5));
  port_.Write_Text("E");
  EXPECT_EQ(pty_.Read_Master(3), "ABE");
}

TEST_F(Serial_Port_Test, OperationsOfAClosedPortFailWithNotOpen) {
  EXPECT_EQ(Error_Of([&] { port_.Write_Text("x"); }), COMM_NOT_OPEN);
  EXPECT_EQ(Error_Of([&] { port_.Bytes_Waiting(); }), COMM_NOT_OPEN);
  EXPECT_EQ(Error_Of([&] { port_.Read_Byte(); }), COMM_NOT_OPEN);
  EXPECT_EQ(Error_Of([&] { port_.Close_Port(); }), 0);
  Open();
  port_.Close_Port();
  EXPECT_FALSE(port_.Is_Open());
  EXPECT_EQ(Error_Of([&] { port_.Write_Text("x"); }), COMM_NOT_OPEN);
  EXPECT_EQ(Error_Of([&] { port_.Close_Port(); }), 0);
}

TEST_F(Serial_Port_Test, OpenTwiceAndNameWhileOpen) {
  Open();
  EXPECT_EQ(Error_Of([&] { port_.Open_Port(); }), 0);
  EXPECT_EQ(Error_Of([&] { port_.Set_Port_Name("/dev/null"); }), COMM_NAME_WHILE_OPEN);
  EXPECT_EQ(port_.Port_Name(), pty_.Slave_Path());
  port_.Close_Port();
  port_.Set_Port_Name("COM3");
  EXPECT_EQ(port_.Port_Name(), "COM3");
}

TEST_F(Serial_Port_Test, MissingOrHeldDeviceFailsToOpenWithEight) {
  Temp_Folder folder;
  int32_t system_error = 0;
  port_.Set_Port_Name(folder.File("no-such-device"));
  EXPECT_EQ(Error_Of([&] { port_.Open_Port(); }, &system_error), COMM_OPEN);
  EXPECT_EQ(system_error, ENOENT);
  EXPECT_FALSE(port_.Is_Open());
  port_.Set_Port_Name("");
  EXPECT_EQ(Error_Of([&] { port_.Open_Port(); }), COMM_OPEN);

  Open();
  Serial_Port other;
  other.Set_Port_Name(pty_.Slave_Path());
  EXPECT_EQ(Error_Of([&] { other.Open_Port(); }), COMM_OPEN);
  EXPECT_FALSE(other.Is_Open());

  // Once released, the device opens again (the exclusive mark went with the close).
  port_.Close_Port();
  EXPECT_EQ(Error_Of([&] { other.Open_Port(); }), 0);
  EXPECT_TRUE(other.Is_Open());
  EXPECT_EQ(Error_Of([&] { port_.Open_Port(); }), COMM_OPEN);
}

TEST_F(Serial_Port_Test, ADeviceThatIsNoTerminalFailsReadingItsSettings) {
  Temp_Folder folder;
  std::ofstream(folder.File("plain")) << "x";
  port_.Set_Port_Name(folder.File("plain"));
  int32_t system_error = 0;
  EXPECT_EQ(Error_Of([&] { port_.Open_Port(); }, &system_error), COMM_GET_SETTINGS);
  EXPECT_EQ(system_error, ENOTTY);
  EXPECT_FALSE(port_.Is_Open());
}

TEST_F(Serial_Port_Test, ARateWithoutTermiosFormFailsTheOpenAndLeavesThePortClosed) {
  port_.Set_Baud_Rate(14400);  // stored while closed
  EXPECT_EQ(port_.Line_Settings().Baud_Rate, 14400);
  port_.Set_Port_Name(pty_.Slave_Path());
  int32_t system_error = 0;
  EXPECT_EQ(Error_Of([&] { port_.Open_Port(); }, &system_error), COMM_APPLY_SETTINGS);
  EXPECT_EQ(system_error, EINVAL);
  EXPECT_FALSE(port_.Is_Open());
  // The failed open released the device.
  Serial_Port other;
  other.Set_Port_Name(pty_.Slave_Path());
  EXPECT_EQ(Error_Of([&] { other.Open_Port(); }), 0);
}

TEST_F(Serial_Port_Test, AFailedSettingChangeWhileOpenKeepsThePreviousValue) {
  Open();
  const Serial_Line_Settings before = port_.Line_Settings();
  struct {
    void (*change)(Serial_Port&);
    int32_t error_id;
  } cases[] = {
      {[](Serial_Port& p) { p.Set_Baud_Rate(14400); }, COMM_SET_BAUD_RATE},
      {[](Serial_Port& p) { p.Set_Stop_Bits(STOP_BITS_ONE_AND_HALF); }, COMM_SET_STOP_BITS},
      {[](Serial_Port& p) { p.Set_Parity(9); }, COMM_SET_PARITY},
      {[](Serial_Port& p) { p.Set_Byte_Size(9); }, COMM_SET_BYTE_SIZE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Error_Of([&] { c.change(port_); }), c.error_id);
    EXPECT_EQ(port_.Line_Settings(), before);
    EXPECT_TRUE(port_.Is_Open());
  }
  port_.Set_Baud_Rate(115200);  // a usable change takes effect at once
  EXPECT_EQ(port_.Line_Settings().Baud_Rate, 115200);
  port_.Write_Text("ok");
  EXPECT_EQ(pty_.Read_Master(2), "ok");
}

TEST_F(Serial_Port_Test, WritingToAHungUpLineFailsWithNine) {
  Open();
  pty_.Close_Master();
  int32_t system_error = 0;
  EXPECT_EQ(Error_Of([&] { port_.Write_Text("x"); }, &system_error), COMM_WRITE);
  EXPECT_EQ(system_error, EIO);
  EXPECT_EQ(Error_Of([&] { port_.Bytes_Waiting(); }), COMM_BYTES_WAITING);
  port_.Close_Port();
}

TEST_F(Serial_Port_Test, AWriteToAPeerThatNeverReadsEndsWithinItsTimeOut) {
  Open();
  // Fill the line until the output queue is full; a write then drops its rest after at most
  // 250 ms + 10 ms per byte instead of blocking the sender (and a close) for good.
  const std::string line(20, 'x');
  bool stalled = false;
  for (int i = 0; i < 100000 && !stalled; ++i) {
    const auto start = std::chrono::steady_clock::now();
    port_.Write_Text(line);
    stalled = std::chrono::steady_clock::now() - start >= 200ms;
  }
  EXPECT_TRUE(stalled);
  port_.Close_Port();
  EXPECT_FALSE(port_.Is_Open());
}

// Closing on the main thread while a sender writes and a receiver reads: with the port's lock
// the other threads see "not open" (7) and never a failure on a stale or reused descriptor.
TEST_F(Serial_Port_Test, CloseWhileOtherThreadsWriteAndRead) {
  std::atomic<bool> stop{false};
  std::mutex errors_mutex;
  std::set<int32_t> errors;
  auto note = [&](const ECommError& e) {
    std::lock_guard lock(errors_mutex);
    errors.insert(e.Error_Id);
  };
  std::thread drain([&] {  // the automation software: reads the lines, answers each with ACK
    while (!stop) {
      for (char c : pty_.Read_Master(4096, 5ms)) {
        if (c == '\x14') (void)::write(pty_.Master(), "\x06", 1);  // dropped when refused
      }
    }
  });
  std::atomic<int> written{0};
  std::thread sender([&] {
    while (!stop) {
      try {
        port_.Write_Text("5011 181234E13001015\x14");
        ++written;
      } catch (const ECommError& e) {
        note(e);
      }
      std::this_thread::yield();
    }
  });
  std::atomic<int> answers{0};
  std::thread receiver([&] {
    while (!stop) {
      try {
        if (port_.Is_Open() && port_.Bytes_Waiting() > 0 && port_.Read_Byte() == 0x06) ++answers;
      } catch (const ECommError& e) {
        note(e);
      }
      std::this_thread::yield();
    }
  });

  port_.Set_Port_Name(pty_.Slave_Path());
  for (int round = 0; round < 20; ++round) {
    port_.Open_Port();
    const int written_before = written;
    const int answers_before = answers;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while ((written < written_before + 3 || answers == answers_before) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    port_.Close_Port();
  }
  stop = true;
  sender.join();
  receiver.join();
  drain.join();

  EXPECT_GE(written, 60);
  EXPECT_GE(answers, 20);
  for (int32_t id : errors) EXPECT_EQ(id, COMM_NOT_OPEN);
}

}  // namespace
