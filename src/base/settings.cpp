#include "base/settings.h"

#include <fcntl.h>

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

void Settings_Load(Settings_Record& record, const std::string& path) {
  record = Settings_Record{};
  Raw_File file;
  if (File_Exists(path)) {
    // Silent: a file that exists but cannot be opened leaves every field zero.
    if (!file.Open(path, O_RDWR)) return;
    // The file holds the AES key: only its owner may read it, whatever an older version left.
    file.Set_Mode(SETTINGS_FILE_MODE);
    // Bytes after the 256th belong to nobody and are never read or changed.
    if (file.Read_Up_To(&record, sizeof record) < 0) return;
    if (record.Cfg_Stamp == 0) {
      // A file of an earlier format: stamp it; fields it did not hold stay zero.
      record.Cfg_Stamp = CFG_STAMP;
      if (file.Seek(0)) file.Write_All(&record, sizeof record);
    }
    return;
  }
  record = Settings_Defaults();
  Settings_Create(record, path);
}

bool Settings_Create(const Settings_Record& record, const std::string& path) {
  Raw_File file;
  if (!file.Open(path, O_WRONLY | O_CREAT | O_EXCL, SETTINGS_FILE_MODE)) return false;
  // The umask cannot widen 0600, but a narrower one must not lock the owner out.
  file.Set_Mode(SETTINGS_FILE_MODE);
  return file.Write_All(&record, sizeof record);
}

bool Settings_Read(Settings_Record& record, const std::string& path) {
  if (File_Missing(path)) {
    record = Settings_Defaults();
    return true;
  }
  record = Settings_Record{};
  Raw_File file;
  if (!file.Open(path, O_RDONLY)) return false;
  if (file.Read_Up_To(&record, sizeof record) < 0) return false;
  if (record.Cfg_Stamp == 0) record.Cfg_Stamp = CFG_STAMP;
  return true;
}

bool Settings_Save(const Settings_Record& record, const std::string& path) {
  Raw_File file;
  // The program never recreates the file after start-up.
  if (!file.Open(path, O_WRONLY)) return false;
  file.Set_Mode(SETTINGS_FILE_MODE);
  return file.Write_All(&record, sizeof record);
}

bool Settings_Differ_From_File(const Settings_Record& record, const std::string& path) {
  Raw_File file;
  if (!file.Open(path, O_RDONLY)) return true;
  unsigned char stored[sizeof(Settings_Record)];
  if (file.Read_Up_To(stored, sizeof stored) != static_cast<int64_t>(sizeof stored)) return true;
  return std::memcmp(stored, &record, sizeof stored) != 0;
}
