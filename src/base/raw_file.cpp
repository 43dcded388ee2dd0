#include "base/raw_file.h"

#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool Raw_File::Open(const std::string& path, int flags, unsigned mode) {
  Close();
  fd_ = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool Raw_File::Set_Mode(unsigned mode) {
  if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool Raw_File::Give_To_Owner_Of(const std::string& folder) {
  struct stat dir {};
  struct stat self {};
  if (::stat(folder.c_str(), &dir) != 0 || ::fstat(fd_, &self) != 0) {
    error_ = errno;
    return false;
  }
  if (self.st_uid == dir.st_uid && self.st_gid == dir.st_gid) return true;
  if (::fchown(fd_, dir.st_uid, dir.st_gid) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

void Raw_File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int64_t Raw_File::Size() {
  off_t end = ::lseek(fd_, 0, SEEK_END);
  if (end < 0 || ::lseek(fd_, 0, SEEK_SET) < 0) {
    error_ = errno;
    return -1;
  }
  return end;
}

bool Raw_File::Seek(int64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool Raw_File::Write_All(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A regular file that takes nothing without an error is full.
      error_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int64_t Raw_File::Read_Up_To(void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd_, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = errno;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool File_Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int Folder_Check(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int64_t Owner_Of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_uid) : -1;
}

bool File_Missing(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

std::string Error_Text(int code) {
  return " Error: " + std::to_string(code) + ". " + std::strerror(code);
}

void Write_Zero_File(const std::string& path, std::size_t size) {
  Raw_File file;
  if (!file.Open(path, O_WRONLY | O_CREAT | O_TRUNC)) return;
  std::vector<char> zeros(size, 0);
  file.Write_All(zeros.data(), zeros.size());
}

std::string Size_Repair_Message(const std::string& path, int64_t found, std::size_t expected) {
  return "File " + path + " size (" + std::to_string(found) + "->" + std::to_string(expected) +
         ") error, new file created.";
}

int Write_At(int fd, const void* data, std::size_t size, int64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return 0;
}

int Sync_Data(int fd) {
  return ::fdatasync(fd) == 0 ? 0 : errno;
}

int Set_Size(int fd, int64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int Descriptor_Identity(int fd, uint64_t& device, uint64_t& inode) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return errno;
  device = st.st_dev;
  inode = st.st_ino;
  return 0;
}

int Path_Identity(const std::string& path, uint64_t& device, uint64_t& inode) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  device = st.st_dev;
  inode = st.st_ino;
  return 0;
}

int Open_Descriptor(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : -errno;
}

void Close_Descriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

namespace {

// The folder's descriptor, opened as a folder and never through a link as its last part.
int Open_Folder(const std::string& folder) {
  return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int Write_All_Fd(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

int Replace_File_In_Folder(const std::string& folder, const std::string& name, const void* data,
                           std::size_t size, unsigned mode, bool new_only) {
  const int dir = Open_Folder(folder);
  if (dir < 0) return errno;
  struct stat owner {};
  if (::fstat(dir, &owner) != 0) {
    const int error = errno;
    ::close(dir);
    return error;
  }
  // O_EXCL never opens an existing name, link or not: a name planted in the folder only makes
  // this try the next one.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  static_cast<mode_t>(mode));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int error = errno;
    ::close(dir);
    return error;
  }
  int error = Write_All_Fd(fd, data, size);
  // The umask may have narrowed the mode; the mode is set on the descriptor, never by name.
  if (error == 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) error = errno;
  // Root writing a service user's folder: the file becomes the folder owner's before it has its
  // name, so no name of the folder ever points at a file root owns or a file root gave away.
  if (error == 0 && ::geteuid() == 0 && ::fchown(fd, owner.st_uid, owner.st_gid) != 0)
    error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && new_only) {
    if (::linkat(dir, temp.c_str(), dir, name.c_str(), 0) != 0) error = errno;
    ::unlinkat(dir, temp.c_str(), 0);
  } else if (error == 0 && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlinkat(dir, temp.c_str(), 0);
  } else if (::fsync(dir) != 0) {
    error = errno;
  }
  ::close(dir);
  return error;
}

int Read_File_In_Folder(const std::string& folder, const std::string& name, std::string& bytes,
                        unsigned* mode) {
  bytes.clear();
  const int dir = Open_Folder(folder);
  if (dir < 0) return errno;
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  const int open_error = errno;
  ::close(dir);
  if (fd < 0) return open_error;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    // Not a regular file: a folder says so, anything else (a device, a pipe) is no file at all.
    const int error = S_ISREG(st.st_mode) ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return error;
  }
  if (mode != nullptr) *mode = st.st_mode & 07777;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return error;
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

int Try_Lock_Descriptor(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EAGAIN ? EWOULDBLOCK : errno;
  }
  return 0;
}

int Lock_Held_On(const std::string& path, bool& held) {
  held = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // A shared lock is refused only while some other open file holds the exclusive one; one taken
  // here is released at once by the close.
  int error = 0;
  while (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK || errno == EAGAIN)
      held = true;
    else
      error = errno;
    break;
  }
  ::close(fd);
  return error;
}
