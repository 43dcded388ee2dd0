// dc09-dialler: a DC-09 communicator simulator. It opens N connections to a receiver, sends M
// Contact ID or link-test messages on each (plain or AES-encrypted), waits for the answer to each
// and prints every answer decoded and checked, or with --stats the totals and latencies.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "dialler_options.h"
#include "dialler_run.h"

namespace {

// The p-th percentile (0..100) of sorted values, nearest rank.
double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * sorted.size()));
  return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

// The frame with LF and CR shown, other control bytes as \xNN.
std::string Printable(const std::string& frame) {
  std::string text;
  for (unsigned char c : frame) {
    if (c == '\n') {
      text += "<LF>";
    } else if (c == '\r') {
      text += "<CR>";
    } else if (c < 32 || c > 126) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

void Print_Answer(int connection, long message, uint32_t sequence, const std::string& frame,
                  const Dc9_Answer& answer, double latency_us) {
  if (frame.empty()) {
    std::printf("connection %d message %ld sequence %04u: no answer\n", connection, message,
                sequence);
    return;
  }
  std::printf("connection %d message %ld sequence %04u: %s %s (%.3f ms) %s", connection, message,
              sequence, answer.Token.empty() ? "?" : answer.Token.c_str(),
              answer.Valid ? "valid" : ("INVALID: " + answer.Problem).c_str(), latency_us / 1000.0,
              Printable(frame).c_str());
  if (answer.Valid && answer.Token == "*ACK") std::printf(" decrypted: %s", answer.Data.c_str());
  std::printf("\n");
}

void Print_Totals(const Dialler_Options& o, Dialler_Totals& t) {
  std::sort(t.Latency_Us.begin(), t.Latency_Us.end());
  const double per_second = t.Elapsed_S > 0 ? t.Answered / t.Elapsed_S : 0;
  const double p50 = Percentile(t.Latency_Us, 50) / 1000.0;
  const double p90 = Percentile(t.Latency_Us, 90) / 1000.0;
  const double p99 = Percentile(t.Latency_Us, 99) / 1000.0;
  const double max = t.Latency_Us.empty() ? 0 : t.Latency_Us.back() / 1000.0;
  if (o.Json) {
    std::printf(
        "{\"connections\": %d, \"messages_per_connection\": %ld, \"aes_mode\": %d, "
        "\"sent\": %ld, \"answered\": %ld, \"ack\": %ld, \"duh\": %ld, \"nak\": %ld, "
        "\"invalid\": %ld, \"no_answer\": %ld, \"connect_failures\": %ld, \"not_sent\": %ld, "
        "\"connect_error\": \"%s\", "
        "\"elapsed_s\": %.6f, \"answered_per_s\": %.1f, "
        "\"latency_ms\": {\"p50\": %.3f, \"p90\": %.3f, \"p99\": %.3f, \"max\": %.3f}}\n",
        o.Connections, o.Messages, o.Aes_Mode, t.Sent, t.Answered, t.Ack, t.Duh, t.Nak, t.Invalid,
        t.No_Answer, t.Connect_Failures, t.Not_Sent, t.Connect_Error.c_str(), t.Elapsed_S,
        per_second, p50, p90, p99, max);
    return;
  }
  std::printf("connections %d x messages %ld, %s\n", o.Connections, o.Messages,
              o.Aes_Mode == 0   ? "plain"
              : o.Aes_Mode == 1 ? "AES-128"
              : o.Aes_Mode == 2 ? "AES-192"
                                : "AES-256");
  std::printf("sent %ld, answered %ld: ACK %ld, DUH %ld, NAK %ld, invalid %ld; no answer %ld\n",
              t.Sent, t.Answered, t.Ack, t.Duh, t.Nak, t.Invalid, t.No_Answer);
  if (t.Connect_Failures > 0) {
    std::printf("connect failures %ld (%s), messages not sent %ld\n", t.Connect_Failures,
                t.Connect_Error.c_str(), t.Not_Sent);
  }
  std::printf("elapsed %.3f s, answered/s %.1f\n", t.Elapsed_S, per_second);
  std::printf("latency ms: p50 %.3f, p90 %.3f, p99 %.3f, max %.3f\n", p50, p90, p99, max);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    std::fputs(Dialler_Usage, stdout);
    return 0;
  }
  Dialler_Options options;
  std::string error;
  if (!Parse_Dialler_Options(args, options, error)) {
    std::fprintf(stderr, "dc09-dialler: %s\n\n%s", error.c_str(), Dialler_Usage);
    return 2;
  }
  Answer_Report report;
  if (!options.Stats) report = Print_Answer;
  Dialler_Totals totals = Run_Dialler(options, report, error);
  if (!error.empty()) {
    std::fprintf(stderr, "dc09-dialler: %s\n", error.c_str());
    return 2;
  }
  if (options.Stats) {
    Print_Totals(options, totals);
  } else if (totals.Connect_Failures > 0) {
    std::printf("cannot connect to %s port %u: %s (%ld connection attempts failed)\n",
                options.Host.c_str(), options.Port, totals.Connect_Error.c_str(),
                totals.Connect_Failures);
  }
  std::fflush(stdout);
  // 0 when every message got a valid answer.
  const bool all_answered = totals.Answered == totals.Sent && totals.Invalid == 0 &&
                            totals.Not_Sent == 0 && totals.Sent > 0;
  return all_answered ? 0 : 1;
}
