// Encodings of records and MetaInfo on the UDS and SOME/IP sides.

#include "integration/wire_bytes.h"

#include <cstdio>

namespace integration {

std::vector<Bytes> make_values(const Layout& layout, std::uint8_t first,
                               std::size_t sequence_length) {
    std::vector<Bytes> values;
    auto next = first;
    for (const auto& field : layout) {
        const auto width = field.type == Field::Type::bytes ? sequence_length : field.size;
        Bytes member;
        for (std::size_t i = 0; i < width; ++i)
            member.push_back(next++);
        values.push_back(std::move(member));
    }
    return values;
}

Bytes uds_record(const std::vector<Bytes>& values) {
    Bytes out;
    for (const auto& member : values)
        out.insert(out.end(), member.begin(), member.end());
    return out;
}

Bytes someip_record(const Layout& layout, const std::vector<Bytes>& values) {
    Bytes out;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const auto type = layout[i].type;
        if (type == Field::Type::array || type == Field::Type::bytes) {
            out =
                concat(std::move(out), big_endian_32(static_cast<std::uint32_t>(values[i].size())));
        }
        out = concat(std::move(out), values[i]);
    }
    return out;
}

Bytes someip_meta(const Meta& meta) {
    Bytes entries;
    for (const auto& [key, value] : meta) {
        entries = concat(std::move(entries), big_endian_32(static_cast<std::uint32_t>(key.size())));
        entries.insert(entries.end(), key.begin(), key.end());
        entries =
            concat(std::move(entries), big_endian_32(static_cast<std::uint32_t>(value.size())));
        entries.insert(entries.end(), value.begin(), value.end());
    }
    return concat(big_endian_32(static_cast<std::uint32_t>(entries.size())), entries);
}

Bytes big_endian_32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
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

}  // namespace integration
