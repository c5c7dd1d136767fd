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

void to_json(nlohmann::json& j, const Service_id& id);
void to_json(nlohmann::json& j, const Service_id_literal& id);
void to_json(nlohmann::json& j, const Instance_id& id);
void to_json(nlohmann::json& j, const Service_handle& handle);

}  // namespace zun::com::runtime

namespace ara::com::log::incidents {

void to_json(nlohmann::json& j, const Find_service_start& incident);
void to_json(nlohmann::json& j, const Find_service_stop& incident);

}  // namespace ara::com::log::incidents

namespace kem::com::cpp_binding::log::incidents {

void to_json(nlohmann::json& j, const Find_service_result& incident);
void to_json(nlohmann::json& j, const Find_service_handler_performance& incident);
void to_json(nlohmann::json& j, const Find_service_handler_exception& incident);
void to_json(nlohmann::json& j, const Service_proxy_constructed& incident);
void to_json(nlohmann::json& j, const Service_skeleton_constructed& incident);
void to_json(nlohmann::json& j, const Method_call_request_tx& incident);
void to_json(nlohmann::json& j, const Method_call_request_cancelled& incident);
void to_json(nlohmann::json& j, const Method_call_request_err& incident);
void to_json(nlohmann::json& j, const Method_call_response_rx& incident);
void to_json(nlohmann::json& j, const Method_call_response_invalid_code& incident);
void to_json(nlohmann::json& j, const Method_call_deserializer_exception& incident);

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
std::string numbered_key(std::uint64_t counter, const std::string& width, const char* label);

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
std::string get_json_dump(const nlohmann::json& document);

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
