#pragma once
// The output lines of the simulator: one per request, as text or as a JSON object.
//
//   text_line({0x22, 0xF1, 0x90}, outcome)   // "22 F1 90 -> 62 F1 90 57 44 44 ..."
//   json_line({0x22, 0xF1, 0x90}, outcome, elapsed)
//       // {"request":"22F190","response":"62F190...","elapsed_us":812}

#include <chrono>
#include <string>

#include "sim/ecu/uds_router.h"
#include "sim/io/hex.h"

namespace dmsim {

// "<request> -> <response>", bytes in upper-case hex separated by spaces; a cancelled
// request says "cancelled, no response" in place of the response, a suppressed positive
// answer "suppressed".
std::string text_line(const Bytes& request, const Outcome& outcome);

// {"request":..., "response":..., "elapsed_us":N}; a cancelled request has
// "cancelled":true and no "response"; a suppressed answer adds "suppressed":true (with an
// empty "response"), one that sent pending answers first "pending":N.
std::string json_line(const Bytes& request, const Outcome& outcome,
                      std::chrono::microseconds elapsed);

// A standard input line that is not a request: "<line> -> error: <message>", or
// {"request":"<line>","error":"<message>"}.
std::string text_error_line(const std::string& line, const std::string& message);
std::string json_error_line(const std::string& line, const std::string& message);

}  // namespace dmsim
