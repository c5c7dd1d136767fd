#include "sim/vehicle/profile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

namespace dmsim {

namespace {

using nlohmann::json;

bool is_comment(const std::string& key) {
    return !key.empty() && key[0] == '_';
}

// Checks a parsed profile; every failure names the source and the place (a dotted path).
class Checker {
  public:
    explicit Checker(std::string source) : source_(std::move(source)) {}

    [[noreturn]] void fail(const std::string& path, const std::string& message) const {
        throw Profile_error(source_ + ": " + (path.empty() ? "" : path + ": ") + message);
    }

    Vehicle_profile profile(const json& root) const {
        if (!root.is_object()) {
            fail("", "the profile must be a JSON object, found " + type_of(root));
        }
        Vehicle_profile result;
        for (const Service_info& service : service_table()) {
            Service_profile entry;
            entry.service = &service;
            entry.answers.resize(service.methods.size());
            for (const Method_info& method : service.methods) {
                entry.answers.at(method.id).payload = method.zeros();
            }
            result.services.push_back(std::move(entry));
        }
        for (const auto& [key, value] : root.items()) {
            if (is_comment(key)) {
                continue;
            }
            if (key == "$schema") {
                if (!value.is_string()) {
                    fail(key, "must be a string naming the profile's JSON Schema, found " +
                                  quoted(value));
                }
            } else if (key == "instance") {
                if (!value.is_string() || value.get_ref<const std::string&>().empty()) {
                    fail("instance", "must be a non-empty string, found " + quoted(value));
                }
                result.instance = value.get<std::string>();
            } else if (key == "dids") {
                identifiers(value, "dids", Service_kind::did, result);
            } else if (key == "routines") {
                identifiers(value, "routines", Service_kind::routine, result);
            } else if (key == "doip") {
                result.doip = doip(value);
            } else {
                fail(key,
                     "unknown key (known: \"instance\", \"dids\", \"routines\", \"doip\", "
                     "\"$schema\"; keys starting with \"_\" are comments)");
            }
        }
        return result;
    }

  private:
    static std::string type_of(const json& value) { return value.type_name(); }

    // A hex string of exactly `size` bytes.
    Bytes hex_of(const json& value, const std::string& path, std::size_t size) const {
        if (value.is_string()) {
            try {
                Bytes bytes = parse_hex(value.get<std::string>());
                if (bytes.size() == size) {
                    return bytes;
                }
            } catch (const Hex_error&) {
            }
        }
        fail(path,
             "expected a hex string of " + std::to_string(size) + " bytes, found " + quoted(value));
    }

    Doip_profile doip(const json& section) const {
        if (!section.is_object()) {
            fail("doip", "must be an object, found " + type_of(section));
        }
        Doip_profile result;
        for (const auto& [key, value] : section.items()) {
            if (is_comment(key)) {
                continue;
            }
            const std::string here = "doip." + key;
            if (key == "vin") {
                if (!value.is_string() || value.get_ref<const std::string&>().size() != 17) {
                    fail(here, "expected a string of 17 characters, found " + quoted(value));
                }
                result.vin = value.get<std::string>();
            } else if (key == "logical_address") {
                const Bytes bytes = hex_of(value, here, 2);
                result.logical_address = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
            } else if (key == "eid" || key == "gid") {
                const Bytes bytes = hex_of(value, here, 6);
                std::array<std::uint8_t, 6> id{};
                std::copy(bytes.begin(), bytes.end(), id.begin());
                (key == "eid" ? result.eid : result.gid) = id;
            } else {
                fail(here, "unknown key (known: \"vin\", \"logical_address\", \"eid\", \"gid\")");
            }
        }
        return result;
    }

