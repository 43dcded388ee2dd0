// Small file helpers for the store and settings tests: whole-file reads and writes, sizes.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>

// `size` bytes from `offset` (fewer at the end of the file); the whole file by default.
inline std::string Read_Bytes(const std::string& path, std::size_t offset = 0,
                              std::size_t size = std::string::npos) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::size_t end = static_cast<std::size_t>(in.tellg());
  if (offset >= end) return {};
  size = std::min(size, end - offset);
  std::string bytes(size, '\0');
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  return bytes;
}

inline void Write_Bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// -1 when the file does not exist.
inline int64_t File_Size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

inline bool All_Zero(const std::string& bytes) {
  return bytes.find_first_not_of('\0') == std::string::npos;
}
