#include "base/settings.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/raw_file.h"
#include "protocol/dc9_crypto.h"

Settings_Record Settings_Defaults() {
  Settings_Record r{};
  r.DC9_Port = 7777;
  r.DC9_Conn_Timeout = 30;
  r.Out_TCP_Server = OUT_TCP_SERVER;
  r.Out_Port = 9999;
  r.HB_Receiver_Nr = 1;
  std::strcpy(r.Out_IP, "127.0.0.1");
  r.COM_Baud = 9600;
  r.HB_Period = 30;
  r.Cfg_Stamp = CFG_STAMP;
  return r;
}

int DC9_Key_Length(int8_t dc9_aes_mode) {
  const std::size_t bytes = DC9_Aes_Key_Bytes(dc9_aes_mode);
  return bytes != 0 ? static_cast<int>(bytes) : 16;
}

namespace {

// The folder (ending with '/') and the name of a file path.
void Split_Path(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

int Read_Settings_File(const std::string& path, std::string& bytes, unsigned* mode = nullptr) {
  std::string folder, name;
  Split_Path(path, folder, name);
  return Read_File_In_Folder(folder, name, bytes, mode);
}

}  // namespace

void Settings_Load(Settings_Record& record, const std::string& path) {
  record = Settings_Record{};
  std::string bytes;
  unsigned mode = 0;
  const int error = Read_Settings_File(path, bytes, &mode);
  if (error == ENOENT) {
    record = Settings_Defaults();
    Settings_Create(record, path);
    return;
  }
  // Silent: a file that cannot be read (or a link planted in its place) leaves every field zero.
  if (error != 0) return;
  std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
  if (record.Cfg_Stamp == 0) {
    // A file of an earlier format: stamp it; fields it did not hold stay zero.
    record.Cfg_Stamp = CFG_STAMP;
    Settings_Store(record, path, Settings_Write::Existing);
  } else if (mode != SETTINGS_FILE_MODE) {
    // The file holds the AES key: only its owner may read it, whatever an older version left.
    Settings_Store(record, path, Settings_Write::Existing);
  }
}

int Settings_Store(const Settings_Record& record, const std::string& path, Settings_Write when) {
  std::string folder, name;
  Split_Path(path, folder, name);
  std::string bytes;
  // Bytes after the 256th belong to nobody and are kept. A link in the file's place is replaced,
  // never followed.
  const int error = Read_File_In_Folder(folder, name, bytes);
  if (error != 0 && error != ENOENT && error != ELOOP) return error;
  if (error == ENOENT && when == Settings_Write::Existing) return ENOENT;
  if (error != ENOENT && when == Settings_Write::New) return EEXIST;
  if (error != 0) bytes.clear();
  if (bytes.size() < sizeof record) bytes.resize(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return Replace_File_In_Folder(folder, name, bytes.data(), bytes.size(), SETTINGS_FILE_MODE,
                                when == Settings_Write::New);
}

bool Settings_Create(const Settings_Record& record, const std::string& path) {
  return Settings_Store(record, path, Settings_Write::New) == 0;
}

bool Settings_Read(Settings_Record& record, const std::string& path, int* error) {
  std::string bytes;
  const int failed = Read_Settings_File(path, bytes);
  if (failed == ENOENT) {
    record = Settings_Defaults();
    return true;
  }
  record = Settings_Record{};
  if (error != nullptr) *error = failed;
  if (failed != 0) return false;
  std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
  if (record.Cfg_Stamp == 0) record.Cfg_Stamp = CFG_STAMP;
  return true;
}

bool Settings_Save(const Settings_Record& record, const std::string& path) {
  return Settings_Store(record, path, Settings_Write::Existing) == 0;
}

bool Settings_Differ_From_File(const Settings_Record& record, const std::string& path) {
  std::string bytes;
  if (Read_Settings_File(path, bytes) != 0 || bytes.size() < sizeof record) return true;
  return std::memcmp(bytes.data(), &record, sizeof record) != 0;
}
