// A stand-in for the operator in front of the windows' message boxes: it records every box and
// gives the answer set by the test.
#pragma once

#include <vector>

#include "ui/widgets/message_box.h"

struct Operator_Box_Recorder {
  QMessageBox::StandardButton Answer = QMessageBox::Ok;
  std::vector<Operator_Box> Boxes;

  Operator_Box_Runner Runner() {
    return [this](QWidget*, const Operator_Box& box) {
      Boxes.push_back(box);
      return Answer;
    };
  }
};
