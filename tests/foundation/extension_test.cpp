#include "foundation/extension.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

using namespace kem::dm::foundation::extension;

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

}  // namespace
