#include "base/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

int Write_Whole(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

int Replace_File(const std::string& folder, const std::string& name, const std::string& bytes) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return errno;
  const std::string temporary = name + ".new";
  // A leftover of an earlier run (or anything planted there) goes first; O_EXCL then makes sure
  // the file written is the one just created, not a link.
  ::unlinkat(dir, temporary.c_str(), 0);
  int error = 0;
  const int fd =
      ::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno;
  } else {
    error = Write_Whole(fd, bytes);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::renameat(dir, temporary.c_str(), dir, name.c_str()) != 0) error = errno;
    if (error != 0) ::unlinkat(dir, temporary.c_str(), 0);
  }
  ::close(dir);
  return error;
}

int Read_Small_File(const std::string& path, std::string& bytes, std::size_t limit) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  char buffer[4096];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      break;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > limit) {
      error = EFBIG;
      break;
    }
  }
  ::close(fd);
  return error;
}

int Remove_File(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}
