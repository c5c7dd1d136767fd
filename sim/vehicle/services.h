#pragma once
// What the simulated vehicle knows of each of the 109 service interfaces: the service id
// it offers, the identifier, the methods with their identifiers and output records, and
// how to encode a record from profile values into a SOME/IP response payload. Read from
// the generated layout table (services/layout_table.h), the one statement of the layouts.
//
//   const dmsim::Service_info* vin = dmsim::find_service(dmsim::Service_kind::did, 0xF190);
//   Bytes payload = vin->method("Read")->encode(nlohmann::json::array({"57 44 44 ..."}));

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/io/hex.h"

namespace dmsim {

enum class Service_kind { did, routine };

enum class Member_type { u8, u16, u32, array, bytes };

// One member of an output record; `size` is the element count of an array (u8[N]).
struct Member {
    Member_type type;
    std::size_t size = 0;
};

// The members of a member list as the layout table writes it ("u8[5] x2, u32, bytes"),
// one per member. Throws std::invalid_argument on a list it cannot read.
std::vector<Member> parse_members(std::string_view text);

// "u8", "u16", "u32", "u8[17]", "bytes".
std::string describe(const Member& member);
// "u8, u16, bytes"; "nothing" for no members.
std::string describe(const std::vector<Member>& members);

// A JSON value as error messages quote it: compact, cut after 60 characters.
std::string quoted(const nlohmann::json& value);

// Profile values that do not fit their record. With an index (from 0), what() says what is
// wrong with that value ("70000 is out of range 0..65535 (u16)"); without one, what is wrong
// with the array ("expected 2 values (u8, u16), found 3").
class Value_error : public std::invalid_argument {
  public:
    explicit Value_error(const std::string& what, std::optional<std::size_t> at = std::nullopt)
        : std::invalid_argument(what), index(at) {}
    std::optional<std::size_t> index;
};

struct Method_info {
    const char* name;  // "Cancel", "Read", "RequestResults", "Start", "Stop"
    std::uint16_t id;
    bool has_output;  // false: Cancel, and Stop of some routines (void)
    std::vector<Member> members;

    // SOME/IP payload of the output record with `values` (a JSON array, one value per member
    // in order: a number for u8/u16/u32, a hex string of exactly N bytes for u8[N], a hex
    // string for bytes). A method without output accepts only an empty array. Throws
    // Value_error when the values do not fit.
    Bytes encode(const nlohmann::json& values) const;
    // The payload of a record of zeros (empty byte sequences); empty without output.
    Bytes zeros() const;
};

struct Service_info {
    const char* service_id;  // fully qualified interface name, the service id on the wire
    std::uint16_t identifier;
    Service_kind kind;
    std::vector<Method_info> methods;  // ordered by method id

    // Null when the interface has no method of that name or id.
    const Method_info* method(std::string_view name) const;
    const Method_info* method(std::uint16_t id) const;
    // "Cancel, Read".
    std::string method_names() const;
};

// All 109 interfaces: data identifiers first, then routines, each in list order.
const std::vector<Service_info>& service_table();

// Null when `identifier` is not one of `kind`.
const Service_info* find_service(Service_kind kind, std::uint16_t identifier);

}  // namespace dmsim
