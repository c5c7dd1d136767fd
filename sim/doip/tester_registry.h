#pragma once
// Which tester address is routed on which socket, and the rules of routing activation:
// an activation request is answered with a response code, or with "ask the socket that
// holds this address first" (the address stays there only if that tester still answers).
// No sockets here; a socket is a number its owner chooses.
//
//   dmsim::doip::Tester_registry testers(4);
//   auto decision = testers.activate(socket, 0x0E80, 0x00);
//   if (decision.check_socket) { ... alive check, then activate again or answer 03 ... }

#include <cstdint>
#include <map>
#include <optional>

namespace dmsim::doip {

namespace activation {
constexpr std::uint8_t unknown_source = 0x00;
constexpr std::uint8_t no_free_socket = 0x01;
constexpr std::uint8_t different_source = 0x02;
constexpr std::uint8_t source_in_use = 0x03;
constexpr std::uint8_t unsupported_type = 0x06;
constexpr std::uint8_t success = 0x10;
}  // namespace activation

inline constexpr std::uint16_t first_tester_address = 0x0E00;
inline constexpr std::uint16_t last_tester_address = 0x0FFF;

using Socket_id = std::uint64_t;

class Tester_registry {
  public:
    explicit Tester_registry(unsigned max_testers) : max_testers_(max_testers) {}

    struct Decision {
        std::uint8_t code = activation::success;  // the answer, unless check_socket is set
        std::optional<Socket_id> check_socket;    // the socket that holds the address now
    };

    // Routing activation of `source` with activation type `type` on `socket`; a success
    // registers the address there. After an alive check, a dead socket is released and
    // the request asked again; a live one keeps the address (source_in_use).
    Decision activate(Socket_id socket, std::uint16_t source, std::uint8_t type);
    // The socket is gone: its address is free again.
    void release(Socket_id socket);
    // The address activated on `socket`, if any.
    std::optional<std::uint16_t> address_of(Socket_id socket) const;

  private:
    const unsigned max_testers_;
    std::map<std::uint16_t, Socket_id> sockets_;    // by tester address
    std::map<Socket_id, std::uint16_t> addresses_;  // by socket
};

}  // namespace dmsim::doip
