#include "someip_transport.h"

#include <algorithm>
#include <stdexcept>

#include "method_call.h"
#include "runtime_core.h"
#include "service_instance.h"
#include "someip/return_codes.h"

namespace platform::runtime::detail {

namespace {

using namespace platform::runtime::someip;
using zun::com::runtime::Method_call;

// Addresses of offering hosts remembered for the report.
constexpr std::size_t max_offer_senders = 16;

Udp_settings udp_settings(const Someip_settings& settings) {
    Udp_settings out;
    out.address = settings.address;
    out.sd_port = settings.deployment.sd.port;
    out.multicast = settings.deployment.sd.multicast;
    out.join_multicast = settings.sd_peers.empty();
    return out;
}

Tp_limits tp_limits(const Someip_settings& settings) {
    Tp_limits limits;
    limits.max_message = settings.max_message;
    return limits;
}

}  // namespace

Someip_transport::Someip_transport(Runtime& runtime, const Someip_settings& settings)
    : runtime_(runtime),
      settings_(settings),
      server_(settings.deployment.sd.timing),
      client_(settings.deployment.sd.timing),
      reassembler_(tp_limits(settings)) {
    for (const auto& known : settings_.interfaces) {
        const Interface_deployment* deployed = settings_.deployment.interface(known.name);
        if (deployed == nullptr) {
            continue;
        }
        Interface_numbers numbers;
        numbers.name = known.name;
        numbers.methods = known.methods;
        numbers.service_id = deployed->service_id;
        numbers.major_version = deployed->major_version;
        numbers.minor_version = deployed->minor_version;
        for (const auto& method : known.methods) {
            const auto id = deployed->methods.find(method);
            numbers.wire_ids.push_back(id != deployed->methods.end() ? id->second : 0xFFFF);
        }
        by_name_.emplace(numbers.name, interfaces_.size());
        by_service_id_.emplace(numbers.service_id, interfaces_.size());
        interfaces_.push_back(std::move(numbers));
    }
    network_ = std::make_unique<Udp_network>(
        udp_settings(settings_),
        [this](Datagram datagram) {
            const bool sd = datagram.kind != Socket_kind::method;
            auto job = [this, datagram = std::move(datagram)] {
                if (datagram.kind == Socket_kind::method) {
                    on_method(datagram);
                } else {
                    on_sd(datagram);
                }
                network_->datagram_done();
            };
            if (sd) {
                runtime_.post_discovery(std::move(job));
            } else {
                runtime_.post_transport(std::move(job));
            }
        },
        [this] { runtime_.post_discovery([this] { on_timer(); }); });
    client_port_ = network_->open_method_port(0);
    if (settings_.serve_port) {
        network_->open_method_port(*settings_.serve_port);
    }
}

Someip_transport::~Someip_transport() {
    stop();
}

const Someip_transport::Interface_numbers* Someip_transport::by_name(
    const std::string& name) const {
    const auto found = by_name_.find(name);
    return found != by_name_.end() ? &interfaces_[found->second] : nullptr;
}

const Someip_transport::Interface_numbers* Someip_transport::by_service_id(
    std::uint16_t service_id) const {
    const auto found = by_service_id_.find(service_id);
    return found != by_service_id_.end() ? &interfaces_[found->second] : nullptr;
}

// ---- Discovery -----------------------------------------------------------------------------

// Searches (and offers) made together go out together: one initial wait, their entries
// packed into as few SD messages as fit. The first of a burst posts the flush.
void Someip_transport::queue(std::vector<Named_instance>& list, void (Someip_transport::*flush)(),
                             const std::string& service, const std::string& instance) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    list.emplace_back(service, instance);
    if (list.size() == 1) {
        runtime_.post_discovery([this, flush] { (this->*flush)(); });
    }
}

std::vector<Someip_transport::Named_instance> Someip_transport::take(
    std::vector<Named_instance>& list) {
    std::vector<Named_instance> taken;
    std::lock_guard<std::mutex> lock(pending_mutex_);
    taken.swap(list);
    return taken;
}

