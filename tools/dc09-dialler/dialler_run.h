// The communicator simulator's engine: N connections on one thread (non-blocking sockets and
// epoll), each sending its messages one at a time and waiting for the answer to each.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dialler_options.h"
#include "protocol/dc9_frame_builder.h"

struct Dialler_Totals {
  long Sent = 0;
  long Answered = 0;  // a frame up to CR came back, valid or not
  long Ack = 0;       // "ACK" or "*ACK"
  long Duh = 0;
  long Nak = 0;
  long Invalid = 0;    // answered, but a check of the answer failed
  long No_Answer = 0;  // timed out, or the receiver closed the connection first
  long Connect_Failures = 0;
  long Not_Sent = 0;               // messages of connections that could not connect
  std::string Connect_Error;       // the system's text for the first failed connection
  double Elapsed_S = 0;            // from the start to the last answer
  std::vector<double> Latency_Us;  // send to complete answer, one per answered message
};

// One finished message: its connection (0-based), its number on the connection, the sequence
// sent, the answer frame (empty when none came) decoded and checked, and its latency.
using Answer_Report =
    std::function<void(int connection, long message, uint32_t sequence, const std::string& frame,
                       const Dc9_Answer& answer, double latency_us)>;

// Runs the whole session. `error` gets a fatal setup problem (such as an unknown host).
Dialler_Totals Run_Dialler(const Dialler_Options& options, const Answer_Report& report,
                           std::string& error);
