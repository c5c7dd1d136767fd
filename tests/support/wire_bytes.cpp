// Records and MetaInfo in UDS and SOME/IP form.

#include "support/wire_bytes.h"

#include <cstdio>

namespace support {

Encoded encode(const Layout& layout, std::uint8_t first, std::size_t sequence_length) {
    Encoded encoded;
    for (const Field& field : layout) {
        Bytes member(field.type == Field::Type::bytes ? sequence_length : field.size);
        for (auto& byte : member) {
            byte = first++;
        }
        if (field.type == Field::Type::array || field.type == Field::Type::bytes) {
            host::append_length(encoded.someip, member.size());
        }
        encoded.uds = concat(std::move(encoded.uds), member);
        encoded.someip = concat(std::move(encoded.someip), member);
    }
    return encoded;
}

Bytes concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const Meta& request_meta() {
    static const Meta meta{{"tester", "0E80"}, {"session", "extended"}, {"channel", ""}};
    return meta;
}

const Meta& cancel_meta() {
    static const Meta meta{{"reason", "tester gone"}};
    return meta;
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char digits[4];
    for (const auto byte : bytes) {
        std::snprintf(digits, sizeof digits, out.empty() ? "%02x" : " %02x", byte);
        out += digits;
    }
    return out;
}

}  // namespace support
