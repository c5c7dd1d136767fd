#include "sim/doip/connection.h"

#include <utility>

namespace dmsim::doip {

namespace {

constexpr std::uint16_t first_tester_address = 0x0E00;
constexpr std::uint16_t last_tester_address = 0x0FFF;

namespace activation {
constexpr std::uint8_t unknown_source = 0x00;
constexpr std::uint8_t no_free_socket = 0x01;
constexpr std::uint8_t different_source = 0x02;
constexpr std::uint8_t source_in_use = 0x03;
constexpr std::uint8_t unsupported_type = 0x06;
constexpr std::uint8_t success = 0x10;
}  // namespace activation

namespace diagnostic_nack {
constexpr std::uint8_t invalid_source = 0x02;
constexpr std::uint8_t unknown_target = 0x03;
constexpr std::uint8_t too_large = 0x04;
}  // namespace diagnostic_nack

// A tester that keeps sending while its requests wait is read again once they drain.
constexpr std::size_t max_queued_requests = 16;

Bytes addresses(std::uint16_t source, std::uint16_t target) {
    Bytes out;
    append_u16(out, source);
    append_u16(out, target);
    return out;
}

}  // namespace

Connection::Connection(asio::ip::tcp::socket socket, Server& server)
    : server_(server),
      socket_(std::move(socket)),
      timer_(server.io_),
      alive_timer_(server.io_),
      framer_(Transport::tcp, server.options_.max_payload) {}

void Connection::start() {
    // Acknowledgement and answer are separate small writes: send each at once.
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
    restart_timer();
    read();
}

void Connection::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    auto self = shared_from_this();  // the server's set may hold the last reference
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    timer_.cancel();
    alive_timer_.cancel();
    if (ecu_tester_) {
        ecu_tester_->abandon();
    }
    if (tester_) {
        const auto found = server_.testers_.find(*tester_);
        if (found != server_.testers_.end() && found->second == this) {
            server_.testers_.erase(found);
        }
    }
    server_.connections_.erase(self);
    requests_.clear();
    writes_.clear();
    alive_answered(false);
}

void Connection::check_alive(std::function<void(bool)> done) {
    if (closed_) {
        asio::post(server_.io_, [done = std::move(done)] { done(false); });
        return;
    }
    alive_waiters_.push_back(std::move(done));
    if (alive_waiters_.size() > 1) {
        return;  // one check answers them all
    }
    send(payload::alive_check_request, {});
    alive_timer_.expires_after(server_.options_.alive_timeout);
    alive_timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error) {
            self->alive_answered(false);
        }
    });
}

void Connection::alive_answered(bool alive) {
    if (alive_waiters_.empty()) {
        return;
    }
    auto waiters = std::move(alive_waiters_);
    alive_waiters_.clear();
    alive_timer_.cancel();
    if (!alive) {
        close();
    }
    for (auto& done : waiters) {
        done(alive);
    }
}

void Connection::read() {
    socket_.async_read_some(
        asio::buffer(read_buffer_),
        [self = shared_from_this()](const asio::error_code& error, std::size_t size) {
            if (self->closed_) {
                return;
            }
            if (error) {
                self->close();  // the tester is gone (or the socket broke)
                return;
            }
            self->framer_.feed(self->read_buffer_.data(), size);
            while (!self->closing_ && !self->closed_) {
                const std::optional<Frame> frame = self->framer_.next();
                if (!frame) {
                    break;
                }
                self->handle(*frame);
            }
            if (self->closing_ || self->closed_) {
                return;
            }
            if (self->requests_.size() >= max_queued_requests) {
                self->paused_ = true;
            } else {
                self->read();
            }
        });
}

void Connection::handle(const Frame& frame) {
    if (frame.nack) {
        send(payload::header_nack, {*frame.nack}, frame.close);
        return;
    }
    version_ = frame.version;
    if (tester_) {
        restart_timer();
    }
    switch (frame.type) {
        case payload::routing_activation_request:
            routing_activation(frame.payload);
            break;
        case payload::alive_check_request: {
            Bytes address;
            append_u16(address, server_.entity_.logical_address);
            send(payload::alive_check_response, address);
            break;
        }
        case payload::alive_check_response:
            alive_answered(true);
            break;
        case payload::entity_status_request:
            send(payload::entity_status_response, server_.entity_status());
            break;
        case payload::power_mode_request:
            send(payload::power_mode_response, {0x01});
            break;
        case payload::diagnostic_message:
            diagnostic_message(frame.payload);
            break;
        default:
            break;  // the framer passes only the types above
    }
}

