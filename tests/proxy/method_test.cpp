#include "proxy/method.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "binding/binding_test_support.h"
#include "proxy/probe_proxy.h"

namespace {

using binding_test::Recording_application;
using Probe = probe::d_0001::DataIdentifier_Probe;
using Probe_proxy = probe::d_0001::proxy::DataIdentifier_ProbeProxy;

// Several threads calling the members of one proxy at once, each waiting for its own
// answer: every future gets the answer to its own call.
TEST(Method, concurrent_calls_each_get_their_answer) {
    Recording_application app(Probe::service_id, "method.concurrent",
                              [](platform::runtime::Incoming_call call) {
                                  // Echoes the caller's tag: the last byte of the MetaInfo.
                                  const std::uint8_t tag = call.payload().back();
                                  call.respond(0, {tag, 0, 0, 0, 0, 0, 3, 1, 2, 3});
                              });
    auto handle = binding_test::find_first<Probe>("method.concurrent");
    const Probe_proxy proxy(handle);

    constexpr int threads = 4;
    constexpr int calls_per_thread = 25;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < calls_per_thread; ++i) {
                const auto tag = static_cast<std::uint8_t>(t * calls_per_thread + i);
                if (i % 5 == 4) {
                    proxy.Cancel({{"t", std::string(1, static_cast<char>(tag))}}).get();
                } else if (proxy.Read({{"t", std::string(1, static_cast<char>(tag))}})
                               .get()
                               .status != tag) {
                    ++mismatches;
                }
            }
        });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(app.calls().size(), static_cast<std::size_t>(threads * calls_per_thread));
}

}  // namespace
