#pragma once
// Output records filled with a byte pattern, and their SOME/IP response payload as an
// application sends it: the record's members in order through its generated visit.
//
//   auto record = patterned<d_0102::DataIdentifier_BasicSettingsStatus::Read::Output>(0x07);
//   std::vector<std::uint8_t> payload = someip_payload(record);   // 07

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "someip/serializer.h"

namespace bench {

// Every scalar member holds `seed` plus its position; arrays count up from there; byte
// sequences keep what they hold.
template <class Record>
Record patterned(std::uint8_t seed) {
    Record record{};
    std::uint8_t next = seed;
    auto fill = [&next](auto& member) {
        using Member = std::decay_t<decltype(member)>;
        if constexpr (std::is_integral_v<Member>) {
            member = static_cast<Member>(next++);
        } else if constexpr (!std::is_same_v<Member, std::vector<std::uint8_t>>) {
            for (auto& byte : member) {
                byte = next++;
            }
        }
    };
    record.visit(fill);
    return record;
}

template <class Record>
std::vector<std::uint8_t> someip_payload(Record record) {
    std::vector<std::uint8_t> payload;
    auto write = [&payload](const auto& member) {
        kem::com::someip::serialization::serialize_dispatch(
            payload, member, kem::com::someip::serialization::Serialization_properties{});
    };
    record.visit(write);
    return payload;
}

}  // namespace bench
