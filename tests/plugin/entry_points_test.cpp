#include "plugin/entry_points.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "binding/runtime/runtime.h"

namespace {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;
using kem::dm::types::MetaInfo;
using Bytes = std::vector<std::uint8_t>;

// The identifier tables in the order the manager receives them.
const std::vector<std::uint16_t> expected_dids = {
    0x1183, 0x1184, 0x1185, 0x493E, 0x493F, 0x2D92, 0x2D93, 0x4940, 0x4941, 0x4942,  // 0-9
    0x15E0, 0x4943, 0x4944, 0x1176, 0x1177, 0x1178, 0x1179, 0x117A, 0x117B, 0x49BE,  // 10-19
    0x49BF, 0x49C0, 0x0809, 0x080A, 0x080B, 0x080C, 0x080D, 0x0808, 0x0807, 0x15F0,  // 20-29
    0x0806, 0x0805, 0x0804, 0x0803, 0x0802, 0x080E, 0x0801, 0x15F1, 0x14A0, 0x14A1,  // 30-39
    0x14A2, 0x14A3, 0x1190, 0x1191, 0x1192, 0x0401, 0x17F0, 0x17F2, 0x0102, 0x0261,  // 40-49
    0x0447, 0x1186, 0x1187, 0x1188, 0xF186, 0xF187, 0xF189, 0xF190, 0xF195, 0xF197,  // 50-59
    0xF1AA, 0xF1B4, 0xF1AF, 0x0189, 0x0407, 0x040F, 0x0448, 0xF15B, 0xF1AB, 0xF1DF,  // 60-69
    0xF1B6, 0x01A7, 0x01AF, 0x0441, 0xF19E, 0xF1A2, 0x0174, 0x3C0E, 0xF1D5, 0x0411,  // 70-79
    0xF1B1, 0xF1B3, 0xF17C                                                           // 80-82
};
const std::vector<std::uint16_t> expected_rids = {
    0x0318, 0x0301, 0x0300, 0x03E7, 0x0366, 0x045A, 0x0203, 0xFF00, 0x0202, 0xFF01,  // 0-9
    0x0544, 0x065E, 0xC010, 0xC00E, 0x0253, 0x0254, 0x029A, 0xC004, 0xC005, 0xC007,  // 10-19
    0xC008, 0xC009, 0xC011, 0xC012, 0x06A9, 0x0F02                                   // 20-25
};
// Routines whose interface has Stop and RequestResults besides Start.
const std::set<std::uint16_t> full_routines = {0x0318, 0x0301, 0x0300, 0x03E7, 0x0366,
                                               0x045A, 0x065E, 0xC010, 0xC00E, 0x029A};

// The plug-in as the manager sees it: loaded with dlopen, entry points resolved by name.
struct Plugin {
    void* library = dlopen(DIAG_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    template <class Fn>
    Fn entry(const char* name) const {
        return reinterpret_cast<Fn>(library ? dlsym(library, name) : nullptr);
    }
    kem::dm::plugin::Get_info_fn get_did_info = entry<decltype(get_did_info)>("get_did_info");
    kem::dm::plugin::Get_info_fn get_rid_info = entry<decltype(get_rid_info)>("get_rid_info");
    kem::dm::plugin::Construct_did_fn construct_did =
        entry<decltype(construct_did)>("construct_extension_did");
    kem::dm::plugin::Construct_rid_fn construct_rid =
        entry<decltype(construct_rid)>("construct_extension_rid");
    kem::dm::plugin::Destroy_did_fn destroy_did =
        entry<decltype(destroy_did)>("destroy_extension_did");
    kem::dm::plugin::Destroy_rid_fn destroy_rid =
        entry<decltype(destroy_rid)>("destroy_extension_rid");
};

class Plugin_test : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static const Plugin loaded;
        plugin = &loaded;
        ASSERT_NE(loaded.library, nullptr) << dlerror();
        ASSERT_TRUE(loaded.get_did_info && loaded.get_rid_info && loaded.construct_did &&
                    loaded.construct_rid && loaded.destroy_did && loaded.destroy_rid);
    }
    void SetUp() override { ASSERT_NE(plugin->library, nullptr); }
    static const Plugin* plugin;
};
const Plugin* Plugin_test::plugin = nullptr;

std::vector<std::uint16_t> table(kem::dm::plugin::Get_info_fn get_info) {
    std::uint16_t count = 0xFFFF;
    const std::uint16_t* first = get_info(&count);
    EXPECT_EQ(first, get_info(&count)) << "the table must not move between calls";
    return {first, first + count};
}

