#include "app/command_line.h"

#include <QCommandLineParser>

#include "app/startup.h"

namespace {

struct Parser {
  QCommandLineParser parser;
  QCommandLineOption help{{"h", "help"}, "Show this help and exit."};
  QCommandLineOption version{{"v", "version"}, "Show the version and exit."};
  QCommandLineOption headless{"headless",
                              "Run the receiver without windows (for services); the log also "
                              "goes to standard output."};
  QCommandLineOption data_dir{"data-dir",
                              "Use DIR as the data folder instead of the default one. Each "
                              "folder runs one receiver.",
                              "DIR"};
  QCommandLineOption json{"json", "status: print the report as one JSON object."};
  QCommandLineOption prometheus{"prometheus",
                                "status: print the figures in the Prometheus text format."};

  explicit Parser(bool headless_only) {
    parser.setApplicationDescription(
        headless_only ? "The DC-09 alarm receiver without windows."
                      : "The DC-09 alarm receiver of the central monitoring station.");
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(data_dir);
    if (!headless_only) {
      parser.addOption(headless);
      parser.addOption(json);
      parser.addOption(prometheus);
      parser.addPositionalArgument(
          "command",
          "settings [Name=value ...]: show the settings, or check and save them (settings "
          "--help lists them with their rules).\n"
          "status: the receiver's state from its live state and files (exit 0 healthy, 1 "
          "degraded, 2 unreadable, 3 not running).");
    }
  }
};

Command_Line Error_Line(const QString& text) {
  Command_Line line;
  line.Kind = Command_Kind::Error;
  line.Error = text.toStdString();
  return line;
}

}  // namespace

Command_Line Parse_Command_Line(const QStringList& arguments, bool headless_only) {
  Parser p(headless_only);
  if (!p.parser.parse(arguments)) return Error_Line(p.parser.errorText());
  Command_Line line;
  if (p.parser.isSet(p.help)) {
    line.Kind = Command_Kind::Help;
    const QStringList words = p.parser.positionalArguments();
    line.Help_Settings = !headless_only && !words.isEmpty() && words.first() == "settings";
    return line;
  }
  if (p.parser.isSet(p.version)) {
    line.Kind = Command_Kind::Version;
    return line;
  }
  line.Data_Dir = p.parser.value(p.data_dir).toStdString();
  if (p.parser.isSet(p.data_dir) && line.Data_Dir.empty())
    return Error_Line("--data-dir needs a folder");
  QStringList words = p.parser.positionalArguments();
  const bool headless = headless_only || p.parser.isSet(p.headless);
  line.Json = !headless_only && p.parser.isSet(p.json);
  line.Prometheus = !headless_only && p.parser.isSet(p.prometheus);
  if (line.Json && line.Prometheus) return Error_Line("--json and --prometheus exclude each other");

  if (words.isEmpty()) {
    if (line.Json || line.Prometheus)
      return Error_Line("--json and --prometheus belong to the status command");
    line.Kind = headless ? Command_Kind::Headless : Command_Kind::Gui;
    return line;
  }
  if (headless_only) return Error_Line("Unexpected argument '" + words.first() + "'");
  const QString command = words.takeFirst();
  if (headless) return Error_Line("--headless runs the receiver and takes no command");
  if (command == "settings") {
    if (line.Json || line.Prometheus)
      return Error_Line("--json and --prometheus belong to the status command");
    line.Kind = Command_Kind::Settings;
    for (const QString& word : words) line.Assignments.push_back(word.toStdString());
    return line;
  }
  if (command == "status") {
    if (!words.isEmpty()) return Error_Line("status takes no argument ('" + words.first() + "')");
    line.Kind = Command_Kind::Status;
    return line;
  }
  return Error_Line("Unknown command '" + command + "' (settings or status)");
}

std::string Help_Text(bool headless_only) {
  return Parser(headless_only).parser.helpText().toStdString();
}

std::string Raw_Data_Dir(int argc, char** argv, const std::string& parsed) {
  const std::string option = "--data-dir";
  std::string raw = parsed;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word == option && i + 1 < argc)
      raw = argv[++i];
    else if (word.rfind(option + "=", 0) == 0)
      raw = word.substr(option.size() + 1);
  }
  return raw;
}

std::string Version_Text() {
  return std::string("quenor ") + APP_VERSION + "\n";
}
