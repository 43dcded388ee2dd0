#include "app/folder_status.h"

#include <fcntl.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <memory>
#include <vector>

#include "app/startup.h"
#include "base/raw_file.h"
#include "store/event_journal.h"
#include "store/object_table.h"

namespace {

// Reads the whole fixed-size file into `bytes`; a missing file leaves them zero.
bool Read_Fixed_File(const std::string& path, void* bytes, std::size_t size, std::string& error) {
  if (File_Missing(path)) return true;
  Raw_File file;
  if (!file.Open(path, O_RDONLY)) {
    error = "Cannot read " + path + ":" + Error_Text(file.Error());
    return false;
  }
  const int64_t found = file.Size();
  if (found != static_cast<int64_t>(size)) {
    error = path + " has " + std::to_string(found) + " bytes instead of " + std::to_string(size);
    return false;
  }
  if (file.Read_Up_To(bytes, size) != static_cast<int64_t>(size)) {
    error = "Cannot read " + path + ":" + Error_Text(file.Error());
    return false;
  }
  return true;
}

int64_t Pending_Age(const Folder_Status& status, int64_t now) {
  return status.Oldest_Pending_Time ? now - *status.Oldest_Pending_Time : 0;
}

QString Local_Time(int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toString("yyyy-MM-dd HH:mm:ss");
}

}  // namespace

bool Read_Folder_Status(const std::string& folder, Folder_Status& status, std::string& error) {
  status = Folder_Status{};
  Raw_File probe;
  if (!probe.Open(folder, O_RDONLY | O_DIRECTORY)) {
    error = "Cannot read the data folder " + folder + ":" + Error_Text(probe.Error());
    return false;
  }
  probe.Close();
  status.Receiver_Running = Instance_Lock_Held(folder);

  // The journal image: a 4-byte head, then the slots, unaligned.
  std::vector<unsigned char> journal(JOURNAL_FILE_SIZE);
  if (!Read_Fixed_File(folder + JOURNAL_FILE_NAME, journal.data(), journal.size(), error))
    return false;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    Event_Record record;
    std::memcpy(&record, journal.data() + Journal_Slot_Offset(k), sizeof record);
    if (!(record.Status & EVT_PRESENT)) continue;
    ++status.Events_Saved;
    if (!status.Last_Event_Time || record.Time_Received > *status.Last_Event_Time)
      status.Last_Event_Time = record.Time_Received;
    if (Is_Link_Test(record)) {
      ++status.Link_Tests;
    } else if (record.Status & EVT_REPORTED) {
      ++status.Events_Reported;
    } else {
      ++status.Events_Pending;
      if (!status.Oldest_Pending_Time || record.Time_Received < *status.Oldest_Pending_Time)
        status.Oldest_Pending_Time = record.Time_Received;
    }
  }

  auto objects = std::make_unique<Object_Record[]>(OBJECT_SLOTS);
  if (!Read_Fixed_File(folder + OBJECT_FILE_NAME, objects.get(), OBJECT_FILE_SIZE, error))
    return false;
  for (int i = 0; i < OBJECT_SLOTS; ++i) {
    if (objects[i].Last_Event_Time == 0) continue;
    ++status.Objects;
    if (objects[i].Object_Flags & OBJ_LOST) ++status.Objects_Lost;
  }
  return true;
}

int Status_Exit_Code(const Folder_Status& status, int64_t now) {
  const bool late = status.Oldest_Pending_Time && Pending_Age(status, now) > STATUS_MAX_PENDING_AGE;
  return status.Objects_Lost > 0 || late ? 1 : 0;
}

std::string Status_Text(const Folder_Status& status, int64_t now) {
  QString text;
  text += QString("Receiver: %1\n").arg(status.Receiver_Running ? "running" : "not running");
  text += QString("Events: %1 saved, %2 pending, %3 reported, %4 link tests\n")
              .arg(status.Events_Saved)
              .arg(status.Events_Pending)
              .arg(status.Events_Reported)
              .arg(status.Link_Tests);
  text += "Oldest pending event: " +
          (status.Oldest_Pending_Time ? QString("%1 s old (%2)")
                                            .arg(Pending_Age(status, now))
                                            .arg(Local_Time(*status.Oldest_Pending_Time))
                                      : QString("none")) +
          "\n";
  text += QString("Objects: %1, %2 lost\n").arg(status.Objects).arg(status.Objects_Lost);
  text += "Last event: " +
          (status.Last_Event_Time ? Local_Time(*status.Last_Event_Time) : QString("none")) + "\n";
  text += QString("Health: %1\n").arg(Status_Exit_Code(status, now) == 0 ? "ok" : "attention");
  return text.toStdString();
}

std::string Status_Json(const Folder_Status& status, int64_t now) {
  auto time_value = [](const std::optional<int64_t>& t) {
    return t ? QJsonValue(QDateTime::fromSecsSinceEpoch(*t, Qt::UTC).toString(Qt::ISODate))
             : QJsonValue();
  };
  auto seconds_value = [](const std::optional<int64_t>& t) {
    return t ? QJsonValue(static_cast<qint64>(*t)) : QJsonValue();
  };
  QJsonObject events{{"saved", status.Events_Saved},
                     {"pending", status.Events_Pending},
                     {"reported", status.Events_Reported},
                     {"link_tests", status.Link_Tests}};
  QJsonObject objects{{"total", status.Objects}, {"lost", status.Objects_Lost}};
  QJsonObject root{
      {"receiver_running", status.Receiver_Running},
      {"events", events},
      {"oldest_pending_age_s", status.Oldest_Pending_Time
                                   ? QJsonValue(static_cast<qint64>(Pending_Age(status, now)))
                                   : QJsonValue()},
      {"oldest_pending_time", time_value(status.Oldest_Pending_Time)},
      {"last_event_time", time_value(status.Last_Event_Time)},
      {"last_event_unix", seconds_value(status.Last_Event_Time)},
      {"objects", objects},
      {"healthy", Status_Exit_Code(status, now) == 0}};
  return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString() + "\n";
}
