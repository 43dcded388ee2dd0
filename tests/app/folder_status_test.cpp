// The verdict of `quenor status` from what it read: files, lock and the running receiver's live
// state; and the live state file's own round trip.
#include "app/folder_status.h"

#include <gtest/gtest.h>

#include "app/live_state.h"

namespace {

constexpr int64_t NOW = 1'800'000'000;

Live_State Healthy_Live() {
  Live_State live;
  live.Pid = 4242;
  live.Started = NOW - 600;
  live.Written = NOW - 1;
  live.Headless = true;
  live.Port_Enabled = true;
  live.Port = 7777;
  live.Port_Open = true;
  live.Link_Configured = true;
  live.Link_Mode = "tcp server";
  live.Link_Open = true;
  live.Link_Alive = true;
  return live;
}

Status_Report Running_Report() {
  Status_Report report;
  report.Files_Read = true;
  report.Files.Receiver_Running = true;
  report.Live = Healthy_Live();
  return report;
}

TEST(Judge_Status, EachFaultDegradesAndNamesItself) {
  struct Row {
    const char* name;
    void (*spoil)(Status_Report&);
    Status_Code code;
    const char* named;  // in the one problem line ("" when none is expected)
  } rows[] = {
      {"healthy", [](Status_Report&) {}, STATUS_HEALTHY, ""},
      {"port not open",
       [](Status_Report& r) {
         r.Live->Port_Open = false;
         r.Live->Port_Error = "Receiver port socket error. Error: 98. Address already in use";
       },
       STATUS_DEGRADED, "Address already in use"},
      {"port not open yet, just started",
       [](Status_Report& r) {
         r.Live->Started = NOW - STATUS_OPENING_GRACE;
         r.Live->Port_Open = false;
       },
       STATUS_HEALTHY, ""},
      {"port still not open after the start",
       [](Status_Report& r) {
         r.Live->Started = NOW - STATUS_OPENING_GRACE - 1;
         r.Live->Port_Open = false;
       },
       STATUS_DEGRADED, "Receiver port 7777 is not open"},
      {"port disabled on purpose",
       [](Status_Report& r) {
         r.Live->Port_Enabled = false;
         r.Live->Port_Open = false;
       },
       STATUS_HEALTHY, ""},
      {"journal failing", [](Status_Report& r) { r.Live->Journal_Error = "Disk write error."; },
       STATUS_DEGRADED, "journal cannot be written"},
      {"link down", [](Status_Report& r) { r.Live->Link_Open = false; }, STATUS_DEGRADED,
       "is down"},
      {"link open, peer silent", [](Status_Report& r) { r.Live->Link_Alive = false; },
       STATUS_DEGRADED, "does not answer"},
      {"no link configured",
       [](Status_Report& r) {
         r.Live->Link_Configured = false;
         r.Live->Link_Open = false;
         r.Live->Link_Alive = false;
       },
       STATUS_HEALTHY, ""},
      {"lost object",
       [](Status_Report& r) {
         r.Files.Objects = 3;
         r.Files.Objects_Lost = 1;
       },
       STATUS_DEGRADED, "1 object(s) lost"},
      {"pending exactly a minute",
       [](Status_Report& r) {
         r.Files.Oldest_Pending_Time = NOW - STATUS_MAX_PENDING_AGE;
         r.Files.Newest_Pending_Time = NOW - STATUS_MAX_PENDING_AGE;
       },
       STATUS_HEALTHY, ""},
      {"pending over a minute",
       [](Status_Report& r) {
         r.Files.Oldest_Pending_Time = NOW - STATUS_MAX_PENDING_AGE - 1;
         r.Files.Newest_Pending_Time = NOW - 5;
       },
       STATUS_DEGRADED, "waited 61 s"},
      {"pending over a minute with no automation link to forward it",
       [](Status_Report& r) {
         r.Live->Link_Configured = false;
         r.Files.Oldest_Pending_Time = NOW - 3600;
         r.Files.Newest_Pending_Time = NOW - 5;
       },
       STATUS_HEALTHY, ""},
      {"pending stamped in the future",
       [](Status_Report& r) {
         r.Files.Oldest_Pending_Time = NOW - 5;
         r.Files.Newest_Pending_Time = NOW + 3600;
       },
       STATUS_DEGRADED, "3600 s in the future"},
      {"stale live state", [](Status_Report& r) { r.Live->Written = NOW - 100; }, STATUS_DEGRADED,
       "100 s ago"},
      {"not running",
       [](Status_Report& r) {
         r.Files.Receiver_Running = false;
         r.Live.reset();
       },
       STATUS_NOT_RUNNING, ""},
      {"not running with a lost object",
       [](Status_Report& r) {
         r.Files.Receiver_Running = false;
         r.Live.reset();
         r.Files.Objects_Lost = 2;
       },
       STATUS_NOT_RUNNING, "2 object(s) lost"},
      {"unreadable beats everything",
       [](Status_Report& r) {
         r.Files.Receiver_Running = false;
         r.Live.reset();
         r.Files.Objects_Lost = 2;
         r.Error = "latevn.dat has 5 bytes";
       },
       STATUS_UNREADABLE, "2 object(s) lost"},
  };
  for (const Row& row : rows) {
    Status_Report report = Running_Report();
    row.spoil(report);
    Judge_Status(report, NOW);
    EXPECT_EQ(report.Code, row.code) << row.name;
    if (*row.named == '\0') {
      EXPECT_TRUE(report.Problems.empty()) << row.name << ": " << report.Problems.front();
    } else {
      ASSERT_EQ(report.Problems.size(), 1u) << row.name;
      EXPECT_NE(report.Problems[0].find(row.named), std::string::npos)
          << row.name << ": " << report.Problems[0];
    }
  }
}

TEST(Judge_Status, TheThreeFormatsAgree) {
  Status_Report report = Running_Report();
  report.Files.Events_Saved = 3;
  report.Files.Events_Pending = 1;
  report.Files.Oldest_Pending_Time = NOW + 30;
  report.Files.Newest_Pending_Time = NOW + 30;
  report.Live->Messages_Answered = 12;
  report.Live->Naks = 2;
  Judge_Status(report, NOW);
  ASSERT_EQ(report.Code, STATUS_DEGRADED);

  const std::string json = Status_Json(report, NOW);
  for (const char* part : {"\"health\":\"degraded\"", "\"exit_code\":1", "\"healthy\":false",
                           "\"messages_answered\":12", "\"naks\":2", "in the future"})
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  EXPECT_EQ(json.find("\"error\""), std::string::npos) << json;
  EXPECT_EQ(json.find('\n'), json.size() - 1);

  // A folder label with the characters the text format escapes.
  const std::string text = Status_Prometheus(report, "/srv/a \"b\"\\c/", NOW);
  for (const char* line :
       {"quenor_status{folder=\"/srv/a \\\"b\\\"\\\\c/\"} 1\n",
        "# TYPE quenor_naks_total counter\n",
        "quenor_naks_total{folder=\"/srv/a \\\"b\\\"\\\\c/\"} 2\n",
        "quenor_events{folder=\"/srv/a \\\"b\\\"\\\\c/\",state=\"pending\"} 1\n",
        "quenor_oldest_pending_age_seconds{folder=\"/srv/a \\\"b\\\"\\\\c/\"} -30\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in " << text;
  // Each metric's HELP and TYPE come once, before its first sample.
  EXPECT_EQ(text.find("# TYPE quenor_events gauge"), text.rfind("# TYPE quenor_events gauge"));

  EXPECT_NE(Status_Text(report, NOW).find("Health: degraded"), std::string::npos);
}

TEST(Live_State, RoundTripsAndRefusesWhatIsNotOne) {
  Live_State live = Healthy_Live();
  live.Port_Error = "quote \" and line\nfeed";
  live.Messages_Answered = 1ull << 40;
  live.Write_Errors = 7;
  Live_State back;
  std::string error;
  ASSERT_TRUE(Parse_Live_State(Live_State_Json(live), back, error)) << error;
  EXPECT_EQ(back.Pid, live.Pid);
  EXPECT_EQ(back.Port_Error, live.Port_Error);
  EXPECT_EQ(back.Messages_Answered, live.Messages_Answered);
  EXPECT_EQ(back.Write_Errors, 7u);
  EXPECT_EQ(back.Link_Mode, "tcp server");
  EXPECT_TRUE(back.Link_Alive);

  for (const char* bad : {"", "[]", "{\"pid\": 1}", "{\"pid\": 1, \"started\": 2"}) {
    EXPECT_FALSE(Parse_Live_State(bad, back, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
