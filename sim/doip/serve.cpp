#include "sim/doip/serve.h"

#include <cerrno>
#include <csignal>
#include <cstring>
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

namespace {

// Checks for a failed write every 100 ms; on one, says so and stops the server as SIGTERM
// would.
class Write_watch {
  public:
    Write_watch(asio::io_context& io, Server& server, asio::signal_set& signals,
                const Write_failure& failure)
        : timer_(io), server_(server), signals_(signals), failure_(failure) {}

    void start() {
        timer_.expires_after(std::chrono::milliseconds(100));
        timer_.async_wait([this](const asio::error_code& error) {
            // A timer that had already expired when stop() cancelled it still completes
            // without an error: it must not start the next round.
            if (error || stopped_) {
                return;
            }
            if (const auto failed = failure_()) {
                fail(*failed);
            } else {
                start();
            }
        });
    }
    void fail(const std::string& what) {
        std::fprintf(stderr, "dmsim: cannot write %s\n", what.c_str());
        failed_ = true;
        server_.stop();
        signals_.cancel();
    }
    void stop() {
        stopped_ = true;
        timer_.cancel();
    }
    bool failed() const { return failed_; }

  private:
    asio::steady_timer timer_;
    Server& server_;
    asio::signal_set& signals_;
    const Write_failure& failure_;
    bool failed_ = false;
    bool stopped_ = false;
};

}  // namespace

int serve(const Ecu& ecu, const Entity& entity, const Server_options& options,
          const kem::dm::types::MetaInfo& meta, std::FILE* announce,
          const Write_failure& write_failure) {
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
    Write_watch watch(io, server, signals, write_failure);
    signals.async_wait([&server, &watch](const asio::error_code& error, int) {
        if (!error) {
            server.stop();
            watch.stop();
        }
    });
    if (std::fprintf(announce, "dmsim: DoIP entity %04X listening on %s:%u\n",
                     static_cast<unsigned>(entity.logical_address), options.address.c_str(),
                     static_cast<unsigned>(server.port())) < 0 ||
        std::fflush(announce) != 0) {
        watch.fail(std::string("standard output: ") + std::strerror(errno));
    } else if (write_failure) {
        watch.start();
    }
    io.run();
    return watch.failed() ? 4 : 0;
}

}  // namespace dmsim::doip
