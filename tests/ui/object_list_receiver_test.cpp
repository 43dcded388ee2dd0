// The Object List window deleting objects while the receiver thread stores messages from new
// accounts: a real core with its receiver port on 127.0.0.1, a communicator on its own thread
// sending Contact ID messages, and the operator's trash clicks and "Delete all objects" on the
// main thread. Whatever the interleaving, every object is in the table once, none is left behind
// an empty record, and the count is the number of used records.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "receiver/receiver_fixture.h"
#include "store/object_grid_text.h"
#include "support/qt_widgets_app.h"
#include "support/wait.h"
#include "ui/object_list_form.h"

namespace {

using receiver_test::Cid_Frame;
using receiver_test::Client;

class Object_List_Receiver_Test : public receiver_test::Receiver_Fixture {
 protected:
  void SetUp() override {
    Test_Widgets_App();  // before the fixture, which would otherwise make a windowless app
    Receiver_Fixture::SetUp();
    Start();
    form_ = std::make_unique<TForm_Latest_Events>(core_->Objects(), core_->Sync(), nullptr);
    // The operator confirms every question: Yes to a deletion, OK to "Delete all objects".
    form_->Set_Box_Runner([this](QWidget*, const Operator_Box& box) {
      if (box.Buttons.testFlag(QMessageBox::Yes)) {
        confirmed_.push_back(box.Text.toStdString());
        return QMessageBox::Yes;
      }
      return QMessageBox::Ok;
    });
    form_->show();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    form_.reset();
    Receiver_Fixture::TearDown();
  }

  std::unique_ptr<TForm_Latest_Events> form_;
  std::vector<std::string> confirmed_;  // the texts of the confirmed deletion questions
};

TEST_F(Object_List_Receiver_Test, Deletions_Beside_The_Receiver_Thread_Keep_Every_Object_Once) {
  constexpr int kAccounts = 600;
  const uint16_t port = Port();
  std::atomic<int> clears_finished{0};
  std::atomic<int> answered{0};
  std::atomic<bool> sender_failed{false};
  // For each account: the number of finished "Delete all objects" when its message was sent.
  std::vector<int> clears_before(kAccounts, -1);

  std::thread communicator([&] {
    Client client(port);
    if (!client.Connected()) {
      sender_failed = true;
      return;
    }
    for (int n = 0; n < kAccounts; ++n) {
      clears_before[n] = clears_finished.load();
      client.Send(Cid_Frame(std::to_string(100000 + n), n % 10000));
      if (client.Answer(20000).find("\"ACK\"") == std::string::npos) {
        sender_failed = true;
        return;
      }
      answered = n + 1;
    }
  });

  // The operator, at every fourth answer: refreshes, and deletes the middle row, or after every
  // 150 accounts deletes all.
  int clears = 0;
  int seen = 0;
  int next_clear = 150;
  while (seen < kAccounts && !sender_failed.load()) {
    const int next = std::min(seen + 4, kAccounts);
    if (!Wait_Until([&] { return answered.load() >= next || sender_failed.load(); },
                    std::chrono::milliseconds(20000))) {
      break;
    }
    seen = answered.load();
    form_->Refresh_ID_List_Grid();
    const int middle = form_->Row_Count() / 2;
    if (seen >= next_clear && next_clear < kAccounts) {
      form_->Menu_Delete_ObjectsClick();
      clears_finished = ++clears;
      next_clear += 150;
    } else if (middle >= 1 && !form_->Cell(middle, 1).isEmpty()) {
      form_->Select_Cell(middle, OBJECT_COLUMN_TRASH);
    }
  }
  communicator.join();
  ASSERT_FALSE(sender_failed.load());
  ASSERT_GT(confirmed_.size(), 0u);

  Object_Table& objects = core_->Objects();
  const int count = objects.Count();
  std::set<std::string> present;
  for (int i = 0; i < count; ++i) {
    const std::string account(Field_Text(objects.Record(i).Account_Nr));
    EXPECT_TRUE(present.insert(account).second) << "account " << account << " twice";
  }
  // Nothing behind the used records: no object stranded behind an empty one.
  int stranded = 0;
  for (int i = count; i < OBJECT_SLOTS; ++i) {
    if (objects.Record(i).Last_Event_Time != 0 || objects.Record(i).Account_Nr[0] != '\0') {
      ++stranded;
    }
  }
  EXPECT_EQ(stranded, 0);

  // Every account sent after the last "Delete all objects" and not deleted by the operator is in
  // the table.
  std::set<std::string> deleted;
  for (const std::string& text : confirmed_) {
    deleted.insert(text.substr(std::string("Delete object  ").size(),
                               text.size() - std::string("Delete object  ").size() - 2));
  }
  int kept = 0;
  int missing = 0;
  for (int n = 0; n < kAccounts; ++n) {
    const std::string account = std::to_string(100000 + n);
    if (clears_before[n] != clears || deleted.count(account) != 0) continue;
    ++kept;
    if (present.count(account) == 0 && ++missing <= 5) {
      ADD_FAILURE() << "account " << account << " is missing";
    }
  }
  EXPECT_GT(kept, 0);
  EXPECT_EQ(missing, 0);

  form_->Refresh_ID_List_Grid();
  EXPECT_EQ(form_->Status_Text(), "Number of objects: " + QString::number(count));
}

}  // namespace
