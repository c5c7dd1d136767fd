#pragma once
// The bytes on both sides of an extension, built from a record layout: the UDS form the
// manager sees and the SOME/IP form the application sees.
//
//   auto values = make_values(entry.output, 0x40, 3);
//   offer answers someip_record(entry.output, values); read must give uds_record(values).

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "integration/expected_catalogue.h"

namespace integration {

using Bytes = std::vector<std::uint8_t>;
using Meta = std::map<std::string, std::string>;

// One byte string per member, integers most significant byte first. Consecutive byte
// values starting at `first`, so that a shifted, swapped or dropped member shows; the byte
// sequence member (if any) gets `sequence_length` bytes.
std::vector<Bytes> make_values(const Layout& layout, std::uint8_t first,
                               std::size_t sequence_length);

// UDS form: the members back to back, no length fields.
Bytes uds_record(const std::vector<Bytes>& values);
// SOME/IP form: arrays and byte sequences get a big-endian 4-byte length field in front.
Bytes someip_record(const Layout& layout, const std::vector<Bytes>& values);
// SOME/IP MetaInfo: 4-byte length of the whole map, then per entry 4-byte key length, key,
// 4-byte value length, value; keys in ascending order.
Bytes someip_meta(const Meta& meta);

Bytes big_endian_32(std::uint32_t value);
Bytes concat(Bytes first, const Bytes& second);

// A MetaInfo as a manager passes it with a request, and another one for cancel.
const Meta& request_meta();
const Meta& cancel_meta();

// Readable form for failure messages: "01 a2 ff".
std::string hex(const Bytes& bytes);

}  // namespace integration