TEST(Plugin_exports, only_the_six_entry_points_are_exported) {
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

TEST_F(Plugin_test, loading_stores_the_generator_version_of_the_plugin) {
    const char* version = kem::com::runtime::generator_version;
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "ZMR_KTL-1.4.16_1");
    Dl_info owner{};
    ASSERT_NE(dladdr(version, &owner), 0);
    void* owner_handle = dlopen(owner.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(owner_handle, plugin->library) << "the string must be the plug-in's own";
    if (owner_handle != nullptr) {
        dlclose(owner_handle);
    }
}

TEST_F(Plugin_test, tables_hold_the_identifiers_in_order_disjoint_and_unique) {
    EXPECT_EQ(table(plugin->get_did_info), expected_dids);
    EXPECT_EQ(table(plugin->get_rid_info), expected_rids);
    std::set<std::uint16_t> all(expected_dids.begin(), expected_dids.end());
    all.insert(expected_rids.begin(), expected_rids.end());
    EXPECT_EQ(all.size(), 83u + 26u);
}

// Every identifier from 0x0000 to 0xFFFF: an object exactly for the identifiers of the
// factory's own table, null for everything else (the other table, gaps, both ends).
TEST_F(Plugin_test, each_factory_accepts_exactly_its_own_table) {
    const std::set<std::uint16_t> dids(expected_dids.begin(), expected_dids.end());
    const std::set<std::uint16_t> rids(expected_rids.begin(), expected_rids.end());
    for (std::uint32_t id = 0; id <= 0xFFFF; ++id) {
        const auto id16 = static_cast<std::uint16_t>(id);
        Extension_data_identifier* did = plugin->construct_did(id16);
        Extension_routine_control* rid = plugin->construct_rid(id16);
        EXPECT_EQ(did != nullptr, dids.count(id16) == 1) << std::hex << id;
        EXPECT_EQ(rid != nullptr, rids.count(id16) == 1) << std::hex << id;
        plugin->destroy_did(did);
        plugin->destroy_rid(rid);
    }
}

// A fresh object has no discovery and no proxy: requests for the application answer 0x10,
// operations that keep the base defaults answer 0, and nothing touches the caller's bytes.
TEST_F(Plugin_test, fresh_data_identifier_extensions) {
    const MetaInfo meta{{"tester", "0x0E80"}};
    for (std::uint16_t id : expected_dids) {
        Extension_data_identifier* extension = plugin->construct_did(id);
        ASSERT_NE(extension, nullptr);
        Bytes response{0xAA}, data{1, 2, 3};
        EXPECT_EQ(extension->read(meta, response), 0x10) << std::hex << id;
        EXPECT_EQ(extension->write(meta, data), 0) << std::hex << id;
        EXPECT_FALSE(extension->cancel(meta));
        extension->stop_find_service();  // never started: returns at once
        EXPECT_EQ(response, Bytes{0xAA});
        EXPECT_EQ(data, (Bytes{1, 2, 3}));
        plugin->destroy_did(extension);
    }
}

TEST_F(Plugin_test, fresh_routine_extensions) {
    const MetaInfo meta{{"tester", "0x0E80"}};
    for (std::uint16_t id : expected_rids) {
        Extension_routine_control* extension = plugin->construct_rid(id);
        ASSERT_NE(extension, nullptr);
        const bool full = full_routines.count(id) == 1;
        Bytes request{7}, response;
        EXPECT_EQ(extension->start(request, meta, response), 0x10) << std::hex << id;
        EXPECT_EQ(extension->stop(request, meta, response), full ? 0x10 : 0) << std::hex << id;
        EXPECT_EQ(extension->request_results(request, meta, response), full ? 0x10 : 0);
        EXPECT_FALSE(extension->cancel(meta));
        extension->stop_find_service();
        EXPECT_EQ(request, Bytes{7});
        EXPECT_TRUE(response.empty());
        plugin->destroy_rid(extension);
    }
}

TEST_F(Plugin_test, two_constructions_give_independent_objects) {
    Extension_data_identifier* first = plugin->construct_did(0x0102);
    Extension_data_identifier* second = plugin->construct_did(0x0102);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    plugin->destroy_did(first);
    Bytes data{9};
    EXPECT_EQ(second->write({}, data), 0);
    plugin->destroy_did(second);
}

TEST_F(Plugin_test, destroying_null_does_nothing) {
    plugin->destroy_did(nullptr);
    plugin->destroy_rid(nullptr);
}

// An object of the host's own class goes through the plug-in's destroy functions like any
// other: the most-derived destructor runs.
TEST_F(Plugin_test, destroy_runs_the_most_derived_destructor) {
    struct Host_did : Extension_data_identifier {
        explicit Host_did(int& destroyed) : destroyed(destroyed) {}
        ~Host_did() override { ++destroyed; }
        void start_find_service(const std::string&) override {}
        void stop_find_service() override {}
        int& destroyed;
    };
    struct Host_rid : Extension_routine_control {
        explicit Host_rid(int& destroyed) : destroyed(destroyed) {}
        ~Host_rid() override { ++destroyed; }
        void start_find_service(const std::string&) override {}
        void stop_find_service() override {}
        int& destroyed;
    };
    int destroyed = 0;
    plugin->destroy_did(new Host_did(destroyed));
    plugin->destroy_rid(new Host_rid(destroyed));
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
