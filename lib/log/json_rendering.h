#pragma once
// JSON text of one log line: the incident and its extra data.
//
//   std::uint32_t counter = 1;
//   auto line = detail::Serialization_helper::serialize(counter, incident, meta, record);
//   // {"1_incident":{"1_id":...},"2_data":{"1_map":{...},"2_generated_type":{...}}}
//
// Every key carries its position ("1_id", "2_service_id", "1_map", ...) because objects
// are ordered by byte-wise key comparison; from ten entries on, "10_array" sorts before
// "2_array".

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "binding/runtime/identity.h"
#include "log/incidents.h"

namespace zun::com::runtime {

inline void to_json(nlohmann::json& j, const Service_id& id) {
    j = nlohmann::json{{"1_id", "Service_id"}, {"string", id.to_string()}};
}

inline void to_json(nlohmann::json& j, const Service_id_literal& id) {
    std::string text;
    if (id.c_str() != nullptr) {
        text.assign(id.c_str(), id.size());
    }
    j = nlohmann::json{{"1_id", "Service_id"}, {"2_char const*", std::move(text)}};
}

inline void to_json(nlohmann::json& j, const Instance_id& id) {
    j = nlohmann::json{{"1_id", "Instance_id"}, {"2_string", id.to_string()}};
}

inline void to_json(nlohmann::json& j, const Service_handle& handle) {
    j = nlohmann::json{{"1_id", "Service_handle"},
                       {"2_service_id", handle.get_service_id()},
                       {"3_instance_id", handle.get_instance_id()}};
}

}  // namespace zun::com::runtime

namespace ara::com::log::incidents {

inline void to_json(nlohmann::json& j, const Find_service_start& incident) {
    j = nlohmann::json{{"1_id", "Find_service_start"},
                       {"2_service_id", incident.service_id},
                       {"3_instance_id", incident.instance_id}};
}

inline void to_json(nlohmann::json& j, const Find_service_stop& incident) {
    j = nlohmann::json{{"1_id", "Find_service_stop"}, {"2_service_id", incident.service_id}};
}

}  // namespace ara::com::log::incidents

namespace kem::com::cpp_binding::log::incidents {

namespace detail {

inline nlohmann::json identify(const char* name, const zun::com::runtime::Service_id& service,
                               const zun::com::runtime::Instance_id& instance) {
    return nlohmann::json{{"1_id", name}, {"2_service_id", service}, {"3_instance_id", instance}};
}

// The four incidents that carry a return code.
template <class Incident>
void render_with_error_code(nlohmann::json& j, const char* name, const Incident& incident) {
    j = identify(name, incident.service_id, incident.instance_id);
    j["4_method_id"] = incident.method_id;
    j["5_error_code"] = incident.error_code;
}

template <class Incident>
void render_constructed(nlohmann::json& j, const Incident& incident) {
    j = identify("Service_proxy_constructed", incident.service_id, incident.instance_id);
    j["4_struct4bytes"] = incident.struct4bytes ? "1" : "0";
    j["5_utf8simple"] = incident.utf8simple ? "1" : "0";
}

}  // namespace detail

inline void to_json(nlohmann::json& j, const Find_service_result& incident) {
    j = detail::identify("Find_service_result", incident.service_id, incident.instance_id);
}

inline void to_json(nlohmann::json& j, const Find_service_handler_performance& incident) {
    j = detail::identify("Find_service_handler_performance", incident.service_id,
                         incident.instance_id);
    j["4_time"] = incident.time;
}

inline void to_json(nlohmann::json& j, const Find_service_handler_exception& incident) {
    j = detail::identify("Find_service_handler_exception", incident.service_id,
                         incident.instance_id);
}

inline void to_json(nlohmann::json& j, const Service_proxy_constructed& incident) {
    detail::render_constructed(j, incident);
}

inline void to_json(nlohmann::json& j, const Service_skeleton_constructed& incident) {
    detail::render_constructed(j, incident);
}

inline void to_json(nlohmann::json& j, const Method_call_request_tx& incident) {
    j = detail::identify("Method_call_request_tx", incident.service_id, incident.instance_id);
    j["4_method_id"] = incident.method_id;
}

inline void to_json(nlohmann::json& j, const Method_call_request_cancelled& incident) {
    j = detail::identify("Method_call_request_cancelled", incident.service_id,
                         incident.instance_id);
    j["4_method_id"] = incident.method_id;
}

inline void to_json(nlohmann::json& j, const Method_call_request_err& incident) {
    detail::render_with_error_code(j, "Method_call_request_err", incident);
}

inline void to_json(nlohmann::json& j, const Method_call_response_rx& incident) {
    detail::render_with_error_code(j, "Method_call_response_rx", incident);
}

inline void to_json(nlohmann::json& j, const Method_call_response_invalid_code& incident) {
    detail::render_with_error_code(j, "Method_call_response_invalid_code", incident);
}

inline void to_json(nlohmann::json& j, const Method_call_deserializer_exception& incident) {
    detail::render_with_error_code(j, "Method_call_deserializer_exception", incident);
}

}  // namespace kem::com::cpp_binding::log::incidents

