#pragma once
// The one fixed mapping between the one-byte code a response handler receives and the
// SOME/IP message that carries it, used in both directions so that independent peers
// interoperate:
//
//   code 0            RESPONSE, return code 0x00, payload = the output record
//   code 0x01-0x3E    ERROR, return code 0x20 + code (0x21-0x5E), payload as given
//   code 0x81-0x9F    ERROR, return code code - 0x80 (the generic codes 0x01-0x1F)
//   any other code    cannot be carried: ERROR 0x01 (arrives as 0x81), counted
//
// Arriving, a RESPONSE with a non-zero return code, or an ERROR with return code 0x00, 0x20
// or 0x5F-0xFF, becomes 0x81 and is counted. The calling side answers 0xFF itself to a
// call it could not send; 0xFF never travels.

#include <cstdint>

namespace platform::runtime::someip {

// The code the calling side hands its response handler for a call it could not send.
inline constexpr std::uint8_t code_not_sent = 0xFF;
// The code of an invalid arrival and of a code the serving side could not carry.
inline constexpr std::uint8_t code_not_ok = 0x81;

struct Wire_code {
    std::uint8_t message_type = 0;
    std::uint8_t return_code = 0;
    bool carried = true;  // false: the code cannot be carried; sent as ERROR 0x01 instead
};

// What the serving side sends for `code` given by the service. When !carried the
// application's payload is not sent.
Wire_code to_wire(std::uint8_t code);

struct Handler_code {
    std::uint8_t code = 0;
    bool valid = true;  // false: an invalid combination, handed on as 0x81
};

// The code the response handler receives for a RESPONSE or ERROR (TP flag removed).
Handler_code from_wire(std::uint8_t type, std::uint8_t code);

}  // namespace platform::runtime::someip
