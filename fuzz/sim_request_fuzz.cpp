// Fuzz target: one request line of the simulator, as it comes from its standard input or
// its command line: hexadecimal parsing, the manager's UDS framing over extensions that
// answer at once, and the text and JSON output lines (the error lines for bad hex).
//
// Checked for every input: hex that parses prints back to the same bytes; a non-empty
// request gets a response that is either positive for its service (service + 0x40) or
// exactly 7F <service> <code>; nothing but Hex_error is thrown.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "sim/cli/report.h"
#include "sim/ecu/uds_router.h"
#include "sim/io/hex.h"
#include "support/fake_extension.h"

namespace {

using dmsim::Bytes;
using kem::dm::types::MetaInfo;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "sim_request_fuzz: %s\n", what);
    std::abort();
}

// A VIN, a short record and a DID whose application refuses with 0x22.
support::Fake_did did_f190, did_0102, did_0122;
support::Fake_routine rid_0300, rid_0203;

void set_up_answers() {
    did_f190.data = {0x5A, 0x55, 0x4E};
    did_0102.data.assign(2, 0x01);
    did_0122.code = 0x22;
}

const dmsim::Uds_router& router() {
    [[maybe_unused]] static const bool answers_set = (set_up_answers(), true);
    static const dmsim::Uds_router instance(
        {{0xF190, &did_f190}, {0x0102, &did_0102}, {0x0122, &did_0122}},
        {{0x0300, &rid_0300}, {0x0203, &rid_0203}});
    return instance;
}

void check_framing(const Bytes& request, const Bytes& response) {
    if (request.empty()) {
        if (!response.empty()) {
            fail("an empty request got a response");
        }
        return;
    }
    if (response.empty()) {
        fail("a request got no response");
    }
    if (response[0] == dmsim::negative_response) {
        if (response.size() != 3 || response[1] != request[0] || response[2] == 0) {
            fail("a negative response is not 7F <service> <code>");
        }
    } else if (response[0] != static_cast<std::uint8_t>(request[0] + 0x40)) {
        fail("a positive response does not answer the request's service");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rid_0300.calls.clear();  // the fakes record every call: keep memory flat
    rid_0203.calls.clear();
    const std::string line(reinterpret_cast<const char*>(data), size);
    try {
        const Bytes request = dmsim::parse_hex(line);
        if (dmsim::parse_hex(dmsim::to_hex(request, ' ')) != request ||
            dmsim::parse_hex(dmsim::to_hex(request)) != request) {
            fail("printed hex does not read back to the same bytes");
        }
        const dmsim::Outcome outcome = router().answer(request, MetaInfo{{"source", "fuzz"}});
        check_framing(request, outcome.response);
        (void)dmsim::text_line(request, outcome);
        (void)dmsim::json_line(request, outcome, std::chrono::microseconds(size));
    } catch (const dmsim::Hex_error& error) {
        (void)dmsim::text_error_line(line, error.what());
        (void)dmsim::json_error_line(line, error.what());
    }
    return 0;
}
