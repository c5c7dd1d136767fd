#include "sim/doip/connection.h"

#include <utility>

namespace dmsim::doip {

namespace {

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

Connection::Connection(asio::ip::tcp::socket socket, Server_context& context, Socket_id id)
    : context_(context),
      id_(id),
      socket_(std::move(socket)),
      timer_(context.io),
      alive_timer_(context.io),
      framer_(Transport::tcp, context.options.max_payload) {}

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
    context_.testers.release(id_);
    context_.connections.erase(id_);
    requests_.clear();
    writes_.clear();
    alive_answered(false);
}

void Connection::check_alive(std::function<void(bool)> done) {
    if (closed_) {
        asio::post(context_.io, [done = std::move(done)] { done(false); });
        return;
    }
    alive_waiters_.push_back(std::move(done));
    if (alive_waiters_.size() > 1) {
        return;  // one check answers them all
    }
    send(payload::alive_check_request, {});
    alive_timer_.expires_after(context_.options.alive_timeout);
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
    if (ecu_tester_) {
        restart_timer();
    }
    switch (frame.type) {
        case payload::routing_activation_request:
            routing_activation(frame.payload);
            break;
        case payload::alive_check_request: {
            Bytes address;
            append_u16(address, context_.entity.logical_address);
            send(payload::alive_check_response, address);
            break;
        }
        case payload::alive_check_response:
            alive_answered(true);
            break;
        case payload::entity_status_request:
            send(payload::entity_status_response, context_.entity_status());
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
        Bytes answer = addresses(source, context_.entity.logical_address);
        answer.push_back(code);
        answer.insert(answer.end(), 4, 0x00);  // reserved
        // Every denial closes the socket.
        send(payload::routing_activation_response, answer, code != activation::success);
    };
    const Tester_registry::Decision decision = context_.testers.activate(id_, source, type);
    if (decision.check_socket) {
        const auto other = context_.connections.find(*decision.check_socket);
        if (other == context_.connections.end()) {  // gone already: the address is free
            context_.testers.release(*decision.check_socket);
            routing_activation(payload);
            return;
        }
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
    if (decision.code == activation::success && !ecu_tester_) {
        ecu_tester_ = std::make_shared<Tester>(context_.ecu.options());
        restart_timer();
    }
    respond(decision.code);
}

void Connection::diagnostic_message(const Bytes& payload) {
    const std::uint16_t source = read_u16(payload, 0);
    const std::uint16_t target = read_u16(payload, 2);
    const auto acknowledge = [&](std::uint16_t type, std::uint8_t code, bool close_after) {
        Bytes answer = addresses(target, source);
        answer.push_back(code);
        send(type, answer, close_after);
    };
    const std::optional<std::uint16_t> activated = tester();
    if (!activated) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::invalid_source, true);
        return;
    }
    if (source != *activated) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::invalid_source, false);
        return;
    }
    if (target != context_.entity.logical_address && target != functional_address) {
        acknowledge(payload::diagnostic_nack, diagnostic_nack::unknown_target, false);
        return;
    }
    if (payload.size() - 4 > context_.options.max_data_size) {
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
    asio::post(context_.managers, [self = shared_from_this(), request = std::move(request),
                                   tester = ecu_tester_] {
        Server_context& context = self->context_;
        const auto pending = [&context, self](const Bytes& uds) {
            asio::post(context.io, [self, uds] { self->send_uds(uds); });
        };
        Outcome outcome = context.ecu.answer(request, context.meta, *tester, pending);
        asio::post(context.io, [self, outcome = std::move(outcome)] { self->finish(outcome); });
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
    const std::optional<std::uint16_t> activated = tester();
    if (!activated) {
        return;
    }
    Bytes message = addresses(context_.entity.logical_address, *activated);
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
    timer_.expires_after(ecu_tester_ ? context_.options.idle_timeout
                                     : context_.options.initial_timeout);
    timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error && !self->closed_) {
            self->close();
        }
    });
}

}  // namespace dmsim::doip
