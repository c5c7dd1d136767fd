#include "someip/sd_sessions.h"

#include <algorithm>

namespace platform::runtime::someip {

namespace {
// Erases the entry least recently used from a full map.
template <class Map, class Used>
void make_room(Map& map, std::size_t limit, Used used) {
    while (!map.empty() && map.size() >= limit) {
        map.erase(std::min_element(map.begin(), map.end(), [&](const auto& a, const auto& b) {
            return used(a.second) < used(b.second);
        }));
    }
}
}  // namespace

Sd_stamp Sd_session_book::advance(Counter& counter) {
    const Sd_stamp stamp = counter.next;
    if (counter.next.session_id == 0xFFFF) {
        counter.next = {1, false};
    } else {
        ++counter.next.session_id;
    }
    return stamp;
}

Sd_stamp Sd_session_book::next(const std::optional<Ipv4_endpoint>& unicast_peer) {
    if (!unicast_peer) {
        return advance(multicast_);
    }
    auto found = peers_.find(*unicast_peer);
    if (found == peers_.end()) {
        make_room(peers_, max_peers_, [](const Counter& c) { return c.used; });
        found = peers_.emplace(*unicast_peer, Counter{}).first;
    }
    found->second.used = ++uses_;
    return advance(found->second);
}

bool Reboot_detector::observe(const Ipv4_endpoint& sender, bool unicast, bool reboot_flag,
                              std::uint16_t session_id) {
    const auto key = std::make_pair(sender, unicast);
    auto found = last_.find(key);
    if (found == last_.end()) {
        make_room(last_, max_senders_, [](const Last& l) { return l.seen; });
        last_.emplace(key, Last{reboot_flag, session_id, ++observed_});
        return false;
    }
    Last& last = found->second;
    const bool rebooted = reboot_flag && (!last.reboot || session_id <= last.session_id);
    last = {reboot_flag, session_id, ++observed_};
    return rebooted;
}

}  // namespace platform::runtime::someip
