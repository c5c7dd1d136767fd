#include "sim/doip/tester_registry.h"

namespace dmsim::doip {

Tester_registry::Decision Tester_registry::activate(Socket_id socket, std::uint16_t source,
                                                    std::uint8_t type) {
    if (source < first_tester_address || source > last_tester_address) {
        return {activation::unknown_source, {}};
    }
    if (type != 0x00 && type != 0x01) {  // default, WWH-OBD
        return {activation::unsupported_type, {}};
    }
    if (const auto mine = address_of(socket)) {
        return {*mine == source ? activation::success : activation::different_source, {}};
    }
    if (const auto other = sockets_.find(source); other != sockets_.end()) {
        return {activation::source_in_use, other->second};
    }
    if (sockets_.size() >= max_testers_) {
        return {activation::no_free_socket, {}};
    }
    sockets_[source] = socket;
    addresses_[socket] = source;
    return {activation::success, {}};
}

void Tester_registry::release(Socket_id socket) {
    if (const auto found = addresses_.find(socket); found != addresses_.end()) {
        sockets_.erase(found->second);
        addresses_.erase(found);
    }
}

std::optional<std::uint16_t> Tester_registry::address_of(Socket_id socket) const {
    const auto found = addresses_.find(socket);
    return found == addresses_.end() ? std::nullopt : std::optional(found->second);
}

}  // namespace dmsim::doip
