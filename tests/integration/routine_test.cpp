// Every routine end to end: Start decodes the UDS request into the method's parameters,
// Stop and RequestResults are forwarded by the ten full routines and answered locally by the
// sixteen short ones.

#include "integration/expected_catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "integration/plugin_host.h"
#include "integration/simulated_application.h"
#include "integration/wire_bytes.h"

namespace integration {
namespace {

std::uint8_t first_byte(const Expected_identifier& entry) {
    return static_cast<std::uint8_t>(0x61 + (entry.id ^ (entry.id >> 8)));
}

std::string test_name(const ::testing::TestParamInfo<Expected_identifier>& info) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", info.param.id);
    return std::string("x") + id + "_" + info.param.interface_name.substr(15);
}

// The SOME/IP payload a Start call must carry for the given parameter values.
Bytes start_payload(const Expected_identifier& entry, const std::vector<Bytes>& parameters) {
    return concat(someip_meta(request_meta()), someip_record(entry.start_parameters, parameters));
}

class Routine : public ::testing::TestWithParam<Expected_identifier> {};

TEST_P(Routine, StartDecodesRequestAndForwardsRecord) {
    const auto& entry = GetParam();
    Simulated_application app(entry.service_id());
    auto rid = connect_rid(entry.id);
    ASSERT_TRUE(rid);
    const auto start = entry.start_method();

    // Parameters from the request bytes; without a trailing sequence a surplus byte is
    // ignored, with one it belongs to the sequence.
    const auto parameters = make_values(entry.start_parameters, 0xA0, 3);
    auto request = uds_record(parameters);
    const bool takes_rest = ends_with_bytes(entry.start_parameters);
    if (!takes_rest)
        request.push_back(0x99);
    const auto sent_request = request;

    const auto output = make_values(entry.output, first_byte(entry), 4);
    app.answer(start, 0, someip_record(entry.output, output));
    Bytes response{0xEE};
    EXPECT_EQ(rid->start(request, request_meta(), response), 0);
    EXPECT_EQ(hex(response), hex(concat({0xEE}, uds_record(output))));
    EXPECT_EQ(request, sent_request);

    auto calls = app.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].service, entry.service_id());
    EXPECT_EQ(calls[0].instance, "diag");
    EXPECT_EQ(calls[0].method_id, start);
    EXPECT_EQ(hex(calls[0].payload), hex(start_payload(entry, parameters)));
    std::size_t sent = 1;

    if (takes_rest) {  // the shortest request: an empty sequence
        const auto no_rest = make_values(entry.start_parameters, 0xA0, 0);
        request = uds_record(no_rest);
        response.clear();
        EXPECT_EQ(rid->start(request, request_meta(), response), 0);
        EXPECT_EQ(hex(app.calls().at(sent).payload), hex(start_payload(entry, no_rest)));
        ++sent;
    }
    if (ends_with_bytes(entry.output)) {
        const auto empty_tail = make_values(entry.output, first_byte(entry), 0);
        app.answer(start, 0, someip_record(entry.output, empty_tail));
        request = sent_request;
        response.clear();
        EXPECT_EQ(rid->start(request, request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(uds_record(empty_tail)));
        ++sent;
    }
    if (entry.min_request > 0) {  // one byte short: rejected before anything is sent
        request.assign(sent_request.begin(), sent_request.begin() + (entry.min_request - 1));
        response = {0xEE};
        EXPECT_EQ(rid->start(request, request_meta(), response), 0x13);
        EXPECT_EQ(response, Bytes{0xEE});
    }

    // Application error: Start's own code (the second of three for a full routine).
    request = sent_request;
    response.clear();
    if (entry.kind == Kind::full_routine) {
        app.answer(start, 2, {0x11, 0x22, 0x33});
        EXPECT_EQ(rid->start(request, request_meta(), response), 0x22);
    } else {
        app.answer(start, 2, {0x31});
        EXPECT_EQ(rid->start(request, request_meta(), response), 0x31);
    }
    EXPECT_TRUE(response.empty()) << hex(response);
    ++sent;
    EXPECT_EQ(app.call_count(), sent);

    rid->stop_find_service();
}

TEST_P(Routine, StopAndRequestResults) {
    const auto& entry = GetParam();
    Simulated_application app(entry.service_id());
    auto rid = connect_rid(entry.id);
    ASSERT_TRUE(rid);
    // Neither sub-function has parameters: whatever the request holds is ignored.
    Bytes request{0x01, 0x02, 0x03, 0x04};
    Bytes response{0xEE};

    if (entry.kind == Kind::short_routine) {
        EXPECT_EQ(rid->stop(request, request_meta(), response), 0);
        EXPECT_EQ(rid->request_results(request, request_meta(), response), 0);
        EXPECT_EQ(response, Bytes{0xEE});
        // A Start behind them proves that they sent nothing: it is the first call to arrive.
        request = uds_record(make_values(entry.start_parameters, 0xA0, 0));
        app.answer(entry.start_method(), 2, {0x31});
        EXPECT_EQ(rid->start(request, request_meta(), response), 0x31);
        const auto calls = app.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].method_id, entry.start_method());
        return;
    }

    const auto meta_only = hex(someip_meta(request_meta()));
    std::vector<std::size_t> lengths{5};
    if (ends_with_bytes(*entry.request_results))
        lengths.push_back(0);
    for (const auto length : lengths) {
        const auto results = make_values(*entry.request_results, first_byte(entry), length);
        app.answer(entry.request_results_method(), 0,
                   someip_record(*entry.request_results, results));
        response = {0xEE};
        EXPECT_EQ(rid->request_results(request, request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(concat({0xEE}, uds_record(results))));
        const auto call = app.calls().back();
        EXPECT_EQ(call.method_id, entry.request_results_method());
        EXPECT_EQ(hex(call.payload), meta_only);
    }

    response = {0xEE};
    if (entry.stop) {
        const auto stopped = make_values(*entry.stop, first_byte(entry) ^ 0x80, 0);
        app.answer(entry.stop_method(), 0, someip_record(*entry.stop, stopped));
        EXPECT_EQ(rid->stop(request, request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(concat({0xEE}, uds_record(stopped))));
    } else {
        // No record: whatever the payload holds, the response stays as it was.
        app.answer(entry.stop_method(), 0, {0x5A});
        EXPECT_EQ(rid->stop(request, request_meta(), response), 0);
        EXPECT_EQ(response, Bytes{0xEE});
    }
    const auto call = app.calls().back();
    EXPECT_EQ(call.method_id, entry.stop_method());
    EXPECT_EQ(hex(call.payload), meta_only);

    // One application error, three codes: each operation answers with its own.
    app.answer(entry.request_results_method(), 2, {0x11, 0x22, 0x33});
    app.answer(entry.stop_method(), 2, {0x11, 0x22, 0x33});
    response.clear();
    EXPECT_EQ(rid->request_results(request, request_meta(), response), 0x11);
    EXPECT_EQ(rid->stop(request, request_meta(), response), 0x33);
    EXPECT_TRUE(response.empty()) << hex(response);

    rid->stop_find_service();
}

INSTANTIATE_TEST_SUITE_P(All, Routine, ::testing::ValuesIn(expected_rids()), test_name);

}  // namespace
}  // namespace integration
