#include "sim/doip/serve.h"

#include <csignal>
#include <exception>

namespace dmsim::doip {

std::optional<std::string> parse_listen_address(const std::string& text, Server_options& options) {
    const auto colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos) {
        asio::error_code error;
        asio::ip::make_address(text.substr(0, colon), error);
        if (error) {
            return "\"" + text.substr(0, colon) + "\" is not an IP address";
        }
        options.address = text.substr(0, colon);
    }
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos ||
        std::stoul(port) > 65535) {
        return "\"" + port + "\" is not a port number (0 to 65535)";
    }
    options.port = static_cast<std::uint16_t>(std::stoul(port));
    return std::nullopt;
}

int serve(const Ecu& ecu, const Entity& entity, const Server_options& options,
          const kem::dm::types::MetaInfo& meta, std::FILE* announce) {
    asio::io_context io;
    Server server(io, ecu, entity, options, meta);
    try {
        server.start();
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "dmsim: cannot listen on %s:%u: %s\n", options.address.c_str(),
                     static_cast<unsigned>(options.port), e.code().message().c_str());
        return 2;
    }
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&server](const asio::error_code& error, int) {
        if (!error) {
            server.stop();
        }
    });
    std::fprintf(announce, "dmsim: DoIP entity %04X listening on %s:%u\n",
                 static_cast<unsigned>(entity.logical_address), options.address.c_str(),
                 static_cast<unsigned>(server.port()));
    std::fflush(announce);
    io.run();
    return 0;
}

}  // namespace dmsim::doip
