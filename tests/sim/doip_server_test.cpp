// The DoIP server over loopback with a tester of our own, in this process and with fake
// extensions: activation on sockets, NACKs, the entity's answers on TCP and UDP, cancel
// when a tester leaves, hostile peers, and parallel testers each served in order.

#include "sim/doip/server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/doip_client.h"
#include "support/fake_extension.h"

namespace dmsim::doip {
namespace {

using doip_test::Client;
using doip_test::diagnostic;
using doip_test::message;
using namespace std::chrono_literals;

constexpr std::uint16_t tester = 0x0E80;
constexpr std::uint16_t address = 0x1234;
constexpr char vin[] = "TESTVIN0123456789";

class DoipServer : public ::testing::Test {
  protected:
    void start(unsigned max_testers = 4) {
        slow.data = {0x03};
        slow.delay = 150ms;
        never.delay = 1h;  // answers only when cancelled
        status.data = {0x00};
        Server_options options;
        options.port = 0;
        options.max_testers = max_testers;
        // Long enough that a sanitizer's slowness does not fire them, short for the tests
        // that wait for them; an alive check ends well before a new socket's initial timeout.
        options.initial_timeout = 3s;
        options.alive_timeout = 1s;
        options.idle_timeout = 3s;
        Entity entity;
        std::copy(vin, vin + 17, entity.vin.begin());
        entity.logical_address = address;
        entity.eid = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        Ecu_options ecu_options;
        ecu_options.p2 = 1h;  // the ECU's pending answers are not this server's business
        ecu_.emplace(Uds_router::Did_map{{0x3C0E, &slow}, {0xF1DF, &never}, {0x0102, &status}},
                     Uds_router::Rid_map{}, ecu_options);
        server_.emplace(io_, *ecu_, entity, options, kem::dm::types::MetaInfo{});
        server_->start();
        port_ = server_->port();
        runner_ = std::thread([this] { io_.run(); });
    }
    void TearDown() override {
        if (server_) {
            asio::post(io_, [this] { server_->stop(); });
            runner_.join();
            server_.reset();  // joins the manager threads
        }
    }

    std::unique_ptr<Client> activated(std::uint16_t source = tester) {
        auto client = std::make_unique<Client>(port_);
        EXPECT_EQ(client->activate(source), 0x10);
        return client;
    }

    // "<type> <payload bytes>" of the next message, "none" when nothing comes.
    static std::string next(Client& client) {
        const auto m = client.receive();
        if (!m) {
            return "none";
        }
        std::string text =
            to_hex({static_cast<std::uint8_t>(m->type >> 8), static_cast<std::uint8_t>(m->type)});
        return m->payload.empty() ? text : text + " " + to_hex(m->payload, ' ');
    }

