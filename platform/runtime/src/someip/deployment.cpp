#include "someip/deployment.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

#include <asio/ip/address_v4.hpp>
#include <nlohmann/json.hpp>

namespace platform::runtime::someip {

namespace {

using nlohmann::json;

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string quoted(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 60) {
        text = text.substr(0, 57) + "...";
    }
    return text;
}

bool is_comment(const std::string& key) {
    return !key.empty() && key[0] == '_';
}

std::string hex4(std::uint16_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = digits[value & 0xF];
        value = static_cast<std::uint16_t>(value >> 4);
    }
    return text;
}

class Reader {
  public:
    Reader(const std::vector<Known_interface>& known, std::string source)
        : known_(known), source_(std::move(source)) {}

    [[noreturn]] void fail(const std::string& path, const std::string& message) const {
        throw Refused(source_ + ": " + (path.empty() ? "" : path + ": ") + message);
    }

    Deployment read(const json& root) {
        Deployment result;
        std::map<std::string, std::string> explicit_ids;  // interface name to its path
        for (const auto& interface : known_) {
            Interface_deployment entry;
            entry.name = interface.name;
            std::vector<std::string> sorted = interface.methods;
            std::sort(sorted.begin(), sorted.end());
            for (std::size_t i = 0; i < sorted.size(); ++i) {
                entry.methods[sorted[i]] = static_cast<std::uint16_t>(i);
            }
            const auto id = service_id_from_name(interface.name);
            entry.service_id = id.value_or(0);
            result.interfaces.emplace(interface.name, std::move(entry));
        }
        if (!root.is_object()) {
            fail("", "a deployment must be a JSON object, found " + quoted(root));
        }
        for (const auto& [key, value] : root.items()) {
            if (is_comment(key)) {
            } else if (key == "client_id") {
                result.client_id = id16(value, key, 0x0000, 0xFFFE);
            } else if (key == "interfaces") {
                interfaces(value, key, result, explicit_ids);
            } else if (key == "instances") {
                instances(value, key, result);
            } else if (key == "sd") {
                sd(value, key, result.sd);
            } else {
                fail(key, "unknown key (expected client_id, interfaces, instances, sd)");
            }
        }
        std::map<std::uint16_t, std::string> owners;
        for (const auto& [name, entry] : result.interfaces) {
            const auto given = explicit_ids.find(name);
            const std::string path =
                given != explicit_ids.end() ? given->second : "interfaces." + name;
            if (given == explicit_ids.end() && !service_id_from_name(name)) {
                fail(path + ".service_id",
                     "needed: the name has no d_xxxx or r_xxxx namespace to take it from");
            }
            const auto [owner, fresh] = owners.emplace(entry.service_id, name);
            if (!fresh) {
                fail(path, "service id " + hex4(entry.service_id) + " is also the one of " +
                               owner->second);
            }
        }
        return result;
    }

  private:
    const json& object(const json& value, const std::string& path) const {
        if (!value.is_object()) {
            fail(path, "must be a JSON object, found " + quoted(value));
        }
        return value;
    }

    std::uint64_t number(const json& value, const std::string& path, std::uint64_t low,
                         std::uint64_t high) const {
        if (!value.is_number_unsigned() || value.get<std::uint64_t>() < low ||
            value.get<std::uint64_t>() > high) {
            fail(path, "must be a whole number " + std::to_string(low) + ".." +
                           std::to_string(high) + ", found " + quoted(value));
        }
        return value.get<std::uint64_t>();
    }

