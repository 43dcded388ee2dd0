#include "automation/serial_termios.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

// A termios as a device might report it: cooked, echoing, with flow control and modem control.
termios Cooked() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXOFF | BRKINT | ISTRIP | INPCK | IMAXBEL | IUTF8;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 5;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

struct Line_Case {
  Serial_Line_Settings settings;
  speed_t speed;
  tcflag_t size;
  tcflag_t parity;  // PARENB | PARODD | CMSPAR bits
  bool two_stop_bits;
};

const Line_Case LINE_CASES[] = {
    {{9600, 8, PARITY_NONE, STOP_BITS_ONE}, B9600, CS8, 0, false},
    {{115200, 8, PARITY_NONE, STOP_BITS_ONE}, B115200, CS8, 0, false},
    {{1200, 7, PARITY_EVEN, STOP_BITS_ONE}, B1200, CS7, PARENB, false},
    {{2400, 7, PARITY_ODD, STOP_BITS_TWO}, B2400, CS7, PARENB | PARODD, true},
    {{4800, 6, PARITY_MARK, STOP_BITS_ONE}, B4800, CS6, PARENB | PARODD | CMSPAR, false},
    {{57600, 5, PARITY_SPACE, STOP_BITS_TWO}, B57600, CS5, PARENB | CMSPAR, true},
};

TEST(Serial_Termios, LineSettingsGiveTheirFlagsAndARawLine) {
  for (const auto& c : LINE_CASES) {
    termios t = Cooked();
    ASSERT_EQ(Settings_To_Termios(c.settings, t), 0) << c.settings.Baud_Rate;
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop_bits);
    // Raw and free of handshakes whatever the device reported before.
    EXPECT_EQ(t.c_cflag & (CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | BRKINT | ISTRIP | INPCK | IMAXBEL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // A flag the line does not care about is kept as the device had it.
    EXPECT_NE(t.c_iflag & IUTF8, 0u);

    Serial_Line_Settings back;
    ASSERT_TRUE(Termios_To_Settings(t, back));
    EXPECT_EQ(back, c.settings);
  }
}

TEST(Serial_Termios, SettingsWithoutTermiosFormAreRefusedAndLeaveTheTermiosAlone) {
  const Serial_Line_Settings refused[] = {
      {14400, 8, PARITY_NONE, STOP_BITS_ONE},         {0, 8, PARITY_NONE, STOP_BITS_ONE},
      {-9600, 8, PARITY_NONE, STOP_BITS_ONE},         {9600, 9, PARITY_NONE, STOP_BITS_ONE},
      {9600, 4, PARITY_NONE, STOP_BITS_ONE},          {9600, 8, 5, STOP_BITS_ONE},
      {9600, 8, PARITY_NONE, STOP_BITS_ONE_AND_HALF}, {9600, 8, PARITY_NONE, 3},
  };
  for (const auto& s : refused) {
    termios t = Cooked();
    const termios before = t;
    EXPECT_EQ(Settings_To_Termios(s, t), EINVAL) << s.Baud_Rate << " " << int(s.Byte_Size) << " "
                                                 << int(s.Parity) << " " << int(s.Stop_Bits);
    EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
  }
}

TEST(Serial_Termios, EveryRateOfTheTableRoundTrips) {
  for (const auto& b : BAUD_SPEEDS) {
    termios t = Cooked();
    ASSERT_EQ(Settings_To_Termios({b.Rate, 8, PARITY_NONE, STOP_BITS_ONE}, t), 0) << b.Rate;
    EXPECT_EQ(cfgetospeed(&t), b.Speed);
    EXPECT_EQ(Speed_To_Baud(b.Speed), b.Rate);
    Serial_Line_Settings back;
    ASSERT_TRUE(Termios_To_Settings(t, back));
    EXPECT_EQ(back.Baud_Rate, b.Rate);
  }
  EXPECT_EQ(Speed_To_Baud(B0), -1);
}

}  // namespace
