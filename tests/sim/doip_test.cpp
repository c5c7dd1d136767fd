// dmsim --doip over loopback with a tester of our own: routing activation, NACKs, the
// entity's answers on TCP and UDP, pending answers, cancel on disconnect, hostile peers,
// parallel testers and a clean stop on SIGTERM.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/doip_client.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;
using doip_test::Bytes;
using doip_test::Client;
using namespace std::chrono_literals;

constexpr std::uint16_t tester = 0x0E80;
constexpr std::uint16_t entity = 0x1234;

constexpr char profile_text[] = R"({
    "dids": {"3C0E": {"Read": {"delay_ms": 150, "values": [3]}},
             "F1DF": {"Read": {"no_response": true}}},
    "doip": {"vin": "TESTVIN0123456789", "logical_address": "1234", "eid": "0A0B0C0D0E0F"}
})";

Bytes bytes_of(const char* hex) {
    Bytes out;
    std::istringstream in(hex);
    for (std::string byte; in >> byte;) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    }
    return out;
}

// dmsim --doip on a free loopback port, stopped with SIGTERM at the end of the test.
class DoipServer : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "doip_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        std::ofstream(dir_ / "vehicle.json") << profile_text;
    }
    void TearDown() override {
        if (server_) {
            EXPECT_EQ(stop(), 0);
        }
        fs::remove_all(dir_);
    }

    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--doip",
                                         "127.0.0.1:0",
                                         "--vehicle",
                                         (dir_ / "vehicle.json").string(),
                                         "--trace",
                                         trace_.empty() ? trace_path().string() : trace_,
                                         "--doip-initial-timeout",
                                         "400",
                                         "--doip-alive-timeout",
                                         "200"};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = std::make_unique<doip_test::Server_process>(DMSIM_PATH, args);
        port_ = server_->port();
        ASSERT_NE(port_, 0) << "dmsim announced no port";
    }

    int stop() {
        const int status = server_->stop();
        server_.reset();
        return status;
    }

    fs::path trace_path() const { return dir_ / "trace.jsonl"; }
    std::string trace_;  // --trace, when not trace_path()

    // A tester with routing activated.
    std::unique_ptr<Client> activated(std::uint16_t address = tester) {
        auto client = std::make_unique<Client>(port_);
        EXPECT_EQ(client->activate(address), 0x10);
        return client;
    }

    std::string ask(Client& client, const char* uds, std::uint16_t target = entity,
                    int* pending = nullptr) {
        const auto answer = client.request(tester, target, bytes_of(uds), pending);
        if (!answer) {
            return "none";
        }
        std::string text;
        for (std::uint8_t byte : *answer) {
            char hex[4];
            std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", byte);
            text += hex;
        }
        return text;
    }

    // The next message's type and payload, "none" when nothing comes.
    static std::string next(Client& client) {
        const auto m = client.receive();
        if (!m) {
            return "none";
        }
        char text[16];
        std::snprintf(text, sizeof text, "%04X", m->type);
        std::string out = text;
        for (std::uint8_t byte : m->payload) {
            std::snprintf(text, sizeof text, " %02X", byte);
            out += text;
        }
        return out;
    }

    fs::path dir_;
    std::unique_ptr<doip_test::Server_process> server_;
    std::uint16_t port_ = 0;
};

