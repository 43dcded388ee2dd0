#include "automation/serial_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "automation/serial_port.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(Serial_Names, ComNumbers) {
  struct {
    const char* name;
    int number;
  } cases[] = {
      {"COM1", 1},  {"COM9", 9},  {"COM64", 64}, {"COM99", 99}, {"COM0", 0},
      {"COM01", 0}, {"com1", 0},  {"COM", 0},    {"COM1a", 0},  {"COM-1", 0},
      {"", 0},      {" COM1", 0}, {"COM+1", 0},  {"XCOM1", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(COM_Number(c.name), c.number) << c.name;
  EXPECT_EQ(COM_Name(3), "COM3");
  EXPECT_EQ(COM_Name(64), "COM64");
}

TEST(Serial_Names, FixedDevicesWhenTheDataFolderHasNoLink) {
  Temp_Folder data;
  struct {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM32", "/dev/ttyS31"},
      {"COM33", "/dev/ttyUSB0"},
      {"COM48", "/dev/ttyUSB15"},
      {"COM49", "/dev/ttyACM0"},
      {"COM64", "/dev/ttyACM15"},
      {"COM65", ""},
      {"COM0", ""},
      {"ttyS0", ""},
      {"", ""},
      {"../x", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(COM_Device_Path(data.Path(), c.name), c.path) << c.name;
  // The device folder is passed in; a folder without its slash gets one.
  EXPECT_EQ(COM_Device_Path(data.Path(), "COM2", "/tmp/devs"), "/tmp/devs/ttyS1");
}

TEST(Serial_Names, ALinkStandsForAPortWithoutADeviceAndOpens) {
  Temp_Folder data;
  Temp_Folder dev;  // the real ports: ttyS1 (COM2) only
  std::ofstream(dev.File("ttyS1")) << "x";
  Pty_Pair pty;
  fs::create_directory(data.File("ports"));
  fs::create_symlink(pty.Slave_Path(), data.File("ports/COM3"));
  fs::create_symlink(data.File("gone"), data.File("ports/COM4"));
  fs::create_symlink(pty.Slave_Path(), data.File("ports/COM70"));
  fs::create_symlink(pty.Slave_Path(), data.File("ports/COM2"));

  EXPECT_EQ(COM_Device_Path(data.Path(), "COM3", dev.Path()), data.File("ports/COM3"));
  // A dangling link is still the port's device: its open fails as missing.
  EXPECT_EQ(COM_Device_Path(data.Path(), "COM4", dev.Path()), data.File("ports/COM4"));
  EXPECT_EQ(COM_Device_Path(data.Path(), "COM70", dev.Path()), data.File("ports/COM70"));
  EXPECT_EQ(COM_Device_Path(data.Path(), "COM5", dev.Path()), dev.File("ttyS4"));
  // A link never hides a device that exists: a saved COM2 still opens the real port.
  EXPECT_EQ(COM_Device_Path(data.Path(), "COM2", dev.Path()), dev.File("ttyS1"));

  Serial_Port port;
  port.Set_Port_Name(COM_Device_Path(data.Path(), "COM3", dev.Path()));
  port.Open_Port();
  port.Write_Text("hello\x14");
  EXPECT_EQ(pty.Read_Master(6), "hello\x14");
  port.Close_Port();

  port.Set_Port_Name(COM_Device_Path(data.Path(), "COM4", dev.Path()));
  try {
    port.Open_Port();
    ADD_FAILURE() << "a dangling link opened";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.Error_Id, COMM_OPEN);
  }
}

TEST(Serial_Names, ScanListsThePortsThatAreFreeAtThatMoment) {
  Temp_Folder data;
  Temp_Folder dev;  // the fixed devices: only a plain file, which is no terminal
  std::ofstream(dev.File("ttyS1")) << "x";
  Pty_Pair free_pty, held_pty, other_pty;
  fs::create_directory(data.File("ports"));
  fs::create_symlink(free_pty.Slave_Path(), data.File("ports/COM3"));
  fs::create_symlink(held_pty.Slave_Path(), data.File("ports/COM5"));
  fs::create_symlink(data.File("gone"), data.File("ports/COM7"));
  fs::create_symlink("/dev/null", data.File("ports/COM9"));
  fs::create_symlink(other_pty.Slave_Path(), data.File("ports/COM64"));
  fs::create_symlink(other_pty.Slave_Path(), data.File("ports/COM65"));  // beyond the list

  Serial_Port holder;
  holder.Set_Port_Name(COM_Device_Path(data.Path(), "COM5"));
  holder.Open_Port();
  EXPECT_EQ(Com_Ports_Scan(data.Path(), dev.Path()), (std::vector<std::string>{"COM3", "COM64"}));

  // The scan leaves the ports as they were: a listed port opens, the held one stays held.
  Serial_Port port;
  port.Set_Port_Name(COM_Device_Path(data.Path(), "COM3"));
  port.Open_Port();
  EXPECT_TRUE(holder.Is_Open());
  EXPECT_EQ(Com_Ports_Scan(data.Path(), dev.Path()), (std::vector<std::string>{"COM64"}));

  port.Close_Port();
  holder.Close_Port();
  EXPECT_EQ(Com_Ports_Scan(data.Path(), dev.Path()),
            (std::vector<std::string>{"COM3", "COM5", "COM64"}));
}

TEST(Serial_Names, ChoiceFromTheList) {
  const std::vector<std::string> ports = {"COM3", "COM5", "COM5"};
  struct {
    std::vector<std::string> ports;
    const char* com_name;
    const char* new_name;
    int selected;
  } cases[] = {
      {ports, "", "COM3", 0},       // no configured port: the first free one becomes it
      {ports, "COM5", "COM5", 1},   // the first equal entry
      {ports, "COM4", "COM4", -1},  // busy or missing: nothing selected, the name is kept
      {{}, "", "", -1},
      {{}, "COM1", "COM1", -1},
  };
  for (const auto& c : cases) {
    const Com_Port_Choice choice = Choose_Com_Port(c.ports, c.com_name);
    EXPECT_EQ(choice.COM_Name, c.new_name) << c.com_name;
    EXPECT_EQ(choice.Selected, c.selected) << c.com_name;
  }
}

}  // namespace
