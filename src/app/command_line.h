// The command line of quenor (and quenor-headless): what to run and on which data folder.
// Parsing only; main() dispatches. Plain functions, main thread.
//
//   quenor                          the windows (as without a command line)
//   quenor --headless               the receiver without windows, log also on standard output
//   quenor settings [Name=value...] show, or check and write, the settings file
//   quenor status [--json|--prometheus]  the folder's state; exit 0, 1, 2 or 3
//   --data-dir DIR                  with any of them: the data folder to use
//   --help, --version
#pragma once

#include <QStringList>
#include <string>
#include <vector>

enum class Command_Kind { Gui, Headless, Settings, Status, Help, Version, Error };

struct Command_Line {
  Command_Kind Kind = Command_Kind::Gui;
  std::string Data_Dir;                  // empty = the default data folder
  bool Json = false;                     // status only
  bool Prometheus = false;               // status only
  std::vector<std::string> Assignments;  // settings only: "Name=value"
  std::string Error;                     // Kind Error: what was wrong
  bool Help_Settings = false;            // Kind Help: `settings --help`
};

// `arguments` as QCoreApplication::arguments() gives them (the program name first).
// `headless_only` is the quenor-headless program: no windows and no commands, --headless implied.
Command_Line Parse_Command_Line(const QStringList& arguments, bool headless_only = false);

// The --help text of the program.
std::string Help_Text(bool headless_only = false);
// The value of --data-dir in `argv` as the bytes given (the last one, `parsed` when none is
// found): the parser's text would change a folder name that is not valid in the locale's
// encoding.
std::string Raw_Data_Dir(int argc, char** argv, const std::string& parsed);

// The --version line: "quenor " + APP_VERSION.
std::string Version_Text();

// Exit codes of the commands.
inline constexpr int EXIT_USAGE = 2;  // a bad command line; also `status` on an unreadable folder
