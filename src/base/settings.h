// Settings_Record: all settings of the receiver in one fixed 256-byte record whose raw image is
// the file "dorvex.cfg". Packed: the 32-bit fields start at odd offsets (1, 5, 50, 86). Every
// control writes its field into the one in-memory record at once; the file is written only by
// Save, the close question, the creation of a missing file, the stamp upgrade and the command
// line, always through Settings_Store.
//
// Threads: the one record belongs to the main thread, which loads it, edits it (the settings
// pages, the link manager's Out_Mode fallback) and reads it (receiver, link manager). It has no
// lock: the report sender reads HB_Period, HB_Receiver_Nr, Report_Format and Out_Mode only
// inside work handed to the main thread, and no other thread touches it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#pragma pack(push, 1)
struct Settings_Record {
  uint8_t DC9_Port_Enable;      // 1 = receiver port to be open
  int32_t DC9_Port;             // receiver TCP port (7777)
  int32_t DC9_Conn_Timeout;     // communicator connection timeout, seconds (30)
  int8_t DC9_AES_Mode;          // 0 off, 1 AES-128, 2 AES-192, 3 AES-256
  uint8_t Reserved_10[6];       //
  uint8_t DC9_AES_Key[32];      // key bytes; those after a shorter key are zero
  uint8_t Out_Mode;             // automation link: 0 closed, 1 TCP, 2 serial
  uint8_t Out_TCP_Server;       // 1 = TCP server mode, 0 = client mode
  int32_t Out_Port;             // automation TCP port (9999)
  int8_t HB_Receiver_Nr;        // receiver number of the heartbeat line (1)
  uint8_t Reserved_55[9];       //
  char Out_IP[16];              // automation software address, client mode ("127.0.0.1")
  char COM_Name[6];             // "COM" + n, at most 5 characters
  int32_t COM_Baud;             // serial baud rate (9600)
  int32_t HB_Period;            // heartbeat period, seconds; 0 = no heartbeat (30)
  int8_t Report_Format;         // 0 "SG MLR2-DG", 1 "SG MLR2000"
  uint8_t Time_Synch;           // 1 = time synchronisation on
  int32_t Cfg_Stamp;            // format stamp, always 1602
  uint8_t Reserved_100[12];     //
  uint8_t Start_In_Background;  // 1 = start hidden in the notification area
  uint8_t DC9_UDP_Enable;       // 1 = also answer DC-09 over UDP on the receiver port's number
  uint8_t DC9_Repeat_Window;    // minutes a repeated message is answered but not stored; 0 = off
  uint8_t Reserved_115[141];    //
};
#pragma pack(pop)

static_assert(sizeof(Settings_Record) == 256);
static_assert(std::is_trivially_copyable_v<Settings_Record>);
static_assert(offsetof(Settings_Record, DC9_Port_Enable) == 0);
static_assert(offsetof(Settings_Record, DC9_Port) == 1);
static_assert(offsetof(Settings_Record, DC9_Conn_Timeout) == 5);
static_assert(offsetof(Settings_Record, DC9_AES_Mode) == 9);
static_assert(offsetof(Settings_Record, Reserved_10) == 10);
static_assert(offsetof(Settings_Record, DC9_AES_Key) == 16);
static_assert(offsetof(Settings_Record, Out_Mode) == 48);
static_assert(offsetof(Settings_Record, Out_TCP_Server) == 49);
static_assert(offsetof(Settings_Record, Out_Port) == 50);
static_assert(offsetof(Settings_Record, HB_Receiver_Nr) == 54);
static_assert(offsetof(Settings_Record, Reserved_55) == 55);
static_assert(offsetof(Settings_Record, Out_IP) == 64);
static_assert(offsetof(Settings_Record, COM_Name) == 80);
static_assert(offsetof(Settings_Record, COM_Baud) == 86);
static_assert(offsetof(Settings_Record, HB_Period) == 90);
static_assert(offsetof(Settings_Record, Report_Format) == 94);
static_assert(offsetof(Settings_Record, Time_Synch) == 95);
static_assert(offsetof(Settings_Record, Cfg_Stamp) == 96);
static_assert(offsetof(Settings_Record, Reserved_100) == 100);
static_assert(offsetof(Settings_Record, Start_In_Background) == 112);
static_assert(offsetof(Settings_Record, DC9_UDP_Enable) == 113);
static_assert(offsetof(Settings_Record, DC9_Repeat_Window) == 114);
static_assert(offsetof(Settings_Record, Reserved_115) == 115);

