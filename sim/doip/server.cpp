#include "sim/doip/server.h"

#include <algorithm>
#include <utility>

#include "sim/doip/connection.h"

namespace dmsim::doip {

namespace {

// Sockets beyond this many are closed as soon as they are accepted; those that never
// activate routing close after the initial timeout anyway.
std::size_t max_sockets(unsigned max_testers) {
    return std::max<std::size_t>(64, 4 * static_cast<std::size_t>(max_testers));
}

}  // namespace

Server_context::Server_context(asio::io_context& io, const Ecu& ecu, Entity entity,
                               Server_options options, kem::dm::types::MetaInfo meta)
    : io(io),
      ecu(ecu),
      entity(entity),
      options(std::move(options)),
      meta(std::move(meta)),
      testers(this->options.max_testers),
      managers(std::max(1u, this->options.max_testers)) {}

Bytes Server_context::entity_status() const {
    Bytes out;
    out.push_back(0x01);  // node type: a DoIP node
    out.push_back(static_cast<std::uint8_t>(std::min(255u, options.max_testers)));
    out.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(255, connections.size())));
    append_u32(out, options.max_data_size);
    return out;
}

Server::Server(asio::io_context& io, const Ecu& ecu, Entity entity, Server_options options,
               kem::dm::types::MetaInfo meta)
    : context_(io, ecu, entity, std::move(options), std::move(meta)), acceptor_(io), udp_(io) {}

Server::~Server() {
    context_.managers.join();
}

void Server::start() {
    const auto address = asio::ip::make_address(context_.options.address);
    const asio::ip::tcp::endpoint endpoint(address, context_.options.port);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    const asio::ip::udp::endpoint datagrams(address, port_);
    udp_.open(datagrams.protocol());
    udp_.set_option(asio::ip::udp::socket::reuse_address(true));
    udp_.bind(datagrams);
    accept();
    receive_datagram();
}

void Server::stop() {
    stopped_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    udp_.close(ignored);
    const auto open = context_.connections;
    for (const auto& [id, connection] : open) {
        connection->close();
    }
    context_.connections.clear();
}

void Server::accept() {
    acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (stopped_) {
            return;
        }
        if (!error) {
            if (context_.connections.size() >= max_sockets(context_.options.max_testers)) {
                asio::error_code ignored;
                socket.close(ignored);
            } else {
                const Socket_id id = next_socket_++;
                auto connection = std::make_shared<Connection>(std::move(socket), context_, id);
                context_.connections.emplace(id, connection);
                connection->start();
            }
        }
        accept();
    });
}

void Server::receive_datagram() {
    udp_.async_receive_from(asio::buffer(datagram_), peer_,
                            [this](const asio::error_code& error, std::size_t size) {
                                if (stopped_ || error == asio::error::operation_aborted) {
                                    return;
                                }
                                if (!error) {
                                    answer_datagram(size);
                                }
                                receive_datagram();
                            });
}

void Server::answer_datagram(std::size_t size) {
    if (size < header_size) {
        return;  // not even a header: nothing to answer
    }
    Framer framer(Transport::udp, context_.options.max_payload);
    framer.feed(datagram_.data(), size);
    std::optional<Frame> frame = framer.next();
    if (!frame) {  // the datagram ends before the payload its header announces
        frame = Frame{};
        frame->version = datagram_[0] == any_version ? default_version : datagram_[0];
        frame->nack = header_nack::invalid_payload_length;
    }
    const std::uint8_t version = frame->version == any_version ? default_version : frame->version;
    std::optional<std::pair<std::uint16_t, Bytes>> reply;
    if (frame->nack) {
        reply.emplace(payload::header_nack, Bytes{*frame->nack});
    } else {
        const Bytes& data = frame->payload;
        switch (frame->type) {
            case payload::identification_request:
                reply.emplace(payload::announcement, announcement());
                break;
            case payload::identification_by_eid:
                if (std::equal(data.begin(), data.end(), context_.entity.eid.begin(),
                               context_.entity.eid.end())) {
                    reply.emplace(payload::announcement, announcement());
                }
                break;
            case payload::identification_by_vin:
                if (std::equal(data.begin(), data.end(), context_.entity.vin.begin(),
                               context_.entity.vin.end())) {
                    reply.emplace(payload::announcement, announcement());
                }
                break;
            case payload::entity_status_request:
                reply.emplace(payload::entity_status_response, context_.entity_status());
                break;
            case payload::power_mode_request:
                reply.emplace(payload::power_mode_response, Bytes{0x01});
                break;
            default:
                break;
        }
    }
    if (reply) {
        const Bytes message = encode(version, reply->first, reply->second);
        asio::error_code ignored;
        udp_.send_to(asio::buffer(message), peer_, 0, ignored);
    }
}

Bytes Server::announcement() const {
    Bytes out(context_.entity.vin.begin(), context_.entity.vin.end());
    append_u16(out, context_.entity.logical_address);
    out.insert(out.end(), context_.entity.eid.begin(), context_.entity.eid.end());
    out.insert(out.end(), context_.entity.gid.begin(), context_.entity.gid.end());
    out.push_back(0x00);  // further action: none
    out.push_back(0x00);  // VIN and GID synchronised
    return out;
}

}  // namespace dmsim::doip
