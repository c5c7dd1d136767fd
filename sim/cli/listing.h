#pragma once
// dmsim --list: every identifier the plug-in serves, with what a tester sends and gets back
// and what a profile gives each method, from the generated layout table.
//
//   std::fputs(dmsim::list_text().c_str(), stdout);
//   // DID 0102 DataIdentifier_BasicSettingsStatus
//   //   Read            22 01 02 -> 62 01 02 + 1 byte: u8
//   //   Cancel          no output

#include <string>

namespace dmsim {

// The listing for people: a short key, then one block per identifier in list order.
std::string list_text();

// The same as one JSON array, one object per identifier:
//   {"identifier":"0300","kind":"full_routine","interface":"RoutineService_...",
//    "namespace":"r_0300","methods":[{"name":"Start","id":2,"request":"31010300",
//    "inputs":"u8[3]","option_bytes":"3","output":["u8"],"uds_length":"1"}, ...]}
// "output" is null for a method without result; "inputs" and "option_bytes" only for Start.
std::string list_json();

struct Options;
// dmsim --list [--json]: the listing on standard output; the exit status.
int list_identifiers(const Options& options);

}  // namespace dmsim