void Someip_transport::search(const std::string& service, const std::string& instance) {
    queue(searches_to_flush_, &Someip_transport::flush_searches, service, instance);
}

void Someip_transport::flush_searches() {
    const std::vector<Named_instance> searches = take(searches_to_flush_);
    std::lock_guard<std::mutex> lock(sd_mutex_);
    if (stopped_) {
        return;
    }
    std::vector<Searched_service> new_searches;
    std::set<std::uint16_t> known;
    for (const auto& [service, instance] : searches) {
        const Interface_numbers* numbers = by_name(service);
        if (numbers == nullptr) {
            // No numbers: it can never be found, which its searcher learns at once.
            runtime_.replace_remote(service, instance, std::nullopt);
            continue;
        }
        auto& specifiers = searched_[numbers->service_id];
        const bool first = specifiers.empty();
        const bool new_specifier = specifiers.insert(instance).second;
        if (first) {
            Searched_service criteria;
            criteria.service_id = numbers->service_id;
            criteria.instance_id = settings_.deployment.instance(instance).instance_id;
            criteria.major_version = numbers->major_version;
            new_searches.push_back(criteria);
        } else if (!client_.searching(numbers->service_id) &&
                   (new_specifier || client_.found(numbers->service_id).empty())) {
            // Searched before and settled: the new search hears what is known now. (While
            // the first search still runs, its outcome reaches every search.)
            known.insert(numbers->service_id);
        }
    }
    if (!new_searches.empty()) {
        client_.find(new_searches, Sd_clock::now());
        rearm();
    }
    update_found(known);
}

void Someip_transport::offer(const std::string& service, const std::string& instance) {
    queue(offers_to_flush_, &Someip_transport::flush_offers, service, instance);
}

void Someip_transport::flush_offers() {
    const std::vector<Named_instance> offers = take(offers_to_flush_);
    std::lock_guard<std::mutex> lock(sd_mutex_);
    std::vector<Offered_service> services;
    for (const auto& [service, instance] : offers) {
        const Interface_numbers* numbers = by_name(service);
        if (numbers == nullptr || stopped_) {
            ++offers_failed_;
            continue;
        }
        const Instance_deployment deployed = settings_.deployment.instance(instance);
        Offered_service offered;
        offered.service_id = numbers->service_id;
        offered.instance_id = deployed.instance_id;
        offered.major_version = numbers->major_version;
        offered.minor_version = numbers->minor_version;
        offered.endpoint.address = settings_.address;
        try {
            offered.endpoint.port =
                network_->open_method_port(settings_.serve_port.value_or(deployed.udp_port));
        } catch (const std::runtime_error&) {
            ++offers_failed_;
            continue;
        }
        services.push_back(offered);
    }
    server_.offer(services, Sd_clock::now());
    rearm();
}

void Someip_transport::withdraw(const std::string& service, const std::string& instance) {
    runtime_.post_discovery([this, service, instance] {
        const Interface_numbers* numbers = by_name(service);
        std::lock_guard<std::mutex> lock(sd_mutex_);
        if (numbers == nullptr || stopped_) {
            return;
        }
        send_sd(server_.stop_offer(numbers->service_id,
                                   settings_.deployment.instance(instance).instance_id));
    });
}

void Someip_transport::on_sd(const Datagram& datagram) {
    const Ipv4_endpoint own{settings_.address, settings_.deployment.sd.port};
    if (datagram.sender == own) {
        return;  // our own multicast, looped back
    }
    Sd_message message;
    std::uint16_t session_id = 0;
    std::lock_guard<std::mutex> lock(sd_mutex_);
    if (stopped_) {
        return;
    }
    if (decode_sd(datagram.bytes.data(), datagram.bytes.size(), message, session_id) !=
        Sd_status::ok) {
        ++sd_malformed_;
        return;
    }
    ++sd_messages_;
    const bool offers =
        std::any_of(message.entries.begin(), message.entries.end(),
                    [](const Sd_entry& e) { return e.type != entry_type::find_service; });
    if (offers && offer_senders_.size() < max_offer_senders) {
        offer_senders_.insert(ipv4_text(datagram.sender.address));
    }
    send_sd(server_.on_message(datagram.sender, message));
    std::set<std::uint16_t> changed;
    client_.on_message(datagram.sender, datagram.kind == Socket_kind::sd_unicast, session_id,
                       message, Sd_clock::now(), changed);
    update_found(changed);
    rearm();
}

