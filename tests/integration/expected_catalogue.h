#pragma once
// What the plug-in must serve, written down independently of the code that produces it:
// every identifier with its interface name, its kind and the layouts of its records.
//
//   const Expected_identifier& entry = expected_did(0x0102);
//   entry.service_id();  // "orlak::services::diag::d_0102::DataIdentifier_BasicSettingsStatus"

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace integration {

// One member of a record or one Start parameter.
struct Field {
    enum class Type { u8, u16, u32, array, bytes };
    Type type;
    std::size_t size;  // array length for Type::array; unused otherwise

    friend bool operator==(const Field& a, const Field& b) {
        return a.type == b.type && a.size == b.size;
    }
};

// Members in declaration order. A byte sequence, where present, is the last one.
using Layout = std::vector<Field>;

// Parses the catalogue notation: "u8, u16 x2, u8[5] x3, bytes". Throws std::invalid_argument.
Layout parse_layout(const std::string& notation);

enum class Kind { data_identifier, short_routine, full_routine };

struct Expected_identifier {
    std::uint16_t id = 0;
    std::string interface_name;  // unqualified, e.g. "DataIdentifier_BasicSettingsStatus"
    Kind kind = Kind::data_identifier;
    Layout start_parameters;                // routines only
    Layout output;                          // Read output (DID) or Start output (routine)
    std::optional<Layout> request_results;  // full routines only
    std::optional<Layout> stop;             // full routines whose Stop returns a record
    std::size_t min_request = 0;            // shortest Start request accepted (routines)

    bool is_routine() const { return kind != Kind::data_identifier; }
    // "d_0102" / "r_029a"
    std::string namespace_name() const;
    // The fully qualified interface name, used as the service identifier on the wire.
    std::string service_id() const;
    // Method identifiers: alphabetical position within the interface.
    std::uint16_t cancel_method() const { return 0; }
    std::uint16_t read_method() const { return 1; }
    std::uint16_t start_method() const { return kind == Kind::full_routine ? 2 : 1; }
    std::uint16_t request_results_method() const { return 1; }  // full routines only
    std::uint16_t stop_method() const { return 3; }             // full routines only
};

// The 83 data identifiers and the 26 routines, in the order of the plug-in's tables.
const std::vector<Expected_identifier>& expected_dids();
const std::vector<Expected_identifier>& expected_rids();
const Expected_identifier& expected_did(std::uint16_t id);
const Expected_identifier& expected_rid(std::uint16_t id);

// "0x0102 DataIdentifier_BasicSettingsStatus", for test failure messages.
void PrintTo(const Expected_identifier& entry, std::ostream* out);

bool ends_with_bytes(const Layout& layout);
// UDS length of a record whose byte sequence (if any) is empty.
std::size_t uds_fixed_length(const Layout& layout);
// SOME/IP length of the same record (length fields included).
std::size_t someip_fixed_length(const Layout& layout);

}  // namespace integration
