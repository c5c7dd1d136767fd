// The rules of routing activation, without sockets.

#include "sim/doip/tester_registry.h"

#include <gtest/gtest.h>

#include <optional>

namespace dmsim::doip {
namespace {

using namespace activation;

TEST(TesterRegistry, AnswersEachActivationRequestByTheRules) {
    Tester_registry testers(2);
    const struct {
        Socket_id socket;
        std::uint16_t source;
        std::uint8_t type;
        std::uint8_t code;
        std::optional<Socket_id> check;
    } steps[] = {
        {1, 0x0DFF, 0x00, unknown_source, {}},  // below the tester addresses
        {1, 0x1000, 0x00, unknown_source, {}},  // above them
        {1, 0x0E80, 0x02, unsupported_type, {}},
        {1, 0x0E80, 0x00, success, {}},
        {1, 0x0E80, 0x01, success, {}},           // the same address again (WWH-OBD type)
        {1, 0x0E81, 0x00, different_source, {}},  // another address on an activated socket
        {2, 0x0E80, 0x00, source_in_use, 1},      // active elsewhere: ask that socket first
        {2, 0x0E00, 0x00, success, {}},
        {3, 0x0FFF, 0x00, no_free_socket, {}},  // two testers at most
    };
    for (const auto& s : steps) {
        const auto decision = testers.activate(s.socket, s.source, s.type);
        EXPECT_EQ(decision.check_socket, s.check) << s.socket << " " << s.source;
        if (!s.check) {
            EXPECT_EQ(decision.code, s.code) << s.socket << " " << s.source;
        }
    }
    EXPECT_EQ(testers.address_of(1), 0x0E80);
    EXPECT_EQ(testers.address_of(3), std::nullopt);
}

TEST(TesterRegistry, AReleasedSocketFreesItsAddressAndItsPlace) {
    Tester_registry testers(1);
    EXPECT_EQ(testers.activate(1, 0x0E80, 0).code, success);
    EXPECT_EQ(testers.activate(2, 0x0E80, 0).check_socket, Socket_id{1});
    testers.release(1);  // the alive check went unanswered
    EXPECT_EQ(testers.activate(2, 0x0E80, 0).code, success);
    EXPECT_EQ(testers.address_of(1), std::nullopt);
    testers.release(2);
    EXPECT_EQ(testers.activate(3, 0x0E90, 0).code, success);
}

}  // namespace
}  // namespace dmsim::doip
