#include "binding/response_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "binding/find_first.h"
#include "binding/method_impl.h"
#include "binding/proxy_impl.h"
#include "host/application.h"
#include "services/d_01a7/d_01a7.h"
#include "services/r_029a/r_029a.h"
#include "support/log_capture.h"
#include "support/wire_bytes.h"

namespace {

using host::Simulated_application;
using kem::com::cpp_binding::proxy::Method_impl;
using kem::com::cpp_binding::proxy::Proxy_impl;
using kem::com::cpp_binding::proxy::Response_handler;
using nlohmann::json;
using support::Bytes;
using support::Log_capture;
using Did = orlak::services::diag::d_01a7::DataIdentifier_SoftwareVendor;
using Routine = orlak::services::diag::r_029a::RoutineService_CalculateModuleHashValue;
using Level = ara::log::LogLevel;

template <class M>
using Method_of = Method_impl<M, false, typename M::Signature>;

const Bytes record{0x07, 0x12, 0x34};  // Read output of 0x01A7: u8 7, u16 4660

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
            const R output = future.get();
            return "record " + std::to_string(output.field_0) + " " +
                   std::to_string(output.field_1);
        }
    } catch (const Did::UDSServiceFailed& e) {
        return "UDSServiceFailed " + hex(e.code());
    } catch (const Routine::UDSServiceFailed& e) {
        return "UDSServiceFailed " + hex(e.stop_code());
    } catch (const kem::com::Transport_exception& e) {
        return "Transport_exception " + hex(e.code());
    } catch (const kem::com::Service_not_available_exception&) {
        return "Service_not_available_exception";
    } catch (const std::exception& e) {
        return std::string("unexpected ") + e.what();
    }
}

struct Expected_incident {
    std::string id;
    Level level;
    unsigned error_code;
    json data;  // null: no "2_data"
};

// Exactly one of the incidents a response can raise, with its method and instance.
void expect_single_incident(const Log_capture& log, const Expected_incident& expected,
                            const char* service, unsigned method, const std::string& instance) {
    for (const char* id :
         {"Method_call_response_rx", "Method_call_request_err", "Method_call_response_invalid_code",
          "Method_call_deserializer_exception"}) {
        const auto lines = log.incidents(id);
        ASSERT_EQ(lines.size(), id == expected.id ? 1u : 0u) << id;
        if (lines.empty()) {
            continue;
        }
        EXPECT_EQ(lines[0].level, expected.level);
        const json& incident = lines[0].document["1_incident"];
        EXPECT_EQ(incident["2_service_id"]["string"], service);
        EXPECT_EQ(incident["3_instance_id"]["2_string"], instance);
        EXPECT_EQ(incident["4_method_id"], method);
        EXPECT_EQ(incident["5_error_code"], expected.error_code);
        EXPECT_EQ(lines[0].document.value("2_data", json()), expected.data);
    }
}

json text(const char* value) {
    return json{{"1_string", value}};
}

// The method a row calls: Read of the data identifier, Cancel or Stop (no record) of the routine.
enum class Call { read, cancel, stop };

struct Row {
    const char* name;
    Call call;
    std::uint8_t code;
    Bytes payload;
    std::string outcome;
    Expected_incident incident;
};

const json record_data = json::parse(R"({"1_generated_type": {"1_uint8": 7, "2_uint16": 4660}})");
const json transport = text("Exception: Transport exception");
const json beyond_end = text("Read beyond the end of the data buffer");

// clang-format off
const Row rows[] = {
    {"result", Call::read, 0, record, "record 7 4660", {"Method_call_response_rx", Level::kDebug, 0, record_data}},
    {"result_with_surplus_bytes", Call::read, 0, support::concat(record, {0xFF}), "record 7 4660", {"Method_call_response_rx", Level::kDebug, 0, record_data}},
    {"result_one_byte_short", Call::read, 0, {0x07, 0x12}, "Transport_exception 0x8a", {"Method_call_deserializer_exception", Level::kError, 0, beyond_end}},
    {"application_error", Call::read, 2, {0x31, 0xFF}, "UDSServiceFailed 0x31", {"Method_call_response_rx", Level::kDebug, 2, text("Exception: DataIdentifier_SoftwareVendor::UDSServiceFailed::2")}},
    {"application_error_without_its_code", Call::read, 2, {}, "Transport_exception 0x8a", {"Method_call_deserializer_exception", Level::kError, 2, beyond_end}},
    {"transport_0x81", Call::read, 0x81, {}, "Transport_exception 0x81", {"Method_call_request_err", Level::kError, 0x81, transport}},
    {"transport_0x86", Call::read, 0x86, {0x01}, "Transport_exception 0x86", {"Method_call_request_err", Level::kError, 0x86, transport}},
    {"not_available", Call::read, 0xFF, {}, "Service_not_available_exception", {"Method_call_request_err", Level::kError, 0xFF, text("Exception: Service not available exception")}},
    {"unknown_code", Call::read, 0x83, record, "Transport_exception 0x8a", {"Method_call_response_invalid_code", Level::kError, 0x83, transport}},
    {"void_result_whatever_the_payload", Call::cancel, 0, {0x01, 0x02}, "completed", {"Method_call_response_rx", Level::kDebug, 0, {}}},
    {"void_application_error", Call::stop, 2, {0x11, 0x22, 0x33}, "UDSServiceFailed 0x33", {"Method_call_response_rx", Level::kDebug, 2, text("Exception: RoutineService_CalculateModuleHashValue::UDSServiceFailed::2")}},
    {"application_error_of_cancel", Call::cancel, 2, {0x11, 0x22, 0x33}, "Transport_exception 0x8a", {"Method_call_response_invalid_code", Level::kError, 2, transport}},
};
// clang-format on

