#include "app/folder_status.h"

#include <fcntl.h>

#include <QDateTime>
#include <QJsonArray>
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

// Reads the whole fixed-size file `name` of the folder into `bytes`; a missing file leaves them
// zero. A folder, a device or a link in its place is an error naming what it is.
bool Read_Fixed_File(const std::string& folder, const char* name, void* bytes, std::size_t size,
                     std::string& error) {
  std::string found;
  const int code = Read_File_In_Folder(folder, name, found);
  if (code == ENOENT) return true;
  if (code != 0) {
    error = "Cannot read " + folder + name + ":" + Error_Text(code);
    return false;
  }
  if (found.size() != size) {
    error = folder + name + " has " + std::to_string(found.size()) + " bytes instead of " +
            std::to_string(size);
    return false;
  }
  std::memcpy(bytes, found.data(), size);
  return true;
}

int64_t Pending_Age(const Folder_Status& status, int64_t now) {
  return status.Oldest_Pending_Time ? now - *status.Oldest_Pending_Time : 0;
}

const char* Code_Word(Status_Code code) {
  switch (code) {
    case STATUS_HEALTHY:
      return "ok";
    case STATUS_DEGRADED:
      return "degraded";
    case STATUS_UNREADABLE:
      return "unreadable";
    case STATUS_NOT_RUNNING:
      return "not running";
  }
  return "unknown";
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
  if (!Read_Fixed_File(folder, JOURNAL_FILE_NAME, journal.data(), journal.size(), error))
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
      if (!status.Newest_Pending_Time || record.Time_Received > *status.Newest_Pending_Time)
        status.Newest_Pending_Time = record.Time_Received;
    }
  }

  auto objects = std::make_unique<Object_Record[]>(OBJECT_SLOTS);
  if (!Read_Fixed_File(folder, OBJECT_FILE_NAME, objects.get(), OBJECT_FILE_SIZE, error))
    return false;
  for (int i = 0; i < OBJECT_SLOTS; ++i) {
    if (objects[i].Last_Event_Time == 0) continue;
    ++status.Objects;
    if (objects[i].Object_Flags & OBJ_LOST) ++status.Objects_Lost;
  }
  return true;
}

Status_Report Read_Status_Report(const std::string& folder, int64_t now) {
  Status_Report report;
  report.Files_Read = Read_Folder_Status(folder, report.Files, report.Error);
  if (report.Files_Read && report.Files.Receiver_Running) {
    Live_State live;
    if (Read_Live_State(folder, live, report.Error)) report.Live = live;
  }
  Judge_Status(report, now);
  return report;
}

void Judge_Status(Status_Report& report, int64_t now) {
  std::vector<std::string>& problems = report.Problems;
  problems.clear();
  if (report.Live) {
    const Live_State& live = *report.Live;
    if (now - live.Written > LIVE_STATE_STALE_AFTER) {
      problems.push_back("The live state was last written " + std::to_string(now - live.Written) +
                         " s ago: the receiver does not respond");
    }
    // The first open comes with the receiver's first tick, a second after the start.
    const bool opening = live.Port_Error.empty() && now - live.Started <= STATUS_OPENING_GRACE;
    if (live.Port_Enabled && !live.Port_Open && !opening) {
      problems.push_back("Receiver port " + std::to_string(live.Port) + " is not open" +
                         (live.Port_Error.empty() ? "" : ": " + live.Port_Error));
    }
    if (!live.Journal_Error.empty())
      problems.push_back("The journal cannot be written: " + live.Journal_Error);
    if (live.Link_Configured && !(live.Link_Open && live.Link_Alive)) {
      problems.push_back(
          "The automation link (" + live.Link_Mode + ") is " +
          (live.Link_Open ? "open but the automation software does not answer" : "down"));
    }
  }
  if (report.Files_Read) {
    const Folder_Status& files = report.Files;
    if (files.Objects_Lost > 0)
      problems.push_back(std::to_string(files.Objects_Lost) + " object(s) lost");
    if (files.Newest_Pending_Time && *files.Newest_Pending_Time > now) {
      problems.push_back("A pending event is stamped " +
                         std::to_string(*files.Newest_Pending_Time - now) +
                         " s in the future (clock set back?)");
    }
    // Without an automation link nothing is ever forwarded, so an event's age is no fault; a
    // receiver whose live state could not be read is judged on the files alone.
    const bool forwarding = !report.Live || report.Live->Link_Configured;
    if (forwarding && files.Oldest_Pending_Time &&
        now - *files.Oldest_Pending_Time > STATUS_MAX_PENDING_AGE) {
      problems.push_back("An event has waited " + std::to_string(now - *files.Oldest_Pending_Time) +
                         " s for the automation software");
    }
  }
  if (!report.Error.empty()) {
    report.Code = STATUS_UNREADABLE;
  } else if (!report.Files.Receiver_Running) {
    report.Code = STATUS_NOT_RUNNING;
  } else {
    report.Code = problems.empty() ? STATUS_HEALTHY : STATUS_DEGRADED;
  }
}

