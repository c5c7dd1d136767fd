#pragma once
// Hexadecimal text <-> bytes, as the simulator reads requests and profile payloads and
// prints responses.
//
//   std::vector<std::uint8_t> request = dmsim::parse_hex("22 F1 90");  // {0x22, 0xF1, 0x90}
//   dmsim::to_hex(request, ' ');                                       // "22 F1 90"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dmsim {

using Bytes = std::vector<std::uint8_t>;

// Thrown by parse_hex; what() says what is wrong and where ("position 3: 'G' is not a
// hexadecimal digit").
class Hex_error : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// Reads pairs of hexadecimal digits (either case). Spaces and tabs may stand between
// bytes but not inside one; anything else, or an odd number of digits, throws Hex_error.
// Empty or blank text gives no bytes.
Bytes parse_hex(std::string_view text);

// Upper-case digits, two per byte, `separator` between bytes ('\0': none).
std::string to_hex(const Bytes& bytes, char separator = '\0');

}  // namespace dmsim
