// TForm_About: the About window, one line of text: the program's caption and version,
// "ORN RAD-EZ Ududerud 1.07.1 (64-bit)". Main thread only.
#pragma once

#include <QDialog>

class QLabel;

class TForm_About : public QDialog {
  Q_OBJECT

 public:
  explicit TForm_About(QWidget* parent = nullptr);

  // The line shown.
  static QString About_Text();

  QLabel* Label_Version;
};
