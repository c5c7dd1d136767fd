#include "someip/deployment.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

// The deployment file: defaults taken from interface names, the issue's example, and each
// kind of bad entry refused with its path.

namespace {

using namespace platform::runtime::someip;

const std::string did = "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus";
const std::string vin = "orlak::services::diag::d_f190::DataIdentifier_Vin";
const std::string full = "orlak::services::diag::r_0300::RoutineService_Erase";
const std::string short_routine = "orlak::services::diag::r_0301::RoutineService_Check";

const std::vector<Known_interface> known = {
    {did, {"Cancel", "Read"}},
    {vin, {"Read", "Cancel"}},
    {full, {"Stop", "Start", "Cancel", "RequestResults"}},
    {short_routine, {"Start", "Cancel"}},
};

TEST(Deployment, without_a_file_everything_comes_from_the_names) {
    const Deployment_result result = default_deployment(known);
    ASSERT_TRUE(result.deployment) << result.error;
    const Deployment& d = *result.deployment;
    EXPECT_EQ(d.client_id, 0x0001);
    const std::tuple<const std::string&, std::uint16_t, std::map<std::string, std::uint16_t>>
        expected[] = {
            {did, 0x0102, {{"Cancel", 0}, {"Read", 1}}},
            {vin, 0xF190, {{"Cancel", 0}, {"Read", 1}}},
            {full, 0x0300, {{"Cancel", 0}, {"RequestResults", 1}, {"Start", 2}, {"Stop", 3}}},
            {short_routine, 0x0301, {{"Cancel", 0}, {"Start", 1}}},
        };
    for (const auto& [name, service_id, methods] : expected) {
        const Interface_deployment* entry = d.interface(name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(entry->service_id, service_id) << name;
        EXPECT_EQ(entry->methods, methods) << name;
        EXPECT_EQ(entry->major_version, 1);
        EXPECT_EQ(entry->minor_version, 0u);
        EXPECT_EQ(d.interface_of(service_id), entry);
    }
    EXPECT_EQ(d.instance("anything").instance_id, 1);
    EXPECT_EQ(d.instance("anything").udp_port, 30501);
    EXPECT_EQ(d.sd.port, 30490);
    EXPECT_EQ(d.sd.multicast, (std::array<std::uint8_t, 4>{224, 244, 224, 245}));
    const Sd_timing& t = d.sd.timing;
    EXPECT_EQ(
        std::make_tuple(t.initial_delay_min.count(), t.initial_delay_max.count(), t.repetitions,
                        t.repetition_base_delay.count(), t.cyclic_offer_delay.count(), t.ttl_s),
        std::make_tuple(10, 100, 3u, 30, 1000, 3u));
}

TEST(Deployment, a_file_overrides_what_it_names) {
    const std::string text = R"({"client_id": "00A1", "_note": "comments are allowed",
      "interfaces": {")" + did +
                             R"(": {"service_id": "4102", "major_version": 2, "minor_version": 7,
                                    "methods": {"Cancel": 5, "Read": 6}}},
      "instances": {"diag": {"instance_id": "0002", "udp_port": 40000}},
      "sd": {"port": 30491, "multicast": "239.1.2.3", "initial_delay_ms": [0, 0], "repetitions": 0,
             "repetition_base_delay_ms": 5, "cyclic_offer_delay_ms": 200, "ttl_s": 9}})";
    const Deployment_result result = parse_deployment(text, known, "test.json");
    ASSERT_TRUE(result.deployment) << result.error;
    const Deployment& d = *result.deployment;
    EXPECT_EQ(d.client_id, 0x00A1);
    const Interface_deployment* entry = d.interface(did);
    EXPECT_EQ(std::make_tuple(entry->service_id, entry->major_version, entry->minor_version),
              std::make_tuple(0x4102, 2, 7u));
    EXPECT_EQ(entry->methods, (std::map<std::string, std::uint16_t>{{"Cancel", 5}, {"Read", 6}}));
    EXPECT_EQ(d.interface(vin)->service_id, 0xF190) << "the others keep their defaults";
    EXPECT_EQ(d.instance("diag").instance_id, 2);
    EXPECT_EQ(d.instance("diag").udp_port, 40000);
    EXPECT_EQ(d.instance("other").instance_id, 1);
    EXPECT_EQ(d.sd.port, 30491);
    EXPECT_EQ(d.sd.multicast, (std::array<std::uint8_t, 4>{239, 1, 2, 3}));
    EXPECT_EQ(std::make_tuple(d.sd.timing.repetitions, d.sd.timing.cyclic_offer_delay.count(),
                              d.sd.timing.ttl_s),
              std::make_tuple(0u, 200, 9u));
}

