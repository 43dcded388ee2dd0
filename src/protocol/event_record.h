// Event_Record: the fixed 80-byte record of one accepted DC-09 message. It is also the record
// format of the journal file "dorvex.dat", written as it lies in memory, so every offset below is
// part of that file format. Texts are 8-bit ASCII, NUL-terminated and NUL-padded to their field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

// Bits of Event_Record::Status. In memory a slot goes 0 -> 1 -> 3 -> 7; the file holds 0, 1 or 7.
inline constexpr uint8_t EVT_PRESENT = 1;   // the slot holds an event (set by the receiver)
inline constexpr uint8_t EVT_SAVED = 2;     // written to the journal file (memory only)
inline constexpr uint8_t EVT_REPORTED = 4;  // acknowledged by the automation software

struct Event_Record {
  uint8_t Status;          // EVT_* bits; 0 = empty slot
  char Receiver_Nr[7];     // up to 6 hex characters from the R field
  char Line_Nr[7];         // up to 6 hex characters from the L field
  char Account_Nr[17];     // up to 16 hex characters from the # field of the header
  char Event_Code[5];      // qualifier + event code ("1401"), or "NULL" for a link test
  char Group_Nr[3];        // Contact ID group / partition, up to 2 characters
  char Zone_Nr[4];         // Contact ID zone / user, up to 3 characters
  uint8_t Reserved_44[4];  // always 0
  int64_t Time_Received;   // seconds since 1970-01-01 UTC, the receiver's clock
  char IP_Address[16];     // "[B" value, else the peer's dotted address; at most 15 characters
  int32_t Signal_Quality;  // "[Q" value reduced to 8 bits; 255 = none
  uint8_t Reserved_76[4];  // always 0
};

static_assert(sizeof(Event_Record) == 80);
static_assert(std::is_trivially_copyable_v<Event_Record>);
static_assert(offsetof(Event_Record, Status) == 0);
static_assert(offsetof(Event_Record, Receiver_Nr) == 1);
static_assert(offsetof(Event_Record, Line_Nr) == 8);
static_assert(offsetof(Event_Record, Account_Nr) == 15);
static_assert(offsetof(Event_Record, Event_Code) == 32);
static_assert(offsetof(Event_Record, Group_Nr) == 37);
static_assert(offsetof(Event_Record, Zone_Nr) == 40);
static_assert(offsetof(Event_Record, Reserved_44) == 44);
static_assert(offsetof(Event_Record, Time_Received) == 48);
static_assert(offsetof(Event_Record, IP_Address) == 56);
static_assert(offsetof(Event_Record, Signal_Quality) == 72);
static_assert(offsetof(Event_Record, Reserved_76) == 76);

// The extended data collected from a message ("[Q25][B10.1.2.3]"): up to 64 characters,
// NUL-terminated when shorter; a full buffer has no terminator.
using Extended_Data = std::array<char, 64>;

// The extended data as text (at most 64 characters).
std::string_view Extended_Text(const Extended_Data& data);

// The text of a fixed NUL-padded field, stopping at its first NUL or at its end.
template <std::size_t N>
std::string_view Field_Text(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string_view(field, n);
}

// True when the record is a link test (Event_Code "NULL"): stored, shown, never reported.
bool Is_Link_Test(const Event_Record& record);

// The word for a record's state wherever it is shown: "Not reportable" for a link test, then
// "Reported" (Status 7), "Pending" (Status 3), and "Unknown" for any other non-zero Status.
const char* Event_State_Word(const Event_Record& record);
