// The one bridge to the main thread: a worker's waiting hand-over and the work other workers
// post without waiting share one Main_Queue, whose wake-up the main thread's event loop serves.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/main_hand_over.h"
#include "base/main_queue.h"
#include "support/qt_app.h"
#include "support/wait.h"

namespace {

struct Main_Bridge : ::testing::Test {
  QCoreApplication& app = Test_Core_App();  // before the bridge, whose wake-up it serves
  Main_Queue bridge;
};

TEST_F(Main_Bridge, HandOverAndPostedWorkRunOnTheMainThreadInTheirOrder) {
  Main_Hand_Over hand_over(&bridge);
  const auto main_thread = std::this_thread::get_id();
  std::vector<std::string> ran;  // main thread only
  std::atomic<bool> returned{false};
  bool handed_over = false;
  std::thread worker([&] {
    std::vector<Main_Queue::Work> batch;
    batch.emplace_back([&] { ran.push_back("posted"); });
    bridge.Post(batch);
    handed_over = hand_over.Run([&] {
      EXPECT_EQ(std::this_thread::get_id(), main_thread);
      ran.push_back("handed over");
    });
    returned = true;
  });
  // Only the main thread's event loop runs the work: the bridge's wake-up reaches it.
  EXPECT_TRUE(Wait_Until([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(handed_over);
  EXPECT_EQ(ran, (std::vector<std::string>{"posted", "handed over"}));
}

TEST_F(Main_Bridge, HeldHandOverWaitsUntilReleasedAndClosingReleasesWithoutRunning) {
  Main_Hand_Over hand_over(&bridge);
  hand_over.Hold(true);
  int runs = 0;
  std::atomic<int> returned{0};
  std::atomic<int> done{0};
  std::thread first([&] {
    done += hand_over.Run([&] { ++runs; }) ? 1 : 0;
    ++returned;
  });
  // The bridge is drained while held: the work stays queued and the worker waits.
  EXPECT_FALSE(Wait_Until([&] { return returned.load() > 0; }, std::chrono::milliseconds(300)));
  bridge.Drain();
  EXPECT_EQ(runs, 0);
  hand_over.Hold(false);
  EXPECT_TRUE(Wait_Until([&] { return returned.load() == 1; }));
  first.join();
  EXPECT_EQ(runs, 1);

  hand_over.Hold(true);
  std::thread second([&] {
    done += hand_over.Run([&] { ++runs; }) ? 1 : 0;
    ++returned;
  });
  EXPECT_FALSE(Wait_Until([&] { return returned.load() > 1; }, std::chrono::milliseconds(300)));
  hand_over.Close();
  EXPECT_TRUE(Wait_Until([&] { return returned.load() == 2; }));
  second.join();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(done.load(), 1);
}

}  // namespace