namespace kem::com::json::serialization {

namespace detail {

template <class T>
struct Is_byte_array : std::false_type {};
template <std::size_t N>
struct Is_byte_array<std::array<std::uint8_t, N>> : std::true_type {};

template <class T>
inline constexpr bool dependent_false = false;

// Label of a member of an output record; null for a type a record cannot hold.
template <class T>
constexpr const char* record_member_label() {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        return "uint8";
    } else if constexpr (std::is_same_v<T, std::uint16_t>) {
        return "uint16";
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        return "uint32";
    } else if constexpr (Is_byte_array<T>::value) {
        return "array";
    } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
        return "vector";
    } else {
        return nullptr;
    }
}

// "<counter>_<label>". A width holding a decimal number left-pads the counter with zeros
// to that many digits (at most 20); an empty or non-numeric width pads nothing.
template <class Counter>
std::string numbered_key(Counter counter, const std::string& width, const char* label) {
    const std::string number = std::to_string(counter);
    std::size_t digits = 0;
    for (const char c : width) {
        if (c < '0' || c > '9') {
            digits = 0;
            break;
        }
        digits = std::min<std::size_t>(digits * 10 + static_cast<std::size_t>(c - '0'), 20);
    }
    std::string key;
    if (digits > number.size()) {
        key.assign(digits - number.size(), '0');
    }
    key += number;
    key += '_';
    key += label;
    return key;
}

}  // namespace detail

// Renders an output record through its visit: one member per record member, keyed by
// the member's position (from 1) and its label.
//
//   Json_serializer serializer;  record.visit(serializer);  json j = std::move(serializer).take();
class Json_serializer {
  public:
    template <class T>
    void operator()(const T& value) {
        constexpr const char* label = detail::record_member_label<T>();
        static_assert(label != nullptr,
                      "an output record holds only u8, u16, u32, u8 arrays and "
                      "a byte vector");
        object_[detail::numbered_key(counter_, std::string(), label)] = value;
        ++counter_;
    }

    const nlohmann::json& object() const noexcept { return object_; }
    nlohmann::json take() && noexcept { return std::move(object_); }

  private:
    nlohmann::json object_ = nlohmann::json::object();
    std::uint64_t counter_ = 1;
};

namespace detail {

template <class T, class = void>
struct Has_visit : std::false_type {};
template <class T>
struct Has_visit<T,
                 std::void_t<decltype(std::declval<T&>().visit(std::declval<Json_serializer&>()))>>
    : std::true_type {};

// Label of a value passed as extra data (after decay, so string literals are strings).
template <class T>
constexpr const char* extra_data_label() {
    if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, const char*> ||
                  std::is_same_v<T, char*>) {
        return "string";
    } else if constexpr (std::is_same_v<T, std::map<std::string, std::string>>) {
        return "map";
    } else if constexpr (std::is_same_v<T, std::vector<zun::com::runtime::Service_handle>>) {
        return "vector";
    } else if constexpr (record_member_label<T>() != nullptr) {
        return record_member_label<T>();
    } else if constexpr (Has_visit<T>::value) {
        return "generated_type";
    } else {
        static_assert(dependent_false<T>, "no incident label for this type of extra data");
        return nullptr;
    }
}

// Compact dump, UTF-8 kept as is, invalid UTF-8 rejected. A failing dump yields the
// exception's message (empty if it has none); a non-standard exception yields "".
inline std::string get_json_dump(const nlohmann::json& document) {
    try {
        return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const std::exception& e) {
        const char* message = e.what();
        return message != nullptr ? std::string(message) : std::string();
    } catch (...) {
        return std::string();
    }
}

struct Serialization_helper {
    // The whole text of one log line; "" if building the document fails. `counter` numbers
    // the extra data and is set to 1 by the caller.
    template <class Incident, class... Args>
    static std::string serialize(std::uint32_t& counter, const Incident& incident,
                                 const Args&... args) noexcept {
        try {
            nlohmann::json document;
            document["1_incident"] = incident;
            (serialize_additional_args(counter, document, args), ...);
            return get_json_dump(document);
        } catch (...) {
            return std::string();
        }
    }

    // Adds one entry to the document's "2_data" object.
    template <class T>
    static void serialize_additional_args(std::uint32_t& counter, nlohmann::json& document,
                                          T&& value) {
        static const std::string no_width;
        serialize_args_impl(counter, document["2_data"], no_width, value);
    }

    template <class T>
    static void serialize_args_impl(std::uint32_t& counter, nlohmann::json& data,
                                    const std::string& width, const T& value) {
        using Value = std::decay_t<T>;
        nlohmann::json& slot = data[numbered_key(counter, width, extra_data_label<Value>())];
        if constexpr (std::is_array_v<T>) {
            slot = static_cast<const char*>(value);
        } else if constexpr (std::is_pointer_v<Value>) {
            slot = value != nullptr ? value : "";
        } else if constexpr (Has_visit<Value>::value) {
            Json_serializer serializer;
            // visit takes its members by non-const reference but this visitor only reads.
            const_cast<Value&>(value).visit(serializer);
            slot = std::move(serializer).take();
        } else {
            slot = value;
        }
        ++counter;
    }
};

}  // namespace detail
}  // namespace kem::com::json::serialization
