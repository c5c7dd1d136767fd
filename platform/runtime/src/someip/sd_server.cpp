#include "someip/sd_server.h"

#include <set>

namespace platform::runtime::someip {

namespace {
bool matches(const Sd_entry& find, const Offered_service& service) {
    return (find.service_id == service.service_id || find.service_id == 0xFFFF) &&
           (find.instance_id == any_instance || find.instance_id == service.instance_id) &&
           (find.major_version == any_major || find.major_version == service.major_version) &&
           (find.minor_version == any_minor || find.minor_version == service.minor_version);
}
}  // namespace

Sd_server::Sd_server(Sd_timing timing, Random_delay random)
    : timing_(timing), random_(std::move(random)) {}

Sd_outgoing_entry Sd_server::offer_entry(const Offered_service& service, std::uint32_t ttl) const {
    Sd_outgoing_entry outgoing_entry;
    outgoing_entry.entry.type = entry_type::offer_service;
    outgoing_entry.entry.service_id = service.service_id;
    outgoing_entry.entry.instance_id = service.instance_id;
    outgoing_entry.entry.major_version = service.major_version;
    outgoing_entry.entry.minor_version = service.minor_version;
    outgoing_entry.entry.ttl = ttl;
    outgoing_entry.options.push_back(Sd_option::ipv4_endpoint(service.endpoint));
    return outgoing_entry;
}

void Sd_server::offer(const std::vector<Offered_service>& services, Sd_time now) {
    const Sd_time first = now + random_(timing_.initial_delay_min, timing_.initial_delay_max);
    for (const auto& service : services) {
        services_.emplace(Key{service.service_id, service.instance_id},
                          State{service, Phase::initial_wait, 0, first});
    }
}

std::vector<Sd_send> Sd_server::stop_offer(std::uint16_t service_id, std::uint16_t instance_id) {
    std::vector<Sd_send> out;
    const auto found = services_.find(Key{service_id, instance_id});
    if (found == services_.end()) {
        return out;
    }
    if (found->second.phase != Phase::initial_wait) {
        out.push_back({std::nullopt, {offer_entry(found->second.service, 0)}});
    }
    services_.erase(found);
    return out;
}

std::vector<Sd_send> Sd_server::stop_all() {
    Sd_send send;
    for (const auto& [key, state] : services_) {
        if (state.phase != Phase::initial_wait) {
            send.entries.push_back(offer_entry(state.service, 0));
        }
    }
    services_.clear();
    std::vector<Sd_send> out;
    if (!send.entries.empty()) {
        out.push_back(std::move(send));
    }
    return out;
}

std::vector<Sd_send> Sd_server::on_time(Sd_time now) {
    Sd_send send;
    for (auto& [key, state] : services_) {
        if (state.next > now) {
            continue;
        }
        send.entries.push_back(offer_entry(state.service, timing_.ttl_s));
        switch (state.phase) {
            case Phase::initial_wait:
                state.repetitions_sent = 0;
                state.phase = timing_.repetitions > 0 ? Phase::repetition : Phase::main;
                state.next = now + (timing_.repetitions > 0 ? timing_.repetition_base_delay
                                                            : timing_.cyclic_offer_delay);
                break;
            case Phase::repetition:
                ++state.repetitions_sent;
                if (state.repetitions_sent < timing_.repetitions) {
                    state.next =
                        now + timing_.repetition_base_delay * (1 << state.repetitions_sent);
                } else {
                    state.phase = Phase::main;
                    state.next = now + timing_.cyclic_offer_delay;
                }
                break;
            case Phase::main:
                state.next = now + timing_.cyclic_offer_delay;
                break;
        }
    }
    std::vector<Sd_send> out;
    if (!send.entries.empty()) {
        out.push_back(std::move(send));
    }
    return out;
}

std::vector<Sd_send> Sd_server::on_message(const Ipv4_endpoint& sender, const Sd_message& message) {
    Sd_send unicast{sender, {}};
    Sd_send multicast;
    Sd_send& answer = (message.flags & sd_flag::unicast) != 0 ? unicast : multicast;
    std::set<Key> answered;
    for (const auto& entry : message.entries) {
        if (entry.type != entry_type::find_service) {
            continue;
        }
        for (const auto& [key, state] : services_) {
            if (state.phase != Phase::initial_wait && matches(entry, state.service) &&
                answered.insert(key).second) {
                answer.entries.push_back(offer_entry(state.service, timing_.ttl_s));
            }
        }
    }
    std::vector<Sd_send> out;
    if (!answer.entries.empty()) {
        out.push_back(std::move(answer));
    }
    return out;
}

std::optional<Sd_time> Sd_server::next_deadline() const {
    std::optional<Sd_time> next;
    for (const auto& [key, state] : services_) {
        if (!next || state.next < *next) {
            next = state.next;
        }
    }
    return next;
}

}  // namespace platform::runtime::someip
