#include "plugin/entry_points.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "binding/runtime/runtime.h"
#include "host/built_plugin.h"
#include "host/extensions.h"
#include "support/expected_catalogue.h"

// The plug-in as the manager sees it: loaded with dlopen, entry points resolved by name.

namespace {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;
using Bytes = std::vector<std::uint8_t>;

TEST(Plugin, exports_only_the_six_entry_points) {
    FILE* pipe = popen(DIAG_NM " -D --defined-only " DIAG_PLUGIN_PATH, "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, kind, name;
        fields >> address >> kind >> name;
        names.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(names, (std::set<std::string>{"construct_extension_did", "construct_extension_rid",
                                            "destroy_extension_did", "destroy_extension_rid",
                                            "get_did_info", "get_rid_info"}));
}

TEST(Plugin, loading_stores_its_own_generator_version_in_the_runtime) {
    const host::Plugin& plugin = host::built_plugin();
    const char* version = kem::com::runtime::generator_version;
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "ZMR_KTL-1.4.16_1");
    Dl_info owner{};
    ASSERT_NE(dladdr(version, &owner), 0);
    void* owner_handle = dlopen(owner.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(owner_handle, plugin.library()) << "the string must be the plug-in's own";
    if (owner_handle != nullptr) {
        dlclose(owner_handle);
    }
}

TEST(Plugin, tables_list_the_catalogue_in_order_at_a_fixed_address) {
    const host::Plugin& plugin = host::built_plugin();
    auto table = [](auto get_info) {
        std::uint16_t count = 0;
        const std::uint16_t* first = get_info(&count);
        EXPECT_EQ(get_info(&count), first);
        return std::vector<std::uint16_t>(first, first + count);
    };
    EXPECT_EQ(table([&](std::uint16_t* count) { return plugin.get_did_info(count); }),
              support::ids_of(support::expected_dids()));
    EXPECT_EQ(table([&](std::uint16_t* count) { return plugin.get_rid_info(count); }),
              support::ids_of(support::expected_rids()));
}

// Every identifier from 0x0000 to 0xFFFF: an object exactly for the identifiers of the
// factory's own table, null for the other table, the gaps and both ends.
TEST(Plugin, each_factory_accepts_exactly_its_own_table) {
    const host::Plugin& plugin = host::built_plugin();
    const auto did_ids = support::ids_of(support::expected_dids());
    const auto rid_ids = support::ids_of(support::expected_rids());
    const std::set<std::uint16_t> dids(did_ids.begin(), did_ids.end());
    const std::set<std::uint16_t> rids(rid_ids.begin(), rid_ids.end());
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        const auto id16 = static_cast<std::uint16_t>(id);
        Extension_data_identifier* did = plugin.construct_did(id16);
        Extension_routine_control* rid = plugin.construct_rid(id16);
        EXPECT_EQ(did != nullptr, dids.count(id16) == 1) << std::hex << id;
        EXPECT_EQ(rid != nullptr, rids.count(id16) == 1) << std::hex << id;
        plugin.destroy_did(did);
        plugin.destroy_rid(rid);
    }
}

// Without discovery there is no proxy: whatever goes to the application answers 0x10 (for a
// routine before its request bytes are looked at), the base defaults answer 0, and the
// caller's bytes stay as they are.
TEST(Plugin, fresh_extensions_answer_0x10_and_touch_nothing) {
    const host::Plugin& plugin = host::built_plugin();
    const kem::dm::types::MetaInfo meta{{"tester", "0E80"}};
    for (const auto& entry : support::expected_dids()) {
        auto extension = host::make_did(plugin, entry.id);
        Bytes response{0xAA}, data{1, 2, 3};
        EXPECT_EQ(extension->read(meta, response), 0x10) << entry.interface_name;
        EXPECT_EQ(extension->write(meta, data), 0);
        EXPECT_FALSE(extension->cancel(meta));
        EXPECT_EQ(response, Bytes{0xAA});
        EXPECT_EQ(data, (Bytes{1, 2, 3}));
    }
    for (const auto& entry : support::expected_rids()) {
        auto extension = host::make_rid(plugin, entry.id);
        const int forwarded = entry.kind == support::Kind::full_routine ? 0x10 : 0;
        Bytes request{7}, response;
        EXPECT_EQ(extension->start(request, meta, response), 0x10) << entry.interface_name;
        EXPECT_EQ(extension->stop(request, meta, response), forwarded) << entry.interface_name;
        EXPECT_EQ(extension->request_results(request, meta, response), forwarded);
        EXPECT_FALSE(extension->cancel(meta));
        EXPECT_EQ(request, Bytes{7});
        EXPECT_TRUE(response.empty());
    }
}

// An extension of the host's own class: counts its destructions.
template <class Base>
struct Host_extension : Base {
    explicit Host_extension(int& destroyed) : destroyed(destroyed) {}
    ~Host_extension() override { ++destroyed; }
    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
    int& destroyed;
};

TEST(Plugin, destroy_takes_null_and_runs_the_most_derived_destructor) {
    const host::Plugin& plugin = host::built_plugin();
    plugin.destroy_did(nullptr);
    plugin.destroy_rid(nullptr);

    auto first = host::make_did(plugin, 0x0102);
    auto second = host::make_did(plugin, 0x0102);
    EXPECT_NE(first.get(), second.get());
    first.reset();
    Bytes data{9};
    EXPECT_EQ(second->write({}, data), 0);

    // An object of the host's own class goes through the plug-in's destroy functions.
    int destroyed = 0;
    plugin.destroy_did(new Host_extension<Extension_data_identifier>(destroyed));
    plugin.destroy_rid(new Host_extension<Extension_routine_control>(destroyed));
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
