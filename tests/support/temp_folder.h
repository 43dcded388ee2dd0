// A temporary data folder for one test, removed with its content when the test ends.
#pragma once

#include <QTemporaryDir>
#include <string>

class Temp_Folder {
 public:
  Temp_Folder() { dir_.setAutoRemove(true); }
  // The folder path, ending with '/'.
  std::string Path() const { return dir_.path().toStdString() + "/"; }
  std::string File(const std::string& name) const { return Path() + name; }

 private:
  QTemporaryDir dir_;
};
