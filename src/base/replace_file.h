// Replacing a small file of a folder as a whole: readers see the old bytes or the new ones,
// never a mix or a truncated file. Any thread; one writer per file.
#pragma once

#include <string>

// Writes `bytes` to a temporary file beside `name` in `folder` (ending with '/'), created anew
// with mode 0600 and never through a link, then renames it over `name`. Returns 0, or the errno
// of the step that failed (the temporary file is then removed). Not synced to the disk: for
// files rewritten every few seconds whose loss in a power cut does no harm.
int Replace_File(const std::string& folder, const std::string& name, const std::string& bytes);

// Reads a whole small file (at most `limit` bytes; a longer file is an error, EFBIG) into
// `bytes`. Returns 0 or the errno (ENOENT when it does not exist).
int Read_Small_File(const std::string& path, std::string& bytes, std::size_t limit);

// Removes the file at `path`. Returns 0 (also when it did not exist) or the errno.
int Remove_File(const std::string& path);
