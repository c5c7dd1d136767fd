#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "someip/sd_client.h"
#include "someip/sd_server.h"

// The SD state machines, step by step on a fake clock: the offering side's phases and
// answers, the searching side's finds and what changes its found set.

namespace {

using namespace platform::runtime::someip;
using std::chrono::milliseconds;
using std::chrono::seconds;

const Sd_time t0 = Sd_time{} + seconds(100);
const Ipv4_endpoint vehicle_sd{{127, 0, 0, 2}, 30490};
const Ipv4_endpoint vehicle{{127, 0, 0, 2}, 30501};
const Ipv4_endpoint manager_sd{{127, 0, 0, 1}, 30490};

// A random source that always gives `delay` and records the ranges asked for.
struct Fixed_random {
    milliseconds delay;
    std::vector<std::pair<milliseconds, milliseconds>>* asked;
    milliseconds operator()(milliseconds low, milliseconds high) const {
        asked->emplace_back(low, high);
        return delay;
    }
};

Offered_service offered(std::uint16_t id) {
    return {id, 1, 1, 0, vehicle};
}

// Entries: type, option runs (index, index, count, count), service, instance, major, TTL, minor.
Sd_message find_message(std::uint16_t id, bool unicast, std::uint8_t major = any_major) {
    const Sd_entry find{
        entry_type::find_service, 0, 0, 0, 0, id, any_instance, major, 0, any_minor};
    return {unicast ? sd_flag::unicast : std::uint8_t(0), {find}, {}};
}

Sd_message offer_message(std::uint16_t id, std::uint32_t ttl, Ipv4_endpoint endpoint = vehicle,
                         bool reboot = true) {
    const Sd_entry offer{entry_type::offer_service, 0, 0, 1, 0, id, 1, 1, ttl, 0};
    const auto flags = static_cast<std::uint8_t>(sd_flag::unicast | (reboot ? sd_flag::reboot : 0));
    return {flags, {offer}, {Sd_option::ipv4_endpoint(endpoint)}};
}

using Ids = std::vector<std::uint16_t>;

Ids services_in(const std::vector<Sd_send>& sends, std::uint32_t* ttl = nullptr) {
    Ids ids;
    for (const auto& send : sends) {
        for (const auto& outgoing_entry : send.entries) {
            ids.push_back(outgoing_entry.entry.service_id);
            if (ttl) {
                *ttl = outgoing_entry.entry.ttl;
            }
        }
    }
    return ids;
}

TEST(Sd_server, waits_repeats_doubling_then_offers_cyclically) {
    std::vector<std::pair<milliseconds, milliseconds>> asked;
    Sd_server server(Sd_timing{}, Fixed_random{milliseconds(50), &asked});
    server.offer({offered(0x0102), offered(0xF190)}, t0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(milliseconds(10), milliseconds(100)));

    // Initial offer at 50 ms, repetitions after 30, 60 and 120 ms, then every second.
    for (const int at : {50, 80, 140, 260, 1260, 2260, 3260}) {
        ASSERT_EQ(server.next_deadline(), t0 + milliseconds(at));
        EXPECT_TRUE(server.on_time(t0 + milliseconds(at - 1)).empty()) << at;
        std::uint32_t ttl = 0;
        const auto sends = server.on_time(t0 + milliseconds(at));
        EXPECT_EQ(services_in(sends, &ttl), (Ids{0x0102, 0xF190})) << at;
        EXPECT_EQ(ttl, 3u);
        ASSERT_EQ(sends.size(), 1u);
        EXPECT_FALSE(sends[0].unicast_to) << "offers go to the group";
        EXPECT_EQ(sends[0].entries[0].options.at(0).endpoint(), vehicle);
    }
}

TEST(Sd_server, answers_a_find_by_unicast_only_when_asked_and_once_announced) {
    std::vector<std::pair<milliseconds, milliseconds>> asked;
    Sd_server server(Sd_timing{}, Fixed_random{milliseconds(10), &asked});
    server.offer({offered(0x0102), offered(0xF190)}, t0);
    EXPECT_TRUE(server.on_message(manager_sd, find_message(0x0102, true)).empty())
        << "nothing before the first offer";
    server.on_time(t0 + milliseconds(10));

    Sd_message two = find_message(0x0102, true);
    two.entries = {two.entries[0], two.entries[0], find_message(0xF190, true).entries[0]};
    const std::tuple<const char*, Sd_message, Ids, bool> cases[] = {
        {"unicast flag", find_message(0x0102, true), {0x0102}, true},
        {"no unicast flag", find_message(0x0102, false), {0x0102}, false},
        {"any service", find_message(0xFFFF, true), {0x0102, 0xF190}, true},
        {"other service", find_message(0x0103, true), {}, true},
        {"major 1", find_message(0x0102, true, 1), {0x0102}, true},
        {"major 2", find_message(0x0102, true, 2), {}, true},
        {"same service twice", two, {0x0102, 0xF190}, true},
    };
    for (const auto& [name, find, answered, unicast] : cases) {
        const auto sends = server.on_message(manager_sd, find);
        EXPECT_EQ(services_in(sends), answered) << name;
        if (!sends.empty()) {
            const auto to = unicast ? std::optional<Ipv4_endpoint>(manager_sd) : std::nullopt;
            EXPECT_EQ(sends[0].unicast_to, to) << name;
        }
    }
}

TEST(Sd_server, stops_with_a_stop_offer_for_what_it_announced) {
    std::vector<std::pair<milliseconds, milliseconds>> asked;
    Sd_server server(Sd_timing{}, Fixed_random{milliseconds(10), &asked});
    server.offer({offered(0x0102)}, t0);
    EXPECT_TRUE(server.stop_all().empty()) << "never announced";
    server.offer({offered(0x0102), offered(0x0103)}, t0);
    server.on_time(t0 + milliseconds(10));
    server.offer({offered(0x0104)}, t0 + milliseconds(20));
    std::uint32_t ttl = 99;
    EXPECT_EQ(services_in(server.stop_offer(0x0103, 1), &ttl), Ids{0x0103});
    EXPECT_EQ(ttl, 0u);
    EXPECT_EQ(services_in(server.stop_all(), &ttl), Ids{0x0102});
    EXPECT_EQ(ttl, 0u);
    EXPECT_EQ(server.offered(), 0u);
    EXPECT_FALSE(server.next_deadline());
}

struct Client_fixture : ::testing::Test {
    std::vector<std::pair<milliseconds, milliseconds>> asked;
    Sd_client client{Sd_timing{}, Fixed_random{milliseconds(20), &asked}};
    std::set<std::uint16_t> changed;