void Connection::routing_activation(const Bytes& payload) {
    const std::uint16_t source = read_u16(payload, 0);
    const std::uint8_t type = payload.at(2);
    const auto respond = [this, source](std::uint8_t code) {
        Bytes answer = addresses(source, server_.entity_.logical_address);
        answer.push_back(code);
        answer.insert(answer.end(), 4, 0x00);  // reserved
        // Every denial closes the socket.
        send(payload::routing_activation_response, answer, code != activation::success);
    };
    if (source < first_tester_address || source > last_tester_address) {
        respond(activation::unknown_source);
        return;
    }
    if (type != 0x00 && type != 0x01) {
        respond(activation::unsupported_type);
        return;
    }
    if (tester_) {
        respond(*tester_ == source ? activation::success : activation::different_source);
        return;
    }
    const auto other = server_.testers_.find(source);
    if (other != server_.testers_.end()) {
        // The address is active on another socket: it keeps it only if that tester answers.
        other->second->check_alive([self = shared_from_this(), payload, respond](bool alive) {
            if (self->closed_ || self->closing_) {
                return;
            }
            if (alive) {
                respond(activation::source_in_use);
            } else {
                self->routing_activation(payload);
            }
        });
        return;
    }
    if (server_.testers_.size() >= server_.options_.max_testers) {
        respond(activation::no_free_socket);
        return;
    }
    tester_ = source;
    server_.testers_[source] = this;
    ecu_tester_ = std::make_shared<Tester>(server_.ecu_.options());
    restart_timer();
    respond(activation::success);
}

void Connection::diagnostic_message(const Bytes& payload) {
    const std::uint16_t source = read_u16(payload, 0);
    const std::uint16_t target = read_u16(payload, 2);
    const auto acknowledge = [&](std::uint16_t type, std::uint8_t code, bool close_after) {
        Bytes answer = addresses(target, source);
        answer.push_back(code);
        send(type, answer, close_after);
    };
    if (!tester_) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::invalid_source, true);
        return;
    }
    if (source != *tester_) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::invalid_source, false);
        return;
    }
    if (target != server_.entity_.logical_address && target != functional_address) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::unknown_target, false);
        return;
    }
    if (payload.size() - 4 > server_.options_.max_data_size) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::too_large, false);
        return;
    }
    acknowledge(payload::diagnostic_ack, 0x00, false);
    requests_.emplace_back(payload.begin() + 4, payload.end());
    run_next();
}

void Connection::run_next() {
    if (running_ || requests_.empty() || closed_) {
        return;
    }
    running_ = true;
    Bytes request = std::move(requests_.front());
    requests_.pop_front();
    asio::post(server_.managers_, [self = shared_from_this(), request = std::move(request),
                                   tester = ecu_tester_] {
        Server& server = self->server_;
        const auto pending = [&server, self](const Bytes& uds) {
            asio::post(server.io_, [self, uds] { self->send_uds(uds); });
        };
        Outcome outcome = server.ecu_.answer(request, server.meta_, *tester, pending);
        asio::post(server.io_, [self, outcome = std::move(outcome)] { self->finish(outcome); });
    });
}

void Connection::finish(const Outcome& outcome) {
    running_ = false;
    if (closed_) {
        return;
    }
    if (!outcome.cancelled && !outcome.response.empty()) {
        send_uds(outcome.response);
    }
    run_next();
    if (paused_ && requests_.size() < max_queued_requests && !closing_) {
        paused_ = false;
        read();
    }
}

void Connection::send_uds(const Bytes& uds) {
    if (!tester_) {
        return;
    }
    Bytes message = addresses(server_.entity_.logical_address, *tester_);
    message.insert(message.end(), uds.begin(), uds.end());
    send(payload::diagnostic_message, message);
}

void Connection::send(std::uint16_t type, const Bytes& payload, bool close_after) {
    if (closed_ || closing_) {
        return;
    }
    writes_.push_back(encode(version_, type, payload));
    closing_ = close_after;
    if (writes_.size() == 1) {
        write();
    }
}

void Connection::write() {
    asio::async_write(socket_, asio::buffer(writes_.front()),
                      [self = shared_from_this()](const asio::error_code& error, std::size_t) {
                          if (self->closed_) {
                              return;
                          }
                          if (error) {
                              self->close();
                              return;
                          }
                          self->writes_.pop_front();
                          if (!self->writes_.empty()) {
                              self->write();
                          } else if (self->closing_) {
                              self->close();
                          }
                      });
}

void Connection::restart_timer() {
    timer_.expires_after(tester_ ? server_.options_.idle_timeout
                                 : server_.options_.initial_timeout);
    timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error && !self->closed_) {
            self->close();
        }
    });
}

}  // namespace dmsim::doip
