#pragma once
// Which SOME/IP numbers and endpoints stand for the services the plug-in knows by name: a
// JSON file with an interface section (service id, versions, method ids per interface
// name), an instance section (instance id and UDP port per instance specifier) and the SD
// settings. Every key is optional. Without a file, an interface's service id is the four
// hexadecimal digits of its d_xxxx or r_xxxx namespace, its method ids are the positions of
// its method names in alphabetical order, its version is 1.0; an instance has instance id 1
// on UDP port 30501.
//
//   {"client_id": "0001",
//    "interfaces": {"ns::d_0102::DataIdentifier_X": {"service_id": "0102", "major_version": 1,
//                   "minor_version": 0, "methods": {"Cancel": 0, "Read": 1}}},
//    "instances": {"diag": {"instance_id": "0001", "udp_port": 30501}},
//    "sd": {"port": 30490, "multicast": "224.244.224.245", "initial_delay_ms": [10, 100],
//           "repetitions": 3, "repetition_base_delay_ms": 30, "cyclic_offer_delay_ms": 1000,
//           "ttl_s": 3}}
//
// Ids are given as four hexadecimal digits or as numbers; keys starting with "_" are
// comments.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "someip/sd_timing.h"

namespace platform::runtime::someip {

inline constexpr std::uint16_t default_client_id = 0x0001;
inline constexpr std::uint16_t default_instance_id = 0x0001;
inline constexpr std::uint16_t default_udp_port = 30501;
inline constexpr std::uint16_t default_sd_port = 30490;
inline constexpr std::array<std::uint8_t, 4> default_sd_multicast{224, 244, 224, 245};

// An interface the caller knows: its full name and its method names.
struct Known_interface {
    std::string name;
    std::vector<std::string> methods;
};

struct Interface_deployment {
    std::string name;
    std::uint16_t service_id = 0;
    std::uint8_t major_version = 1;
    std::uint32_t minor_version = 0;
    std::map<std::string, std::uint16_t> methods;  // method name to method id
};

struct Instance_deployment {
    std::uint16_t instance_id = default_instance_id;
    std::uint16_t udp_port = default_udp_port;
};

struct Sd_settings {
    std::uint16_t port = default_sd_port;
    std::array<std::uint8_t, 4> multicast = default_sd_multicast;
    Sd_timing timing;
};

struct Deployment {
    std::uint16_t client_id = default_client_id;
    std::map<std::string, Interface_deployment> interfaces;  // every known interface
    std::map<std::string, Instance_deployment> instances;    // those the file names
    Sd_settings sd;

    const Interface_deployment* interface(const std::string& name) const;
    const Interface_deployment* interface_of(std::uint16_t service_id) const;
    // The file's entry for `specifier`, else the defaults.
    Instance_deployment instance(const std::string& specifier) const;
};

struct Deployment_result {
    std::optional<Deployment> deployment;
    std::string error;  // "<source>: <dotted path>: what is wrong" when there is none
};

// Reads and checks a deployment file's text against the interfaces the caller knows;
// `source` names it in error messages. Refused: bad JSON, unknown keys or interfaces or
// methods, values out of range, two interfaces with one service id, a malformed address.
Deployment_result parse_deployment(std::string_view text, const std::vector<Known_interface>& known,
                                   const std::string& source);

// The deployment without a file.
Deployment_result default_deployment(const std::vector<Known_interface>& known);

// The service id that an interface's d_xxxx or r_xxxx namespace gives, if it has one.
std::optional<std::uint16_t> service_id_from_name(const std::string& interface_name);

// A dotted-quad IPv4 address, and back.
std::optional<std::array<std::uint8_t, 4>> parse_ipv4_address(const std::string& text);
std::string ipv4_text(const std::array<std::uint8_t, 4>& address);

}  // namespace platform::runtime::someip
