// The automation side of the receiver assembled for end-to-end tests: settings, shared objects,
// journal and object table in a temporary data folder, and the program's own Automation_Link
// (serial port with its receive thread, link manager, report sender), all reporting to a
// Recording_Screen. Worker hand-overs reach the test's main thread through Main_Hand_Over, served
// while the test waits.
#pragma once

#include <QCoreApplication>
#include <QTcpServer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "automation/automation_link.h"
#include "base/main_hand_over.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "store/event_journal.h"
#include "store/object_table.h"
#include "support/example_event.h"
#include "support/qt_app.h"
#include "support/recording_screen.h"
#include "support/temp_folder.h"
#include "support/wait.h"

namespace automation_test {

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int Free_Tcp_Port() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

inline const std::string HEARTBEAT_1 =
    std::string("101000") + std::string(11, ' ') + "@" + std::string(4, ' ') + "\x14";

struct Link_Fixture {
  Link_Fixture() {
    settings.Out_Mode = 0;
    settings.Out_Port = Free_Tcp_Port();
    settings.HB_Period = 30;
    journal.Load();
    objects.Load();
  }
  ~Link_Fixture() { Shut_Down(); }

  // Starts the worker threads (the link manager's timer is driven by the tests).
  void Start_Workers() { automation.Start_Workers(); }
  // The shutdown of the program's automation link; true when both workers ended.
  bool Shut_Down() { return automation.Stop(std::chrono::milliseconds(5000)); }

  // Ticks the link manager until `condition` holds (at most `ticks` ticks, events served between).
  bool Tick_Until(const std::function<bool()>& condition, int ticks = 20) {
    for (int i = 0; i < ticks; ++i) {
      link.Timer_OutTimer();
      if (Wait_Until(condition, std::chrono::milliseconds(200))) return true;
    }
    return false;
  }

  // The journal file's Status byte of slot k.
  int File_Status(int k) const {
    FILE* file = std::fopen(journal.Path().c_str(), "rb");
    if (file == nullptr) return -1;
    std::fseek(file, static_cast<long>(Journal_Slot_Offset(k)), SEEK_SET);
    const int status = std::fgetc(file);
    std::fclose(file);
    return status;
  }

  // First: the application (and so the main thread's event dispatcher) exists before any member.
  QCoreApplication& app = Test_Core_App();
  Temp_Folder folder;
  Settings_Record settings = Settings_Defaults();
  Shared_Sync sync;
  Event_Journal journal{folder.File(JOURNAL_FILE_NAME)};
  Object_Table objects{folder.File(OBJECT_FILE_NAME), sync.Object_Table_Lock};
  Recording_Screen screen;
  Main_Hand_Over hand_over;  // created on the main thread, which runs the hand-overs
  Automation_Link automation{settings, sync, journal, objects, screen, folder.Path(), hand_over};
  Serial_Port& serial = automation.Serial();
  Link_Manager& link = automation.Link();
  Report_Sender& sender = automation.Sender();
};

}  // namespace automation_test
