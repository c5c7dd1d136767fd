#pragma once
// dmsim --doip: serves the DoIP entity until SIGINT or SIGTERM.

#include <cstdio>
#include <optional>
#include <string>

#include "sim/doip/server.h"

namespace dmsim::doip {

// "[ADDRESS:]PORT" into options.address and options.port; the reason when it is not one.
std::optional<std::string> parse_listen_address(const std::string& text, Server_options& options);

// Serves until SIGINT or SIGTERM, then closes every socket, cancels the running requests
// and waits for them. Once listening it writes "dmsim: DoIP entity <address> listening on
// <address>:<port>" to `announce`. Returns 0, or 2 after a message when it cannot listen.
int serve(const Ecu& ecu, const Entity& entity, const Server_options& options,
          const kem::dm::types::MetaInfo& meta, std::FILE* announce);

}  // namespace dmsim::doip
