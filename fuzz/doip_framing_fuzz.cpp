// Fuzz target: a TCP byte stream from a DoIP tester through the framer, fed in pieces
// whose sizes come from the input, and the same bytes as one UDP datagram.
//
// Checked for every input: the messages and NACKs do not depend on how the stream was
// split; every message passed on has a payload length its type allows and no larger than
// the entity's buffer; nothing comes after a NACK that closes; the bytes held stay within
// one payload plus one read.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/doip/message.h"

namespace {

using dmsim::Bytes;
using dmsim::doip::Frame;
using dmsim::doip::Framer;
using dmsim::doip::Transport;

constexpr std::uint32_t max_payload = 4096;
constexpr std::size_t max_read = 64;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "doip_framing_fuzz: %s\n", what);
    std::abort();
}

bool same(const Frame& a, const Frame& b) {
    return a.version == b.version && a.type == b.type && a.payload == b.payload &&
           a.nack == b.nack && a.close == b.close;
}

// All frames of `stream`, fed `piece(i)` bytes at a time.
template <class Piece>
std::vector<Frame> frames_of(const Bytes& stream, Piece piece) {
    Framer framer(Transport::tcp, max_payload);
    std::vector<Frame> frames;
    bool closed = false;
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < stream.size(); ++i) {
        const std::size_t size = std::min(piece(i), stream.size() - offset);
        framer.feed(stream.data() + offset, size);
        offset += size;
        while (auto frame = framer.next()) {
            if (closed) {
                fail("a frame after a NACK that closes");
            }
            closed = frame->close;
            if (!frame->nack && frame->payload.size() > max_payload) {
                fail("a payload above the entity's buffer");
            }
            if (frame->type == dmsim::doip::payload::diagnostic_message && !frame->nack &&
                frame->payload.size() < 5) {
                fail("a diagnostic message without addresses and UDS");
            }
            frames.push_back(std::move(*frame));
        }
        if (framer.buffered() > max_payload + dmsim::doip::header_size + max_read) {
            fail("the framer holds more than one payload and one read");
        }
    }
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t seed = data[0];
    const Bytes stream(data + 1, data + size);
    const auto whole = frames_of(stream, [](std::size_t) { return max_read; });
    const auto split = frames_of(stream, [seed](std::size_t i) {
        return static_cast<std::size_t>((seed + i * 7) % max_read) + 1;
    });
    if (whole.size() != split.size()) {
        fail("the number of frames depends on how the stream was split");
    }
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (!same(whole[i], split[i])) {
            fail("a frame depends on how the stream was split");
        }
    }
    // One datagram: at most one message, never a payload longer than the datagram.
    Framer datagram(Transport::udp, max_payload);
    datagram.feed(stream.data(), stream.size());
    if (const auto frame = datagram.next()) {
        if (frame->payload.size() + dmsim::doip::header_size > stream.size()) {
            fail("a datagram's payload is longer than the datagram");
        }
    }
    return 0;
}
