#include "sim/service_table.h"

#include <algorithm>
#include <array>
#include <limits>
#include <type_traits>

#include "host/interface_traits.h"
#include "host/record_writer.h"
#include "services/all_interfaces.h"

namespace dmsim {

namespace {

namespace diag = orlak::services::diag;
using host::Has_output;
using host::Is_full_routine;

// Records the type of every member of a record.
struct Layout_visitor {
    std::vector<Member>& members;

    void operator()(std::uint8_t&) { members.push_back({Member_type::u8}); }
    void operator()(std::uint16_t&) { members.push_back({Member_type::u16}); }
    void operator()(std::uint32_t&) { members.push_back({Member_type::u32}); }
    template <std::size_t N>
    void operator()(std::array<std::uint8_t, N>&) {
        members.push_back({Member_type::array, N});
    }
    void operator()(std::vector<std::uint8_t>&) { members.push_back({Member_type::bytes}); }
};

// Fills the members of a record from profile values, in visiting order.
struct Assign_visitor {
    const nlohmann::json& values;
    std::size_t index = 0;

    [[noreturn]] void fail(const std::string& what) const { throw Value_error(what, index); }

    template <class T>
    void assign_number(T& member, const char* type) {
        const nlohmann::json& value = values[index];
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
        member = static_cast<T>(value.get<std::uint64_t>());
        ++index;
    }

    Bytes hex_value(const std::string& type) {
        const nlohmann::json& value = values[index];
        if (!value.is_string()) {
            fail(quoted(value) + " is not a hex string (" + type + ")");
        }
        try {
            return parse_hex(value.get_ref<const std::string&>());
        } catch (const Hex_error& e) {
            fail(std::string("bad hex, ") + e.what() + " (" + type + ")");
        }
    }

    void operator()(std::uint8_t& member) { assign_number(member, "u8"); }
    void operator()(std::uint16_t& member) { assign_number(member, "u16"); }
    void operator()(std::uint32_t& member) { assign_number(member, "u32"); }
    template <std::size_t N>
    void operator()(std::array<std::uint8_t, N>& member) {
        const std::string type = "u8[" + std::to_string(N) + "]";
        const Bytes bytes = hex_value(type);
        if (bytes.size() != N) {
            fail("needs exactly " + std::to_string(N) + " bytes, found " +
                 std::to_string(bytes.size()) + " (" + type + ")");
        }
        std::copy(bytes.begin(), bytes.end(), member.begin());
        ++index;
    }
    void operator()(std::vector<std::uint8_t>& member) {
        member = hex_value("bytes");
        ++index;
    }
};

template <class Output>
std::vector<Member> layout_of() {
    std::vector<Member> members;
    Layout_visitor visitor{members};
    Output record{};
    record.visit(visitor);
    return members;
}

void check_count(const nlohmann::json& values, const std::vector<Member>& members) {
    if (!values.is_array()) {
        throw Value_error("\"values\" must be an array, found " + quoted(values));
    }
    if (values.size() != members.size()) {
        throw Value_error("expected " + std::to_string(members.size()) + " value" +
                          (members.size() == 1 ? "" : "s") + " (" + describe(members) +
                          "), found " + std::to_string(values.size()));
    }
}

template <class Output>
Bytes encode_record(const nlohmann::json& values) {
    static const std::vector<Member> members = layout_of<Output>();
    check_count(values, members);
    Output record{};
    Assign_visitor visitor{values};
    record.visit(visitor);
    return host::someip_record(record);
}

template <class Output>
Bytes zero_record() {
    return host::someip_record(Output{});
}

Bytes encode_nothing(const nlohmann::json& values) {
    check_count(values, {});
    return {};
}

Bytes no_bytes() {
    return {};
}

template <class M>
Method_info method_info(const char* name) {
    if constexpr (Has_output<M>::value) {
        return {name,
                M::id,
                true,
                layout_of<typename M::Output>(),
                &encode_record<typename M::Output>,
                &zero_record<typename M::Output>};
    } else {
        return {name, M::id, false, {}, &encode_nothing, &no_bytes};
    }
}

template <class I>
Service_info did_info() {
    return {I::service_id,
            I::identifier,
            Service_kind::did,
            {method_info<typename I::Cancel>("Cancel"), method_info<typename I::Read>("Read")}};
}

template <class I>
Service_info short_routine_info() {
    return {I::service_id,
            I::identifier,
            Service_kind::routine,
            {method_info<typename I::Cancel>("Cancel"), method_info<typename I::Start>("Start")}};
}

template <class I>
Service_info full_routine_info() {
    return {I::service_id,
            I::identifier,
            Service_kind::routine,
            {method_info<typename I::Cancel>("Cancel"),
             method_info<typename I::RequestResults>("RequestResults"),
             method_info<typename I::Start>("Start"), method_info<typename I::Stop>("Stop")}};
}

template <class... Is>
void add_dids(std::vector<Service_info>& table, diag::Type_list<Is...>) {
    (table.push_back(did_info<Is>()), ...);
}

// Routines in list order, each described by its kind (full routines have Stop).
template <class... Is>
void add_routines(std::vector<Service_info>& table, diag::Type_list<Is...>) {
    auto one = [&table](auto* tag) {
        using I = std::remove_pointer_t<decltype(tag)>;
        if constexpr (Is_full_routine<I>::value) {
            table.push_back(full_routine_info<I>());
        } else {
            table.push_back(short_routine_info<I>());
        }
    };
    (one(static_cast<Is*>(nullptr)), ...);
}

std::vector<Service_info> build_table() {
    std::vector<Service_info> table;
    table.reserve(diag::All_interfaces::size);
    add_dids(table, diag::Did_interfaces{});
    add_routines(table, diag::Routine_interfaces{});
    return table;
}

}  // namespace

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
    static const std::vector<Service_info> table = build_table();
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
