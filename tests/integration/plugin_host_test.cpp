// The plug-in as the manager sees it after dlopen: identifier tables, factories, load-time
// version string. Also unloads the plug-in once every test has run.

#include "integration/plugin_host.h"

#include <gtest/gtest.h>

#include <cstring>

#include "binding/runtime/runtime.h"
#include "integration/expected_catalogue.h"
#include "platform/runtime/application.h"

namespace integration {
namespace {

// Unloads the plug-in after the last test: catches work left behind in the library.
class Unload_plug_in : public ::testing::Environment {
  public:
    void TearDown() override {
        platform::runtime::settle();
        Plugin_host::unload();
    }
};
[[maybe_unused]] const auto* const unload_environment =
    ::testing::AddGlobalTestEnvironment(new Unload_plug_in);

std::vector<std::uint16_t> ids_of(const std::vector<Expected_identifier>& table) {
    std::vector<std::uint16_t> ids;
    for (const auto& entry : table)
        ids.push_back(entry.id);
    return ids;
}

TEST(Plugin_host, LoadStoresGeneratorVersion) {
    Plugin_host::get();
    ASSERT_NE(kem::com::runtime::generator_version, nullptr);
    EXPECT_STREQ(kem::com::runtime::generator_version, "ZMR_KTL-1.4.16_1");
}

TEST(Plugin_host, TablesListTheCatalogueInOrder) {
    auto& host = Plugin_host::get();
    EXPECT_EQ(host.did_table(), ids_of(expected_dids()));
    EXPECT_EQ(host.rid_table(), ids_of(expected_rids()));
}

TEST(Plugin_host, FactoriesAcceptExactlyTheirOwnTable) {
    auto& host = Plugin_host::get();
    for (const auto& entry : expected_dids()) {
        EXPECT_TRUE(host.make_did(entry.id)) << std::hex << entry.id;
        EXPECT_FALSE(host.make_rid(entry.id)) << std::hex << entry.id;
    }
    for (const auto& entry : expected_rids()) {
        EXPECT_TRUE(host.make_rid(entry.id)) << std::hex << entry.id;
        EXPECT_FALSE(host.make_did(entry.id)) << std::hex << entry.id;
    }
    for (const std::uint16_t outside : {0x0000, 0xFFFF, 0x0103, 0xF188}) {
        EXPECT_FALSE(host.make_did(outside)) << std::hex << outside;
        EXPECT_FALSE(host.make_rid(outside)) << std::hex << outside;
    }
    host.destroy_extension_did(nullptr);
    host.destroy_extension_rid(nullptr);
}

}  // namespace
}  // namespace integration
