// The start-up that both programs share (quenor and quenor-headless): the data folder with its
// single-instance lock. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "base/process_setup.h"
#include "base/product.h"
#include "base/raw_file.h"

// The data folder: the user's local application-data folder ($XDG_DATA_HOME, else
// ~/.local/share; created when missing) + "/ORN RAD-EZ Ududerud/". When the system names no such
// folder or it cannot be created, `executable_folder` (ending with '/') is used instead.
std::string Data_Folder_Path(const std::string& executable_folder);

// Creates `folder` (one level) with mode 0700, because it holds the AES key. True when the folder
// exists afterwards; an existing folder is left as it is.
bool Make_Data_Folder(const std::string& folder);

// The path of a data folder's single-instance lock: `data_folder` + "Quenor.exe.lock". The lock
// belongs to the folder, so receivers with different folders run side by side.
std::string Instance_Lock_Path(const std::string& data_folder);

// The single-instance lock "Quenor.exe" of one data folder: an flock on the lock file, held until
// the object is destroyed or the process ends (the kernel releases it then, so a crashed
// instance leaves no lock behind, whatever its host name or pid).
class Instance_Lock {
 public:
  explicit Instance_Lock(const std::string& data_folder);
  // 0 when this process now holds the lock; EWOULDBLOCK when another live instance holds it;
  // else the errno that kept the lock file from being opened or locked.
  int Acquire();

 private:
  std::string folder_;
  std::string path_;
  Raw_File file_;
};

// True when a live process holds the instance lock of `data_folder`. Opens the lock file to read
// only; nothing is written, so it also works in a folder the caller may not write.
bool Instance_Lock_Held(const std::string& data_folder);

// Why start-up ended before the core was built.
enum class Start_Refusal {
  None,
  No_Data_Folder,   // MSG_NO_DATA_FOLDER; Error() tells the folder and why
  Already_Running,  // MSG_ALREADY_RUNNING: another live receiver holds the folder
  Lock_Failed,      // the lock could not be taken for another reason; Error() tells it
};

// Steps 1 and 2 of start-up: the data folder (`data_dir` from --data-dir, or the default folder
// when empty), made with mode 0700 when missing, and its single-instance lock, kept for the
// object's life.
class Data_Folder_Claim {
 public:
  // `executable_folder` (ending with '/') stands in when the system names no data folder.
  Start_Refusal Claim(const std::string& data_dir, const std::string& executable_folder);
  // The claimed folder, ending with '/'.
  const std::string& Folder() const { return folder_; }
  // After No_Data_Folder or Lock_Failed: one line naming the folder and the system's reason.
  const std::string& Error() const { return error_; }

 private:
  std::string folder_;
  std::string error_;
  std::unique_ptr<Instance_Lock> lock_;
};

// The data folder named by --data-dir (`data_dir`, made absolute, ending with '/'), or the
// default folder when `data_dir` is empty.
std::string Resolve_Data_Folder(const std::string& data_dir, const std::string& executable_folder);
