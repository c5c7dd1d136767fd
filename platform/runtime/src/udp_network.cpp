#include "udp_network.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <utility>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

namespace platform::runtime::detail {

namespace {

using asio::ip::udp;

// Datagrams handed on but not yet handled, beyond which arrivals are dropped: a flood of
// datagrams costs a bounded amount of memory.
constexpr std::size_t max_in_flight = 4096;
// How long a send waits for room in a full socket buffer.
constexpr int send_wait_ms = 100;

asio::ip::address_v4 to_address(const std::array<std::uint8_t, 4>& bytes) {
    return asio::ip::address_v4(
        asio::ip::address_v4::bytes_type{bytes[0], bytes[1], bytes[2], bytes[3]});
}

std::string describe(const asio::ip::address_v4& address, std::uint16_t port) {
    return address.to_string() + ":" + std::to_string(port);
}

someip::Ipv4_endpoint from_endpoint(const udp::endpoint& endpoint) {
    someip::Ipv4_endpoint out;
    if (endpoint.address().is_v4()) {
        const auto bytes = endpoint.address().to_v4().to_bytes();
        out.address = {bytes[0], bytes[1], bytes[2], bytes[3]};
    }
    out.port = endpoint.port();
    return out;
}

}  // namespace

struct Udp_network::Impl {
    // One socket and its receive buffer; the network thread owns the receive.
    struct Receiver {
        Receiver(asio::io_context& io, Socket_kind kind) : socket(io), kind(kind) {}
        udp::socket socket;
        Socket_kind kind;
        std::uint16_t local_port = 0;
        udp::endpoint sender;
        std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(65536);
    };

    Impl(Udp_network& owner, On_datagram on_datagram, On_timer on_timer)
        : owner(owner), on_datagram(std::move(on_datagram)), on_timer(std::move(on_timer)) {}

    void receive(Receiver& receiver) {
        receiver.socket.async_receive_from(
            asio::buffer(receiver.buffer), receiver.sender,
            [this, &receiver](const asio::error_code& error, std::size_t size) {
                if (error == asio::error::operation_aborted || stopping) {
                    return;
                }
                if (!error) {
                    hand_on(receiver, size);
                }
                receive(receiver);
            });
    }

    void hand_on(Receiver& receiver, std::size_t size) {
        if (owner.in_flight_.load(std::memory_order_relaxed) >= max_in_flight) {
            owner.overflow_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        owner.in_flight_.fetch_add(1, std::memory_order_relaxed);
        Datagram datagram;
        datagram.bytes.assign(receiver.buffer.begin(),
                              receiver.buffer.begin() + static_cast<std::ptrdiff_t>(size));
        datagram.sender = from_endpoint(receiver.sender);
        datagram.kind = receiver.kind;
        datagram.local_port = receiver.local_port;
        on_datagram(std::move(datagram));
    }

    // Takes a bound socket into the set and starts receiving on it (on the network thread).
    void adopt(std::unique_ptr<Receiver> receiver) {
        Receiver& ref = *receiver;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (receiver->kind == Socket_kind::method) {
                methods.emplace(receiver->local_port, std::move(receiver));
            } else if (receiver->kind == Socket_kind::sd_unicast) {
                sd_unicast = std::move(receiver);
            } else {
                sd_multicast = std::move(receiver);
            }
        }
        asio::post(io, [this, &ref] { receive(ref); });
    }

    Udp_network& owner;
    On_datagram on_datagram;
    On_timer on_timer;
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
    asio::steady_timer timer{io};
    std::thread thread;
    std::atomic<bool> stopping{false};

