// Every identifier end to end, through the loaded plug-in: the extension sends the request to
// a simulated application in SOME/IP form and hands the answer to the manager in UDS form.

#include "host/extensions.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "host/application.h"
#include "host/built_plugin.h"
#include "platform/runtime/application.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

namespace {

using namespace support;
using host::Simulated_application;

// Lets the runtime deliver what the last test left behind before the process ends; the
// plug-in stays loaded until then (host/plugin.h).
class Settle_runtime : public ::testing::Environment {
  public:
    void TearDown() override { platform::runtime::settle(); }
};
[[maybe_unused]] const auto* const settle_environment =
    ::testing::AddGlobalTestEnvironment(new Settle_runtime);

// Member values start at a byte that differs per identifier.
std::uint8_t first_byte(const Expected_identifier& entry) {
    return static_cast<std::uint8_t>(0x21 + (entry.id ^ (entry.id >> 8)));
}

std::string test_name(const ::testing::TestParamInfo<Expected_identifier>& info) {
    char id[8];
    std::snprintf(id, sizeof id, "x%04X", info.param.id);
    return id;
}

// Lengths of the byte sequence to try: one with bytes and, where there is one, an empty one.
std::vector<std::size_t> sequence_lengths(const Layout& layout) {
    return ends_with_bytes(layout) ? std::vector<std::size_t>{5, 0} : std::vector<std::size_t>{5};
}

class Data_identifier : public ::testing::TestWithParam<Expected_identifier> {};

TEST_P(Data_identifier, read_forwards_the_record_and_the_application_error) {
    const auto& entry = GetParam();
    Simulated_application app(entry.service_id());
    auto did = host::connect_did(host::built_plugin(), entry.id);
    ASSERT_TRUE(did);
    for (const auto length : sequence_lengths(entry.output)) {
        const auto answer = encode(entry.output, first_byte(entry), length);
        app.answer(entry.read_method, 0, answer.someip);
        Bytes response{0xEE};  // the record is appended to what is there
        EXPECT_EQ(did->read(request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(concat({0xEE}, answer.uds)));
    }
    app.answer(entry.read_method, 2, {0x31});
    Bytes response;
    EXPECT_EQ(did->read(request_meta(), response), 0x31);
    EXPECT_TRUE(response.empty()) << hex(response);

    for (const auto& call : app.calls()) {
        EXPECT_EQ(call.service, entry.service_id());
        EXPECT_EQ(call.instance, "diag");
        EXPECT_EQ(call.method_id, entry.read_method);
        EXPECT_EQ(hex(call.payload), hex(someip_meta(request_meta())));
    }
    EXPECT_EQ(app.call_count(), sequence_lengths(entry.output).size() + 1);
}

INSTANTIATE_TEST_SUITE_P(All, Data_identifier, ::testing::ValuesIn(expected_dids()), test_name);

class Routine : public ::testing::TestWithParam<Expected_identifier> {};

// Start decodes the request bytes into its parameters: without a trailing byte sequence a
// surplus byte is ignored and one byte short is refused with 0x13 before anything is sent;
// with one, the sequence takes the rest.
TEST_P(Routine, start_decodes_the_request_and_forwards_the_record) {
    const auto& entry = GetParam();
    const auto start = entry.start_method();
    Simulated_application app(entry.service_id());
    auto rid = host::connect_rid(host::built_plugin(), entry.id);
    ASSERT_TRUE(rid);
    const auto meta = someip_meta(request_meta());
    std::size_t sent = 0;
    for (const auto length : sequence_lengths(entry.start_parameters)) {
        const auto parameters = encode(entry.start_parameters, 0xA0, length);
        Bytes request = parameters.uds;
        if (!ends_with_bytes(entry.start_parameters)) {
            request.push_back(0x99);
        }
        const Bytes sent_request = request;
        for (const auto output_length : sequence_lengths(entry.output)) {
            const auto answer = encode(entry.output, first_byte(entry), output_length);
            app.answer(start, 0, answer.someip);
            Bytes response{0xEE};
            EXPECT_EQ(rid->start(request, request_meta(), response), 0);
            EXPECT_EQ(hex(response), hex(concat({0xEE}, answer.uds)));
            EXPECT_EQ(request, sent_request);
            const auto call = app.calls().at(sent++);
            EXPECT_EQ(call.service, entry.service_id());
            EXPECT_EQ(call.method_id, start);
            EXPECT_EQ(hex(call.payload), hex(concat(meta, parameters.someip)));
        }
    }
    const Bytes shortest = encode(entry.start_parameters, 0xA0, 0).uds;
    if (!shortest.empty()) {
        Bytes request(shortest.begin(), shortest.end() - 1);
        Bytes response{0xEE};
        EXPECT_EQ(rid->start(request, request_meta(), response), 0x13);
        EXPECT_EQ(response, Bytes{0xEE});
    }
    // Application error: Start's own code, the second of three for a full routine.
    const bool full = entry.kind == Kind::full_routine;
    app.answer(start, 2, full ? Bytes{0x11, 0x22, 0x33} : Bytes{0x31});
    Bytes request = shortest, response;
    EXPECT_EQ(rid->start(request, request_meta(), response), full ? 0x22 : 0x31);
    EXPECT_TRUE(response.empty()) << hex(response);
    EXPECT_EQ(app.call_count(), sent + 1);
}

// Neither sub-function has parameters: the request bytes are ignored. The ten full routines
// forward them; the short ones answer 0 and send nothing.
TEST_P(Routine, stop_and_request_results) {
    const auto& entry = GetParam();
    Simulated_application app(entry.service_id());
    auto rid = host::connect_rid(host::built_plugin(), entry.id);
    ASSERT_TRUE(rid);
    Bytes request{0x01, 0x02, 0x03, 0x04};
    Bytes response{0xEE};
    if (entry.kind == Kind::short_routine) {
        EXPECT_EQ(rid->stop(request, request_meta(), response), 0);
        EXPECT_EQ(rid->request_results(request, request_meta(), response), 0);
        EXPECT_EQ(response, Bytes{0xEE});
        platform::runtime::settle();
        EXPECT_EQ(app.call_count(), 0u);
        return;
    }
    for (const auto length : sequence_lengths(*entry.request_results)) {
        const auto answer = encode(*entry.request_results, first_byte(entry), length);
        app.answer(entry.request_results_method, 0, answer.someip);
        response = {0xEE};
        EXPECT_EQ(rid->request_results(request, request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(concat({0xEE}, answer.uds)));
    }
    // Without a record, whatever the payload holds, the response stays as it was.
    const auto stopped =
        entry.stop ? encode(*entry.stop, first_byte(entry) ^ 0x80, 0) : Encoded{{}, {0x5A}};
    app.answer(entry.stop_method, 0, stopped.someip);
    response = {0xEE};
    EXPECT_EQ(rid->stop(request, request_meta(), response), 0);
    EXPECT_EQ(hex(response), hex(concat({0xEE}, stopped.uds)));
    for (const auto& call : app.calls()) {
        EXPECT_EQ(hex(call.payload), hex(someip_meta(request_meta())));
    }
    EXPECT_EQ(app.calls().back().method_id, entry.stop_method);

    // One application error, three codes: each operation answers with its own.
    app.answer(entry.request_results_method, 2, {0x11, 0x22, 0x33});
    app.answer(entry.stop_method, 2, {0x11, 0x22, 0x33});
    response.clear();
    EXPECT_EQ(rid->request_results(request, request_meta(), response), 0x11);
    EXPECT_EQ(rid->stop(request, request_meta(), response), 0x33);
    EXPECT_TRUE(response.empty()) << hex(response);
}

INSTANTIATE_TEST_SUITE_P(All, Routine, ::testing::ValuesIn(expected_rids()), test_name);

}  // namespace
