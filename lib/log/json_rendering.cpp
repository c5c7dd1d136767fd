#include "log/json_rendering.h"

namespace zun::com::runtime {

// Objects are filled member by member: a braced list of pairs would build every pair as
// a two-element array first and then copy its key and value out of it.

void to_json(nlohmann::json& j, const Service_id& id) {
    j = nlohmann::json::object();
    j["1_id"] = "Service_id";
    j["string"] = id.to_string();
}

void to_json(nlohmann::json& j, const Service_id_literal& id) {
    std::string text;
    if (id.c_str() != nullptr) {
        text.assign(id.c_str(), id.size());
    }
    j = nlohmann::json::object();
    j["1_id"] = "Service_id";
    j["2_char const*"] = std::move(text);
}

void to_json(nlohmann::json& j, const Instance_id& id) {
    j = nlohmann::json::object();
    j["1_id"] = "Instance_id";
    j["2_string"] = id.to_string();
}

void to_json(nlohmann::json& j, const Service_handle& handle) {
    j = nlohmann::json::object();
    j["1_id"] = "Service_handle";
    to_json(j["2_service_id"], handle.get_service_id());
    to_json(j["3_instance_id"], handle.get_instance_id());
}

}  // namespace zun::com::runtime

namespace ara::com::log::incidents {

void to_json(nlohmann::json& j, const Find_service_start& incident) {
    j = nlohmann::json::object();
    j["1_id"] = "Find_service_start";
    to_json(j["2_service_id"], incident.service_id);
    to_json(j["3_instance_id"], incident.instance_id);
}

void to_json(nlohmann::json& j, const Find_service_stop& incident) {
    j = nlohmann::json::object();
    j["1_id"] = "Find_service_stop";
    to_json(j["2_service_id"], incident.service_id);
}

}  // namespace ara::com::log::incidents

namespace kem::com::cpp_binding::log::incidents {

namespace detail {

void identify(nlohmann::json& j, const char* name, const zun::com::runtime::Service_id& service,
              const zun::com::runtime::Instance_id& instance) {
    j = nlohmann::json::object();
    j["1_id"] = name;
    zun::com::runtime::to_json(j["2_service_id"], service);
    zun::com::runtime::to_json(j["3_instance_id"], instance);
}

// The four incidents that carry a return code.
template <class Incident>
void render_with_error_code(nlohmann::json& j, const char* name, const Incident& incident) {
    identify(j, name, incident.service_id, incident.instance_id);
    j["4_method_id"] = incident.method_id;
    j["5_error_code"] = incident.error_code;
}

template <class Incident>
void render_constructed(nlohmann::json& j, const Incident& incident) {
    identify(j, "Service_proxy_constructed", incident.service_id, incident.instance_id);
    j["4_struct4bytes"] = incident.struct4bytes ? "1" : "0";
    j["5_utf8simple"] = incident.utf8simple ? "1" : "0";
}

}  // namespace detail

void to_json(nlohmann::json& j, const Find_service_result& incident) {
    detail::identify(j, "Find_service_result", incident.service_id, incident.instance_id);
}

void to_json(nlohmann::json& j, const Find_service_handler_performance& incident) {
    detail::identify(j, "Find_service_handler_performance", incident.service_id,
                     incident.instance_id);
    j["4_time"] = incident.time;
}

void to_json(nlohmann::json& j, const Find_service_handler_exception& incident) {
    detail::identify(j, "Find_service_handler_exception", incident.service_id,
                     incident.instance_id);
}

void to_json(nlohmann::json& j, const Service_proxy_constructed& incident) {
    detail::render_constructed(j, incident);
}

void to_json(nlohmann::json& j, const Service_skeleton_constructed& incident) {
    detail::render_constructed(j, incident);
}

void to_json(nlohmann::json& j, const Method_call_request_tx& incident) {
    detail::identify(j, "Method_call_request_tx", incident.service_id, incident.instance_id);
    j["4_method_id"] = incident.method_id;
}

void to_json(nlohmann::json& j, const Method_call_request_cancelled& incident) {
    detail::identify(j, "Method_call_request_cancelled", incident.service_id, incident.instance_id);
    j["4_method_id"] = incident.method_id;
}

void to_json(nlohmann::json& j, const Method_call_request_err& incident) {
    detail::render_with_error_code(j, "Method_call_request_err", incident);
}

void to_json(nlohmann::json& j, const Method_call_response_rx& incident) {
    detail::render_with_error_code(j, "Method_call_response_rx", incident);
}

void to_json(nlohmann::json& j, const Method_call_response_invalid_code& incident) {
    detail::render_with_error_code(j, "Method_call_response_invalid_code", incident);
}

void to_json(nlohmann::json& j, const Method_call_deserializer_exception& incident) {
    detail::render_with_error_code(j, "Method_call_deserializer_exception", incident);
}

}  // namespace kem::com::cpp_binding::log::incidents

namespace kem::com::json::serialization::detail {

// "<counter>_<label>". A width holding a decimal number left-pads the counter with zeros
// to that many digits (at most 20); an empty or non-numeric width pads nothing.
std::string numbered_key(std::uint64_t counter, const std::string& width, const char* label) {
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

// Compact dump, UTF-8 kept as is, invalid UTF-8 rejected. A failing dump yields the
// exception's message (empty if it has none); a non-standard exception yields "".
std::string get_json_dump(const nlohmann::json& document) {
    try {
        return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const std::exception& e) {
        const char* message = e.what();
        return message != nullptr ? std::string(message) : std::string();
    } catch (...) {
        return std::string();
    }
}

}  // namespace kem::com::json::serialization::detail
