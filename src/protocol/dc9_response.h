// The DC-09 answer to a recognised frame: the choice of Response_Kind and Build_DC9_Response,
// which makes the exact bytes to send. Pure code: the caller passes the current UTC time and the
// pad's random source.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/dc9_crypto.h"  // Pad_Source: the "*ACK" pad bytes
#include "protocol/dc9_parser.h"
#include "protocol/event_record.h"

enum Response_Kind : int {
  RESPONSE_ACK = 1,      // "ACK": stored
  RESPONSE_AES_ACK = 2,  // "*ACK": stored
  RESPONSE_NAK = 3,      // time-synchronisation "NAK" carrying the receiver's clock: not stored
  RESPONSE_DUH = 4,      // refusal: not stored
};

// Choice of the answer for an accepted or refused Parse_Result (an unrecognised frame gets no
// answer and is not asked about): with Time_Synch on, an encrypted message gets the NAK; with
// encryption configured, a plain message gets DUH; otherwise plain gets "ACK", encrypted "*ACK"
// and refused "DUH".
Response_Kind Choose_Response_Kind(Parse_Result result, bool time_synch, int aes_mode);

// The whole response frame, LF to CR. `record` is the record as it left the parser (its
// Time_Received non-zero when the message had a time stamp); `utc_now` is seconds since 1970 UTC.
std::string Build_DC9_Response(Response_Kind kind, uint32_t sequence, const Event_Record& record,
                               const Dc9_Aes_Config& aes, int64_t utc_now, const Pad_Source& pad);
