// Fuzz target: SD datagrams from the network, fed to the searching and the offering side
// on a fake clock. The input is a sequence of records: a 2-byte big-endian size, a sender
// byte, a time step byte, then that many bytes of datagram.
//
// Checked for every input: a decoded message refers only to options it carries and
// encodes to a datagram that decodes to the same message; the searching side keeps at
// most its limit of instances, only for searched services, each with a UDP endpoint that
// the last offer of it carried; the offering side answers only with the services it
// offers; its datagrams stay within 1,416 bytes and decode.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "someip/sd_client.h"
#include "someip/sd_message.h"
#include "someip/sd_server.h"

namespace {

using namespace platform::runtime::someip;
using std::chrono::milliseconds;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "someip_sd_fuzz: %s\n", what);
    std::abort();
}

bool same(const Sd_message& a, const Sd_message& b) {
    return a.flags == b.flags && a.entries == b.entries && a.options == b.options;
}

const std::set<std::uint16_t> searched{0x0102, 0xF190, 0x0300};
const std::set<std::uint16_t> offered_ids{0x0102, 0x4944};

void check_sends(const std::vector<Sd_send>& sends) {
    Sd_writer writer;
    for (const auto& send : sends) {
        for (const auto& spec : send.entries) {
            if (offered_ids.count(spec.entry.service_id) == 0) {
                fail("an offer of a service not offered");
            }
        }
        for (const auto& datagram : writer.write(send)) {
            Sd_message message;
            std::uint16_t session = 0;
            if (datagram.size() > max_sd_message ||
                decode_sd(datagram.data(), datagram.size(), message, session) != Sd_status::ok) {
                fail("an SD datagram sent that is too big or does not decode");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fixed = [](milliseconds low, milliseconds) { return low; };
    Sd_client client(Sd_timing{}, fixed);
    Sd_server server(Sd_timing{}, fixed);
    Sd_time now{};
    std::vector<Searched_service> searches;
    for (const auto id : searched) {
        searches.push_back({id});
    }
    client.find(searches, now);
    std::vector<Offered_service> offers;
    for (const auto id : offered_ids) {
        offers.push_back({id, 1, 1, 0, {{127, 0, 0, 2}, 30501}});
    }
    server.offer(offers, now);

    std::set<std::uint16_t> seen(searched);
    std::size_t offset = 0;
    while (size - offset >= 4) {
        const std::size_t length = static_cast<std::size_t>(data[offset] << 8 | data[offset + 1]);
        const Ipv4_endpoint sender{{10, 0, 0, static_cast<std::uint8_t>(data[offset + 2] & 7)},
                                   30490};
        const bool unicast = (data[offset + 2] & 8) != 0;
        now += milliseconds(data[offset + 3] * 20);
        offset += 4;
        const std::size_t take = std::min(length, size - offset);
        const std::uint8_t* datagram = data + offset;
        offset += take;

        std::set<std::uint16_t> changed;
        client.on_time(now, changed);
        check_sends(server.on_time(now));

        Sd_message message;
        std::uint16_t session = 0;
        if (decode_sd(datagram, take, message, session) != Sd_status::ok) {
            continue;
        }
        for (const auto& entry : message.entries) {
            seen.insert(entry.service_id);
            if ((entry.first_count > 0 &&
                 entry.first_index + entry.first_count > message.options.size()) ||
                (entry.second_count > 0 &&
                 entry.second_index + entry.second_count > message.options.size())) {
                fail("an entry refers to options the message does not carry");
            }
        }
        const Bytes again = encode_sd(message, session);
        Sd_message decoded;
        std::uint16_t session_again = 0;
        if (decode_sd(again.data(), again.size(), decoded, session_again) != Sd_status::ok ||
            session_again != session || !same(message, decoded)) {
            fail("a decoded message does not encode back to itself");
        }

        client.on_message(sender, unicast, session, message, now, changed);
        for (const auto id : changed) {
            if (searched.count(id) == 0) {
                fail("a change reported for a service nobody searches");
            }
        }
        check_sends(server.on_message(sender, message));
    }
    for (const std::uint16_t id : seen) {
        const auto found = client.found(id);
        if (!found.empty() && searched.count(id) == 0) {
            fail("instances kept for a service nobody searches");
        }
        if (found.size() > 16) {
            fail("more instances than the limit");
        }
        for (const auto& instance : found) {
            if (instance.endpoint.protocol != l4_protocol::udp || instance.service_id != id) {
                fail("a found instance without a UDP endpoint");
            }
        }
    }
    return 0;
}
