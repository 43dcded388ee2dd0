// Settings, frames and journal reads shared by the whole-program tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "base/settings.h"
#include "protocol/dc9_frame_builder.h"
#include "store/event_journal.h"
#include "system_harness.h"

namespace sys {

// The 32 key bytes the communicators and the receiver share in the encrypted cases.
inline const uint8_t* Test_Key() {
  static const uint8_t key[32] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15,
                                  0x88, 0x09, 0xcf, 0x4f, 0x3c, 0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca,
                                  0x71, 0xbe, 0x2b, 0x73, 0xae, 0xf0, 0x85, 0x7d, 0x77, 0x81};
  return key;
}

enum Link_Kind { LINK_TCP_SERVER, LINK_TCP_CLIENT, LINK_SERIAL };

// Receiver port open on `dc9_port`; the automation link as `link` on `out_port` (or COM7).
inline Settings_Record Test_Settings(int dc9_port, Link_Kind link, int out_port, int hb_period,
                                     int format = 0, int aes_mode = 0) {
  Settings_Record s = Settings_Defaults();
  s.DC9_Port_Enable = 1;
  s.DC9_Port = dc9_port;
  s.DC9_Conn_Timeout = 30;
  s.DC9_AES_Mode = static_cast<int8_t>(aes_mode);
  std::memcpy(s.DC9_AES_Key, Test_Key(), 32);
  s.HB_Period = hb_period;
  s.Report_Format = static_cast<int8_t>(format);
  s.Out_Port = out_port;
  switch (link) {
    case LINK_TCP_SERVER:
      s.Out_Mode = 1;
      s.Out_TCP_Server = 1;
      break;
    case LINK_TCP_CLIENT:
      s.Out_Mode = 1;
      s.Out_TCP_Server = 0;
      std::strcpy(s.Out_IP, "127.0.0.1");
      break;
    case LINK_SERIAL:
      s.Out_Mode = 2;
      std::strcpy(s.COM_Name, "COM7");
      break;
  }
  return s;
}

inline Pad_Source Test_Pad() {
  auto gen = std::make_shared<std::mt19937>(7);
  return [gen] { return static_cast<uint32_t>((*gen)()); };
}

// A Contact ID frame from account `account`, receiver 1, line 1.
inline std::string Contact_Id_Frame(const std::string& account, uint32_t sequence = 1,
                                    const std::string& event = "1401", int aes_mode = 0) {
  Dc9_Frame_Fields f;
  f.Sequence = sequence;
  f.Receiver = "1";
  f.Line = "1";
  f.Account = account;
  f.Data = Contact_ID_Data(account, event, "01", "001");
  return Build_DC9_Frame(f, Dc9_Aes_Config{aes_mode, Test_Key()}, Test_Pad());
}

inline std::string Link_Test_Frame(const std::string& account, int aes_mode = 0) {
  Dc9_Frame_Fields f;
  f.Token = "NULL";
  f.Receiver = "1";
  f.Line = "1";
  f.Account = account;
  f.Data = Link_Test_Data();
  return Build_DC9_Frame(f, Dc9_Aes_Config{aes_mode, Test_Key()}, Test_Pad());
}

// Sends one frame on a new connection and returns the decoded answer (Token empty: no answer).
inline Dc9_Answer Send_Frame(int port, const std::string& frame, int aes_mode = 0,
                             std::chrono::milliseconds wait = 3s) {
  auto link = Tcp_Link::Connect(port, 10s);
  if (!link || !link->Send(frame)) return {};
  std::string got = link->Read_Until('\r', wait);
  if (got.empty()) return {};
  return Decode_DC9_Answer(got, Dc9_Aes_Config{aes_mode, Test_Key()});
}

// The Status byte of journal slot k as the file holds it (-1 when unreadable or not yet of its
// full size).
inline int Journal_File_Status(const std::string& journal_path, int k) {
  if (File_Size(journal_path) != static_cast<long>(JOURNAL_FILE_SIZE)) return -1;
  std::ifstream in(journal_path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(Journal_Slot_Offset(k)));
  const int status = in.get();
  return in ? status : -1;
}

// Waits until the report sender has gone through one whole cycle after this call: two link
// tests, sent one after the other, are saved in journal slots `slot` and `slot` + 1. The second
// arrives after the first was saved, so a later cycle saves it, and the cycle that saved the
// first (with its data pass) has ended. Link tests are stored, never reported: the automation
// software gets no line from them.
inline bool Wait_Sender_Cycle(int dc9_port, const std::string& journal_path, int slot,
                              int aes_mode = 0) {
  for (int k = slot; k < slot + 2; ++k) {
    const Dc9_Answer ping = Send_Frame(dc9_port, Link_Test_Frame("1234", aes_mode), aes_mode);
    if (!ping.Valid || !Wait_Until([&] { return Journal_File_Status(journal_path, k) == 1; }, 5s)) {
      return false;
    }
  }
  return true;
}

// The expected report line of the example event (receiver 1, line 1, 1401 01 001).
inline std::string Example_Line(const std::string& account, int format) {
  return (format == 1 ? "501001 18" : "5011 18") + account.substr(0, 4) + "E40101001\x14";
}

}  // namespace sys
