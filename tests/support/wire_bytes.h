#pragma once
// The bytes on both sides of an extension, built from a record layout: the UDS form that the
// manager sees and the SOME/IP form that the application sees.
//
//   const auto record = encode(entry.output, 0x40, 3);
//   app.answer(1, 0, record.someip);   // and read must give record.uds

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/record_writer.h"
#include "support/expected_catalogue.h"

namespace support {

using host::Bytes;
using host::Meta;
using host::someip_meta;

// A record (or a Start parameter list) in UDS form, the members back to back, and in SOME/IP
// form, where arrays and byte sequences get a big-endian 4-byte length field in front. The
// members hold consecutive byte values from `first`, so that a shifted, swapped or dropped
// member shows; a byte sequence gets `sequence_length` bytes.
struct Encoded {
    Bytes uds;
    Bytes someip;
};
Encoded encode(const Layout& layout, std::uint8_t first, std::size_t sequence_length);
Bytes concat(Bytes first, const Bytes& second);

// A MetaInfo as the manager passes it with a request, and one for cancel.
const Meta& request_meta();
const Meta& cancel_meta();

// "01 a2 ff", for failure messages.
std::string hex(const Bytes& bytes);

}  // namespace support
