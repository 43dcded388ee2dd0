// Micro-benchmarks of the DC-09 protocol core: parsing a read (the copy into the receive buffer
// included, since the parser works in place) and building answers.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "protocol/dc9_frame_builder.h"
#include "protocol/dc9_parser.h"
#include "protocol/dc9_response.h"

namespace {

const uint8_t Bench_Key[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                               16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
constexpr int64_t Bench_Now = 1721039400;

std::string Contact_ID_Frame(const Dc9_Aes_Config& aes, bool time_stamp) {
  const Dc9_Frame_Fields fields{
      "ADM-CID",
      1,
      "1",
      "1",
      "1234",
      Contact_ID_Data("1234", "1401", "01", "001", "",
                      time_stamp ? DC9_Time_Stamp(Bench_Now) : std::string())};
  return Build_DC9_Frame(fields, aes, [] { return 5u; });
}

void Parse_Loop(benchmark::State& state, const std::string& frame, const Dc9_Aes_Config& aes,
                Parse_Result expected) {
  std::string buffer(frame.size() + 1, '\0');
  for (auto _ : state) {
    std::memcpy(buffer.data(), frame.data(), frame.size() + 1);
    Event_Record record{};
    Extended_Data extended{};
    uint32_t sequence = 0;
    Parse_Result r =
        Parse_DC9_Message(buffer.data(), frame.size(), record, sequence, extended, aes);
    if (r != expected) state.SkipWithError("frame not accepted");
    benchmark::DoNotOptimize(record);
  }
}

void BM_Parse_Plain_Contact_ID(benchmark::State& state) {
  Parse_Loop(state, Contact_ID_Frame({}, false), {}, PARSE_PLAIN);
}
BENCHMARK(BM_Parse_Plain_Contact_ID);

void BM_Parse_Plain_Contact_ID_Time_Stamp(benchmark::State& state) {
  Parse_Loop(state, Contact_ID_Frame({}, true), {}, PARSE_PLAIN);
}
BENCHMARK(BM_Parse_Plain_Contact_ID_Time_Stamp);

void BM_Parse_AES256_Contact_ID(benchmark::State& state) {
  const Dc9_Aes_Config aes{3, Bench_Key};
  Parse_Loop(state, Contact_ID_Frame(aes, false), aes, PARSE_ENCRYPTED);
}
BENCHMARK(BM_Parse_AES256_Contact_ID);

void BM_Parse_AES256_Contact_ID_Time_Stamp(benchmark::State& state) {
  const Dc9_Aes_Config aes{3, Bench_Key};
  Parse_Loop(state, Contact_ID_Frame(aes, true), aes, PARSE_ENCRYPTED);
}
BENCHMARK(BM_Parse_AES256_Contact_ID_Time_Stamp);

void BM_Build_Ack(benchmark::State& state) {
  Event_Record record{};
  std::memcpy(record.Receiver_Nr, "1", 2);
  std::memcpy(record.Line_Nr, "1", 2);
  std::memcpy(record.Account_Nr, "1234", 5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Build_DC9_Response(RESPONSE_ACK, 1, record, {}, Bench_Now, {}));
  }
}
BENCHMARK(BM_Build_Ack);

void BM_Build_AES256_Ack(benchmark::State& state) {
  const Dc9_Aes_Config aes{3, Bench_Key};
  Event_Record record{};
  std::memcpy(record.Receiver_Nr, "1", 2);
  std::memcpy(record.Line_Nr, "1", 2);
  std::memcpy(record.Account_Nr, "1234", 5);
  uint32_t counter = 0;
  const Pad_Source pad = [&counter] { return counter++; };
  for (auto _ : state) {
    benchmark::DoNotOptimize(Build_DC9_Response(RESPONSE_AES_ACK, 1, record, aes, Bench_Now, pad));
  }
}
BENCHMARK(BM_Build_AES256_Ack);

}  // namespace