    // Guards the socket set: senders read descriptors while the network thread receives.
    std::mutex mutex;
    bool closed = false;
    std::unique_ptr<Receiver> sd_unicast;
    std::unique_ptr<Receiver> sd_multicast;
    std::map<std::uint16_t, std::unique_ptr<Receiver>> methods;
};

Udp_network::Udp_network(const Udp_settings& settings, On_datagram on_datagram, On_timer on_timer)
    : settings_(settings),
      impl_(std::make_unique<Impl>(*this, std::move(on_datagram), std::move(on_timer))) {
    const auto local = to_address(settings.address);
    const auto group = to_address(settings.multicast);
    auto unicast = std::make_unique<Impl::Receiver>(impl_->io, Socket_kind::sd_unicast);
    try {
        unicast->socket.open(udp::v4());
        unicast->socket.bind(udp::endpoint(local, settings.sd_port));
        if (settings.join_multicast) {
            unicast->socket.set_option(asio::ip::multicast::outbound_interface(local));
            unicast->socket.set_option(asio::ip::multicast::enable_loopback(true));
        }
    } catch (const std::system_error& e) {
        throw std::runtime_error("cannot open the Service Discovery socket on " +
                                 describe(local, settings.sd_port) + ": " + e.code().message());
    }
    unicast->local_port = settings.sd_port;
    std::unique_ptr<Impl::Receiver> multicast;
    if (settings.join_multicast) {
        multicast = std::make_unique<Impl::Receiver>(impl_->io, Socket_kind::sd_multicast);
        try {
            multicast->socket.open(udp::v4());
            multicast->socket.set_option(udp::socket::reuse_address(true));
            multicast->socket.bind(udp::endpoint(group, settings.sd_port));
            multicast->socket.set_option(asio::ip::multicast::join_group(group, local));
        } catch (const std::system_error& e) {
            throw std::runtime_error("cannot join the Service Discovery group " +
                                     describe(group, settings.sd_port) + " on " +
                                     local.to_string() + ": " + e.code().message());
        }
        multicast->local_port = settings.sd_port;
    }
    impl_->adopt(std::move(unicast));
    if (multicast) {
        impl_->adopt(std::move(multicast));
    }
    impl_->thread = std::thread([this] {
        for (;;) {
            try {
                impl_->io.run();
                return;
            } catch (...) {
                // A callback's failure is its own; the sockets keep being served.
            }
        }
    });
}

Udp_network::~Udp_network() {
    stop();
}

std::uint16_t Udp_network::open_method_port(std::uint16_t port) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (impl_->closed) {
            throw std::runtime_error("the SOME/IP network is stopped");
        }
        if (port != 0 && impl_->methods.count(port) != 0) {
            return port;
        }
    }
    const auto local = to_address(settings_.address);
    auto receiver = std::make_unique<Impl::Receiver>(impl_->io, Socket_kind::method);
    try {
        receiver->socket.open(udp::v4());
        receiver->socket.bind(udp::endpoint(local, port));
    } catch (const std::system_error& e) {
        throw std::runtime_error("cannot open the SOME/IP socket on " + describe(local, port) +
                                 ": " + e.code().message());
    }
    receiver->local_port = receiver->socket.local_endpoint().port();
    const std::uint16_t bound = receiver->local_port;
    impl_->adopt(std::move(receiver));
    return bound;
}

bool Udp_network::send(std::uint16_t local_port, const someip::Bytes& bytes,
                       const someip::Ipv4_endpoint& to) {
    // Held while sending, so that stop() cannot close the descriptor under the send.
    std::lock_guard<std::mutex> lock(impl_->mutex);
    int descriptor = -1;
    if (!impl_->closed) {
        if (local_port == 0) {
            descriptor = impl_->sd_unicast ? impl_->sd_unicast->socket.native_handle() : -1;
        } else if (const auto found = impl_->methods.find(local_port);
                   found != impl_->methods.end()) {
            descriptor = found->second->socket.native_handle();
        }
    }
    const udp::endpoint destination(to_address(to.address), to.port);
    // The descriptor is non-blocking (the network thread receives on it): wait a little for
    // room when the socket's buffer is full.
    for (int attempt = 0; descriptor >= 0 && attempt < 2; ++attempt) {
        const auto sent = ::sendto(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                                   destination.data(), destination.size());
        if (sent >= 0 && static_cast<std::size_t>(sent) == bytes.size()) {
            return true;
        }
        if (sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            break;
        }
        pollfd room{descriptor, POLLOUT, 0};
        ::poll(&room, 1, send_wait_ms);
    }
    send_failures_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void Udp_network::arm_timer(someip::Sd_time at) {
    asio::post(impl_->io, [this, at] {
        impl_->timer.expires_at(at);
        impl_->timer.async_wait([this](const asio::error_code& error) {
            if (!error && !impl_->stopping) {
                impl_->on_timer();
            }
        });
    });
}

void Udp_network::stop() {
    if (impl_->stopping.exchange(true)) {
        return;
    }
    impl_->work.reset();
    impl_->io.stop();
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->closed = true;
    asio::error_code ignored;
    for (auto* receiver : {impl_->sd_unicast.get(), impl_->sd_multicast.get()}) {
        if (receiver != nullptr) {
            receiver->socket.close(ignored);
        }
    }
    for (auto& [port, receiver] : impl_->methods) {
        receiver->socket.close(ignored);
    }
}

}  // namespace platform::runtime::detail
