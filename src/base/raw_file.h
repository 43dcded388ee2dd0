// Raw_File: the few POSIX file operations the stores need, in one place that reads errno. A
// Raw_File owns one descriptor and closes it on destruction; the helpers below open, act and
// close again, so no file stays open between operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Raw_File {
 public:
  Raw_File() = default;
  ~Raw_File() { Close(); }
  Raw_File(const Raw_File&) = delete;
  Raw_File& operator=(const Raw_File&) = delete;
  Raw_File(Raw_File&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

  // `flags` are open(2) flags; a created file gets `mode` (less the umask). False (and Error()
  // set) on failure.
  bool Open(const std::string& path, int flags, unsigned mode = 0644);
  // Sets the open file's permission bits to `mode` (fchmod); false (and Error() set) on failure.
  bool Set_Mode(unsigned mode);
  // Gives the open file to the owner and group of `folder` when they differ (only root may);
  // false (and Error() set) on failure.
  bool Give_To_Owner_Of(const std::string& folder);
  bool Is_Open() const { return fd_ >= 0; }
  void Close();
  // The size by seeking to the end, then back to 0; -1 on failure.
  int64_t Size();
  bool Seek(int64_t offset);
  // Writes all `size` bytes at the current position; false when not all were written.
  bool Write_All(const void* data, std::size_t size);
  // Reads up to `size` bytes at the current position; the count read, -1 on failure.
  int64_t Read_Up_To(void* data, std::size_t size);
  // errno of the last failure of this object (0 when none).
  int Error() const { return error_; }
  int Descriptor() const { return fd_; }
  // Hands the descriptor over to a caller that keeps it beyond this object (-1 when closed).
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Takes over an open descriptor (or -1), closing the one held before.
  void Adopt(int fd) {
    Close();
    fd_ = fd;
  }

 private:
  int fd_ = -1;
  int error_ = 0;
};

bool File_Exists(const std::string& path);
// 0 when `path` is a folder (links followed), ENOTDIR when it is something else, else the errno
// of the look-up (ENOENT when missing).
int Folder_Check(const std::string& path);
// The user id owning `path` (links followed); -1 when it cannot be looked up.
int64_t Owner_Of(const std::string& path);
// True only when the system says the file is not there (a folder that cannot be searched is no
// proof of that).
bool File_Missing(const std::string& path);

// Creates (or truncates) the file and fills it with `size` zero bytes; failures are silent.
void Write_Zero_File(const std::string& path, std::size_t size);

// The kept message of a fixed-size data file that had the wrong size and was recreated:
// "File <path> size (<found>-><expected>) error, new file created."
std::string Size_Repair_Message(const std::string& path, int64_t found, std::size_t expected);

// " Error: " + code in decimal + ". " + the system's text for it: the tail of every journal
// file error line.
std::string Error_Text(int code);

// Operations on a descriptor kept open by its owner (the journal's and the object table's).
// Each returns 0 on success, else the errno of the failure.
// Writes all `size` bytes at `offset` (pwrite); a write that takes nothing counts as ENOSPC.
int Write_At(int fd, const void* data, std::size_t size, int64_t offset);
// Makes the file's data durable (fdatasync).
int Sync_Data(int fd);
// Cuts or extends the file to `size` bytes (ftruncate).
int Set_Size(int fd, int64_t size);
// The device and inode of an open descriptor or of a path, to tell whether a path still names
// the file a descriptor was opened on.
int Descriptor_Identity(int fd, uint64_t& device, uint64_t& inode);
int Path_Identity(const std::string& path, uint64_t& device, uint64_t& inode);
// Opens `path` (open(2) flags, mode 0644 for a created file): the descriptor, or -errno.
int Open_Descriptor(const std::string& path, int flags);
void Close_Descriptor(int fd);

// Files of a data folder that a more privileged user (root running a command) may write while
// the folder belongs to the service user: every name is opened relative to the folder's
// descriptor and never through a symbolic link planted in the folder.
//
// Replaces `name` in `folder` atomically: `data` goes into a new temporary file of the folder
// (mode `mode`, given to the folder's owner and group when root writes), which is synced and then
// renamed over `name`; the folder is synced after. The old file, or the link, stays whole on any
// failure (a full disk included). With `new_only` the temporary file is linked as `name` instead,
// which fails (EEXIST) when the name exists. Returns 0, else the errno of the failure.
int Replace_File_In_Folder(const std::string& folder, const std::string& name, const void* data,
                           std::size_t size, unsigned mode, bool new_only = false);
// Reads all of the regular file `name` in `folder` into `bytes` without following a link (ELOOP
// for one), and its permission bits into `mode` when given. Returns 0, else the errno of the
// failure (ENOENT when the file is missing).
int Read_File_In_Folder(const std::string& folder, const std::string& name, std::string& bytes,
                        unsigned* mode = nullptr);

// An exclusive advisory lock (flock) on the open descriptor, taken without waiting; the kernel
// releases it when the descriptor closes or the process dies. Returns 0, EWOULDBLOCK when
// another open file holds it, else the errno of the failure.
int Try_Lock_Descriptor(int fd);
// True when some open file holds the lock of the file `path` (which is only opened to read).
// Returns 0 and sets `held`, else the errno of the failure (ENOENT when there is no file).
int Lock_Held_On(const std::string& path, bool& held);
