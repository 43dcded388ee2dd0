// libFuzzer entry for Parse_DC9_Message: every input is parsed from an exactly sized heap buffer
// (its bytes and one NUL), once with encryption off and once with AES-256, and every recognised
// frame must give an answer that checks out. The input is also framed as a message body with its
// CRC and length made right, so mutations reach the checks behind the frame's CRC.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "protocol/dc9_frame_builder.h"
#include "protocol/dc9_parser.h"
#include "protocol/dc9_response.h"

namespace {

// The key of the encrypted seed frames in fuzz/seeds: bytes 0x00..0x1F.
const uint8_t Fuzz_Key[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                              16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

template <std::size_t N>
void Require_Terminated(const char (&field)[N]) {
  if (std::memchr(field, '\0', N) == nullptr) __builtin_trap();
}

void Parse_Once(const uint8_t* data, std::size_t size, const Dc9_Aes_Config& aes) {
  std::unique_ptr<char[]> buffer(new char[size + 1]);
  std::memcpy(buffer.get(), data, size);
  buffer[size] = '\0';
  Event_Record record{};
  Extended_Data extended{};
  uint32_t sequence = 0;
  const Parse_Result result =
      Parse_DC9_Message(buffer.get(), size, record, sequence, extended, aes);
  if (result != PARSE_UNRECOGNISED && result != PARSE_PLAIN && result != PARSE_ENCRYPTED &&
      result != PARSE_REFUSED) {
    __builtin_trap();
  }
  if (sequence > 9999) __builtin_trap();
  Require_Terminated(record.Receiver_Nr);
  Require_Terminated(record.Line_Nr);
  Require_Terminated(record.Account_Nr);
  Require_Terminated(record.Event_Code);
  Require_Terminated(record.Group_Nr);
  Require_Terminated(record.Zone_Nr);
  if (result == PARSE_UNRECOGNISED) return;

  for (bool time_synch : {false, true}) {
    const Response_Kind kind = Choose_Response_Kind(result, time_synch, aes.Mode);
    const std::string answer =
        Build_DC9_Response(kind, sequence, record, aes, 1721039400, [] { return 7u; });
    if (!Decode_DC9_Answer(answer, aes).Valid) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Parse_Once(data, size, Dc9_Aes_Config{0, nullptr});
  Parse_Once(data, size, Dc9_Aes_Config{3, Fuzz_Key});
  if (size < 0x10000) {
    const std::string framed =
        Frame_DC9_Body(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto* bytes = reinterpret_cast<const uint8_t*>(framed.data());
    Parse_Once(bytes, framed.size(), Dc9_Aes_Config{0, nullptr});
    Parse_Once(bytes, framed.size(), Dc9_Aes_Config{3, Fuzz_Key});
  }
  return 0;
}
