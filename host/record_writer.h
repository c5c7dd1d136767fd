#pragma once
// Records and MetaInfo in the SOME/IP form that an application sends and a caller writes:
// members in declaration order, integers big-endian, a big-endian 4-byte length field in front
// of every fixed array, byte sequence and string. The members are written by the library's
// own serializer with its default settings; the walk over a record is this host's.
//
//   auto record = host::patterned<d_0102::DataIdentifier_BasicSettingsStatus::Read::Output>(7);
//   host::Bytes payload = host::someip_record(record);   // 07

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "someip/serializer.h"

namespace host {

using Bytes = std::vector<std::uint8_t>;
using Meta = std::map<std::string, std::string>;

// Appends a big-endian 4-byte length field.
void append_length(Bytes& out, std::size_t length);

// Appends one member: u8, u16, u32, std::array<u8, N>, std::vector<u8>.
template <class Member>
void append_member(Bytes& out, const Member& member) {
    kem::com::someip::serialization::serialize_dispatch(
        out, member, kem::com::someip::serialization::Serialization_properties{});
}

// A record (anything with `visit`), member by member.
template <class Record>
Bytes someip_record(Record record) {
    Bytes out;
    auto write = [&out](const auto& member) {
        kem::com::someip::serialization::serialize_dispatch(
            out, member, kem::com::someip::serialization::Serialization_properties{});
    };
    record.visit(write);
    return out;
}

// The MetaInfo as the first item of a request: 4-byte length of all entries, then per entry
// (keys ascending) 4-byte key length, key, 4-byte value length, value.
Bytes someip_meta(const Meta& meta);

// A record whose integer members hold `seed` plus their position and whose fixed arrays
// count up from there, so that a shifted, swapped or dropped member shows; byte sequences
// stay as they are.
template <class Record>
Record patterned(std::uint8_t seed) {
    Record record{};
    std::uint8_t next = seed;
    auto fill = [&next](auto& member) {
        using Member = std::decay_t<decltype(member)>;
        if constexpr (std::is_integral_v<Member>) {
            member = static_cast<Member>(next++);
        } else if constexpr (!std::is_same_v<Member, Bytes>) {
            for (auto& byte : member) {
                byte = next++;
            }
        }
    };
    record.visit(fill);
    return record;
}

}  // namespace host
