#include "app/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/process_setup.h"

std::string Data_Folder_Path(const std::string& executable_folder) {
  const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  if (base.isEmpty() || !QDir().mkpath(base)) return executable_folder;
  return QDir(base).filePath(DATA_FOLDER_NAME).toStdString() + "/";
}

bool Make_Data_Folder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat info {};
  // errno tells why on failure.
  const auto is_folder = [&info] {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  };
  if (::stat(path.c_str(), &info) == 0) return is_folder();
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return ::stat(path.c_str(), &info) == 0 && is_folder();
}

std::string Instance_Lock_Path(const std::string& data_folder) {
  return data_folder + INSTANCE_LOCK_NAME;
}

Instance_Lock::Instance_Lock(const std::string& data_folder)
    : folder_(data_folder), path_(Instance_Lock_Path(data_folder)) {}

int Instance_Lock::Acquire() {
  // Never through a link planted in the folder; the file's content does not matter, and a lock
  // file the process may only read (root's, in a service user's folder) still takes the flock.
  if (!file_.Open(path_, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600) &&
      (file_.Error() != EACCES || !file_.Open(path_, O_RDONLY | O_NOFOLLOW | O_NONBLOCK)))
    return file_.Error();
  // Root preparing a service user's folder leaves the lock file to the folder's owner.
  if (::geteuid() == 0) file_.Give_To_Owner_Of(folder_);
  const int error = Try_Lock_Descriptor(file_.Descriptor());
  if (error != 0) {
    file_.Close();
    return error;
  }
  // The holder's pid, for people; the lock itself is the flock.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(file_.Descriptor(), 0) == 0) file_.Write_All(pid.data(), pid.size());
  return 0;
}

bool Instance_Lock_Held(const std::string& data_folder) {
  bool held = false;
  return Lock_Held_On(Instance_Lock_Path(data_folder), held) == 0 && held;
}

std::string Resolve_Data_Folder(const std::string& data_dir, const std::string& executable_folder) {
  if (data_dir.empty()) return Data_Folder_Path(executable_folder);
  // Byte for byte: a folder name need not be valid text.
  std::string folder = data_dir;
  if (folder.front() != '/') {
    std::error_code error;
    const std::string here = std::filesystem::current_path(error).string();
    if (!error) folder = here + (here.back() == '/' ? "" : "/") + folder;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder == "/" ? folder : folder + "/";
}

Start_Refusal Data_Folder_Claim::Claim(const std::string& data_dir,
                                       const std::string& executable_folder) {
  folder_ = Resolve_Data_Folder(data_dir, executable_folder);
  // A folder named on the command line may sit in folders that do not exist yet (a first
  // `settings` before the service ever ran); only the data folder itself is private.
  if (!data_dir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(
        std::filesystem::path(folder_.substr(0, folder_.size() - 1)).parent_path(), error);
  }
  if (!Make_Data_Folder(folder_)) {
    const int code = errno;
    error_ = std::string(MSG_NO_DATA_FOLDER) + " " + folder_ + ":" + Error_Text(code);
    return Start_Refusal::No_Data_Folder;
  }
  lock_ = std::make_unique<Instance_Lock>(folder_);
  const int code = lock_->Acquire();
  if (code != 0) {
    lock_.reset();
    if (code == EWOULDBLOCK) return Start_Refusal::Already_Running;
    error_ = "Cannot lock the data folder " + folder_ + " (" + INSTANCE_LOCK_NAME +
             "):" + Error_Text(code);
    return Start_Refusal::Lock_Failed;
  }
  return Start_Refusal::None;
}
