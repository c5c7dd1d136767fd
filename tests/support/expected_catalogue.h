#pragma once
// What the plug-in must serve, written down from the service catalogue tables by hand and
// kept apart from the description file, the generator and the generated code: every
// identifier in list order with its interface name, its kind and the layouts of its records.
//
//   const Expected_identifier& entry = expected_did(0x0102);
//   entry.service_id();  // "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace support {

// One record member or Start parameter; `size` is the element count of an array.
struct Field {
    enum class Type { u8, u16, u32, array, bytes };
    Type type;
    std::size_t size = 0;
};
// Members in declaration order; a byte sequence is always the last one.
using Layout = std::vector<Field>;

enum class Kind { data_identifier, short_routine, full_routine };

struct Expected_identifier {
    std::uint16_t id = 0;
    std::string interface_name;  // unqualified
    Kind kind = Kind::data_identifier;
    Layout start_parameters;                // routines
    Layout output;                          // Read output (DID) or Start output (routine)
    std::optional<Layout> request_results;  // full routines
    std::optional<Layout> stop;             // full routines whose Stop returns a record

    bool is_routine() const { return kind != Kind::data_identifier; }
    std::string namespace_name() const;  // "d_0102", "r_029a"
    std::string service_id() const;      // the fully qualified interface name
    // Method identifiers: position of the name in alphabetical order.
    static constexpr std::uint16_t cancel_method = 0;
    static constexpr std::uint16_t read_method = 1;
    static constexpr std::uint16_t request_results_method = 1;
    static constexpr std::uint16_t stop_method = 3;
    std::uint16_t start_method() const { return kind == Kind::full_routine ? 2 : 1; }
};

// In the order of get_did_info and get_rid_info. The lengths given in the tables are checked
// against the layouts on first use (std::logic_error on a transcription mistake).
const std::vector<Expected_identifier>& expected_dids();
const std::vector<Expected_identifier>& expected_rids();
const Expected_identifier& expected_did(std::uint16_t id);
const Expected_identifier& expected_rid(std::uint16_t id);
std::vector<std::uint16_t> ids_of(const std::vector<Expected_identifier>& table);

bool ends_with_bytes(const Layout& layout);

// "0x0102 DataIdentifier_BasicSettingsStatus" in failure messages.
void PrintTo(const Expected_identifier& entry, std::ostream* out);

}  // namespace support