TEST_F(DoipServer, RoutingActivationCodes) {
    start({"--max-testers", "2"});
    {
        Client unknown(port_);
        EXPECT_EQ(unknown.activate(0x0001), 0x00);
        EXPECT_TRUE(unknown.closed_by_peer());
        Client bad_type(port_);
        EXPECT_EQ(bad_type.activate(tester, 0x02), 0x06);
        EXPECT_TRUE(bad_type.closed_by_peer());
    }
    auto first = activated(tester);
    EXPECT_EQ(first->activate(tester), 0x10);  // the same address again
    {
        // The address is active and its tester answers the alive check: refused.
        Client second(port_);
        ASSERT_TRUE(second.send(doip_test::activation(tester)));
        EXPECT_EQ(next(*first), "0007");
        ASSERT_TRUE(first->send(doip_test::message(0x0008, {0x0E, 0x80})));
        EXPECT_EQ(next(second), "0006 0E 80 12 34 03 00 00 00 00");
    }
    EXPECT_EQ(ask(*first, "3E 00"), "7E 00");
    auto other = activated(0x0E81);
    {
        Client third(port_);
        EXPECT_EQ(third.activate(0x0E82), 0x01);  // two testers served at most
    }
    {
        // A silent tester loses its address to a new socket.
        Client replacing(port_);
        EXPECT_EQ(replacing.activate(0x0E81), 0x10);
        EXPECT_EQ(next(*other), "0007");
        EXPECT_TRUE(other->closed_by_peer());
    }
    // Another address on an activated socket.
    EXPECT_EQ(first->activate(0x0E90), 0x02);
    EXPECT_TRUE(first->closed_by_peer());
}

