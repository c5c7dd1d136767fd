#pragma once
// One tester's TCP socket at the DoIP entity: owns the socket, its receive framing, the
// queue of messages to send, its timers and the tester's state at the ECU; which address
// it serves is the server's tester registry's to say. Lives as long as a handler or a
// running request holds it.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <asio.hpp>

#include "sim/doip/message.h"
#include "sim/doip/server.h"
#include "sim/ecu/ecu.h"

namespace dmsim::doip {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(asio::ip::tcp::socket socket, Server_context& context, Socket_id id);

    void start();
    // Closes the socket at once; a request still running is cancelled and answers nothing.
    void close();
    // Sends an alive check request: `done(true)` when the tester answers in time, otherwise
    // the socket is closed and `done(false)`.
    void check_alive(std::function<void(bool)> done);

  private:
    void read();
    void handle(const Frame& frame);
    void routing_activation(const Bytes& payload);
    void diagnostic_message(const Bytes& payload);
    void run_next();
    void finish(const Outcome& outcome);
    void alive_answered(bool alive);
    void send(std::uint16_t type, const Bytes& payload, bool close_after = false);
    void send_uds(const Bytes& uds);
    void write();
    void restart_timer();

    // The tester address activated on this socket, if any.
    std::optional<std::uint16_t> tester() const { return context_.testers.address_of(id_); }

    Server_context& context_;
    const Socket_id id_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;        // initial, then idle timeout
    asio::steady_timer alive_timer_;  // an alive check this socket has to answer
    std::array<std::uint8_t, 4096> read_buffer_{};
    Framer framer_;
    std::deque<Bytes> writes_;
    bool closing_ = false;  // closes once the queued messages are written
    bool closed_ = false;
    bool paused_ = false;  // not reading while too many requests wait
    std::uint8_t version_ = default_version;
    std::shared_ptr<Tester> ecu_tester_;  // once routing is activated; shared with the
                                          // manager thread of a request
    std::deque<Bytes> requests_;          // accepted, not yet started
    bool running_ = false;
    std::vector<std::function<void(bool)>> alive_waiters_;
};

}  // namespace dmsim::doip
