#include "someip/return_codes.h"

#include "someip/header.h"

namespace platform::runtime::someip {

namespace {
constexpr std::uint8_t application_base = 0x20;  // ERROR 0x21-0x5E: codes 0x01-0x3E
constexpr std::uint8_t application_last = 0x3E;
constexpr std::uint8_t generic_base = 0x80;  // codes 0x81-0x9F: ERROR 0x01-0x1F
constexpr std::uint8_t generic_last = 0x9F;
}  // namespace

Wire_code to_wire(std::uint8_t code) {
    if (code == 0) {
        return {message_type::response, return_code::ok, true};
    }
    if (code <= application_last) {
        return {message_type::error, static_cast<std::uint8_t>(application_base + code), true};
    }
    if (code > generic_base && code <= generic_last) {
        return {message_type::error, static_cast<std::uint8_t>(code - generic_base), true};
    }
    return {message_type::error, return_code::not_ok, false};
}

Handler_code from_wire(std::uint8_t type, std::uint8_t code) {
    if (type == message_type::response) {
        if (code == return_code::ok) {
            return {0, true};
        }
    } else if (type == message_type::error) {
        if (code >= 0x01 && code <= generic_last - generic_base) {
            return {static_cast<std::uint8_t>(code + generic_base), true};
        }
        if (code > application_base && code <= application_base + application_last) {
            return {static_cast<std::uint8_t>(code - application_base), true};
        }
    }
    return {code_not_ok, false};
}

}  // namespace platform::runtime::someip
