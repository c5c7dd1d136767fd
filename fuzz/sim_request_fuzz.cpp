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

#include "foundation/extension.h"
#include "sim/io/hex.h"
#include "sim/cli/report.h"
#include "sim/ecu/uds_router.h"

namespace {

using dmsim::Bytes;
using kem::dm::types::MetaInfo;
using kem::dm::types::UDSResponseCodeType;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "sim_request_fuzz: %s\n", what);
    std::abort();
}

// Answers with two bytes of its identifier, or with the code 0x22 for identifiers ending
// in 0x22, as an application would.
class Echo_did : public kem::dm::foundation::extension::Extension_data_identifier {
  public:
    explicit Echo_did(std::uint16_t id) : id_(id) {}
    void start_find_service(const std::string& /*instance*/) override {}
    void stop_find_service() override {}
    UDSResponseCodeType read(const MetaInfo& /*meta*/, Bytes& response) override {
        if ((id_ & 0xFF) == 0x22) {
            return 0x22;
        }
        response.push_back(static_cast<std::uint8_t>(id_ >> 8));
        response.push_back(static_cast<std::uint8_t>(id_));
        return 0;
    }

  private:
    std::uint16_t id_;
};

// Start echoes its request bytes, stop answers 0x24, request_results answers nothing.
class Echo_rid : public kem::dm::foundation::extension::Extension_routine_control {
  public:
    void start_find_service(const std::string& /*instance*/) override {}
    void stop_find_service() override {}
    UDSResponseCodeType start(Bytes& request, const MetaInfo& /*meta*/, Bytes& response) override {
        response.insert(response.end(), request.begin(), request.end());
        return 0;
    }
    UDSResponseCodeType stop(Bytes& /*request*/, const MetaInfo& /*meta*/,
                             Bytes& /*response*/) override {
        return 0x24;
    }
};

Echo_did did_f190{0xF190}, did_0102{0x0102}, did_0122{0x0122};
Echo_rid rid_0300, rid_0203;

const dmsim::Uds_router& router() {
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
