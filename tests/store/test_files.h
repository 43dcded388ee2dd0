// Small file helpers for the store and settings tests: whole-file reads and writes, sizes.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

inline std::string Read_Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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
