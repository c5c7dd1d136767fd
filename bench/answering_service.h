#pragma once
// A simulated application for the benchmarks: offers one service instance through the
// runtime stand-in and answers every call at once, on the runtime's transport thread, with
// the reply fixed for its method. Calls of a method without a reply are never answered.
//
//   Answering_service app(Interface::service_id, {{Interface::Read::id, {0, {0x07}}}});
//   app.set_observer([](std::uint16_t method) { ... });   // before the first call

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/application.h"

namespace bench {

// The instance under which the benchmarks offer and search every service.
inline const char* const bench_instance = "bench";

struct Reply {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> payload;
};

class Answering_service {
  public:
    using Replies = std::map<std::uint16_t, Reply>;
    // Runs on the transport thread for every call, before it is answered.
    using Observer = std::function<void(std::uint16_t method)>;

    Answering_service(std::string service, Replies replies, Observer observer = {});
    ~Answering_service();  // withdraws the offer
    Answering_service(const Answering_service&) = delete;
    Answering_service& operator=(const Answering_service&) = delete;

  private:
    struct State {
        Replies replies;
        Observer observer;
    };
    std::shared_ptr<const State> state_;
    platform::runtime::Offer offer_;
};

}  // namespace bench
