// Fuzz target: UDS requests as they arrive from a DoIP socket. The input is a tester's TCP
// stream; each diagnostic message that the framer passes on is answered by the ECU
// (sessions, tester present, suppress bit, multi-DID reads, routines) over extensions that
// answer at once, for one tester whose session carries over from request to request.
//
// Checked for every request: the answer is positive for its service (service + 0x40),
// exactly 7F <service> <code>, or suppressed only for a positive answer of 10, 3E or 31
// with bit 0x80 set; it never exceeds the maximum data size; nothing is cancelled.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/doip/message.h"
#include "sim/ecu/ecu.h"
#include "support/fake_extension.h"

namespace {

using dmsim::Bytes;
using kem::dm::types::MetaInfo;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "doip_requests_fuzz: %s\n", what);
    std::abort();
}

// A VIN, a long record (longer than the maximum data size with the other DIDs) and a DID whose
// application refuses with 0x22.
support::Fake_did did_f190, did_0102, did_0122;
support::Fake_routine rid_0300, rid_0203;

void set_up_answers() {
    did_f190.data = {0x5A, 0x55, 0x4E};
    did_0102.data.assign(600, 0x01);
    did_0122.code = 0x22;
}

constexpr std::size_t max_data_size = 1024;

const dmsim::Ecu& ecu() {
    [[maybe_unused]] static const bool answers_set = (set_up_answers(), true);
    static const dmsim::Ecu instance(
        {{0xF190, &did_f190}, {0x0102, &did_0102}, {0x0122, &did_0122}},
        {{0x0300, &rid_0300}, {0x0203, &rid_0203}}, [] {
            dmsim::Ecu_options options;
            options.limits.max_data_size = max_data_size;
            options.limits.max_dids = 8;
            return options;
        }());
    return instance;
}

void check(const Bytes& request, const dmsim::Outcome& outcome) {
    if (outcome.cancelled) {
        fail("a request was cancelled");
    }
    const std::uint8_t service = request[0];
    if (outcome.suppressed) {
        const bool may = (service == 0x10 || service == 0x3E || service == 0x31) &&
                         request.size() >= 2 && (request[1] & 0x80) != 0;
        if (!may || !outcome.response.empty()) {
            fail("an answer was suppressed that may not be");
        }
        return;
    }
    const Bytes& response = outcome.response;
    if (response.empty()) {
        fail("a request got no answer");
    }
    if (response.size() > max_data_size) {
        fail("an answer above the maximum data size");
    }
    if (response[0] == dmsim::negative_response) {
        if (response.size() != 3 || response[1] != service || response[2] == 0 ||
            response[2] == dmsim::response_pending) {
            fail("a negative answer is not 7F <service> <code>");
        }
    } else if (response[0] != static_cast<std::uint8_t>(service + 0x40)) {
        fail("a positive answer does not answer the request's service");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rid_0300.calls.clear();  // the fakes record every call: keep memory flat
    rid_0203.calls.clear();
    static dmsim::Tester tester(ecu().options());
    dmsim::doip::Framer framer(dmsim::doip::Transport::tcp, 4096);
    framer.feed(data, size);
    while (auto frame = framer.next()) {
        if (frame->nack || frame->type != dmsim::doip::payload::diagnostic_message) {
            continue;
        }
        const Bytes request(frame->payload.begin() + 4, frame->payload.end());
        check(request, ecu().answer(request, MetaInfo{{"tester", "fuzz"}}, tester));
    }
    return 0;
}
