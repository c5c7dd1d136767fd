#include "log/json_rendering.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kem::com::json::serialization::detail::get_json_dump;
using kem::com::json::serialization::detail::Serialization_helper;
using zun::com::runtime::Instance_id;
using zun::com::runtime::Service_handle;
using zun::com::runtime::Service_id;
using zun::com::runtime::Service_id_literal;
namespace front = ara::com::log::incidents;
namespace binding = kem::com::cpp_binding::log::incidents;
using Meta_info = std::map<std::string, std::string>;

constexpr char service_name[] = "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus";
const std::string service_json =
    R"({"1_id":"Service_id","string":"orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus"})";
const std::string instance_json = R"({"1_id":"Instance_id","2_string":"diag"})";

template <class Incident, class... Args>
std::string line(const Incident& incident, const Args&... args) {
    std::uint32_t counter = 1;
    return Serialization_helper::serialize(counter, incident, args...);
}

template <class T>
std::string dump(const T& value) {
    return get_json_dump(nlohmann::json(value));
}

struct One_byte {
    std::uint8_t value = 0;
    template <class F>
    void visit(F& f) {
        f(value);
    }
};

struct Mixed_record {
    std::uint8_t a = 1;
    std::uint16_t b = 0x1234;
    std::uint32_t c = 0x89ABCDEF;
    std::array<std::uint8_t, 3> d{{7, 8, 9}};
    std::vector<std::uint8_t> e{0, 255};
    template <class F>
    void visit(F& f) {
        f(a);
        f(b);
        f(c);
        f(d);
        f(e);
    }
};

struct Twelve_arrays {
    std::array<std::array<std::uint8_t, 1>, 12> m{};
    template <class F>
    void visit(F& f) {
        for (auto& member : m) {
            f(member);
        }
    }
};

struct Failing_record {
    template <class F>
    void visit(F&) {
        throw std::runtime_error("broken record");
    }
};

// The three example lines, byte for byte.
TEST(Json_rendering, ExampleLines) {
    EXPECT_EQ(
        line(front::Find_service_stop{Service_id_literal{service_name}}, std::string("3")),
        R"({"1_incident":{"1_id":"Find_service_stop","2_service_id":{"1_id":"Service_id","2_char const*":"orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus"}},"2_data":{"1_string":"3"}})");

    const binding::Method_call_request_tx request{Service_id{service_name}, Instance_id{"diag"}, 1};
    EXPECT_EQ(line(request, Meta_info{{"k", "v"}}),
              R"({"1_incident":{"1_id":"Method_call_request_tx","2_service_id":)" + service_json +
                  R"(,"3_instance_id":)" + instance_json +
                  R"(,"4_method_id":1},"2_data":{"1_map":{"k":"v"}}})");

    const binding::Method_call_response_rx response{Service_id{service_name}, Instance_id{"diag"},
                                                    1, 0};
    EXPECT_EQ(
        line(response, One_byte{7}),
        R"({"1_incident":{"1_id":"Method_call_response_rx","2_service_id":)" + service_json +
            R"(,"3_instance_id":)" + instance_json +
            R"(,"4_method_id":1,"5_error_code":0},"2_data":{"1_generated_type":{"1_uint8":7}}})");
}

// Incident heads not seen in the example lines (the binding's tests check the others as it
// raises them).
TEST(Json_rendering, IncidentForms) {
    const Service_id s{"S"};
    const Instance_id i{"I"};
    const std::string head =
        R"({"1_id":"Service_id","string":"S"},"3_instance_id":{"1_id":"Instance_id","2_string":"I"})";
    // The literal's length counts, not the terminator.
    EXPECT_EQ(dump(Service_id_literal{"abcdef", 3}),
              R"({"1_id":"Service_id","2_char const*":"abc"})");
    EXPECT_EQ(dump(binding::Find_service_handler_performance{s, i, 18446744073709551615u}),
              R"({"1_id":"Find_service_handler_performance","2_service_id":)" + head +
                  R"(,"4_time":18446744073709551615})");
    // Flags are the strings "1" and "0", never numbers or booleans.
    EXPECT_EQ(dump(binding::Service_skeleton_constructed{s, i, true, false}),
              R"({"1_id":"Service_proxy_constructed","2_service_id":)" + head +
                  R"(,"4_struct4bytes":"1","5_utf8simple":"0"})");
    EXPECT_EQ(dump(binding::Method_call_request_err{s, i, 65535, 0xFF}),
              R"({"1_id":"Method_call_request_err","2_service_id":)" + head +
                  R"(,"4_method_id":65535,"5_error_code":255})");
}

