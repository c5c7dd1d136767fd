#include "sim/vehicle/services.h"

#include <limits>

#include "host/record_writer.h"
#include "services/layout_table.h"

namespace dmsim {

namespace {

namespace diag = orlak::services::diag;

// Appends one member's value from `values[index]`, in its SOME/IP form.
class Member_writer {
  public:
    Member_writer(const nlohmann::json& values, Bytes& out) : values_(values), out_(out) {}

    void write(const Member& member, std::size_t index) {
        index_ = index;
        switch (member.type) {
            case Member_type::u8:
                return host::append_member(out_, number<std::uint8_t>("u8"));
            case Member_type::u16:
                return host::append_member(out_, number<std::uint16_t>("u16"));
            case Member_type::u32:
                return host::append_member(out_, number<std::uint32_t>("u32"));
            case Member_type::array: {
                const std::string type = describe(member);
                const Bytes bytes = hex_value(type);
                if (bytes.size() != member.size) {
                    fail("needs exactly " + std::to_string(member.size) + " bytes, found " +
                         std::to_string(bytes.size()) + " (" + type + ")");
                }
                return host::append_member(out_, bytes);  // length field, then the bytes
            }
            case Member_type::bytes:
                return host::append_member(out_, hex_value("bytes"));
        }
    }

  private:
    [[noreturn]] void fail(const std::string& what) const { throw Value_error(what, index_); }

    template <class T>
    T number(const char* type) const {
        const nlohmann::json& value = values_[index_];
        constexpr auto limit = std::numeric_limits<T>::max();
        const std::string range = "0.." + std::to_string(limit);
        if (!value.is_number_integer()) {
            fail(quoted(value) + " is not a whole number " + range + " (" + type + ")");
        }
        if (value.is_number_unsigned() ? value.get<std::uint64_t>() > limit
                                       : value.get<std::int64_t>() < 0 ||
                                             value.get<std::int64_t>() > std::int64_t{limit}) {
            fail(quoted(value) + " is out of range " + range + " (" + type + ")");
        }
        return static_cast<T>(value.get<std::uint64_t>());
    }

    Bytes hex_value(const std::string& type) const {
        const nlohmann::json& value = values_[index_];
        if (!value.is_string()) {
            fail(quoted(value) + " is not a hex string (" + type + ")");
        }
        try {
            return parse_hex(value.get_ref<const std::string&>());
        } catch (const Hex_error& e) {
            fail(std::string("bad hex, ") + e.what() + " (" + type + ")");
        }
    }

    const nlohmann::json& values_;
    Bytes& out_;
    std::size_t index_ = 0;
};

std::optional<Member> member_of(std::string_view type) {
    if (type == "u8") {
        return Member{Member_type::u8};
    }
    if (type == "u16") {
        return Member{Member_type::u16};
    }
    if (type == "u32") {
        return Member{Member_type::u32};
    }
    if (type == "bytes") {
        return Member{Member_type::bytes};
    }
    if (type.size() > 4 && type.substr(0, 3) == "u8[" && type.back() == ']') {
        const std::string count(type.substr(3, type.size() - 4));
        if (count.find_first_not_of("0123456789") == std::string::npos) {
            return Member{Member_type::array, std::stoul(count)};
        }
    }
    return std::nullopt;
}

Service_info service_of(const diag::Identifier_layout& layout) {
    Service_info service{layout.service_id,
                         layout.identifier,
                         layout.kind == diag::Interface_kind::data_identifier
                             ? Service_kind::did
                             : Service_kind::routine,
                         {}};
    for (int i = 0; i < layout.method_count; ++i) {
        const diag::Method_layout& method = layout.methods[i];
        const bool has_output = method.output != nullptr;
        service.methods.push_back(
            {method.name, method.id, has_output,
             has_output ? parse_members(method.output) : std::vector<Member>{}});
    }
    return service;
}

}  // namespace

std::vector<Member> parse_members(std::string_view text) {
    std::vector<Member> members;
    while (!text.empty()) {
        const std::size_t comma = text.find(", ");
        std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 2);
        std::size_t count = 1;  // "u32 x2": two members of their own
        if (const std::size_t times = item.find(" x"); times != std::string_view::npos) {
            count = std::stoul(std::string(item.substr(times + 2)));
            item = item.substr(0, times);
        }
        const std::optional<Member> member = member_of(item);
        if (!member) {
            throw std::invalid_argument("unknown member type \"" + std::string(item) + "\"");
        }
        members.insert(members.end(), count, *member);
    }
    return members;
}

std::string quoted(const nlohmann::json& value) {
    constexpr std::size_t limit = 60;
    std::string text = value.dump();
    if (text.size() > limit) {
        text.resize(limit);
        text += "...";
    }
    return text;
}

std::string describe(const Member& member) {
    switch (member.type) {
        case Member_type::u8:
            return "u8";
        case Member_type::u16:
            return "u16";
        case Member_type::u32:
            return "u32";
        case Member_type::array:
            return "u8[" + std::to_string(member.size) + "]";
        case Member_type::bytes:
            return "bytes";
    }
    return "?";
}

std::string describe(const std::vector<Member>& members) {
    if (members.empty()) {
        return "nothing";
    }
    std::string text;
    for (const Member& member : members) {
        if (!text.empty()) {
            text += ", ";
        }
        text += describe(member);
    }
    return text;
}

Bytes Method_info::encode(const nlohmann::json& values) const {
    if (!values.is_array()) {
        throw Value_error("\"values\" must be an array, found " + quoted(values));
    }
    if (values.size() != members.size()) {
        throw Value_error("expected " + std::to_string(members.size()) + " value" +
                          (members.size() == 1 ? "" : "s") + " (" + describe(members) +
                          "), found " + std::to_string(values.size()));
    }
    Bytes out;
    Member_writer writer(values, out);
    for (std::size_t i = 0; i < members.size(); ++i) {
        writer.write(members[i], i);
    }
    return out;
}

Bytes Method_info::zeros() const {
    nlohmann::json values = nlohmann::json::array();
    for (const Member& member : members) {
        if (member.type == Member_type::array) {
            values.push_back(std::string(2 * member.size, '0'));
        } else if (member.type == Member_type::bytes) {
            values.push_back("");
        } else {
            values.push_back(0);
        }
    }
    return encode(values);
}

const Method_info* Service_info::method(std::string_view name) const {
    for (const Method_info& m : methods) {
        if (name == m.name) {
            return &m;
        }
    }
    return nullptr;
}

const Method_info* Service_info::method(std::uint16_t id) const {
    for (const Method_info& m : methods) {
        if (m.id == id) {
            return &m;
        }
    }
    return nullptr;
}

std::string Service_info::method_names() const {
    std::string text;
    for (const Method_info& m : methods) {
        if (!text.empty()) {
            text += ", ";
        }
        text += m.name;
    }
    return text;
}

const std::vector<Service_info>& service_table() {
    static const std::vector<Service_info> table = [] {
        std::vector<Service_info> services;
        for (const diag::Identifier_layout& layout : diag::layout_table) {
            services.push_back(service_of(layout));
        }
        return services;
    }();
    return table;
}

const Service_info* find_service(Service_kind kind, std::uint16_t identifier) {
    for (const Service_info& service : service_table()) {
        if (service.kind == kind && service.identifier == identifier) {
            return &service;
        }
    }
    return nullptr;
}

}  // namespace dmsim