    // Four hexadecimal digits ("0102") or a number.
    std::uint16_t id16(const json& value, const std::string& path, std::uint16_t low,
                       std::uint16_t high) const {
        const std::string range = "0x" + hex4(low) + "..0x" + hex4(high);
        std::uint64_t id = 0;
        if (value.is_string()) {
            const auto& text = value.get_ref<const std::string&>();
            if (text.size() != 4 || !std::all_of(text.begin(), text.end(), [](char c) {
                    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                })) {
                fail(path, "must be four hexadecimal digits or a number, found " + quoted(value));
            }
            id = std::stoul(text, nullptr, 16);
        } else if (value.is_number_unsigned()) {
            id = value.get<std::uint64_t>();
        } else {
            fail(path, "must be four hexadecimal digits or a number, found " + quoted(value));
        }
        if (id < low || id > high) {
            fail(path, "must be in " + range + ", found " + quoted(value));
        }
        return static_cast<std::uint16_t>(id);
    }

    void interfaces(const json& section, const std::string& path, Deployment& result,
                    std::map<std::string, std::string>& explicit_ids) const {
        for (const auto& [name, value] : object(section, path).items()) {
            if (is_comment(name)) {
                continue;
            }
            const std::string here = path + "." + name;
            const auto found = result.interfaces.find(name);
            if (found == result.interfaces.end()) {
                fail(here, "no such interface");
            }
            Interface_deployment& entry = found->second;
            for (const auto& [key, field] : object(value, here).items()) {
                const std::string at = here + "." + key;
                if (is_comment(key)) {
                } else if (key == "service_id") {
                    entry.service_id = id16(field, at, 0x0001, 0xFFFE);
                    explicit_ids[name] = at;
                } else if (key == "major_version") {
                    entry.major_version = static_cast<std::uint8_t>(number(field, at, 0, 0xFE));
                } else if (key == "minor_version") {
                    entry.minor_version =
                        static_cast<std::uint32_t>(number(field, at, 0, 0xFFFFFFFE));
                } else if (key == "methods") {
                    methods(field, at, entry);
                } else {
                    fail(at,
                         "unknown key (expected service_id, major_version, minor_version, "
                         "methods)");
                }
            }
        }
    }

    void methods(const json& section, const std::string& path, Interface_deployment& entry) const {
        for (const auto& [name, value] : object(section, path).items()) {
            if (is_comment(name)) {
                continue;
            }
            const std::string at = path + "." + name;
            const auto found = entry.methods.find(name);
            if (found == entry.methods.end()) {
                fail(at, "no such method (the interface has " + method_names(entry) + ")");
            }
            found->second = static_cast<std::uint16_t>(number(value, at, 0, 0x7FFF));
        }
        std::set<std::uint16_t> ids;
        for (const auto& [name, id] : entry.methods) {
            if (!ids.insert(id).second) {
                fail(path, "two methods with method id " + std::to_string(id));
            }
        }
    }

    static std::string method_names(const Interface_deployment& entry) {
        std::string names;
        for (const auto& [name, id] : entry.methods) {
            names += (names.empty() ? "" : ", ") + name;
        }
        return names.empty() ? "none" : names;
    }

    void instances(const json& section, const std::string& path, Deployment& result) const {
        for (const auto& [specifier, value] : object(section, path).items()) {
            if (is_comment(specifier)) {
                continue;
            }
            const std::string here = path + "." + specifier;
            Instance_deployment entry;
            for (const auto& [key, field] : object(value, here).items()) {
                const std::string at = here + "." + key;
                if (is_comment(key)) {
                } else if (key == "instance_id") {
                    entry.instance_id = id16(field, at, 0x0001, 0xFFFE);
                } else if (key == "udp_port") {
                    entry.udp_port = static_cast<std::uint16_t>(number(field, at, 1, 0xFFFF));
                } else {
                    fail(at, "unknown key (expected instance_id, udp_port)");
                }
            }
            result.instances[specifier] = entry;
        }
    }

