#include "dialler_options.h"

#include <cstdlib>

const char* const Dialler_Usage =
    "Usage: dc09-dialler [options]\n"
    "Sends DC-09 messages as alarm communicators do and checks the receiver's answers.\n"
    "  --host ADDR         receiver address (127.0.0.1)\n"
    "  --port N            receiver port (7777)\n"
    "  --token T           ADM-CID or NULL (ADM-CID)\n"
    "  --account HEX       account number (1234)\n"
    "  --receiver HEX      receiver number, empty for none (1)\n"
    "  --line HEX          line number, empty for none (1)\n"
    "  --event QEEE        Contact ID qualifier and event code (1401)\n"
    "  --group GG          Contact ID group (01)\n"
    "  --zone ZZZ          Contact ID zone (001)\n"
    "  --key HEX           AES key of 16, 24 or 32 bytes: sends *ADM-CID / *NULL\n"
    "  --time-stamp        add the current UTC time stamp\n"
    "  --extended TEXT     extended data, such as [Q25][B10.1.2.3]\n"
    "  --connections N     connections at once (1)\n"
    "  --messages M        messages per connection, each sent after the previous answer (1)\n"
    "  --rate R            at most R messages per second in all (as fast as answered)\n"
    "  --period MS         each connection sends a message every MS milliseconds (the first\n"
    "                      ones spread evenly over one period); 0: as fast as answered (0)\n"
    "  --distinct-accounts connection n (0-based) uses the account plus n, in hex, so that\n"
    "                      every connection is an object of its own\n"
    "  --timeout MS        wait for one answer (5000)\n"
    "  --sequence S        first sequence number (1)\n"
    "  --udp               send each message as one UDP datagram (a socket per connection)\n"
    "  --repeat N          send each message N times with its sequence number unchanged,\n"
    "                      each copy after the previous one's answer (1)\n"
    "  --stats             print totals instead of each answer\n"
    "  --json              print the totals as JSON\n";

namespace {

bool Is_Hex_Text(const std::string& text, std::size_t max) {
  if (text.size() > max) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

bool To_Long(const std::string& text, long low, long high, long& value) {
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && value >= low && value <= high;
}

}  // namespace

bool Parse_Dialler_Options(const std::vector<std::string>& args, Dialler_Options& o,
                           std::string& error) {
  auto fail = [&error](const char* why) {
    error = why;
    return false;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--time-stamp") {
      o.Time_Stamp = true;
      continue;
    }
    if (name == "--distinct-accounts") {
      o.Distinct_Accounts = true;
      continue;
    }
    if (name == "--udp") {
      o.Udp = true;
      continue;
    }
    if (name == "--stats") {
      o.Stats = true;
      continue;
    }
    if (name == "--json") {
      o.Json = o.Stats = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "missing value or unknown option: " + name;
      return false;
    }
    const std::string& value = args[++i];
    long number = 0;
    if (name == "--host") {
      o.Host = value;
    } else if (name == "--port") {
      if (!To_Long(value, 1, 65535, number)) return fail("bad port");
      o.Port = static_cast<uint16_t>(number);
    } else if (name == "--token") {
      if (value != "ADM-CID" && value != "NULL") return fail("token is ADM-CID or NULL");
      o.Token = value;
    } else if (name == "--account") {
      if (!Is_Hex_Text(value, 16)) return fail("account: up to 16 upper-case hex digits");
      o.Account = value;
    } else if (name == "--receiver") {
      if (!Is_Hex_Text(value, 6)) return fail("receiver: up to 6 upper-case hex digits");
      o.Receiver = value;
    } else if (name == "--line") {
      if (!Is_Hex_Text(value, 6)) return fail("line: up to 6 upper-case hex digits");
      o.Line = value;
    } else if (name == "--event") {
      if (value.size() != 4 || !Is_Hex_Text(value, 4)) return fail("event: 4 digits");
      o.Event = value;
    } else if (name == "--group") {
      o.Group = value;
    } else if (name == "--zone") {
      o.Zone = value;
    } else if (name == "--key") {
      std::string hex;
      for (char c : value) hex += static_cast<char>((c >= 'a' && c <= 'f') ? c - 32 : c);
      if (!Is_Hex_Text(hex, 64) || (hex.size() != 32 && hex.size() != 48 && hex.size() != 64)) {
        return fail("key: 32, 48 or 64 hex digits (16, 24 or 32 bytes)");
      }
      for (std::size_t b = 0; b < hex.size() / 2; ++b) {
        o.Key[b] = static_cast<uint8_t>(std::strtol(hex.substr(2 * b, 2).c_str(), nullptr, 16));
      }
      o.Aes_Mode = hex.size() == 32 ? 1 : hex.size() == 48 ? 2 : 3;
    } else if (name == "--extended") {
      o.Extended = value;
    } else if (name == "--connections") {
      if (!To_Long(value, 1, 60000, number)) return fail("bad connection count");
      o.Connections = static_cast<int>(number);
    } else if (name == "--messages") {
      if (!To_Long(value, 1, 1000000000L, number)) return fail("bad message count");
      o.Messages = number;
    } else if (name == "--rate") {
      char* end = nullptr;
      o.Rate = std::strtod(value.c_str(), &end);
      if (*end != '\0' || o.Rate < 0) return fail("bad rate");
    } else if (name == "--period") {
      if (!To_Long(value, 0, 3600000, number)) return fail("bad period");
      o.Period_Ms = number;
    } else if (name == "--timeout") {
      if (!To_Long(value, 1, 3600000, number)) return fail("bad timeout");
      o.Timeout_Ms = static_cast<int>(number);
    } else if (name == "--repeat") {
      if (!To_Long(value, 1, 1000, number)) return fail("repeat: 1..1000");
      o.Repeat = number;
    } else if (name == "--sequence") {
      if (!To_Long(value, 0, 9999, number)) return fail("sequence: 0..9999");
      o.First_Sequence = static_cast<uint32_t>(number);
    } else {
      error = "unknown option: " + name;
      return false;
    }
  }
  return true;
}
