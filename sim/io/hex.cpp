#include "sim/io/hex.h"

namespace dmsim {

namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
        return std::string("'") + c + "'";
    }
    static constexpr char digits[] = "0123456789ABCDEF";
    return std::string("byte 0x") + digits[u >> 4] + digits[u & 0x0F];
}

}  // namespace

Bytes parse_hex(std::string_view text) {
    Bytes bytes;
    bytes.reserve(text.size() / 2);
    int high = -1;  // first digit of a byte in progress
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (is_blank(c)) {
            if (high >= 0) {
                throw Hex_error("position " + std::to_string(i + 1) +
                                ": a space splits a byte (write two digits per byte)");
            }
            continue;
        }
        const int value = digit_value(c);
        if (value < 0) {
            throw Hex_error("position " + std::to_string(i + 1) + ": " + printable(c) +
                            " is not a hexadecimal digit");
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) {
        throw Hex_error("odd number of hexadecimal digits (write two digits per byte)");
    }
    return bytes;
}

std::string to_hex(const Bytes& bytes, char separator) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && separator != '\0') {
            text.push_back(separator);
        }
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace dmsim