    void sd(const json& section, const std::string& path, Sd_settings& settings) const {
        Sd_timing& timing = settings.timing;
        for (const auto& [key, value] : object(section, path).items()) {
            const std::string at = path + "." + key;
            if (is_comment(key)) {
            } else if (key == "port") {
                settings.port = static_cast<std::uint16_t>(number(value, at, 1, 0xFFFF));
            } else if (key == "multicast") {
                const auto address =
                    value.is_string() ? parse_ipv4_address(value.get<std::string>()) : std::nullopt;
                if (!address || ((*address)[0] & 0xF0) != 0xE0) {
                    fail(at,
                         "must be an IPv4 multicast address (224.0.0.0 to 239.255.255.255), "
                         "found " +
                             quoted(value));
                }
                settings.multicast = *address;
            } else if (key == "initial_delay_ms") {
                if (!value.is_array() || value.size() != 2) {
                    fail(at, "must be [lowest, highest] in milliseconds, found " + quoted(value));
                }
                const auto low = number(value[0], at + "[0]", 0, 60'000);
                const auto high = number(value[1], at + "[1]", low, 60'000);
                timing.initial_delay_min = milliseconds(low);
                timing.initial_delay_max = milliseconds(high);
            } else if (key == "repetitions") {
                timing.repetitions = static_cast<unsigned>(number(value, at, 0, 10));
            } else if (key == "repetition_base_delay_ms") {
                timing.repetition_base_delay = milliseconds(number(value, at, 1, 60'000));
            } else if (key == "cyclic_offer_delay_ms") {
                timing.cyclic_offer_delay = milliseconds(number(value, at, 1, 3'600'000));
            } else if (key == "ttl_s") {
                timing.ttl_s = static_cast<std::uint32_t>(number(value, at, 1, 0xFFFFFF));
            } else {
                fail(at,
                     "unknown key (expected port, multicast, initial_delay_ms, repetitions, "
                     "repetition_base_delay_ms, cyclic_offer_delay_ms, ttl_s)");
            }
        }
    }

    const std::vector<Known_interface>& known_;
    std::string source_;
};

}  // namespace

const Interface_deployment* Deployment::interface(const std::string& name) const {
    const auto found = interfaces.find(name);
    return found == interfaces.end() ? nullptr : &found->second;
}

const Interface_deployment* Deployment::interface_of(std::uint16_t service_id) const {
    for (const auto& [name, entry] : interfaces) {
        if (entry.service_id == service_id) {
            return &entry;
        }
    }
    return nullptr;
}

Instance_deployment Deployment::instance(const std::string& specifier) const {
    const auto found = instances.find(specifier);
    return found == instances.end() ? Instance_deployment{} : found->second;
}

Deployment_result parse_deployment(std::string_view text, const std::vector<Known_interface>& known,
                                   const std::string& source) {
    Deployment_result result;
    const json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) {
        result.error = source + ": not valid JSON";
        return result;
    }
    try {
        result.deployment = Reader(known, source).read(root);
    } catch (const Refused& refused) {
        result.error = refused.what();
    }
    return result;
}

Deployment_result default_deployment(const std::vector<Known_interface>& known) {
    return parse_deployment("{}", known, "default deployment");
}

std::optional<std::uint16_t> service_id_from_name(const std::string& interface_name) {
    std::size_t start = 0;
    while (start <= interface_name.size()) {
        const std::size_t end = std::min(interface_name.find("::", start), interface_name.size());
        const std::string_view part(interface_name.data() + start, end - start);
        if (part.size() == 6 && (part[0] == 'd' || part[0] == 'r') && part[1] == '_' &&
            std::all_of(part.begin() + 2, part.end(),
                        [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
            return static_cast<std::uint16_t>(std::stoul(std::string(part.substr(2)), nullptr, 16));
        }
        start = end + 2;
    }
    return std::nullopt;
}

std::optional<std::array<std::uint8_t, 4>> parse_ipv4_address(const std::string& text) {
    asio::error_code error;
    const auto address = asio::ip::make_address_v4(text, error);
    if (error) {
        return std::nullopt;
    }
    return address.to_bytes();
}

std::string ipv4_text(const std::array<std::uint8_t, 4>& address) {
    return asio::ip::address_v4(
               asio::ip::address_v4::bytes_type{address[0], address[1], address[2], address[3]})
        .to_string();
}

}  // namespace platform::runtime::someip
