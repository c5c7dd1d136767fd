#pragma once
// dmsim --doip: serves the DoIP entity until SIGINT or SIGTERM.

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "sim/doip/server.h"

namespace dmsim::doip {

// "[ADDRESS:]PORT" into options.address and options.port; the reason when it is not one.
std::optional<std::string> parse_listen_address(const std::string& text, Server_options& options);

// What has failed to be written, if anything ("trace.jsonl: No space left on device").
using Write_failure = std::function<std::optional<std::string>()>;

// Serves until SIGINT or SIGTERM, then closes every socket, cancels the running requests
// and waits for them. Once listening it writes "dmsim: DoIP entity <address> listening on
// <address>:<port>" to `announce`. Returns 0; 2 after a message when it cannot listen; 4
// after a message when the announcement or, checked every 100 ms, `write_failure` (may be
// null) reports a failed write: the server then stops as on SIGTERM.
int serve(const Ecu& ecu, const Entity& entity, const Server_options& options,
          const kem::dm::types::MetaInfo& meta, std::FILE* announce,
          const Write_failure& write_failure = nullptr);

}  // namespace dmsim::doip