// Calls M once on a fresh connection to the application and returns how its future ended.
template <class S, class M>
std::string call_once(const std::string& instance) {
    Proxy_impl<S> impl(binding_test::find_first<S>(instance));
    auto future = Method_of<M>{impl}({});
    return outcome(future);
}

class Return_code : public testing::TestWithParam<Row> {};

TEST_P(Return_code, resolves_the_future_and_logs_one_incident) {
    const Row& row = GetParam();
    const std::string instance = std::string("response.") + row.name;
    const bool read = row.call == Call::read;
    const auto method = read ? Did::Read::id : row.call == Call::stop ? Routine::Stop::id : 0;
    Simulated_application app(read ? Did::service_id : Routine::service_id, instance);
    app.answer(method, row.code, row.payload);
    Log_capture log;

    const std::string result = read ? call_once<Did, Did::Read>(instance)
                               : row.call == Call::cancel
                                   ? call_once<Routine, Routine::Cancel>(instance)
                                   : call_once<Routine, Routine::Stop>(instance);
    EXPECT_EQ(result, row.outcome);
    expect_single_incident(log, row.incident, read ? Did::service_id : Routine::service_id, method,
                           instance);
}

INSTANTIATE_TEST_SUITE_P(Response, Return_code, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

// The payload may be a part of the runtime's buffer: only [first, last) is read.
TEST(Response_handler, reads_only_the_payload_range_of_the_buffer) {
    Log_capture log(Level::kError);
    auto buffer = std::make_shared<Bytes>(Bytes{0xEE, 0x07, 0x12, 0x34, 0xEE});
    const kem::com::cpp_binding::Service_info info{Did::service_id, "response.range"};
    for (const std::size_t length : {3, 2}) {
        auto promise = std::make_shared<zun::com::Promise<Did::Read::Output>>();
        auto future = promise->get_future();
        Response_handler<Did::Read, Did::Read::Output>(ara::com::logger(), promise, info)(
            0, {0, buffer, buffer->data() + 1, buffer->data() + 1 + length});
        EXPECT_EQ(outcome(future), length == 3 ? "record 7 4660" : "Transport_exception 0x8a");
    }
    EXPECT_EQ(log.incidents("Method_call_deserializer_exception").size(), 1u);
}

// A runtime that delivers one response twice: the second store fails, which is reported
// with the deserializer incident under the response's code and then leaves the handler
// (its transport error cannot be stored either); the first outcome stays.
TEST(Response_handler, a_second_delivery_is_reported_and_leaves_the_handler) {
    struct Case {
        std::uint8_t code;
        Bytes payload;
        std::string outcome;
        const char* first_incident;
    };
    // clang-format off
    const Case cases[] = {
        {0, record, "record 7 4660", "Method_call_response_rx"},
        {2, {0x31}, "UDSServiceFailed 0x31", "Method_call_response_rx"},
        {0x86, {}, "Transport_exception 0x86", "Method_call_request_err"},
        {0x83, {0x01}, "Transport_exception 0x8a", "Method_call_response_invalid_code"},
    };
    // clang-format on
    const kem::com::cpp_binding::Service_info info{Did::service_id, "response.twice"};
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.code));
        Log_capture log;
        auto promise = std::make_shared<zun::com::Promise<Did::Read::Output>>();
        auto future = promise->get_future();
        const Response_handler<Did::Read, Did::Read::Output> handler(ara::com::logger(), promise,
                                                                     info);
        auto buffer = std::make_shared<Bytes>(c.payload);
        const kem::com::cpp_binding::Serialized_payload payload{0, buffer, buffer->data(),
                                                                buffer->data() + buffer->size()};

        handler(c.code, payload);
        EXPECT_TRUE(log.incidents("Method_call_deserializer_exception").empty());
        try {
            handler(c.code, payload);
            ADD_FAILURE() << "the second delivery was stored";
        } catch (const std::future_error& e) {
            EXPECT_EQ(e.code(), std::future_errc::promise_already_satisfied);
        }

        EXPECT_EQ(outcome(future), c.outcome);
        EXPECT_EQ(log.incidents(c.first_incident).size(), 2u);
        const auto failures = log.incidents("Method_call_deserializer_exception");
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].level, Level::kError);
        EXPECT_EQ(failures[0].document["1_incident"]["5_error_code"], c.code);
    }
}

}  // namespace
