#include "base/raw_file.h"

#include <vector>

#include <fcntl.h>
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