void Someip_transport::on_timer() {
    std::lock_guard<std::mutex> lock(sd_mutex_);
    if (stopped_) {
        return;
    }
    const Sd_time now = Sd_clock::now();
    send_sd(server_.on_time(now));
    std::set<std::uint16_t> changed;
    send_sd(client_.on_time(now, changed));
    update_found(changed);
    rearm();
}

void Someip_transport::send_sd(const std::vector<Sd_send>& sends) {
    const Ipv4_endpoint group{settings_.deployment.sd.multicast, settings_.deployment.sd.port};
    for (const Sd_send& send : sends) {
        if (send.unicast_to) {
            for (const Bytes& bytes : writer_.write(send)) {
                network_->send(0, bytes, *send.unicast_to);
            }
        } else if (!settings_.sd_peers.empty()) {
            for (const auto& address : settings_.sd_peers) {
                Sd_send to_peer = send;
                to_peer.unicast_to = Ipv4_endpoint{address, settings_.deployment.sd.port};
                for (const Bytes& bytes : writer_.write(to_peer)) {
                    network_->send(0, bytes, *to_peer.unicast_to);
                }
            }
        } else {
            for (const Bytes& bytes : writer_.write(send)) {
                network_->send(0, bytes, group);
            }
        }
    }
}

void Someip_transport::update_found(const std::set<std::uint16_t>& changed) {
    for (const std::uint16_t service_id : changed) {
        const Interface_numbers* numbers = by_service_id(service_id);
        const auto specifiers = searched_.find(service_id);
        if (numbers == nullptr || specifiers == searched_.end()) {
            continue;
        }
        const auto found = client_.found(service_id);
        for (const std::string& instance : specifiers->second) {
            const std::uint16_t instance_id = settings_.deployment.instance(instance).instance_id;
            std::optional<zun::com::runtime::Remote_instance> remote;
            for (const Found_instance& candidate : found) {
                if (candidate.instance_id == instance_id &&
                    candidate.major_version == numbers->major_version) {
                    remote.emplace();
                    remote->service_id = service_id;
                    remote->instance_id = instance_id;
                    remote->major_version = candidate.major_version;
                    remote->address = candidate.endpoint.address;
                    remote->port = candidate.endpoint.port;
                    remote->method_ids = numbers->wire_ids;
                    break;
                }
            }
            runtime_.replace_remote(numbers->name, instance, std::move(remote));
        }
    }
}

void Someip_transport::rearm() {
    std::optional<Sd_time> next = server_.next_deadline();
    if (const auto client_next = client_.next_deadline();
        client_next && (!next || *client_next < *next)) {
        next = client_next;
    }
    if (next) {
        network_->arm_timer(*next);
    }
}

// ---- Calls -----------------------------------------------------------------------------------

bool Someip_transport::send_request(const std::shared_ptr<Method_call>& call) {
    const auto& remote = *call->target->remote;
    if (call->method_id >= remote.method_ids.size() ||
        remote.method_ids[call->method_id] == 0xFFFF) {
        return false;
    }
    const Ipv4_endpoint peer{remote.address, remote.port};
    Header header;
    header.service_id = remote.service_id;
    header.method_id = remote.method_ids[call->method_id];
    header.client_id = settings_.deployment.client_id;
    header.interface_version = remote.major_version;
    header.message_type = message_type::request;
    std::vector<Bytes> datagrams;
    {
        std::lock_guard<std::mutex> lock(call_mutex_);
        header.session_id =
            sessions_.next([this](std::uint16_t id) { return pending_.count(id) != 0; });
        if (header.session_id == 0) {
            ++call_counters_.sessions_exhausted;
            return false;
        }
        // The request's bytes are read before the call is pending: from then on its answer
        // may take over the call's buffer.
        const auto request = call->request();
        datagrams = segment_message(header, request.first, request.size());
        pending_.emplace(header.session_id, Pending{call, peer});
    }
    bool sent = true;
    for (const Bytes& bytes : datagrams) {
        sent = sent && network_->send(client_port_, bytes, peer);
    }
    if (!sent) {
        std::lock_guard<std::mutex> lock(call_mutex_);
        pending_.erase(header.session_id);
    }
    return sent;
}