TEST(Json_rendering, ExtraDataLabelsInArgumentOrder) {
    const front::Find_service_stop stop{Service_id_literal{"S"}};
    const std::string prefix =
        R"({"1_incident":{"1_id":"Find_service_stop","2_service_id":{"1_id":"Service_id","2_char const*":"S"}},"2_data":)";

    const std::array<std::uint8_t, 3> array{{1, 2, 3}};
    const std::vector<std::uint8_t> bytes{4, 5};
    EXPECT_EQ(
        line(stop, Meta_info{{"b", "2"}, {"a", "1"}}, std::uint8_t{200}, std::uint16_t{60000},
             std::uint32_t{4000000000u}, array, bytes),
        prefix +
            R"({"1_map":{"a":"1","b":"2"},"2_uint8":200,"3_uint16":60000,"4_uint32":4000000000,"5_array":[1,2,3],"6_vector":[4,5]}})");

    const char* text = "c-string";
    const char* null_text = nullptr;
    EXPECT_EQ(
        line(stop, text, "literal", null_text, std::string("std")),
        prefix + R"({"1_string":"c-string","2_string":"literal","3_string":"","4_string":"std"}})");

    const std::vector<Service_handle> handles{{Service_id{"S"}, Instance_id{"I"}}};
    EXPECT_EQ(
        line(stop, handles),
        prefix +
            R"({"1_vector":[{"1_id":"Service_handle","2_service_id":{"1_id":"Service_id","string":"S"},"3_instance_id":{"1_id":"Instance_id","2_string":"I"}}]}})");

    // Empty containers keep their JSON kind.
    EXPECT_EQ(line(stop, Meta_info{}, std::vector<std::uint8_t>{}, std::vector<Service_handle>{}),
              prefix + R"({"1_map":{},"2_vector":[],"3_vector":[]}})");

    // Without extra data there is no "2_data".
    EXPECT_EQ(
        line(stop),
        R"({"1_incident":{"1_id":"Find_service_stop","2_service_id":{"1_id":"Service_id","2_char const*":"S"}}})");
}

TEST(Json_rendering, RecordMembersByPositionAndLabel) {
    const front::Find_service_stop stop{Service_id_literal{"S"}};
    const std::string text = line(stop, Mixed_record{});
    EXPECT_NE(
        text.find(
            R"("2_data":{"1_generated_type":{"1_uint8":1,"2_uint16":4660,"3_uint32":2309737967,"4_array":[7,8,9],"5_vector":[0,255]}})"),
        std::string::npos)
        << text;

    // From ten members on, byte-wise key order puts "10_" before "2_" (and, as '0' < '_',
    // even before "1_").
    Twelve_arrays twelve;
    for (std::uint8_t k = 0; k < 12; ++k) {
        twelve.m[k] = {{k}};
    }
    EXPECT_NE(
        line(stop, twelve)
            .find(
                R"({"1_generated_type":{"10_array":[9],"11_array":[10],"12_array":[11],"1_array":[0],"2_array":[1],"3_array":[2],"4_array":[3],"5_array":[4],"6_array":[5],"7_array":[6],"8_array":[7],"9_array":[8]}})"),
        std::string::npos);
}

TEST(Json_rendering, Utf8KeptAndInvalidUtf8BecomesTheLibraryMessage) {
    const front::Find_service_stop stop{Service_id_literal{"S"}};
    EXPECT_EQ(
        line(stop, Meta_info{{"k", "gr\xC3\xBC\xC3\x9F"}}),
        R"({"1_incident":{"1_id":"Find_service_stop","2_service_id":{"1_id":"Service_id","2_char const*":"S"}},"2_data":{"1_map":{"k":"gr)"
        "\xC3\xBC\xC3\x9F"
        R"("}}})");

    EXPECT_EQ(line(stop, Meta_info{{"k", "a\xFF"}}),
              "[json.exception.type_error.316] invalid UTF-8 byte at index 1: 0xFF");
}

TEST(Json_rendering, FailureWhileBuildingYieldsEmptyText) {
    EXPECT_EQ(
        line(front::Find_service_stop{Service_id_literal{"S"}}, std::string("a"), Failing_record{}),
        "");
}

}  // namespace
