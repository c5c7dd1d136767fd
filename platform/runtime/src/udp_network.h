#pragma once
// The sockets of SOME/IP over UDP and the one network thread that serves them: the Service
// Discovery sockets (this host's address on the SD port for unicast, the multicast group on
// the SD port with SO_REUSEADDR), the method sockets (one per local port) and the SD timer.
// The network thread only moves datagrams: what arrives is handed to the `on_datagram`
// callback (which queues it for a runtime thread), a timer that fires calls `on_timer`.
// Sending is a plain sendto on the socket's descriptor from the calling thread.
//
//   Udp_network network(settings, on_datagram, on_timer);   // binds the SD sockets
//   const std::uint16_t port = network.open_method_port(30501);
//   network.send(port, bytes, peer);

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "someip/byte_cursor.h"
#include "someip/sd_message.h"
#include "someip/sd_timing.h"

namespace platform::runtime::detail {

// Which socket a datagram came in on.
enum class Socket_kind { sd_unicast, sd_multicast, method };

struct Datagram {
    someip::Bytes bytes;
    someip::Ipv4_endpoint sender;
    Socket_kind kind = Socket_kind::method;
    std::uint16_t local_port = 0;  // the method socket's port
};

struct Udp_settings {
    std::array<std::uint8_t, 4> address{};
    std::uint16_t sd_port = 0;
    std::array<std::uint8_t, 4> multicast{};
    bool join_multicast = true;  // false: SD goes by unicast to configured peers only
};

class Udp_network {
  public:
    using On_datagram = std::function<void(Datagram)>;
    using On_timer = std::function<void()>;

    // Binds the SD sockets and starts the network thread. Throws std::runtime_error naming
    // the socket that could not be opened.
    Udp_network(const Udp_settings& settings, On_datagram on_datagram, On_timer on_timer);
    ~Udp_network();
    Udp_network(const Udp_network&) = delete;
    Udp_network& operator=(const Udp_network&) = delete;

    // The method socket on `port` of this host's address (0: a port the system picks),
    // opened on first use; its port. Throws std::runtime_error when it cannot be bound.
    std::uint16_t open_method_port(std::uint16_t port);

    // Sends one datagram from the method socket on `local_port`, or from the SD unicast
    // socket when `local_port` is 0. False when it could not be handed to the socket.
    bool send(std::uint16_t local_port, const someip::Bytes& bytes,
              const someip::Ipv4_endpoint& to);

    // Calls on_timer at `at` (replacing any earlier time).
    void arm_timer(someip::Sd_time at);

    // Stops the thread and closes the sockets; later sends fail. Idempotent.
    void stop();

    // Datagrams dropped because the runtime threads had too many waiting.
    std::uint64_t overflow() const { return overflow_.load(std::memory_order_relaxed); }
    // Datagrams that could not be sent.
    std::uint64_t send_failures() const { return send_failures_.load(std::memory_order_relaxed); }

    // Called by the consumer once it has handled a datagram it was given.
    void datagram_done() { in_flight_.fetch_sub(1, std::memory_order_relaxed); }

  private:
    struct Impl;
    Udp_settings settings_;
    std::unique_ptr<Impl> impl_;
    std::atomic<std::uint64_t> overflow_{0};
    std::atomic<std::uint64_t> send_failures_{0};
    std::atomic<std::size_t> in_flight_{0};
};

}  // namespace platform::runtime::detail