    // Feeds `message` from the vehicle; true when the found set of 0x0102 changed.
    bool receive(const Sd_message& message, Sd_time at, std::uint16_t session,
                 const Ipv4_endpoint& sender = vehicle_sd) {
        changed.clear();
        client.on_message(sender, false, session, message, at, changed);
        return changed.count(0x0102) > 0;
    }
};

TEST_F(Client_fixture, repeats_find_doubling_until_found_or_the_repetitions_are_done) {
    client.find({{0x0102}, {0x0103}}, t0);
    EXPECT_EQ(asked.size(), 1u);
    for (const int at : {20, 50, 110, 230}) {
        ASSERT_EQ(client.next_deadline(), t0 + milliseconds(at));
        const auto sends = client.on_time(t0 + milliseconds(at), changed);
        EXPECT_EQ(services_in(sends), (at == 20 ? Ids{0x0102, 0x0103} : Ids{0x0103})) << at;
        EXPECT_EQ(sends.at(0).entries.at(0).entry.type, entry_type::find_service);
        EXPECT_EQ(sends.at(0).entries.at(0).entry.instance_id, any_instance);
        if (at == 20) {
            EXPECT_TRUE(receive(offer_message(0x0102, infinite_ttl), t0 + milliseconds(30), 1));
        }
    }
    ASSERT_EQ(client.found(0x0102).size(), 1u);
    EXPECT_EQ(client.found(0x0102)[0].endpoint, vehicle);
    // The last FindService gets as long again; then the unanswered search has settled.
    ASSERT_EQ(client.next_deadline(), t0 + milliseconds(470));
    changed.clear();
    EXPECT_TRUE(client.on_time(t0 + milliseconds(470), changed).empty());
    EXPECT_EQ(changed, std::set<std::uint16_t>{0x0103});
    EXPECT_FALSE(client.searching(0x0103));
    EXPECT_FALSE(client.next_deadline());
    EXPECT_TRUE(client.on_time(t0 + seconds(10), changed).empty());
}

// One step per row, each a message at a time: whether the found set of 0x0102 changes and
// how many instances it holds afterwards.
TEST_F(Client_fixture, the_found_set_changes_only_when_what_was_found_changes) {
    client.find({{0x0102}}, t0);
    const Ipv4_endpoint moved{{127, 0, 0, 3}, 30501};
    Sd_message tcp_only = offer_message(0x0102, 3);
    tcp_only.options[0] = Sd_option::ipv4_endpoint({{127, 0, 0, 2}, 30501, l4_protocol::tcp});
    Sd_message no_option = offer_message(0x0102, 3);
    no_option.entries[0].first_count = 0;
    no_option.options.clear();
    Sd_message other_major = offer_message(0x0102, 3, moved);
    other_major.entries[0].major_version = 2;
    const std::tuple<const char*, Sd_message, int, std::uint16_t, bool, std::size_t> steps[] = {
        {"first offer", offer_message(0x0102, 3), 10, 1, true, 1},
        {"cyclic offer", offer_message(0x0102, 3), 1010, 2, false, 1},
        {"cyclic offer again", offer_message(0x0102, 3), 2010, 3, false, 1},
        {"offer from elsewhere", offer_message(0x0102, 3, moved), 3010, 4, true, 1},
        {"other major version", other_major, 3015, 5, true, 1},
        {"offer of another service", offer_message(0x0103, 3), 3020, 6, false, 1},
        {"TCP endpoint only", tcp_only, 3030, 7, false, 1},
        {"no endpoint", no_option, 3040, 8, false, 1},
        {"stop offer", offer_message(0x0102, 0), 3050, 9, true, 0},
        {"stop offer again", offer_message(0x0102, 0), 3060, 10, false, 0},
        {"offer again", offer_message(0x0102, 3), 3070, 11, true, 1},
        {"reboot: session back to 1", offer_message(0x0102, 3), 3080, 1, true, 1},
        {"no reboot flag", offer_message(0x0102, 3, vehicle, false), 3090, 2, false, 1},
        {"reboot: flag set again", offer_message(0x0102, 3), 3100, 3, true, 1},
    };
    for (const auto& [name, message, at_ms, session, changes, found] : steps) {
        EXPECT_EQ(receive(message, t0 + milliseconds(at_ms), session), changes) << name;
        EXPECT_EQ(client.found(0x0102).size(), found) << name;
    }
    EXPECT_EQ(client.counters().reboots, 2u);
    EXPECT_EQ(client.counters().without_endpoint, 2u);
    EXPECT_EQ(client.counters().not_searched, 1u);
    EXPECT_EQ(client.counters().stop_offers, 2u);
}

TEST_F(Client_fixture, an_offer_lasts_its_ttl_and_a_cyclic_offer_renews_it) {
    client.find({{0x0102}}, t0);
    receive(offer_message(0x0102, 3), t0, 1);
    EXPECT_EQ(client.next_deadline(), t0 + seconds(3)) << "found before the first find";
    receive(offer_message(0x0102, 3), t0 + seconds(1), 2);
    EXPECT_EQ(client.next_deadline(), t0 + seconds(4));
    changed.clear();
    client.on_time(t0 + seconds(4) - milliseconds(1), changed);
    EXPECT_TRUE(changed.empty());
    EXPECT_EQ(client.found(0x0102).size(), 1u);
    client.on_time(t0 + seconds(4), changed);
    EXPECT_EQ(changed, std::set<std::uint16_t>{0x0102});
    EXPECT_TRUE(client.found(0x0102).empty());
    EXPECT_EQ(client.counters().expired, 1u);

    receive(offer_message(0x0102, infinite_ttl), t0 + seconds(5), 3);
    client.on_time(t0 + seconds(100000), changed);
    EXPECT_EQ(client.found(0x0102).size(), 1u) << "an infinite TTL never expires";
}

TEST_F(Client_fixture, a_flood_of_offers_nobody_searches_keeps_nothing) {
    client.find({{0x0102, 1, 1}}, t0);
    for (std::uint32_t i = 0; i < 20000; ++i) {
        Sd_message message = offer_message(static_cast<std::uint16_t>(i % 0xFFFF), 3);
        message.entries[0].instance_id = static_cast<std::uint16_t>(i);
        const Ipv4_endpoint sender{
            {10, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}, 30490};
        receive(message, t0 + milliseconds(i / 100), static_cast<std::uint16_t>(i + 1), sender);
    }
    EXPECT_LE(client.found(0x0102).size(), 1u);
    EXPECT_GE(client.counters().not_searched, 19990u);
    Sd_message other_major = offer_message(0x0102, 3);
    other_major.entries[0].major_version = 2;
    receive(other_major, t0 + seconds(1), 1, manager_sd);
    EXPECT_EQ(client.counters().other_version, 2u) << "another instance, then another version";

    Sd_client any(Sd_timing{}, Fixed_random{milliseconds(20), &asked});
    any.find({{0x0102}}, t0);
    for (std::uint16_t instance = 1; instance <= 1000; ++instance) {
        Sd_message message = offer_message(0x0102, 3);
        message.entries[0].instance_id = instance;
        any.on_message(vehicle_sd, false, instance, message, t0, changed);
    }
    EXPECT_EQ(any.found(0x0102).size(), 16u);
    EXPECT_EQ(any.counters().too_many_instances, 1000u - 16u);
}

}  // namespace
