// Micro-benchmarks of what a refresh of the operator's grids costs without the drawing: the
// snapshot of a full journal and of a full object table, and the cell texts of every row (the
// most a repaint can ask for; a view asks only for its visible rows).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../tests/support/example_event.h"
#include "store/event_grid_text.h"
#include "store/event_journal.h"
#include "store/object_grid_text.h"
#include "store/object_table.h"

namespace {

Event_Record Bench_Event(int n) {
  return Example_Event(
      {.Status = 3,
       .Receiver = "12",
       .Line = "3",
       .Account = std::to_string(100000 + n),
       .Code = n % 4 ? "1401" : "NULL",
       .Zone = "015",
       .Time = 1700000000 + n,
       .Address = "10.0." + std::to_string(n / 256 % 256) + "." + std::to_string(n % 256),
       .Quality = n % 256});
}

void BM_Journal_Snapshot_Full(benchmark::State& state) {
  char path[] = "/tmp/bench_windows_XXXXXX";
  if (mkdtemp(path) == nullptr) return state.SkipWithError("no temporary folder");
  Event_Journal journal(std::string(path) + "/dorvex.dat");
  journal.Load();
  for (int n = 0; n < JOURNAL_SLOTS; ++n) journal.Append(Bench_Event(n));
  std::vector<Event_Record> snapshot(JOURNAL_SLOTS);
  for (auto _ : state) {
    for (int k = 0; k < JOURNAL_SLOTS; ++k) snapshot[k] = journal.Slot(k);
    benchmark::DoNotOptimize(snapshot.data());
  }
  std::remove((std::string(path) + "/dorvex.dat").c_str());
  std::remove(path);
}
BENCHMARK(BM_Journal_Snapshot_Full)->Unit(benchmark::kMicrosecond);

void BM_Event_Cells_All_Rows(benchmark::State& state) {
  std::vector<Event_Record> events;
  for (int n = 0; n < JOURNAL_SLOTS; ++n) events.push_back(Bench_Event(n));
  for (auto _ : state) {
    std::size_t chars = 0;
    for (const Event_Record& e : events) {
      for (int c = 0; c < EVENT_GRID_COLUMN_COUNT; ++c) chars += Event_Cell_Text(e, c).size();
    }
    benchmark::DoNotOptimize(chars);
  }
}
BENCHMARK(BM_Event_Cells_All_Rows)->Unit(benchmark::kMillisecond);

void BM_Object_Snapshot_Full(benchmark::State& state) {
  char path[] = "/tmp/bench_windows_XXXXXX";
  if (mkdtemp(path) == nullptr) return state.SkipWithError("no temporary folder");
  Mutex lock;
  Object_Table table(std::string(path) + "/latevn.dat", lock);
  table.Load();
  for (int n = 0; n < OBJECT_SLOTS; ++n) {
    Event_Record e = Bench_Event(n);
    e.Status = 1;
    table.Update(e, Extended_Data{});
  }
  for (auto _ : state) {
    const std::vector<Object_Record> snapshot = table.Snapshot();
    benchmark::DoNotOptimize(snapshot.data());
  }
  std::remove((std::string(path) + "/latevn.dat").c_str());
  std::remove(path);
}
BENCHMARK(BM_Object_Snapshot_Full)->Unit(benchmark::kMicrosecond);

void BM_Object_Cells_All_Rows(benchmark::State& state) {
  std::vector<Object_Record> objects(OBJECT_SLOTS);
  for (int n = 0; n < OBJECT_SLOTS; ++n) {
    Object_Record& o = objects[n];
    o.Last_Event_Time = 1700000000 + n;
    std::snprintf(o.Account_Nr, sizeof o.Account_Nr, "%d", 100000 + n);
    std::snprintf(o.Event_Code, sizeof o.Event_Code, "1401");
    o.Signal_Quality = 55;
    o.Ping_Timeout = 6;
  }
  for (auto _ : state) {
    std::size_t chars = 0;
    for (const Object_Record& o : objects) {
      for (int c = 0; c < OBJECT_GRID_COLUMN_COUNT; ++c) chars += Object_Cell_Text(o, c).size();
    }
    benchmark::DoNotOptimize(chars);
  }
}
BENCHMARK(BM_Object_Cells_All_Rows)->Unit(benchmark::kMillisecond);

}  // namespace
