#include "app/live_state.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>

#include "base/process_setup.h"
#include "base/raw_file.h"
#include "base/replace_file.h"

namespace {

// A live state file is a few hundred bytes; anything far larger is not one.
constexpr std::size_t LIVE_STATE_LIMIT = 64 * 1024;

}  // namespace

std::string Live_State_Json(const Live_State& s) {
  const auto number = [](uint64_t value) { return QJsonValue(static_cast<qint64>(value)); };
  const QJsonObject counters{{"messages_answered", number(s.Messages_Answered)},
                             {"naks", number(s.Naks)},
                             {"events_stored", number(s.Events_Stored)},
                             {"lines_forwarded", number(s.Lines_Forwarded)},
                             {"write_errors", number(s.Write_Errors)}};
  const QJsonObject root{{"pid", static_cast<qint64>(s.Pid)},
                         {"started", static_cast<qint64>(s.Started)},
                         {"written", static_cast<qint64>(s.Written)},
                         {"headless", s.Headless},
                         {"port_enabled", s.Port_Enabled},
                         {"port", s.Port},
                         {"port_open", s.Port_Open},
                         {"port_error", QString::fromStdString(s.Port_Error)},
                         {"journal_error", QString::fromStdString(s.Journal_Error)},
                         {"link_configured", s.Link_Configured},
                         {"link_mode", QString::fromStdString(s.Link_Mode)},
                         {"link_open", s.Link_Open},
                         {"link_alive", s.Link_Alive},
                         {"counters", counters}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

bool Parse_Live_State(const std::string& text, Live_State& s, std::string& error) {
  QJsonParseError parse{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &parse);
  if (!document.isObject()) {
    error = "not a JSON object (" + parse.errorString().toStdString() + ")";
    return false;
  }
  const QJsonObject root = document.object();
  const QJsonObject counters = root.value("counters").toObject();
  for (const char* key :
       {"pid", "started", "written", "headless", "port_enabled", "port", "port_open",
        "journal_error", "link_configured", "link_open", "link_alive"}) {
    if (!root.contains(key)) {
      error = std::string("no field '") + key + "'";
      return false;
    }
  }
  const auto count = [&](const char* key) {
    return static_cast<uint64_t>(counters.value(key).toInteger());
  };
  s = Live_State{};
  s.Pid = root.value("pid").toInteger();
  s.Started = root.value("started").toInteger();
  s.Written = root.value("written").toInteger();
  s.Headless = root.value("headless").toBool();
  s.Port_Enabled = root.value("port_enabled").toBool();
  s.Port = static_cast<int32_t>(root.value("port").toInt());
  s.Port_Open = root.value("port_open").toBool();
  s.Port_Error = root.value("port_error").toString().toStdString();
  s.Journal_Error = root.value("journal_error").toString().toStdString();
  s.Link_Configured = root.value("link_configured").toBool();
  s.Link_Mode = root.value("link_mode").toString().toStdString();
  s.Link_Open = root.value("link_open").toBool();
  s.Link_Alive = root.value("link_alive").toBool();
  s.Messages_Answered = count("messages_answered");
  s.Naks = count("naks");
  s.Events_Stored = count("events_stored");
  s.Lines_Forwarded = count("lines_forwarded");
  s.Write_Errors = count("write_errors");
  return true;
}

bool Read_Live_State(const std::string& folder, Live_State& state, std::string& error) {
  const std::string path = folder + LIVE_STATE_FILE_NAME;
  std::string text;
  std::string why;
  if (const int failed = Read_Small_File(path, text, LIVE_STATE_LIMIT); failed != 0) {
    error = failed == ENOENT ? "The running receiver has written no live state " + path + " yet"
                             : "Cannot read " + path + "." + Error_Text(failed);
    return false;
  }
  if (!Parse_Live_State(text, state, why)) {
    error = path + " is no live state: " + why;
    return false;
  }
  if (!Process_Exists(state.Pid)) {
    error = path + " was written by process " + std::to_string(state.Pid) +
            ", which has ended; the receiver holding the folder has written none yet";
    return false;
  }
  return true;
}