std::string Status_Text(const Status_Report& report, int64_t now) {
  QString text;
  const Folder_Status& status = report.Files;
  text += QString("Receiver: %1\n").arg(status.Receiver_Running ? "running" : "not running");
  if (report.Live) {
    const Live_State& live = *report.Live;
    text += QString("Process: %1 (%2), started %3\n")
                .arg(live.Pid)
                .arg(live.Headless ? "headless" : "windows")
                .arg(Local_Time(live.Started));
    text +=
        "Receiver port: " +
        QString::fromStdString(!live.Port_Enabled ? "disabled"
                               : live.Port_Open   ? std::to_string(live.Port) + " open"
                               : live.Port_Error.empty()
                                   ? std::to_string(live.Port) + " not open yet"
                                   : std::to_string(live.Port) + " not open: " + live.Port_Error) +
        "\n";
    text += "Journal: " +
            QString::fromStdString(live.Journal_Error.empty() ? "writable" : live.Journal_Error) +
            "\n";
    text += "Automation link: " + QString::fromStdString(live.Link_Mode) +
            (!live.Link_Configured               ? QString()
             : live.Link_Open && live.Link_Alive ? QString(", up")
             : live.Link_Open                    ? QString(", open, no answer")
                                                 : QString(", down")) +
            "\n";
    text += QString(
                "Counters: %1 messages answered (%2 NAK), %3 events stored, %4 lines "
                "forwarded, %5 write errors\n")
                .arg(live.Messages_Answered)
                .arg(live.Naks)
                .arg(live.Events_Stored)
                .arg(live.Lines_Forwarded)
                .arg(live.Write_Errors);
  }
  if (report.Files_Read) {
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
  }
  if (!report.Error.empty()) text += "Error: " + QString::fromStdString(report.Error) + "\n";
  for (const std::string& problem : report.Problems)
    text += "Problem: " + QString::fromStdString(problem) + "\n";
  text += QString("Health: %1\n").arg(Code_Word(report.Code));
  return text.toStdString();
}

