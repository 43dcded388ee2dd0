// The stores' hot paths: a message from a new account against a full object table, a message
// from a known account in a full table and in an empty one, the once-a-second supervision tick
// over all 10000 records, and the report sender's save pass over an idle journal (which must
// touch no file).
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "base/sync_objects.h"
#include "store/event_journal.h"
#include "store/object_table.h"

namespace {

constexpr int64_t kNow = 1700000000;

// A full table file: 10000 objects "A0".."A9999", all supervised.
void Write_Full_Table(const std::string& path) {
  std::string image(OBJECT_FILE_SIZE, '\0');
  for (int i = 0; i < OBJECT_SLOTS; ++i) {
    Object_Record r{};
    r.Last_Event_Time = kNow - OBJECT_SLOTS + i;
    std::snprintf(r.Account_Nr, sizeof r.Account_Nr, "A%d", i);
    r.Ping_Timeout = 70;
    std::memcpy(&image[88 * i], &r, 88);
  }
  std::ofstream(path, std::ios::binary).write(image.data(), image.size());
}

void BM_Object_Update_New_Account_Full_Table(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/" + OBJECT_FILE_NAME;
  Write_Full_Table(path);
  Mutex file_lock;
  auto table = std::make_unique<Object_Table>(path, file_lock);
  table->Load();
  Extended_Data extended{};
  std::strcpy(extended.data(), "[Q25][B10.0.0.7]");
  int64_t n = 0;
  for (auto _ : state) {
    // Every message comes from an account the table does not hold: a full scan, then the
    // take-over of the oldest record and its write to the file.
    Event_Record event{};
    event.Status = EVT_PRESENT;
    std::snprintf(event.Account_Nr, sizeof event.Account_Nr, "N%d",
                  static_cast<int>(n % 100000000));
    std::strcpy(event.Event_Code, "1130");
    event.Time_Received = kNow + ++n;
    benchmark::DoNotOptimize(table->Update(event, extended));
  }
}
BENCHMARK(BM_Object_Update_New_Account_Full_Table)->Unit(benchmark::kMicrosecond);

// Object_Update of a known account, in a full table (10000 objects; the last 100 accounts, the
// ones a scan from record 0 reaches last) and in an empty one (a single object). Each update also
// writes its 88-byte record to the file.
void BM_Object_Update_Known_Account(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/" + OBJECT_FILE_NAME;
  const bool full = state.range(0) != 0;
  if (full) Write_Full_Table(path);
  Shared_Sync sync;
  auto table = std::make_unique<Object_Table>(path, sync.Object_Table_Lock);
  table->Load();
  Extended_Data extended{};
  std::strcpy(extended.data(), "[Q25]");
  int64_t n = 0;
  for (auto _ : state) {
    Event_Record event{};
    event.Status = EVT_PRESENT;
    std::snprintf(event.Account_Nr, sizeof event.Account_Nr, "A%d",
                  full ? OBJECT_SLOTS - 1 - static_cast<int>(n % 100) : 0);
    std::strcpy(event.Event_Code, "1130");
    event.Time_Received = kNow + ++n;
    benchmark::DoNotOptimize(table->Update(event, extended));
  }
  state.SetLabel(full ? "full table, accounts at the end" : "empty table");
}
BENCHMARK(BM_Object_Update_Known_Account)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Ping_Tick_10000(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/" + OBJECT_FILE_NAME;
  Write_Full_Table(path);
  Mutex file_lock;
  auto table = std::make_unique<Object_Table>(path, file_lock);
  table->Load();  // countdowns of 4200 seconds: no object expires while measured
  for (auto _ : state) benchmark::DoNotOptimize(table->Ping_Tick());
}
BENCHMARK(BM_Ping_Tick_10000)->Unit(benchmark::kMicrosecond);

void BM_Journal_Save_New_Idle(benchmark::State& state) {
  QTemporaryDir dir;
  auto journal =
      std::make_unique<Event_Journal>(dir.path().toStdString() + "/" + JOURNAL_FILE_NAME);
  journal->Load();
  Manual_Reset_Event gate(true);
  for (int n = 0; n < JOURNAL_SLOTS; ++n) {
    Event_Record r{};
    r.Status = EVT_PRESENT;
    std::snprintf(r.Account_Nr, sizeof r.Account_Nr, "%d", n);
    journal->Append(r);
  }
  journal->Save_New(gate);  // everything saved: the measured passes find nothing to do
  for (auto _ : state) benchmark::DoNotOptimize(journal->Save_New(gate).Wrote);
}
BENCHMARK(BM_Journal_Save_New_Idle)->Unit(benchmark::kMicrosecond);

}  // namespace
