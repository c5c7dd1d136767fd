#include "foundation/extension.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

using namespace kem::dm::foundation::extension;
using kem::dm::types::MetaInfo;
using Bytes = std::vector<std::uint8_t>;

// Virtual-table slot of a virtual member function, read from its Itanium C++ ABI
// representation (ARM variants keep the virtual flag in the adjustment instead).
template <class F>
std::ptrdiff_t slot(F member) {
    static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t words[2];
    std::memcpy(words, &member, sizeof words);
#if defined(__arm__) || defined(__aarch64__)
    EXPECT_EQ(words[1] & 1, 1) << "not virtual";
    return words[0] / static_cast<std::ptrdiff_t>(sizeof(void*));
#else
    EXPECT_EQ(words[0] & 1, 1) << "not virtual";
    return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
#endif
}

// The manager calls through fixed slots. Slots 0 and 1 are the two destructor entries.
TEST(Extension, virtual_table_layout_is_the_one_the_manager_was_built_against) {
    EXPECT_EQ(slot(&Extension::start_find_service), 2);
    EXPECT_EQ(slot(&Extension::stop_find_service), 3);

    EXPECT_EQ(slot(&Extension_data_identifier::read), 4);
    EXPECT_EQ(slot(&Extension_data_identifier::write), 5);
    EXPECT_EQ(slot(&Extension_data_identifier::cancel), 6);

    EXPECT_EQ(slot(&Extension_routine_control::start), 4);
    EXPECT_EQ(slot(&Extension_routine_control::stop), 5);
    EXPECT_EQ(slot(&Extension_routine_control::request_results), 6);
    EXPECT_EQ(slot(&Extension_routine_control::cancel), 7);

    // The interfaces add no data: an object pointer and its interface pointer coincide.
    EXPECT_EQ(sizeof(Extension_data_identifier), sizeof(void*));
    EXPECT_EQ(sizeof(Extension_routine_control), sizeof(void*));
}

// Extensions that override only what every extension must.
struct Minimal_did : Extension_data_identifier {
    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
};
struct Minimal_rid : Extension_routine_control {
    void start_find_service(const std::string&) override {}
    void stop_find_service() override {}
};

TEST(Extension, defaults_answer_positively_and_touch_nothing) {
    Minimal_did did;
    Minimal_rid rid;
    const MetaInfo meta{{"k", "v"}};
    Bytes request{0x01, 0x02}, response{0xAA}, data{2, 3};
    EXPECT_EQ(did.read(meta, response), 0);
    EXPECT_EQ(did.write(meta, data), 0);
    EXPECT_FALSE(did.cancel(meta));
    EXPECT_EQ(rid.start(request, meta, response), 0);
    EXPECT_EQ(rid.stop(request, meta, response), 0);
    EXPECT_EQ(rid.request_results(request, meta, response), 0);
    EXPECT_FALSE(rid.cancel(meta));
    EXPECT_EQ(request, (Bytes{0x01, 0x02}));
    EXPECT_EQ(response, Bytes{0xAA});
    EXPECT_EQ(data, (Bytes{2, 3}));
}

}  // namespace
