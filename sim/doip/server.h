#pragma once
// The DoIP entity: a TCP server for testers and UDP vehicle identification on the same
// port, answering diagnostic messages through the ECU. One Asio io_context thread does all
// socket work; requests run on up to max_testers manager threads, each connection's in
// order.
//
//   asio::io_context io;
//   dmsim::doip::Server server(io, ecu, entity, options, meta);
//   server.start();                     // throws std::system_error when it cannot bind
//   io.run();                           // until server.stop()

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <asio.hpp>

#include "sim/doip/message.h"
#include "sim/doip/tester_registry.h"
#include "sim/ecu/ecu.h"

namespace dmsim::doip {

struct Entity {
    std::array<std::uint8_t, 17> vin{};
    std::uint16_t logical_address = 0x1000;
    std::array<std::uint8_t, 6> eid{0x00, 0x02, 0x36, 0x31, 0x00, 0x1C};
    std::array<std::uint8_t, 6> gid{0x00, 0x02, 0x36, 0x31, 0x00, 0x1C};
};

struct Server_options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 13400;  // 0: any free port (see Server::port)
    unsigned max_testers = 4;
    std::uint32_t max_payload = 65535;
    std::uint32_t max_data_size = 4095;
    std::chrono::milliseconds initial_timeout{2000};  // without routing activation
    std::chrono::milliseconds idle_timeout{300000};   // activated, nothing received
    std::chrono::milliseconds alive_timeout{500};     // an alive check unanswered
};

inline constexpr std::uint16_t functional_address = 0xE400;

class Connection;

// What the server shares with its connections, all used on the io thread only (but the
// manager threads): the settings, the tester registry, the open sockets by id.
struct Server_context {
    Server_context(asio::io_context& io, const Ecu& ecu, Entity entity, Server_options options,
                   kem::dm::types::MetaInfo meta);

    // The entity status answer: node type, testers served at once and now, data size.
    Bytes entity_status() const;

    asio::io_context& io;
    const Ecu& ecu;
    const Entity entity;
    const Server_options options;
    const kem::dm::types::MetaInfo meta;
    Tester_registry testers;
    std::map<Socket_id, std::shared_ptr<Connection>> connections;  // open TCP sockets
    asio::thread_pool managers;                                    // last: joined first
};

class Server {
  public:
    Server(asio::io_context& io, const Ecu& ecu, Entity entity, Server_options options,
           kem::dm::types::MetaInfo meta);
    // Joins the manager threads: requests still running are cancelled by stop().
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds TCP and UDP and starts serving.
    void start();
    // Closes the listening sockets and every connection (their requests are cancelled).
    void stop();
    // The bound port (the free one chosen for port 0).
    std::uint16_t port() const { return port_; }

  private:
    void accept();
    void receive_datagram();
    void answer_datagram(std::size_t size);
    Bytes announcement() const;

    Server_context context_;
    asio::ip::tcp::acceptor acceptor_;
    asio::ip::udp::socket udp_;
    asio::ip::udp::endpoint peer_;
    std::array<std::uint8_t, 4096> datagram_{};
    std::uint16_t port_ = 0;
    bool stopped_ = false;
    Socket_id next_socket_ = 0;
};

}  // namespace dmsim::doip