std::string Status_Json(const Status_Report& report, int64_t now) {
  auto time_value = [](const std::optional<int64_t>& t) {
    return t ? QJsonValue(QDateTime::fromSecsSinceEpoch(*t, Qt::UTC).toString(Qt::ISODate))
             : QJsonValue();
  };
  auto seconds_value = [](const std::optional<int64_t>& t) {
    return t ? QJsonValue(static_cast<qint64>(*t)) : QJsonValue();
  };
  const Folder_Status& status = report.Files;
  QJsonArray problems;
  for (const std::string& problem : report.Problems)
    problems.append(QString::fromStdString(problem));
  QJsonObject root{{"health", Code_Word(report.Code)},
                   {"exit_code", static_cast<int>(report.Code)},
                   {"healthy", report.Code == STATUS_HEALTHY},
                   {"problems", problems},
                   {"receiver_running", status.Receiver_Running}};
  if (!report.Error.empty()) root.insert("error", QString::fromStdString(report.Error));
  if (report.Live) {
    const Live_State& live = *report.Live;
    root.insert(
        "receiver",
        QJsonObject{
            {"pid", static_cast<qint64>(live.Pid)},
            {"headless", live.Headless},
            {"start_time", time_value(live.Started)},
            {"state_written", time_value(live.Written)},
            {"port_enabled", live.Port_Enabled},
            {"port", live.Port},
            {"port_open", live.Port_Open},
            {"port_error", live.Port_Error.empty()
                               ? QJsonValue()
                               : QJsonValue(QString::fromStdString(live.Port_Error))},
            {"journal_writable", live.Journal_Error.empty()},
            {"journal_error", live.Journal_Error.empty()
                                  ? QJsonValue()
                                  : QJsonValue(QString::fromStdString(live.Journal_Error))}});
    root.insert("automation_link", QJsonObject{{"configured", live.Link_Configured},
                                               {"mode", QString::fromStdString(live.Link_Mode)},
                                               {"open", live.Link_Open},
                                               {"alive", live.Link_Alive}});
    const auto count = [](uint64_t n) { return QJsonValue(static_cast<qint64>(n)); };
    root.insert("counters", QJsonObject{{"messages_answered", count(live.Messages_Answered)},
                                        {"naks", count(live.Naks)},
                                        {"events_stored", count(live.Events_Stored)},
                                        {"lines_forwarded", count(live.Lines_Forwarded)},
                                        {"write_errors", count(live.Write_Errors)}});
  }
  if (report.Files_Read) {
    root.insert("events", QJsonObject{{"saved", status.Events_Saved},
                                      {"pending", status.Events_Pending},
                                      {"reported", status.Events_Reported},
                                      {"link_tests", status.Link_Tests}});
    root.insert("oldest_pending_age_s",
                status.Oldest_Pending_Time
                    ? QJsonValue(static_cast<qint64>(Pending_Age(status, now)))
                    : QJsonValue());
    root.insert("oldest_pending_time", time_value(status.Oldest_Pending_Time));
    root.insert("last_event_time", time_value(status.Last_Event_Time));
    root.insert("last_event_unix", seconds_value(status.Last_Event_Time));
    root.insert("objects", QJsonObject{{"total", status.Objects}, {"lost", status.Objects_Lost}});
  }
  return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

namespace {

// A label value of the text format: backslash, double quote and line feed escaped.
std::string Label_Value(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

class Metrics {
 public:
  explicit Metrics(const std::string& folder) : label_("folder=\"" + Label_Value(folder) + "\"") {}
  void Add(const char* name, const char* type, const char* help, int64_t value,
           const std::string& extra_label = "") {
    if (name != last_) {
      out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
      last_ = name;
    }
    out_ += std::string(name) + "{" + label_ + (extra_label.empty() ? "" : "," + extra_label) +
            "} " + std::to_string(value) + "\n";
  }
  void Comment(const std::string& text) {
    std::string line = text;
    for (char& c : line)
      if (c == '\n' || c == '\r') c = ' ';
    out_ += "# " + line + "\n";
  }
  const std::string& Text() const { return out_; }

 private:
  std::string label_;
  std::string last_;
  std::string out_;
};

}  // namespace

std::string Status_Prometheus(const Status_Report& report, const std::string& folder, int64_t now) {
  Metrics m(folder);
  if (!report.Error.empty()) m.Comment("error: " + report.Error);
  for (const std::string& problem : report.Problems) m.Comment("problem: " + problem);
  m.Add("quenor_status", "gauge",
        "Exit code of quenor status: 0 healthy, 1 degraded, 2 unreadable, 3 not running.",
        report.Code);
  m.Add("quenor_up", "gauge", "1 when a receiver holds the data folder.",
        report.Files.Receiver_Running ? 1 : 0);
  if (report.Live) {
    const Live_State& live = *report.Live;
    m.Add("quenor_start_time_seconds", "gauge", "Start of the running receiver, Unix time.",
          live.Started);
    m.Add("quenor_receiver_port_open", "gauge", "1 while the receiver port listens.",
          live.Port_Open ? 1 : 0);
    m.Add("quenor_journal_writable", "gauge", "1 while the journal file can be written.",
          live.Journal_Error.empty() ? 1 : 0);
    m.Add("quenor_automation_link_up", "gauge",
          "1 while the automation link is open and answered (1 also when none is configured).",
          !live.Link_Configured || (live.Link_Open && live.Link_Alive) ? 1 : 0);
    const auto counter = [&](const char* name, const char* help, uint64_t value) {
      m.Add(name, "counter", help, static_cast<int64_t>(value));
    };
    counter("quenor_messages_answered_total", "DC-09 messages answered since the start.",
            live.Messages_Answered);
    counter("quenor_naks_total", "Answers that were NAK or DUH since the start.", live.Naks);
    counter("quenor_events_stored_total", "Events made durable in the journal since the start.",
            live.Events_Stored);
    counter("quenor_lines_forwarded_total",
            "Event lines the automation software acknowledged since the start.",
            live.Lines_Forwarded);
    counter("quenor_write_errors_total", "Failed journal writes since the start.",
            live.Write_Errors);
  }
  if (report.Files_Read) {
    const Folder_Status& f = report.Files;
    const char* help = "Events in the journal by state.";
    m.Add("quenor_events", "gauge", help, f.Events_Saved, "state=\"saved\"");
    m.Add("quenor_events", "gauge", help, f.Events_Pending, "state=\"pending\"");
    m.Add("quenor_events", "gauge", help, f.Events_Reported, "state=\"reported\"");
    m.Add("quenor_events", "gauge", help, f.Link_Tests, "state=\"link_test\"");
    m.Add("quenor_oldest_pending_age_seconds", "gauge",
          "Age of the oldest event waiting for the automation software (0: none; negative: "
          "stamped in the future).",
          Pending_Age(f, now));
    m.Add("quenor_objects", "gauge", "Objects in the object table.", f.Objects);
    m.Add("quenor_objects_lost", "gauge", "Objects marked lost.", f.Objects_Lost);
  }
  return m.Text();
}
