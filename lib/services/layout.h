#pragma once
// What kind of interface an identifier has, and the shape of the generated layout table
// (services/layout_table.h): the facts of each identifier as data, for tools that list or
// check what the plug-in serves.
//
//   for (const Identifier_layout& layout : layout_table) {
//       std::cout << layout.interface_name << ": " << layout.methods[1].output << '\n'; }

#include <cstdint>

namespace orlak::services::diag {

enum class Interface_kind : std::uint8_t {
    data_identifier,  // Cancel, Read
    short_routine,    // Cancel, Start
    full_routine,     // Cancel, RequestResults, Start, Stop
};

// Member lists are written as in the interface description: "u8, u16[2]", "u32 x2, bytes".
// Lengths are "8", "1+n" (n the byte count of the trailing byte sequence).
struct Method_layout {
    const char* name;          // "Read", "Start", ...
    std::uint16_t id;          // method id on the wire
    const char* inputs;        // input parameters after the MetaInfo; "" for none
    const char* request;       // UDS option bytes the request must carry ("0" but for Start)
    const char* output;        // output record members; null for a method without result
    const char* uds_response;  // UDS length of the output; null without result
};

struct Identifier_layout {
    std::uint16_t identifier;
    Interface_kind kind;
    const char* interface_name;
    const char* namespace_name;  // "d_0102"
    const char* service_id;      // the fully qualified interface name, the service id
    std::uint8_t method_count;
    Method_layout methods[4];  // in method-id order; method_count of them are set
};

}  // namespace orlak::services::diag