void Someip_transport::on_method(const Datagram& datagram) {
    std::vector<Incoming_message> messages;
    {
        std::lock_guard<std::mutex> lock(call_mutex_);
        const auto now = std::chrono::steady_clock::now();
        reassembler_.expire(now);
        read_datagram(datagram.bytes.data(), datagram.bytes.size(), datagram.sender.key(), now,
                      reassembler_, messages, datagram_counters_);
    }
    for (auto& message : messages) {
        if (is_reply(message.header)) {
            on_answer(message, datagram.sender);
        } else {
            serve(message, datagram);
        }
    }
}

void Someip_transport::on_answer(Incoming_message& message, const Ipv4_endpoint& sender) {
    std::shared_ptr<Method_call> call;
    {
        std::lock_guard<std::mutex> lock(call_mutex_);
        const auto pending = message.header.client_id == settings_.deployment.client_id
                                 ? pending_.find(message.header.session_id)
                                 : pending_.end();
        if (pending == pending_.end()) {
            ++call_counters_.responses_unknown_session;
            return;
        }
        if (pending->second.peer != sender) {
            ++call_counters_.responses_from_other_address;
            return;
        }
        call = std::move(pending->second.call);
        pending_.erase(pending);
    }
    const Handler_code code =
        from_wire(message.header.type_without_tp(), message.header.return_code);
    if (!code.valid) {
        std::lock_guard<std::mutex> lock(call_mutex_);
        ++call_counters_.invalid_return_codes;
    }
    // A call its caller gave up is answered all the same: the handler drops what it gets.
    if (call->answer(code.code, message.payload)) {
        call->deliver();
    }
}

void Someip_transport::serve(Incoming_message& message, const Datagram& datagram) {
    std::shared_ptr<zun::com::runtime::Service_instance> target;
    const Interface_numbers* numbers = by_service_id(message.header.service_id);
    Served_service served;
    if (numbers != nullptr) {
        target = runtime_.local_offer(numbers->name);
        served.major_version = numbers->major_version;
        served.method_ids = numbers->wire_ids;
    }
    const Request_check check =
        check_request(message.header, [&](std::uint16_t) { return target ? &served : nullptr; });
    if (check.verdict == Request_verdict::drop) {
        std::lock_guard<std::mutex> lock(call_mutex_);
        ++call_counters_.not_requests;
        return;
    }
    if (check.verdict == Request_verdict::answer_error) {
        {
            std::lock_guard<std::mutex> lock(call_mutex_);
            ++call_counters_.requests_refused;
        }
        send_message(datagram.local_port,
                     reply_header(message.header, message_type::error, check.return_code), nullptr,
                     0, datagram.sender);
        return;
    }
    const auto method =
        std::find(numbers->wire_ids.begin(), numbers->wire_ids.end(), message.header.method_id);
    const auto method_id = static_cast<std::uint16_t>(method - numbers->wire_ids.begin());
    auto buffer = std::make_shared<std::vector<std::uint8_t>>(std::move(message.payload));
    Method_call::Payload request;
    request.buffer = buffer;
    request.first = buffer->data();
    request.last = buffer->data() + buffer->size();
    const Header header = message.header;
    const Ipv4_endpoint peer = datagram.sender;
    const std::uint16_t local_port = datagram.local_port;
    // The application's answer goes back as RESPONSE or ERROR from the socket the request
    // came in on.
    auto reply = [this, header, peer, local_port](std::uint8_t code,
                                                  const Method_call::Payload& payload) {
        const Wire_code wire = to_wire(code);
        if (!wire.carried) {
            {
                std::lock_guard<std::mutex> lock(call_mutex_);
                ++call_counters_.codes_not_carried;
            }
            send_message(local_port, reply_header(header, wire.message_type, wire.return_code),
                         nullptr, 0, peer);
            return;
        }
        send_message(local_port, reply_header(header, wire.message_type, wire.return_code),
                     payload.first, static_cast<std::size_t>(payload.last - payload.first), peer);
    };
    runtime_.dispatch(
        std::make_shared<Method_call>(target, method_id, std::move(request), std::move(reply)));
}

