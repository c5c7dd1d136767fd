// Every data identifier end to end: the plug-in's extension reads the record from a
// simulated application and hands it to the manager in UDS form.

#include "integration/expected_catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "integration/plugin_host.h"
#include "integration/simulated_application.h"
#include "integration/wire_bytes.h"

namespace integration {
namespace {

// Member values start at a byte that differs per identifier.
std::uint8_t first_byte(const Expected_identifier& entry) {
    return static_cast<std::uint8_t>(0x21 + (entry.id ^ (entry.id >> 8)));
}

std::string test_name(const ::testing::TestParamInfo<Expected_identifier>& info) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", info.param.id);
    return std::string("x") + id + "_" + info.param.interface_name.substr(15);
}

class Data_identifier : public ::testing::TestWithParam<Expected_identifier> {};

TEST_P(Data_identifier, ReadForwardsRecordAndApplicationError) {
    const auto& entry = GetParam();
    Simulated_application app(entry.service_id());
    auto did = connect_did(entry.id);
    ASSERT_TRUE(did);

    // Record with a non-empty byte sequence (where it has one); appended after what the
    // response already holds.
    const auto values = make_values(entry.output, first_byte(entry), 5);
    app.answer(entry.read_method(), 0, someip_record(entry.output, values));
    Bytes response{0xEE};
    EXPECT_EQ(did->read(request_meta(), response), 0);
    EXPECT_EQ(hex(response), hex(concat({0xEE}, uds_record(values))));

    auto calls = app.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].service, entry.service_id());
    EXPECT_EQ(calls[0].instance, "diag");
    EXPECT_EQ(calls[0].method_id, entry.read_method());
    EXPECT_EQ(hex(calls[0].payload), hex(someip_meta(request_meta())));

    std::size_t sent = 1;
    if (ends_with_bytes(entry.output)) {
        const auto empty_tail = make_values(entry.output, first_byte(entry), 0);
        app.answer(entry.read_method(), 0, someip_record(entry.output, empty_tail));
        response.clear();
        EXPECT_EQ(did->read(request_meta(), response), 0);
        EXPECT_EQ(hex(response), hex(uds_record(empty_tail)));
        ++sent;
    }

    // Application error: its code, nothing written.
    app.answer(entry.read_method(), 2, {0x31});
    response.clear();
    EXPECT_EQ(did->read(request_meta(), response), 0x31);
    EXPECT_TRUE(response.empty()) << hex(response);
    ++sent;

    // write keeps its default and contacts nobody.
    Bytes data{0x01, 0x02};
    EXPECT_EQ(did->write(request_meta(), data), 0);
    EXPECT_EQ(data, (Bytes{0x01, 0x02}));
    EXPECT_EQ(app.call_count(), sent);

    did->stop_find_service();
}

INSTANTIATE_TEST_SUITE_P(All, Data_identifier, ::testing::ValuesIn(expected_dids()), test_name);

}  // namespace
}  // namespace integration
