#pragma once
// What arrives on a SOME/IP method socket, turned into whole messages: each message of a
// datagram in turn, TP segments through the sender's reassembly. Socket-free: the transport
// passes the bytes, the sender's id and the time.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "someip/header.h"
#include "someip/tp.h"

namespace platform::runtime::someip {

struct Incoming_message {
    Header header;  // the TP flag removed for a reassembled message
    Bytes payload;
};

struct Datagram_counters {
    std::uint64_t datagrams = 0;
    std::uint64_t messages = 0;   // whole messages handed on
    std::uint64_t malformed = 0;  // datagrams with bytes that form no message (the rest dropped)
};

// Appends the whole messages of one datagram from `peer` to `out`.
void read_datagram(const std::uint8_t* data, std::size_t size, std::uint64_t peer,
                   Tp_reassembler::Time now, Tp_reassembler& reassembler,
                   std::vector<Incoming_message>& out, Datagram_counters& counters);

}  // namespace platform::runtime::someip