void Someip_transport::send_message(std::uint16_t local_port, const Header& header,
                                    const std::uint8_t* payload, std::size_t size,
                                    const Ipv4_endpoint& to) {
    for (const Bytes& bytes : segment_message(header, payload, size)) {
        if (!network_->send(local_port, bytes, to)) {
            return;
        }
    }
}

// ---- Life and report -------------------------------------------------------------------

void Someip_transport::stop() {
    {
        std::lock_guard<std::mutex> lock(sd_mutex_);
        if (stopped_) {
            return;
        }
        send_sd(server_.stop_all());
        stopped_ = true;
    }
    network_->stop();
}

Someip_report Someip_transport::report() const {
    Someip_report out;
    out.started = true;
    auto add = [&out](const char* name, std::uint64_t count) {
        if (count != 0) {
            out.counters.emplace_back(name, count);
        }
    };
    {
        std::lock_guard<std::mutex> lock(sd_mutex_);
        for (const auto& [service_id, specifiers] : searched_) {
            const Interface_numbers* numbers = by_service_id(service_id);
            const auto found = client_.found(service_id);
            for (const std::string& instance : specifiers) {
                ++out.searched;
                const std::uint16_t instance_id =
                    settings_.deployment.instance(instance).instance_id;
                const bool here = std::any_of(found.begin(), found.end(), [&](const auto& f) {
                    return f.instance_id == instance_id &&
                           f.major_version == numbers->major_version;
                });
                if (here) {
                    ++out.found;
                } else {
                    out.missing.push_back(numbers->name);
                }
            }
        }
        out.sd_messages = sd_messages_;
        const Sd_client_counters& sd = client_.counters();
        out.offers_not_searched = sd.not_searched;
        out.offers_other_version = sd.other_version;
        out.offer_senders.assign(offer_senders_.begin(), offer_senders_.end());
        add("sd_malformed", sd_malformed_);
        add("sd_offers_not_searched", sd.not_searched);
        add("sd_offers_other_version", sd.other_version);
        add("sd_offers_without_endpoint", sd.without_endpoint);
        add("sd_offers_beyond_instance_limit", sd.too_many_instances);
        add("sd_stop_offers", sd.stop_offers);
        add("sd_expired", sd.expired);
        add("sd_reboots", sd.reboots);
        add("offers_failed", offers_failed_);
    }
    {
        std::lock_guard<std::mutex> lock(call_mutex_);
        const Call_counters& c = call_counters_;
        const Tp_counters& tp = reassembler_.counters();
        add("datagrams_malformed", datagram_counters_.malformed);
        add("responses_unknown_session", c.responses_unknown_session);
        add("responses_from_other_address", c.responses_from_other_address);
        add("invalid_return_codes", c.invalid_return_codes);
        add("codes_not_carried", c.codes_not_carried);
        add("requests_refused", c.requests_refused);
        add("not_requests", c.not_requests);
        add("sessions_exhausted", c.sessions_exhausted);
        add("calls_pending", pending_.size());
        add("tp_malformed", tp.malformed);
        add("tp_overlapping", tp.overlapping);
        add("tp_out_of_order", tp.out_of_order);
        add("tp_oversized", tp.oversized);
        add("tp_inconsistent", tp.inconsistent);
        add("tp_too_many", tp.too_many);
        add("tp_expired", tp.expired);
    }
    add("receive_overflow", network_->overflow());
    add("send_failures", network_->send_failures());
    return out;
}

}  // namespace platform::runtime::detail