TEST(Deployment, bad_entries_are_refused_with_their_path) {
    const auto in = [](const std::string& name, const std::string& body) {
        return R"({"interfaces": {")" + name + R"(": )" + body + "}}";
    };
    const std::tuple<std::string, std::string> cases[] = {
        {"{", "test.json: not valid JSON"},
        {"[]", "test.json: a deployment must be a JSON object"},
        {R"({"clientid": 1})", "test.json: clientid: unknown key"},
        {R"({"client_id": "1"})", "client_id: must be four hexadecimal digits"},
        {R"({"client_id": "00g1"})", "client_id: must be four hexadecimal digits"},
        {R"({"client_id": -1})", "client_id: must be four hexadecimal digits"},
        {R"({"client_id": 70000})", "client_id: must be in 0x0000..0xfffe"},
        {in("ns::d_0999::DataIdentifier_Unknown", "{}"),
         "interfaces.ns::d_0999::DataIdentifier_Unknown: no such interface"},
        {in(vin, R"({"service_id": "0102"})"),
         "interfaces." + vin + ".service_id: service id 0102 is also the one of " + did},
        {in(did, R"({"service_id": "FFFF"})"), "interfaces." + did + ".service_id: must be in"},
        {in(did, R"({"major_version": 255})"), ".major_version: must be a whole number 0..254"},
        {in(did, R"({"methods": {"Write": 2}})"),
         ".methods.Write: no such method (the interface has Cancel, Read)"},
        {in(did, R"({"methods": {"Read": 0}})"), ".methods: two methods with method id 0"},
        {in(did, R"({"methods": {"Read": 32768}})"), ".methods.Read: must be a whole number"},
        {in(did, R"({"version": 1})"), "interfaces." + did + ".version: unknown key"},
        {in(did, "3"), "interfaces." + did + ": must be a JSON object"},
        {R"({"instances": {"diag": {"instance_id": "0000"}}})",
         "instances.diag.instance_id: must be in 0x0001..0xfffe"},
        {R"({"instances": {"diag": {"udp_port": 0}}})", "instances.diag.udp_port: must be"},
        {R"({"sd": {"multicast": "224.244.224"}})", "sd.multicast: must be an IPv4 multicast"},
        {R"({"sd": {"multicast": "10.0.0.1"}})", "sd.multicast: must be an IPv4 multicast"},
        {R"({"sd": {"multicast": "224.244.224.245 "}})", "sd.multicast: must be an IPv4"},
        {R"({"sd": {"multicast": 1}})", "sd.multicast: must be an IPv4 multicast"},
        {R"({"sd": {"initial_delay_ms": [100, 10]}})",
         "initial_delay_ms[1]: must be a whole number 100"},
        {R"({"sd": {"initial_delay_ms": 10}})", "sd.initial_delay_ms: must be [lowest, highest]"},
        {R"({"sd": {"ttl_s": 0}})", "sd.ttl_s: must be a whole number 1..16777215"},
        {R"({"sd": {"port": 30490.5}})", "sd.port: must be a whole number"},
    };
    for (const auto& [text, message] : cases) {
        const Deployment_result result = parse_deployment(text, known, "test.json");
        EXPECT_FALSE(result.deployment) << text;
        EXPECT_NE(result.error.find(message), std::string::npos)
            << text << "\n  gave: " << result.error;
    }
}

TEST(Deployment, an_interface_without_a_number_in_its_name_needs_a_service_id) {
    const std::vector<Known_interface> odd = {{"ns::Odd", {"Read"}}};
    EXPECT_NE(default_deployment(odd).error.find("interfaces.ns::Odd.service_id: needed"),
              std::string::npos);
    const auto given =
        parse_deployment(R"({"interfaces": {"ns::Odd": {"service_id": 5}}})", odd, "test.json");
    ASSERT_TRUE(given.deployment) << given.error;
    EXPECT_EQ(given.deployment->interface("ns::Odd")->service_id, 5);
}

TEST(Deployment, service_ids_and_addresses_from_text) {
    EXPECT_EQ(service_id_from_name(did), 0x0102);
    EXPECT_EQ(service_id_from_name("a::r_fF01::B"), 0xFF01);
    EXPECT_EQ(service_id_from_name("d_0102"), 0x0102);
    for (const char* bad : {"a::d_010::B", "a::x_0102::B", "a::d_01023::B", ""}) {
        EXPECT_FALSE(service_id_from_name(bad)) << bad;
    }
    EXPECT_EQ(parse_ipv4_address("127.0.0.2"), (std::array<std::uint8_t, 4>{127, 0, 0, 2}));
    EXPECT_FALSE(parse_ipv4_address("127.0.0.256"));
    EXPECT_FALSE(parse_ipv4_address("localhost"));
}

}  // namespace
