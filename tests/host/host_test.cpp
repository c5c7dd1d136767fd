#include "host/plugin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/application.h"
#include "host/built_plugin.h"
#include "host/extensions.h"
#include "support/expected_catalogue.h"
#include "support/wire_bytes.h"

// The host library against the built plug-in: loading, the unload policy, the manager's way
// of holding extensions, and the simulated application's rules seen from a real extension.

namespace {

using host::Simulated_application;
using support::Bytes;

std::string load_error(const std::string& path) {
    try {
        host::Plugin plugin(path);
    } catch (const host::Plugin_error& e) {
        return e.what();
    }
    return "loaded";
}

TEST(Plugin_loader, says_why_a_library_cannot_serve_as_the_plug_in) {
    EXPECT_EQ(load_error("/nonexistent/libdiag_plugin.so").rfind("cannot load the plug-in: ", 0),
              0u);
    // A shared library without the entry points: the runtime stand-in.
    EXPECT_EQ(load_error(DIAG_NOT_A_PLUGIN),
              DIAG_NOT_A_PLUGIN ": not a diagnostic plug-in: it does not export get_did_info");
}

TEST(Plugin_loader, stays_loaded_when_its_object_is_gone) {
    { const host::Plugin plugin(DIAG_PLUGIN_PATH); }
    void* handle = dlopen(DIAG_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr);
    if (handle != nullptr) {
        dlclose(handle);  // the reference just taken
    }
}

TEST(Extensions, one_per_listed_identifier_and_null_for_a_refused_one) {
    const host::Plugin& plugin = host::built_plugin();
    {
        host::Extension_set all(plugin);
        EXPECT_EQ(all.dids().size(), support::expected_dids().size());
        EXPECT_EQ(all.rids().size(), support::expected_rids().size());
        EXPECT_EQ(all.dids().begin()->first, 0x0102);  // ordered by identifier
        all.start_find_service("host.set");
    }  // stopped, then destroyed
    EXPECT_EQ(host::make_did(plugin, 0x0318), nullptr);
    EXPECT_EQ(host::connect_rid(plugin, 0x0102, "host.set"), nullptr);
}

// Calls the application rules answer, hold, drop and an error code through a real read; the
// application keeps no calls, only their count, and shows each to its observer.
TEST(Simulated_application, answers_holds_drops_and_counts_without_keeping) {
    const auto& entry = support::expected_did(0x0102);
    Simulated_application app(entry.service_id(), "host.app",
                              Simulated_application::Recording::none);
    std::mutex mutex;
    std::vector<std::uint16_t> seen;
    app.set_observer([&](const host::Received_call& call) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(call.method_id);
    });
    auto did = host::connect_did(host::built_plugin(), entry.id, "host.app");
    ASSERT_TRUE(did);
    auto read = [&] {
        return std::async(std::launch::async, [&] {
            Bytes response;
            const std::uint8_t code = did->read(support::request_meta(), response);
            return std::make_pair(code, response);
        });
    };

    app.answer(entry.read_method, 2, {0x31});
    EXPECT_EQ(read().get(), std::make_pair(std::uint8_t{0x31}, Bytes{}));

    app.hold(entry.read_method);
    auto held = read();
    ASSERT_TRUE(app.wait_for_calls(2));
    EXPECT_EQ(app.release_held(0, {0x07}), 1u);
    EXPECT_EQ(held.get(), std::make_pair(std::uint8_t{0}, Bytes{0x07}));

    app.drop(entry.read_method);
    auto dropped = read();
    ASSERT_TRUE(app.wait_for_calls(3));
    EXPECT_EQ(app.release_held(0, {0x07}), 0u);  // dropped, not held
    EXPECT_EQ(dropped.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    EXPECT_TRUE(did->cancel(support::cancel_meta()));  // Cancel has no rule: answered 0
    EXPECT_EQ(dropped.get(), std::make_pair(std::uint8_t{0}, Bytes{}));

    ASSERT_TRUE(app.wait_for_calls(4));  // the Cancel call travels on its own
    EXPECT_EQ(app.call_count(), 4u);
    EXPECT_TRUE(app.calls().empty());
    const std::uint16_t read_id = entry.read_method, cancel_id = entry.cancel_method;
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::uint16_t>{read_id, read_id, read_id, cancel_id}));
}

// A delayed answer goes through the scheduler with its delay; until the scheduler runs it,
// the caller waits. A method without a rule is dropped after drop_others.
TEST(Simulated_application, hands_delayed_answers_to_its_scheduler) {
    const auto& entry = support::expected_did(0x0102);
    Simulated_application app(entry.service_id(), "host.delay");
    std::mutex mutex;
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> scheduled;
    app.set_scheduler([&](std::chrono::milliseconds delay, std::function<void()> task) {
        std::lock_guard<std::mutex> lock(mutex);
        scheduled.emplace_back(delay, std::move(task));
    });
    app.answer(entry.read_method, 0, {0x42}, std::chrono::milliseconds(250));
    app.drop_others();
    auto did = host::connect_did(host::built_plugin(), entry.id, "host.delay");
    ASSERT_TRUE(did);

    auto read = std::async(std::launch::async, [&] {
        Bytes response;
        const std::uint8_t code = did->read(support::request_meta(), response);
        return std::make_pair(code, response);
    });
    ASSERT_TRUE(app.wait_for_calls(1));
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(scheduled.size(), 1u);
        EXPECT_EQ(scheduled[0].first, std::chrono::milliseconds(250));
        task = scheduled[0].second;
    }
    task();
    EXPECT_EQ(read.get(), std::make_pair(std::uint8_t{0}, Bytes{0x42}));

    EXPECT_TRUE(did->cancel(support::cancel_meta()));  // Cancel: no rule, dropped
    ASSERT_TRUE(app.wait_for_calls(2));
    EXPECT_EQ(app.release_held(0, {}), 0u);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(scheduled.size(), 1u);
}

}  // namespace