TEST_F(DoipServer, HeaderAndDiagnosticNacks) {
    start();
    auto client = activated();
    // Unknown payload type, and a payload above the entity's buffer: NACK, payload skipped,
    // the socket keeps serving.
    Bytes unknown = doip_test::message(0x1234, {1, 2, 3});
    ASSERT_TRUE(client->send(unknown));
    EXPECT_EQ(next(*client), "0000 01");
    ASSERT_TRUE(client->send(doip_test::diagnostic(tester, entity, Bytes(70'000, 0x22))));
    EXPECT_EQ(next(*client), "0000 02");
    EXPECT_EQ(ask(*client, "3E 00"), "7E 00");
    // Diagnostic message checks.
    ASSERT_TRUE(client->send(doip_test::diagnostic(0x0E99, entity, {0x3E, 0x00})));
    EXPECT_EQ(next(*client), "8003 12 34 0E 99 02");
    ASSERT_TRUE(client->send(doip_test::diagnostic(tester, 0x2000, {0x3E, 0x00})));
    EXPECT_EQ(next(*client), "8003 20 00 0E 80 03");
    ASSERT_TRUE(client->send(doip_test::diagnostic(tester, entity, Bytes(4096, 0x22))));
    EXPECT_EQ(next(*client), "8003 12 34 0E 80 04");  // above the max data size
    ASSERT_TRUE(client->send(doip_test::diagnostic(tester, entity, Bytes(4095, 0x22))));
    EXPECT_EQ(next(*client), "8002 12 34 0E 80 00");
    EXPECT_EQ(next(*client), "8001 12 34 0E 80 7F 22 13");  // more than 32 DIDs
    EXPECT_EQ(ask(*client, "3E 00", 0xE400), "7E 00");      // functional address
    // Alive check, entity status, power mode.
    ASSERT_TRUE(client->send(doip_test::message(0x0007, {})));
    EXPECT_EQ(next(*client), "0008 12 34");
    ASSERT_TRUE(client->send(doip_test::message(0x4001, {})));
    EXPECT_EQ(next(*client), "4002 01 04 01 00 00 0F FF");
    ASSERT_TRUE(client->send(doip_test::message(0x4003, {})));
    EXPECT_EQ(next(*client), "4004 01");
    // A payload length that does not fit its type: NACK and close.
    ASSERT_TRUE(client->send(doip_test::message(0x0005, {0x0E, 0x80, 0x00})));
    EXPECT_EQ(next(*client), "0000 04");
    EXPECT_TRUE(client->closed_by_peer());

    // Wrong version or inverse: NACK 00 and close; diagnostics before activation: NACK 02
    // and close. A version 3 tester is answered in version 3.
    for (const Bytes& head :
         {doip_test::header(0x04, 0x4001, 0), Bytes{2, 0xFC, 0x40, 1, 0, 0, 0, 0},
          doip_test::header(0xFF, 0x4001, 0)}) {
        Client bad(port_);
        ASSERT_TRUE(bad.send(head));
        EXPECT_EQ(next(bad), "0000 00");
        EXPECT_TRUE(bad.closed_by_peer());
    }
    Client early(port_);
    ASSERT_TRUE(early.send(doip_test::diagnostic(tester, entity, {0x3E, 0x00})));
    EXPECT_EQ(next(early), "8003 12 34 0E 80 02");
    EXPECT_TRUE(early.closed_by_peer());
    Client version3(port_);
    ASSERT_TRUE(version3.send(doip_test::message(0x4003, {}, 0x03)));
    const auto answer = version3.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->version, 0x03);
}

TEST_F(DoipServer, VehicleIdentificationOverUdp) {
    start();
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    timeval timeout{0, 300'000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const sockaddr_in address = doip_test::loopback(port_);
    const auto ask_udp = [&](const Bytes& datagram) {
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&address),
               sizeof address);
        Bytes reply(256);
        const ssize_t got = recv(fd, reply.data(), reply.size(), 0);
        reply.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return reply;
    };
    const std::string vin = "TESTVIN0123456789";
    Bytes announcement = doip_test::header(0x02, 0x0004, 33);
    announcement.insert(announcement.end(), vin.begin(), vin.end());
    for (std::uint8_t byte : bytes_of("12 34 0A 0B 0C 0D 0E 0F 00 02 36 31 00 1C 00 00")) {
        announcement.push_back(byte);
    }
    EXPECT_EQ(ask_udp(doip_test::message(0x0001, {}, 0xFF)), announcement);
    EXPECT_EQ(ask_udp(doip_test::message(0x0002, bytes_of("0A 0B 0C 0D 0E 0F"))), announcement);
    EXPECT_EQ(ask_udp(doip_test::message(0x0003, Bytes(vin.begin(), vin.end()))), announcement);
    EXPECT_TRUE(ask_udp(doip_test::message(0x0002, bytes_of("0A 0B 0C 0D 0E 00"))).empty());
    EXPECT_EQ(ask_udp(doip_test::message(0x4003, {})), doip_test::message(0x4004, {0x01}));
    EXPECT_EQ(ask_udp(doip_test::message(0x8001, {})), doip_test::message(0x0000, {0x01}));
    close(fd);
}

TEST_F(DoipServer, PendingAnswersAndCancelWhenTheTesterLeaves) {
    start({"--p2", "20", "--pending-interval", "40", "--doip-idle-timeout", "1000"});
    auto client = activated();
    int pending = 0;
    EXPECT_EQ(ask(*client, "22 3C 0E", entity, &pending), "62 3C 0E 03");
    EXPECT_GE(pending, 1);
    // A request that never gets its answer; the tester leaves while it waits.
    ASSERT_TRUE(client->send(doip_test::diagnostic(tester, entity, {0x22, 0xF1, 0xDF})));
    EXPECT_EQ(next(*client), "8002 12 34 0E 80 00");
    EXPECT_EQ(next(*client), "8001 12 34 0E 80 7F 22 78");
    client.reset();
    // The manager cancels it through the extension: the application sees Cancel (method 0).
    bool cancelled = false;
    for (int i = 0; i < 300 && !cancelled; ++i) {
        const std::string text = support::read_file(trace_path());
        cancelled = text.find("d_f1df::DataIdentifier") != std::string::npos &&
                    text.find("\"method_name\":\"Cancel\"") != std::string::npos;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(cancelled);
    // An activated tester that stays silent is closed after the idle timeout.
    auto idle = activated();
    EXPECT_TRUE(idle->closed_by_peer());
}

TEST_F(DoipServer, HostilePeersDoNotDisturbOtherTesters) {
    start();
    auto client = activated();
    Client garbage(port_);
    ASSERT_TRUE(garbage.send(bytes_of("47 45 54 20 2F 20 48 54 54 50 0D 0A 0D 0A")));
    Client half(port_);
    ASSERT_TRUE(half.send({0x02, 0xFD, 0x80}));
    Client huge(port_);
    ASSERT_TRUE(huge.send(doip_test::header(0x02, 0x8001, 0xFFFFFFF0)));
    ASSERT_TRUE(huge.send(Bytes(100'000, 0x55)));
    Client silent(port_);
    EXPECT_EQ(ask(*client, "22 3C 0E"), "62 3C 0E 03");
    EXPECT_EQ(next(garbage), "0000 00");
    EXPECT_TRUE(garbage.closed_by_peer());
    EXPECT_EQ(next(huge), "0000 02");
    // Without routing activation the sockets close after the initial timeout.
    EXPECT_TRUE(half.closed_by_peer());
    EXPECT_TRUE(silent.closed_by_peer());
    EXPECT_TRUE(huge.closed_by_peer());
    EXPECT_EQ(ask(*client, "3E 00"), "7E 00");
}

TEST_F(DoipServer, ParallelTestersEachInOrderThenACleanStop) {
    start();
    std::vector<std::future<int>> testers;
    for (std::uint16_t n = 0; n < 4; ++n) {
        testers.push_back(std::async(std::launch::async, [this, n] {
            Client client(port_);
            const std::uint16_t source = static_cast<std::uint16_t>(0x0E00 + n);
            if (client.activate(source) != 0x10) {
                return -1;
            }
            // VIN left out of the profile: 17 zeros; 0102: one byte.
            Bytes expected = {0x62, 0xF1, 0x90};
            expected.insert(expected.end(), 17, 0x00);
            expected.insert(expected.end(), {0x01, 0x02, 0x00});
            int correct = 0;
            for (int i = 0; i < 50; ++i) {
                const auto answer = client.request(source, entity, {0x22, 0xF1, 0x90, 0x01, 0x02});
                correct += answer && *answer == expected;
                if (i % 10 == 0) {  // three requests in one write
                    const Bytes present = doip_test::diagnostic(source, entity, {0x3E, 0x00});
                    const Bytes read = doip_test::diagnostic(source, entity, {0x22, 0x01, 0x02});
                    Bytes batch = present;
                    batch.insert(batch.end(), read.begin(), read.end());
                    batch.insert(batch.end(), present.begin(), present.end());
                    client.send(batch);
                    std::string seen;  // payload sizes: ack 5, 7E 00 6, 62 01 02 00 8
                    for (int m = 0; m < 6; ++m) {
                        const auto message = client.receive();
                        seen += message ? std::to_string(message->payload.size()) + "," : "x";
                    }
                    // Each is acknowledged as it arrives; the answers follow in order.
                    correct += seen == "5,5,5,6,8,6,";
                }
            }
            return correct;
        }));
    }
    for (auto& result : testers) {
        ASSERT_EQ(result.wait_for(60s), std::future_status::ready);
        EXPECT_EQ(result.get(), 55);
    }
    // SIGTERM while a request waits: its extension is cancelled and dmsim exits 0.
    auto client = activated();
    ASSERT_TRUE(client->send(doip_test::diagnostic(tester, entity, {0x22, 0xF1, 0xDF})));
    EXPECT_EQ(next(*client), "8002 12 34 0E 80 00");
    EXPECT_EQ(stop(), 0);
}

// The trace cannot take the line of the first call: the server stops by itself with
// status 4.
TEST_F(DoipServer, AFailedTraceWriteEndsTheServerWithStatusFour) {
    trace_ = "/dev/full";
    start();
    auto client = activated();
    ask(*client, "22 01 02");
    EXPECT_EQ(server_->wait_for_exit(1000), 4);
    server_.reset();
}

}  // namespace
