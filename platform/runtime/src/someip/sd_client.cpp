#include "someip/sd_client.h"

namespace platform::runtime::someip {

namespace {
bool matches(const Searched_service& criteria, const Sd_entry& offer) {
    return (criteria.instance_id == any_instance || criteria.instance_id == offer.instance_id) &&
           (criteria.major_version == any_major || criteria.major_version == offer.major_version) &&
           (criteria.minor_version == any_minor || criteria.minor_version == offer.minor_version);
}
}  // namespace

Sd_client::Sd_client(Sd_timing timing, Random_delay random, Sd_client_limits limits)
    : timing_(timing), random_(std::move(random)), limits_(limits), reboots_(limits.max_senders) {}

void Sd_client::find(const std::vector<Searched_service>& services, Sd_time now) {
    const Sd_time first = now + random_(timing_.initial_delay_min, timing_.initial_delay_max);
    for (const auto& service : services) {
        Search search;
        search.criteria = service;
        search.next = first;
        searches_.emplace(service.service_id, std::move(search));
    }
}

void Sd_client::stop_find(std::uint16_t service_id) {
    searches_.erase(service_id);
}

std::vector<Sd_send> Sd_client::on_time(Sd_time now, std::set<std::uint16_t>& changed) {
    Sd_send send;
    for (auto& [id, search] : searches_) {
        for (auto it = search.instances.begin(); it != search.instances.end();) {
            if (it->second.expires <= now) {
                it = search.instances.erase(it);
                ++counters_.expired;
                changed.insert(id);
            } else {
                ++it;
            }
        }
        if (search.phase == Phase::done || search.next > now) {
            continue;
        }
        if (search.phase == Phase::last_wait) {
            search.phase = Phase::done;
            if (search.instances.empty()) {
                changed.insert(id);
            }
            continue;
        }
        Sd_outgoing_entry outgoing_entry;
        outgoing_entry.entry.type = entry_type::find_service;
        outgoing_entry.entry.service_id = search.criteria.service_id;
        // Any instance and version: the criteria only sort the offers that come back, so
        // that offers of other versions can be told apart from silence.
        outgoing_entry.entry.instance_id = any_instance;
        outgoing_entry.entry.major_version = any_major;
        outgoing_entry.entry.minor_version = any_minor;
        outgoing_entry.entry.ttl = timing_.ttl_s;
        send.entries.push_back(outgoing_entry);
        if (search.phase == Phase::initial_wait) {
            search.phase = timing_.repetitions > 0 ? Phase::repetition : Phase::last_wait;
            search.repetitions_sent = 0;
            search.next = now + timing_.repetition_base_delay;
        } else {
            ++search.repetitions_sent;
            search.phase = search.repetitions_sent < timing_.repetitions ? Phase::repetition
                                                                         : Phase::last_wait;
            search.next = now + timing_.repetition_base_delay * (1 << search.repetitions_sent);
        }
    }
    std::vector<Sd_send> out;
    if (!send.entries.empty()) {
        out.push_back(std::move(send));
    }
    return out;
}

void Sd_client::on_message(const Ipv4_endpoint& sender, bool unicast, std::uint16_t session_id,
                           const Sd_message& message, Sd_time now,
                           std::set<std::uint16_t>& changed) {
    if (reboots_.observe(sender, unicast, (message.flags & sd_flag::reboot) != 0, session_id)) {
        ++counters_.reboots;
        for (auto& [id, search] : searches_) {
            for (auto it = search.instances.begin(); it != search.instances.end();) {
                if (it->second.sender == sender) {
                    it = search.instances.erase(it);
                    changed.insert(id);
                } else {
                    ++it;
                }
            }
        }
    }
    for (const auto& entry : message.entries) {
        if (entry.type != entry_type::offer_service) {
            continue;
        }
        const auto found = searches_.find(entry.service_id);
        if (found == searches_.end()) {
            ++counters_.not_searched;
            continue;
        }
        if (!matches(found->second.criteria, entry)) {
            ++counters_.other_version;
            continue;
        }
        take_offer(found->second, sender, message, entry, now, changed);
    }
}

void Sd_client::take_offer(Search& search, const Ipv4_endpoint& sender, const Sd_message& message,
                           const Sd_entry& entry, Sd_time now, std::set<std::uint16_t>& changed) {
    const auto known = search.instances.find(entry.instance_id);
    if (entry.ttl == 0) {
        ++counters_.stop_offers;
        if (known != search.instances.end()) {
            search.instances.erase(known);
            changed.insert(entry.service_id);
        }
        return;
    }
    std::optional<Ipv4_endpoint> endpoint;
    for (const Sd_option* option : message.options_of(entry)) {
        const auto candidate = option->endpoint();
        if (candidate && candidate->protocol == l4_protocol::udp) {
            endpoint = candidate;
            break;
        }
    }
    if (!endpoint) {
        ++counters_.without_endpoint;
        return;
    }
    if (known == search.instances.end() &&
        search.instances.size() >= limits_.max_instances_per_service) {
        ++counters_.too_many_instances;
        return;
    }
    ++counters_.offers;
    Found_instance instance;
    instance.service_id = entry.service_id;
    instance.instance_id = entry.instance_id;
    instance.major_version = entry.major_version;
    instance.minor_version = entry.minor_version;
    instance.endpoint = *endpoint;
    instance.sender = sender;
    instance.expires =
        entry.ttl == infinite_ttl ? Sd_time::max() : now + std::chrono::seconds(entry.ttl);
    if (known == search.instances.end()) {
        search.instances.emplace(entry.instance_id, instance);
        changed.insert(entry.service_id);
    } else {
        Found_instance& old = known->second;
        if (old.endpoint != instance.endpoint || old.major_version != instance.major_version ||
            old.minor_version != instance.minor_version || old.sender != instance.sender) {
            changed.insert(entry.service_id);
        }
        old = instance;
    }
    search.phase = Phase::done;
}

bool Sd_client::searching(std::uint16_t service_id) const {
    const auto search = searches_.find(service_id);
    return search != searches_.end() && search->second.phase != Phase::done;
}

std::vector<Found_instance> Sd_client::found(std::uint16_t service_id) const {
    std::vector<Found_instance> out;
    const auto search = searches_.find(service_id);
    if (search != searches_.end()) {
        for (const auto& [id, instance] : search->second.instances) {
            out.push_back(instance);
        }
    }
    return out;
}

std::optional<Sd_time> Sd_client::next_deadline() const {
    std::optional<Sd_time> next;
    const auto consider = [&next](Sd_time at) {
        if (!next || at < *next) {
            next = at;
        }
    };
    for (const auto& [id, search] : searches_) {
        if (search.phase != Phase::done) {
            consider(search.next);
        }
        for (const auto& [instance_id, instance] : search.instances) {
            if (instance.expires != Sd_time::max()) {
                consider(instance.expires);
            }
        }
    }
    return next;
}

}  // namespace platform::runtime::someip
