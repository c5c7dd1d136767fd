#include "bench/answering_service.h"

#include <utility>

namespace bench {

Answering_service::Answering_service(std::string service, Replies replies, Observer observer)
    : state_(std::make_shared<const State>(State{std::move(replies), std::move(observer)})) {
    offer_ = platform::runtime::offer_service(
        std::move(service), bench_instance,
        [state = state_](platform::runtime::Incoming_call call) {
            const std::uint16_t method = call.method_id();
            if (state->observer) {
                state->observer(method);
            }
            const auto reply = state->replies.find(method);
            if (reply != state->replies.end()) {
                call.respond(reply->second.code, reply->second.payload);
            }
        });
}

Answering_service::~Answering_service() = default;

}  // namespace bench
