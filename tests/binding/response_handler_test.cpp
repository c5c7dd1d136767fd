#include "binding/response_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "binding/binding_test_support.h"
#include "binding/method_impl.h"
#include "binding/probe_interfaces.h"
#include "binding/proxy_impl.h"

namespace {

using binding_test::Log_capture;
using binding_test::Recording_application;
using kem::com::cpp_binding::proxy::Method_impl;
using kem::com::cpp_binding::proxy::Proxy_impl;
using kem::com::cpp_binding::proxy::Response_handler;
using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;
using Probe = probe::d_0001::DataIdentifier_Probe;
using Routine = probe::r_0002::RoutineService_Probe;

template <class M>
using Method_of = Method_impl<M, false, typename M::Signature>;

const Bytes read_response{0x07, 0x12, 0x34, 0x00, 0x00, 0x00, 0x03, 0x0A, 0x0B, 0x0C};

Bytes with(Bytes bytes, std::initializer_list<std::uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return bytes;
}

Bytes without_last(Bytes bytes) {
    bytes.pop_back();
    return bytes;
}

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

// What a future ended in, as one comparable text.
template <class R>
std::string outcome(zun::com::Future<R>& future) {
    try {
        if constexpr (std::is_void_v<R>) {
            future.get();
            return "completed";
        } else {
            const R record = future.get();
            return "record " + std::to_string(record.status) + " " +
                   std::to_string(record.counter) + " " + std::to_string(record.tag[0]) + "," +
                   std::to_string(record.tag[1]) + "," + std::to_string(record.tag[2]);
        }
    } catch (const Probe::UDSServiceFailed& e) {
        return "UDSServiceFailed " + hex(e.code());
    } catch (const kem::com::Transport_exception& e) {
        return "Transport_exception " + hex(e.code());
    } catch (const kem::com::Service_not_available_exception&) {
        return "Service_not_available_exception";
    } catch (const std::exception& e) {
        return std::string("unexpected ") + e.what();
    }
}

// The incidents a response can raise; exactly one of them per response.
const char* const response_incidents[] = {"Method_call_response_rx", "Method_call_request_err",
                                          "Method_call_response_invalid_code",
                                          "Method_call_deserializer_exception"};

struct Expected_incident {
    std::string id;
    ara::log::LogLevel level;
    unsigned error_code;
    json data;  // null: no "2_data"
};

void expect_single_incident(const Log_capture& log, const Expected_incident& expected,
                            const char* service = Probe::service_id) {
    for (const char* id : response_incidents) {
        const auto lines = log.incidents(id);
        if (id != expected.id) {
            EXPECT_TRUE(lines.empty()) << "unexpected " << id;
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << id;
        EXPECT_EQ(lines[0].level, expected.level);
        const json& incident = lines[0].document["1_incident"];
        EXPECT_EQ(incident["5_error_code"], expected.error_code);
        EXPECT_EQ(incident["2_service_id"]["string"], service);
        if (expected.data.is_null()) {
            EXPECT_FALSE(lines[0].document.contains("2_data"));
        } else {
            EXPECT_EQ(lines[0].document["2_data"], expected.data);
        }
    }
}

struct Row {
    const char* name;
    std::uint8_t code;
    Bytes payload;
    std::string outcome;
    Expected_incident incident;
};

const json read_record = json::parse(
    R"({"1_generated_type": {"1_uint8": 7, "2_uint16": 4660, "3_array": [10, 11, 12]}})");

json text(const char* value) {
    return json{{"1_string", value}};
}

const Row rows[] = {
    {"result",
     0,
     read_response,
     "record 7 4660 10,11,12",
     {"Method_call_response_rx", ara::log::LogLevel::kDebug, 0, read_record}},
    {"result_with_surplus_bytes",
     0,
     with(read_response, {0xFF, 0xFE}),
     "record 7 4660 10,11,12",
     {"Method_call_response_rx", ara::log::LogLevel::kDebug, 0, read_record}},
    {"result_one_byte_short",
     0,
     without_last(read_response),
     "Transport_exception 0x8a",
     {"Method_call_deserializer_exception", ara::log::LogLevel::kError, 0,
      text("Read beyond the end of the data buffer")}},
    {"application_error",
     2,
     {0x31},
     "UDSServiceFailed 0x31",
     {"Method_call_response_rx", ara::log::LogLevel::kDebug, 2,
      text("Exception: DataIdentifier_Probe::UDSServiceFailed::2")}},
    {"application_error_without_its_code",
     2,
     {},
     "Transport_exception 0x8a",
     {"Method_call_deserializer_exception", ara::log::LogLevel::kError, 2,
      text("Read beyond the end of the data buffer")}},
    {"transport_0x81",
     0x81,
     {},
     "Transport_exception 0x81",
     {"Method_call_request_err", ara::log::LogLevel::kError, 0x81,
      text("Exception: Transport exception")}},
    {"transport_0x82",
     0x82,
     {0x01},
     "Transport_exception 0x82",
     {"Method_call_request_err", ara::log::LogLevel::kError, 0x82,
      text("Exception: Transport exception")}},
    {"transport_0x86",
     0x86,
     {},
     "Transport_exception 0x86",
     {"Method_call_request_err", ara::log::LogLevel::kError, 0x86,
      text("Exception: Transport exception")}},
    {"not_available",
     0xFF,
     {},
     "Service_not_available_exception",
     {"Method_call_request_err", ara::log::LogLevel::kError, 0xFF,
      text("Exception: Service not available exception")}},
    {"unknown_code",
     0x83,
     read_response,
     "Transport_exception 0x8a",
     {"Method_call_response_invalid_code", ara::log::LogLevel::kError, 0x83,
      text("Exception: Transport exception")}},
};

class Return_code : public testing::TestWithParam<Row> {};

TEST_P(Return_code, resolves_the_future_and_logs_one_incident) {
    const Row& row = GetParam();
    const std::string instance = std::string("response.") + row.name;
    Recording_application app(Probe::service_id, instance,
                              Recording_application::respond_with(row.code, row.payload));
    Proxy_impl<Probe> impl(binding_test::find_first<Probe>(instance));
    Log_capture log(ara::log::LogLevel::kDebug);

    auto future = Method_of<Probe::Read>(impl.port())({});

    EXPECT_EQ(outcome(future), row.outcome);
    expect_single_incident(log, row.incident);
    const auto line = log.incidents(row.incident.id);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line[0].document["1_incident"]["4_method_id"], 1);
    EXPECT_EQ(line[0].document["1_incident"]["3_instance_id"]["2_string"], instance);
}

INSTANTIATE_TEST_SUITE_P(Read, Return_code, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

TEST(Void_method, completes_on_code_0_whatever_the_payload) {
    Recording_application app(Probe::service_id, "response.cancel",
                              Recording_application::respond_with(0, {0x01, 0x02, 0x03}));
    Proxy_impl<Probe> impl(binding_test::find_first<Probe>("response.cancel"));
    Log_capture log(ara::log::LogLevel::kDebug);

    auto future = Method_of<Probe::Cancel>(impl.port())({});

    EXPECT_EQ(outcome(future), "completed");
    expect_single_incident(log, {"Method_call_response_rx", ara::log::LogLevel::kDebug, 0, {}});
}

TEST(Void_method, application_error_only_where_the_method_knows_it) {
    Recording_application app(Routine::service_id, "response.void_errors",
                              Recording_application::respond_with(2, {0x33}));
    Proxy_impl<Routine> impl(binding_test::find_first<Routine>("response.void_errors"));

    {
        Log_capture log(ara::log::LogLevel::kDebug);
        auto stop = Method_of<Routine::Stop>(impl.port())({});
        EXPECT_EQ(outcome(stop), "UDSServiceFailed 0x33");
        expect_single_incident(log,
                               {"Method_call_response_rx", ara::log::LogLevel::kDebug, 2,
                                text("Exception: DataIdentifier_Probe::UDSServiceFailed::2")},
                               Routine::service_id);
    }
    {
        Log_capture log(ara::log::LogLevel::kDebug);
        auto cancel = Method_of<Routine::Cancel>(impl.port())({});
        EXPECT_EQ(outcome(cancel), "Transport_exception 0x8a");
        expect_single_incident(log,
                               {"Method_call_response_invalid_code", ara::log::LogLevel::kError, 2,
                                text("Exception: Transport exception")},
                               Routine::service_id);
    }
}

// The payload may be a part of the runtime's buffer: only [first, last) is read.
TEST(Response_handler, reads_only_the_payload_range_of_the_buffer) {
    Log_capture log(ara::log::LogLevel::kError);
    auto buffer = std::make_shared<Bytes>(Bytes{0xEE});
    buffer->insert(buffer->end(), read_response.begin(), read_response.end());
    buffer->push_back(0xEE);
    const kem::com::cpp_binding::Service_info info{Probe::service_id, "response.range"};

    auto whole = std::make_shared<zun::com::Promise<Probe::Read::Output>>();
    auto whole_future = whole->get_future();
    Response_handler<Probe::Read, Probe::Read::Output>(ara::com::logger(), whole, info)(
        0, {0, buffer, buffer->data() + 1, buffer->data() + 1 + read_response.size()});
    EXPECT_EQ(outcome(whole_future), "record 7 4660 10,11,12");

    auto cut = std::make_shared<zun::com::Promise<Probe::Read::Output>>();
    auto cut_future = cut->get_future();
    Response_handler<Probe::Read, Probe::Read::Output>(ara::com::logger(), cut, info)(
        0, {0, buffer, buffer->data() + 1, buffer->data() + read_response.size()});
    EXPECT_EQ(outcome(cut_future), "Transport_exception 0x8a");
    EXPECT_EQ(log.incidents("Method_call_deserializer_exception").size(), 1u);
}

}  // namespace