    static std::optional<std::uint16_t> identifier(const std::string& key) {
        if (key.size() != 4) {
            return std::nullopt;
        }
        try {
            const Bytes bytes = parse_hex(key);
            return static_cast<std::uint16_t>(bytes.at(0) << 8 | bytes.at(1));
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    void identifiers(const json& section, const std::string& path, Service_kind kind,
                     Vehicle_profile& result) const {
        if (!section.is_object()) {
            fail(path, "must be an object keyed by identifier, found " + type_of(section));
        }
        const Service_kind other =
            kind == Service_kind::did ? Service_kind::routine : Service_kind::did;
        std::map<std::uint16_t, std::string> seen;
        for (const auto& [key, value] : section.items()) {
            if (is_comment(key)) {
                continue;
            }
            const std::string here = path + "." + key;
            const auto id = identifier(key);
            if (!id) {
                fail(here, "an identifier is written as four hexadecimal digits, like \"F190\"");
            }
            if (const auto [it, fresh] = seen.emplace(*id, key); !fresh) {
                fail(here, "identifier listed twice (also as \"" + it->second + "\")");
            }
            const Service_info* service = find_service(kind, *id);
            if (service == nullptr) {
                if (find_service(other, *id) != nullptr) {
                    fail(here, std::string("is a ") + (kind == Service_kind::did
                                                           ? "routine identifier: list it "
                                                             "under \"routines\""
                                                           : "data identifier: list it "
                                                             "under \"dids\""));
                }
                fail(here, std::string("unknown ") + (kind == Service_kind::did
                                                          ? "data identifier (the vehicle has 83)"
                                                          : "routine identifier (the vehicle "
                                                            "has 26)"));
            }
            service_entry(value, here, *service, result.services.at(index_of(*service)));
        }
    }

    static std::size_t index_of(const Service_info& service) {
        return static_cast<std::size_t>(&service - service_table().data());
    }

    void service_entry(const json& entry, const std::string& path, const Service_info& service,
                       Service_profile& result) const {
        if (!entry.is_object()) {
            fail(path, "must be an object keyed by method name, found " + type_of(entry));
        }
        for (const auto& [key, value] : entry.items()) {
            if (is_comment(key)) {
                continue;
            }
            const std::string here = path + "." + key;
            if (key == "offered") {
                if (!value.is_boolean()) {
                    fail(here, "must be true or false, found " + quoted(value));
                }
                result.offered = value.get<bool>();
                continue;
            }
            const Method_info* method = service.method(key);
            if (method == nullptr) {
                fail(here, "unknown method (this interface has " + service.method_names() +
                               "; besides them only \"offered\" is allowed)");
            }
            result.answers.at(method->id) = answer(value, here, *method);
        }
    }

    std::uint8_t byte_value(const json& value, const std::string& path) const {
        if (!value.is_number_integer() ||
            (value.is_number_unsigned()
                 ? value.get<std::uint64_t>() > 255
                 : value.get<std::int64_t>() < 0 || value.get<std::int64_t>() > 255)) {
            fail(path, "must be a whole number 0..255, found " + quoted(value));
        }
        return static_cast<std::uint8_t>(value.get<std::uint64_t>());
    }

    Bytes hex_bytes(const json& value, const std::string& path) const {
        if (!value.is_string()) {
            fail(path, "must be a hex string, found " + quoted(value));
        }
        try {
            return parse_hex(value.get_ref<const std::string&>());
        } catch (const Hex_error& e) {
            fail(path, std::string("bad hex, ") + e.what());
        }
    }

    Answer answer(const json& given, const std::string& path, const Method_info& method) const {
        if (!given.is_object()) {
            fail(path,
                 "must be an object (\"values\", \"payload\", \"error\", \"return_code\", "
                 "\"delay_ms\" or \"no_response\"), found " +
                     type_of(given));
        }
        Answer result;
        result.payload = method.zeros();
        std::vector<std::string> kinds;  // the keys that decide the reply
        bool silent = false;
        bool has_code = false;
        for (const auto& [key, value] : given.items()) {
            if (is_comment(key)) {
                continue;
            }
            const std::string here = path + "." + key;
            if (key == "values") {
                try {
                    result.payload = method.encode(value);
                } catch (const Value_error& e) {
                    // The layout once: the count message names it already.
                    if (!e.index) {
                        fail(here, e.what());
                    }
                    fail(here + "[" + std::to_string(*e.index) + "]",
                         std::string(e.what()) + "; " + method.name +
                             " output: " + describe(method.members));
                }
                kinds.push_back(key);
            } else if (key == "payload") {
                result.payload = hex_bytes(value, here);
                kinds.push_back(key);
            } else if (key == "error") {
                result.return_code = 2;
                if (value.is_array()) {
                    result.payload.clear();
                    for (std::size_t i = 0; i < value.size(); ++i) {
                        result.payload.push_back(
                            byte_value(value[i], here + "[" + std::to_string(i) + "]"));
                    }
                } else if (value.is_string()) {
                    result.payload = hex_bytes(value, here);
                } else {
                    fail(here,
                         "must be an array of byte values like [34] or a hex string, "
                         "found " +
                             quoted(value));
                }
                if (result.payload.empty()) {
                    fail(here, "needs at least one byte: the negative response code, like [34]");
                }
                kinds.push_back(key);
            } else if (key == "return_code") {
                has_code = true;
                result.return_code = byte_value(value, here);
            } else if (key == "delay_ms") {
                if (!value.is_number_integer() ||
                    (!value.is_number_unsigned() && value.get<std::int64_t>() < 0) ||
                    value.get<std::uint64_t>() > static_cast<std::uint64_t>(max_delay_ms)) {
                    fail(here, "must be a whole number of milliseconds 0.." +
                                   std::to_string(max_delay_ms) + ", found " + quoted(value));
                }
                result.delay = std::chrono::milliseconds(value.get<std::int64_t>());
            } else if (key == "no_response") {
                if (!value.is_boolean()) {
                    fail(here, "must be true or false, found " + quoted(value));
                }
                silent = value.get<bool>();
            } else {
                fail(here,
                     "unknown answer key (known: \"values\", \"payload\", \"error\", "
                     "\"return_code\", \"delay_ms\", \"no_response\")");
            }
        }
        if (kinds.size() > 1) {
            fail(path, "give only one of \"" + kinds[0] + "\" and \"" + kinds[1] + "\"");
        }
        if (has_code && !kinds.empty() && kinds[0] != "payload") {
            fail(path,
                 "\"return_code\" goes with \"payload\" only (\"" + kinds[0] + "\" sets its own)");
        }
        if (has_code && kinds.empty()) {
            result.payload.clear();  // a bare return code answers with an empty payload
        }
        if (silent) {
            if (!kinds.empty() || has_code || result.delay.count() != 0) {
                fail(path, "\"no_response\": true never answers: it takes no other answer key");
            }
            result.respond = false;
        }
        return result;
    }

    std::string source_;
};

// Rejects an object that names a key twice: the parser would keep the last one silently.
// Follows the parser's events; the place is the dotted path of object keys.
class Duplicate_keys {
  public:
    explicit Duplicate_keys(std::string source) : source_(std::move(source)) {}

    void see(json::parse_event_t event, const json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                frames_.push_back({true, {}, last_key(), {}});
                break;
            case json::parse_event_t::array_start:
                frames_.push_back({false, {}, last_key(), {}});
                break;
            case json::parse_event_t::object_end:
            case json::parse_event_t::array_end:
                frames_.pop_back();
                break;
            case json::parse_event_t::key: {
                Frame& frame = frames_.back();
                const std::string& key = parsed.get_ref<const std::string&>();
                if (!frame.keys.insert(key).second) {
                    throw Profile_error(source_ + ": " + path(key) + ": key given twice");
                }
                frame.current = key;
                break;
            }
            case json::parse_event_t::value:
                break;
        }
    }

  private:
    struct Frame {
        bool object;
        std::set<std::string> keys;
        std::string name;     // the key this container is the value of
        std::string current;  // the key being read
    };

    std::string last_key() const {
        return frames_.empty() || !frames_.back().object ? "" : frames_.back().current;
    }

    std::string path(const std::string& key) const {
        std::string text;  // "dids.F190", "_c[]"
        for (std::size_t i = 1; i < frames_.size(); ++i) {
            text += !frames_[i - 1].object ? "[]"
                    : text.empty()         ? frames_[i].name
                                           : "." + frames_[i].name;
        }
        return text.empty() ? key : text + "." + key;
    }

    std::string source_;
    std::vector<Frame> frames_;
};

}  // namespace

Vehicle_profile parse_profile(std::string_view text, const std::string& source) {
    json root;
    Duplicate_keys duplicates(source);
    try {
        root = json::parse(text.begin(), text.end(),
                           [&duplicates](int, json::parse_event_t event, json& parsed) {
                               duplicates.see(event, parsed);
                               return true;
                           });
    } catch (const json::exception& e) {
        // A syntax error, or a number beyond the range of a double (out_of_range.406).
        // what() starts with the library's own tag "[json.exception.parse_error.101] ".
        std::string message = e.what();
        if (const auto tag_end = message.find("] "); tag_end != std::string::npos) {
            message.erase(0, tag_end + 2);
        }
        throw Profile_error(source + ": not valid JSON: " + message);
    }
    return Checker(source).profile(root);
}

Vehicle_profile load_profile_file(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw Profile_error(path + ": cannot read the profile: it is a directory");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw Profile_error(path + ": cannot read the profile: " + std::strerror(errno));
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) {
        throw Profile_error(path + ": cannot read the profile: " + std::strerror(errno));
    }
    return parse_profile(contents.str(), path);
}

}  // namespace dmsim
