// What the command line asks for; main() only dispatches on it.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

QStringList Args(std::initializer_list<const char*> words) {
  QStringList list{"quenor"};
  for (const char* w : words) list << w;
  return list;
}

TEST(Command_Line, EachFormChoosesItsCommand) {
  struct Row {
    std::initializer_list<const char*> words;
    Command_Kind kind;
    std::string data_dir;
    bool json;
    std::vector<std::string> assignments;
  } rows[] = {
      {{}, Command_Kind::Gui, "", false, {}},
      {{"--data-dir", "/srv/a"}, Command_Kind::Gui, "/srv/a", false, {}},
      {{"--headless"}, Command_Kind::Headless, "", false, {}},
      {{"--headless", "--data-dir=/var/lib/quenor/main"},
       Command_Kind::Headless,
       "/var/lib/quenor/main",
       false,
       {}},
      {{"settings"}, Command_Kind::Settings, "", false, {}},
      {{"settings", "--data-dir", "d", "DC9_Port=1", "Out_IP=1.2.3.4"},
       Command_Kind::Settings,
       "d",
       false,
       {"DC9_Port=1", "Out_IP=1.2.3.4"}},
      {{"status", "--json"}, Command_Kind::Status, "", true, {}},
      {{"--json", "status", "--data-dir", "x"}, Command_Kind::Status, "x", true, {}},
      {{"status", "--prometheus"}, Command_Kind::Status, "", false, {}},
      {{"--version"}, Command_Kind::Version, "", false, {}},
      {{"status", "--help"}, Command_Kind::Help, "", false, {}},
  };
  for (const Row& row : rows) {
    const Command_Line line = Parse_Command_Line(Args(row.words));
    EXPECT_EQ(line.Kind, row.kind) << line.Error;
    EXPECT_EQ(line.Data_Dir, row.data_dir);
    EXPECT_EQ(line.Json, row.json);
    EXPECT_EQ(line.Prometheus, row.kind == Command_Kind::Status && !row.json);
    EXPECT_EQ(line.Assignments, row.assignments);
  }
}

TEST(Command_Line, MistakesAreErrorsWithAReason) {
  const std::initializer_list<const char*> bad[] = {
      {"start"},         {"--bogus"},
      {"--data-dir"},    {"--data-dir="},
      {"status", "now"}, {"--headless", "settings"},
      {"--json"},        {"settings", "--json"},
      {"--prometheus"},  {"status", "--json", "--prometheus"},
  };
  for (const auto& words : bad) {
    const Command_Line line = Parse_Command_Line(Args(words));
    EXPECT_EQ(line.Kind, Command_Kind::Error) << *words.begin();
    EXPECT_FALSE(line.Error.empty());
  }
}

TEST(Command_Line, TheHeadlessProgramTakesOnlyTheFolder) {
  EXPECT_EQ(Parse_Command_Line({"quenor-headless"}, true).Kind, Command_Kind::Headless);
  const Command_Line line = Parse_Command_Line({"quenor-headless", "--data-dir", "/d"}, true);
  EXPECT_EQ(line.Kind, Command_Kind::Headless);
  EXPECT_EQ(line.Data_Dir, "/d");
  for (const char* bad : {"settings", "--headless", "--json"})
    EXPECT_EQ(Parse_Command_Line({"quenor-headless", bad}, true).Kind, Command_Kind::Error) << bad;
}

}  // namespace