    support::Fake_did slow;
    support::Fake_did never;
    support::Fake_did status;
    asio::io_context io_;
    std::optional<Ecu> ecu_;
    std::optional<Server> server_;
    std::thread runner_;
    std::uint16_t port_ = 0;
};

TEST_F(DoipServer, ActivationOnSocketsAndTheAliveCheckOfAnAddressInUse) {
    start(2);
    auto first = activated();
    {
        // The address is active and its tester answers the alive check: refused.
        Client second(port_);
        ASSERT_TRUE(second.send(doip_test::activation(tester)));
        EXPECT_EQ(next(*first), "0007");
        ASSERT_TRUE(first->send(message(0x0008, {0x0E, 0x80})));
        EXPECT_EQ(next(second), "0006 0E 80 12 34 03 00 00 00 00");
    }
    auto other = activated(0x0E81);
    {
        // A silent tester loses its address to a new socket.
        Client replacing(port_);
        EXPECT_EQ(replacing.activate(0x0E81), 0x10);
        EXPECT_EQ(next(*other), "0007");
        EXPECT_TRUE(other->closed_by_peer());
    }
    EXPECT_EQ(first->request(tester, address, {0x3E, 0x00}), (Bytes{0x7E, 0x00}));
    // The replacing tester has left: its place is free again (once the server saw it go).
    int code = -1;
    for (int i = 0; i < 100 && code != 0x10; ++i) {
        std::this_thread::sleep_for(10ms);
        code = Client(port_).activate(0x0E82);
    }
    EXPECT_EQ(code, 0x10);
}

TEST_F(DoipServer, MessagesAndTheirAnswers) {
    start();
    auto client = activated();
    const struct {
        Bytes sent;
        std::vector<const char*> answers;
    } cases[] = {
        // Unknown type, payload above the entity's buffer: NACK, payload skipped.
        {message(0x1234, {1, 2, 3}), {"0000 01"}},
        {diagnostic(tester, address, Bytes(70'000, 0x22)), {"0000 02"}},
        {diagnostic(0x0E99, address, {0x3E, 0x00}), {"8003 12 34 0E 99 02"}},
        {diagnostic(tester, 0x2000, {0x3E, 0x00}), {"8003 20 00 0E 80 03"}},
        {diagnostic(tester, address, Bytes(4096, 0x22)), {"8003 12 34 0E 80 04"}},
        {diagnostic(tester, address, Bytes(4095, 0x22)),
         {"8002 12 34 0E 80 00", "8001 12 34 0E 80 7F 22 13"}},  // more than 32 DIDs
        {diagnostic(tester, 0xE400, {0x3E, 0x00}),               // functional address
         {"8002 E4 00 0E 80 00", "8001 12 34 0E 80 7E 00"}},
        {message(0x0007, {}), {"0008 12 34"}},
        {message(0x4001, {}), {"4002 01 04 01 00 00 0F FF"}},
        {message(0x4003, {}), {"4004 01"}},
        // A payload length that does not fit its type: NACK, then the socket closes.
        {message(0x0005, {0x0E, 0x80, 0x00}), {"0000 04"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(client->send(c.sent));
        for (const char* answer : c.answers) {
            EXPECT_EQ(next(*client), answer) << to_hex(Bytes(c.sent.begin(), c.sent.begin() + 4));
        }
    }
    EXPECT_TRUE(client->closed_by_peer());

    // A bad version or inverse, a stranger's protocol, diagnostics before activation, a
    // denied activation: NACK or answer, then the socket closes.
    const struct {
        Bytes sent;
        const char* answer;
    } closing[] = {
        {doip_test::header(0x04, 0x4001, 0), "0000 00"},
        {Bytes{2, 0xFC, 0x40, 1, 0, 0, 0, 0}, "0000 00"},
        {doip_test::header(0xFF, 0x4001, 0), "0000 00"},
        {Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '\r', '\n'}, "0000 00"},
        {diagnostic(tester, address, {0x3E, 0x00}), "8003 12 34 0E 80 02"},
        {doip_test::activation(0x0001), "0006 00 01 12 34 00 00 00 00 00"},  // every denial
    };
    for (const auto& c : closing) {
        Client bad(port_);
        ASSERT_TRUE(bad.send(c.sent));
        EXPECT_EQ(next(bad), c.answer);
        EXPECT_TRUE(bad.closed_by_peer());
    }
    Client version3(port_);  // answered in its own version
    ASSERT_TRUE(version3.send(message(0x4003, {}, 0x03)));
    const auto answer = version3.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, 0x03);
}

TEST_F(DoipServer, VehicleIdentificationOverUdp) {
    start();
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    timeval timeout{0, 500'000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const sockaddr_in to = doip_test::loopback(port_);
    const auto ask = [&](const Bytes& datagram) {
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
        Bytes reply(256);
        const ssize_t got = recv(fd, reply.data(), reply.size(), 0);
        reply.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return reply;
    };
    const Bytes announcement = message(
        0x0004,
        parse_hex("5445535456494E30313233343536373839 1234 0A0B0C0D0E0F 00023631001C 0000"));
    EXPECT_EQ(ask(message(0x0001, {}, 0xFF)), announcement);
    EXPECT_EQ(ask(message(0x0002, parse_hex("0A 0B 0C 0D 0E 0F"))), announcement);
    EXPECT_EQ(ask(message(0x0003, Bytes(vin, vin + 17))), announcement);
    EXPECT_TRUE(ask(message(0x0002, parse_hex("0A 0B 0C 0D 0E 00"))).empty());
    EXPECT_EQ(ask(message(0x4003, {})), message(0x4004, {0x01}));
    EXPECT_EQ(ask(message(0x8001, {})), message(0x0000, {0x01}));
    close(fd);
}

TEST_F(DoipServer, ATesterThatLeavesHasItsRequestCancelledAndSilentSocketsClose) {
    start();
    auto client = activated();
    ASSERT_TRUE(client->send(diagnostic(tester, address, {0x22, 0xF1, 0xDF})));
    EXPECT_EQ(next(*client), "8002 12 34 0E 80 00");
    for (int i = 0; i < 1000 && never.inside == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    client.reset();
    for (int i = 0; i < 1000 && never.cancels == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(never.cancels, 1);
    // An activated tester that stays silent closes after the idle timeout; sockets that
    // never activate (half a header, a huge payload) after the initial one.
    auto idle = activated(0x0E81);
    Client half(port_);
    ASSERT_TRUE(half.send({0x02, 0xFD, 0x80}));
    Client huge(port_);
    ASSERT_TRUE(huge.send(doip_test::header(0x02, 0x8001, 0xFFFFFFF0)));
    ASSERT_TRUE(huge.send(Bytes(100'000, 0x55)));
    EXPECT_EQ(next(huge), "0000 02");
    for (Client* closed : {&half, &huge, idle.get()}) {
        EXPECT_TRUE(closed->closed_by_peer());
    }
}

TEST_F(DoipServer, ParallelTestersAreEachAnsweredInOrder) {
    start();
    std::vector<std::future<std::string>> testers;
    for (std::uint16_t n = 0; n < 4; ++n) {
        testers.push_back(std::async(std::launch::async, [this, n] {
            Client client(port_);
            const auto source = static_cast<std::uint16_t>(0x0E00 + n);
            if (client.activate(source) != 0x10) {
                return std::string("not activated");
            }
            // Three requests in one write, the slow one in the middle, five times: each is
            // acknowledged as it arrives, the answers follow in the order asked.
            std::string seen;
            for (int i = 0; i < 5; ++i) {
                Bytes batch = diagnostic(source, address, {0x3E, 0x00});
                for (const Bytes& more : {diagnostic(source, address, {0x22, 0x3C, 0x0E}),
                                          diagnostic(source, address, {0x22, 0x01, 0x02})}) {
                    batch.insert(batch.end(), more.begin(), more.end());
                }
                client.send(batch);
                for (int m = 0; m < 6; ++m) {
                    const auto answer = client.receive();
                    seen +=
                        answer && answer->payload.size() >= 4
                            ? to_hex(Bytes(answer->payload.begin() + 4, answer->payload.end())) +
                                  ","
                            : "x,";
                }
            }
            return seen;
        }));
    }
    std::string expected;
    for (int i = 0; i < 5; ++i) {
        expected += "00,00,00,7E00,623C0E03,62010200,";
    }
    for (auto& result : testers) {
        ASSERT_EQ(result.wait_for(60s), std::future_status::ready);
        EXPECT_EQ(result.get(), expected);
    }
    EXPECT_EQ(slow.most_inside, 1);  // the testers took turns at the extension
}

}  // namespace
}  // namespace dmsim::doip
