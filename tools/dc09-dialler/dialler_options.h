// Command-line options of the communicator simulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Dialler_Options {
  std::string Host = "127.0.0.1";
  uint16_t Port = 7777;
  std::string Token = "ADM-CID";  // "ADM-CID" or "NULL"
  std::string Account = "1234";
  std::string Receiver = "1";  // empty: no R field
  std::string Line = "1";      // empty: no L field
  std::string Event = "1401";  // Contact ID qualifier and event code
  std::string Group = "01";
  std::string Zone = "001";
  int Aes_Mode = 0;  // 0 plain, 1..3 from the key length
  uint8_t Key[32] = {};
  bool Time_Stamp = false;
  std::string Extended;
  int Connections = 1;
  long Messages = 1;   // per connection
  double Rate = 0;     // messages per second over all connections; 0 = as answered
  long Period_Ms = 0;  // per connection: a message at most every Period_Ms; 0 = as answered
  bool Distinct_Accounts = false;  // connection i uses Account + i (hex), its own object
  int Timeout_Ms = 5000;           // wait for one answer
  uint32_t First_Sequence = 1;
  bool Udp = false;  // each connection is a UDP socket: one datagram per message
  long Repeat = 1;   // copies of each message, sent one after another with one sequence number
  bool Stats = false;
  bool Json = false;
};

// Reads the options; on a bad one returns false with the reason in `error`.
bool Parse_Dialler_Options(const std::vector<std::string>& args, Dialler_Options& options,
                           std::string& error);

extern const char* const Dialler_Usage;
