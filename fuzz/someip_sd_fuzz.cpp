// Fuzz target: SD datagrams from the network, fed to the searching and the offering side
// on a fake clock. The input is a sequence of records: a 2-byte big-endian size, a sender
// byte, a time step byte, then that many bytes of datagram. Each check below names the
// fault it catches.

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

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "someip_sd_fuzz: %s\n", what);
        std::abort();
    }
}

const std::set<std::uint16_t> searched{0x0102, 0xF190, 0x0300};
const std::set<std::uint16_t> offered_ids{0x0102, 0x4944};

void check_sends(const std::vector<Sd_send>& sends) {
    Sd_writer writer;
    for (const auto& send : sends) {
        for (const auto& outgoing_entry : send.entries) {
            check(offered_ids.count(outgoing_entry.entry.service_id),
                  "an offer of a service not offered");
        }
        for (const auto& datagram : writer.write(send)) {
            Sd_message message;
            std::uint16_t session = 0;
            check(datagram.size() <= max_sd_message && decode_sd(datagram.data(), datagram.size(),
                                                                 message, session) == Sd_status::ok,
                  "an SD datagram sent that is too big or does not decode");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fixed = [](milliseconds low, milliseconds) { return low; };
    Sd_client client(Sd_timing{}, fixed);
    Sd_server server(Sd_timing{}, fixed);
    Sd_time now{};
    client.find({{0x0102}, {0xF190}, {0x0300}}, now);  // `searched`
    const Ipv4_endpoint at{{127, 0, 0, 2}, 30501};
    server.offer({{0x0102, 1, 1, 0, at}, {0x4944, 1, 1, 0, at}}, now);  // `offered_ids`

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
            const std::size_t options = message.options.size();
            check(
                (entry.first_count == 0 || entry.first_index + entry.first_count <= options) &&
                    (entry.second_count == 0 || entry.second_index + entry.second_count <= options),
                "an entry refers to options the message does not carry");
        }
        const Bytes again = encode_sd(message, session);
        Sd_message decoded;
        std::uint16_t session_again = 0;
        check(decode_sd(again.data(), again.size(), decoded, session_again) == Sd_status::ok &&
                  session_again == session && decoded.flags == message.flags &&
                  decoded.entries == message.entries && decoded.options == message.options,
              "a decoded message does not encode back to itself");

        client.on_message(sender, unicast, session, message, now, changed);
        for (const auto id : changed) {
            check(searched.count(id), "a change reported for a service nobody searches");
        }
        check_sends(server.on_message(sender, message));
    }
    for (const std::uint16_t id : seen) {
        const auto found = client.found(id);
        check(found.empty() || searched.count(id), "instances kept for a service nobody searches");
        check(found.size() <= 16, "more instances than the limit");
        for (const auto& instance : found) {
            check(instance.endpoint.protocol == l4_protocol::udp && instance.service_id == id,
                  "a found instance without a UDP endpoint");
        }
    }
    return 0;
}
