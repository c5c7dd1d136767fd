#pragma once
// dmsim --list: every identifier the plug-in serves, with what a tester sends and gets back
// and what a profile gives each method, from the generated layout table.
//
//   std::fputs(dmsim::list_text().c_str(), stdout);
//   // DID 0102 DataIdentifier_BasicSettingsStatus
//   //   Read            22 01 02 -> 62 01 02 + 1 byte: u8
//   //   Cancel          no output

#include <string>
#include <utility>

#include "platform/runtime/someip.h"

namespace dmsim {

// The listing for people: a short key, then one block per identifier in list order.
std::string list_text();

// The same as one JSON array, one object per identifier:
//   {"identifier":"0300","kind":"full_routine","interface":"RoutineService_...",
//    "namespace":"r_0300","methods":[{"name":"Start","id":2,"request":"31010300",
//    "inputs":"u8[3]","option_bytes":"3","output":["u8"],"uds_length":"1"}, ...],
//    "someip":{"service_id":"0x0300","methods":{"Cancel":0,"RequestResults":1,...}}}
// "output" is null for a method without result; "inputs" and "option_bytes" only for Start.
// "someip": the service and method ids on the wire under `deployment`.
std::string list_json(const platform::runtime::someip::Deployment& deployment);

// The two name files of Wireshark's SOME/IP dissector under `deployment`:
// SOMEIP_service_identifiers ("0102","DataIdentifier_BasicSettingsStatus") and
// SOMEIP_method_event_identifiers ("0102","0001","Read").
std::pair<std::string, std::string> wireshark_names(
    const platform::runtime::someip::Deployment& deployment);

struct Options;
// dmsim --list [--json]: the listing on standard output; the exit status.
int list_identifiers(const Options& options);

// dmsim --wireshark-names DIR: the two name files into DIR (created if need be); the exit
// status: 0, or 2 after a message when they cannot be written.
int write_wireshark_names(const Options& options);

}  // namespace dmsim
