#pragma once
// UDS service identifiers, sub-functions and negative response codes as the simulated ECU
// uses them, and the shape of one answer.
//
//   return dmsim::negative(dmsim::sid_routine_control, dmsim::incorrect_length);  // 7F 31 13

#include <cstdint>

#include "sim/io/hex.h"

namespace dmsim {

// Services; a positive answer carries the service plus positive_offset.
inline constexpr std::uint8_t sid_session_control = 0x10;
inline constexpr std::uint8_t sid_read_data = 0x22;
inline constexpr std::uint8_t sid_write_data = 0x2E;
inline constexpr std::uint8_t sid_routine_control = 0x31;
inline constexpr std::uint8_t sid_tester_present = 0x3E;
inline constexpr std::uint8_t positive_offset = 0x40;

// Sub-functions; bit 0x80 asks for no positive answer.
inline constexpr std::uint8_t suppress_bit = 0x80;
inline constexpr std::uint8_t default_session = 0x01;
inline constexpr std::uint8_t extended_session = 0x03;
inline constexpr std::uint8_t start_routine = 0x01;
inline constexpr std::uint8_t stop_routine = 0x02;
inline constexpr std::uint8_t request_routine_results = 0x03;

// Negative answers: 7F <service> <code>.
inline constexpr std::uint8_t negative_response = 0x7F;
inline constexpr std::uint8_t general_reject = 0x10;
inline constexpr std::uint8_t service_not_supported = 0x11;
inline constexpr std::uint8_t sub_function_not_supported = 0x12;
inline constexpr std::uint8_t incorrect_length = 0x13;
inline constexpr std::uint8_t response_too_long = 0x14;
inline constexpr std::uint8_t request_out_of_range = 0x31;
inline constexpr std::uint8_t response_pending = 0x78;

struct Outcome {
    Bytes response;           // empty when cancelled or suppressed
    bool cancelled = false;   // the request was given up while an operation ran
    bool suppressed = false;  // a positive answer that the tester asked not to get
    unsigned pending = 0;     // response-pending answers (7F <sid> 78) sent before this one
};

inline Outcome negative(std::uint8_t service, std::uint8_t code) {
    return {{negative_response, service, code}};
}

}  // namespace dmsim