// Out_Mode: which link to the automation software the link manager keeps open.
inline constexpr uint8_t OUT_MODE_CLOSED = 0;
inline constexpr uint8_t OUT_MODE_TCP = 1;
inline constexpr uint8_t OUT_MODE_SERIAL = 2;
// Out_TCP_Server: the side the receiver takes on the TCP link.
inline constexpr uint8_t OUT_TCP_CLIENT = 0;
inline constexpr uint8_t OUT_TCP_SERVER = 1;

inline constexpr int32_t CFG_STAMP = 1602;
inline constexpr const char* SETTINGS_FILE_NAME = "dorvex.cfg";
// The settings file holds the AES key: it is created, and kept on every write, readable and
// writable by its owner only.
inline constexpr unsigned SETTINGS_FILE_MODE = 0600;

// The record of a new settings file: all zero but the defaults (port 7777, timeout 30, server
// mode, automation port 9999, heartbeat receiver 1, "127.0.0.1", 9600 baud, heartbeat 30 s,
// stamp 1602).
Settings_Record Settings_Defaults();

// The key size in bytes that DC9_AES_Mode asks for: 32 for 3, 24 for 2, and 16 for 1, for 0
// (off) and for any other value, so the key entry always has a length to work with.
int DC9_Key_Length(int8_t dc9_aes_mode);

// Every write of the file goes through Settings_Store: the record and the old file's bytes after
// the 256th go into a new file of the folder that is renamed over "dorvex.cfg" (mode 0600, owned
// by the folder's owner), so a failed write (a full disk) leaves the old file whole and a link
// planted in the folder is replaced, never followed. No read follows such a link either.

// Fills `record` from the file at `path` (up to 256 bytes; a shorter file leaves the rest zero;
// a stamp of 0 is upgraded to 1602 and the record written back; a file not of mode 0600 is
// rewritten with it). A missing file is created with the defaults. A file that cannot be read
// leaves the record zero. Never fails towards the caller.
void Settings_Load(Settings_Record& record, const std::string& path);

// Which file Settings_Store may write: any, only over an existing one (ENOENT otherwise), only a
// new one (EEXIST otherwise).
enum class Settings_Write { Any, Existing, New };

// Writes the record as the file at `path` as described above. Returns 0, else the errno of the
// failure.
int Settings_Store(const Settings_Record& record, const std::string& path,
                   Settings_Write when = Settings_Write::Any);

// Settings_Store of a new file (never over an existing one); false when it failed.
bool Settings_Create(const Settings_Record& record, const std::string& path);

// Reads the record as Settings_Load would, but touches no file: a missing file reads as the
// defaults, a stamp of 0 reads as 1602 without a write. False when the file exists but cannot be
// read (a link in its place included); `error`, when given, then gets the errno of the failure.
bool Settings_Read(Settings_Record& record, const std::string& path, int* error = nullptr);

// Settings_Store over the existing file, for the Save button and the close question (the program
// never recreates a file deleted while it runs); false when it failed.
bool Settings_Save(const Settings_Record& record, const std::string& path);

// The comparison behind Update_Save_Button: true when the first 256 bytes of the file differ
// from the record (a missing or short file differs).
bool Settings_Differ_From_File(const Settings_Record& record, const std::string& path);
