// quenor-headless: the receiver core without windows, as `quenor --headless` runs it (the same
// start-up: data folder, single-instance lock, log on standard output). Takes --data-dir DIR,
// --help and --version; SIGTERM or SIGINT shuts the core down in order and ends the process
// with code 0.
#include <QCoreApplication>
#include <iostream>

#include "app/command_line.h"
#include "app/run_headless.h"
#include "app/startup.h"
#include "base/process_setup.h"

int main(int argc, char** argv) {
  Ignore_Broken_Pipe();
  QCoreApplication app(argc, argv);
  Command_Line line = Parse_Command_Line(QCoreApplication::arguments(), true);
  if (!line.Data_Dir.empty()) line.Data_Dir = Raw_Data_Dir(argc, argv, line.Data_Dir);
  switch (line.Kind) {
    case Command_Kind::Help:
      std::cout << Help_Text(true);
      return 0;
    case Command_Kind::Version:
      std::cout << Version_Text();
      return 0;
    case Command_Kind::Headless:
      return Run_Headless(line.Data_Dir);
    default:
      std::cerr << line.Error << "\nTry 'quenor-headless --help'.\n";
      return EXIT_USAGE;
  }
}
