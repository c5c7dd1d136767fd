#include "plugin/entry_points.h"

#include <iterator>

#include "binding/runtime/runtime.h"
#include "services/catalogue.h"
#include "services/extension_factory.h"

namespace {

using kem::dm::foundation::extension::Extension;
using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

// Runs when the library is loaded, before the host can reach any entry point.
struct Generator_version_store {
    Generator_version_store() noexcept {
        kem::com::runtime::generator_version = kem::dm::plugin::generator_version;
    }
};
const Generator_version_store generator_version_store;

template <std::size_t N>
const std::uint16_t* table_info(const std::uint16_t (&table)[N], std::uint16_t* count) {
    static_assert(N <= UINT16_MAX, "the count is a 16-bit value");
    *count = static_cast<std::uint16_t>(N);
    return table;
}

// Both destroy functions: the virtual deleting destructor runs the most-derived class's
// destructor and releases the memory.
void destroy_extension(Extension* extension) noexcept {
    delete extension;
}

}  // namespace

extern "C" {

const std::uint16_t* get_did_info(std::uint16_t* count) {
    return table_info(orlak::services::diag::did_table, count);
}

const std::uint16_t* get_rid_info(std::uint16_t* count) {
    return table_info(orlak::services::diag::rid_table, count);
}

Extension_data_identifier* construct_extension_did(std::uint16_t id) {
    return orlak::services::diag::construct_did_extension(id);
}

Extension_routine_control* construct_extension_rid(std::uint16_t id) {
    return orlak::services::diag::construct_rid_extension(id);
}

void destroy_extension_did(Extension_data_identifier* extension) {
    destroy_extension(extension);
}

void destroy_extension_rid(Extension_routine_control* extension) {
    destroy_extension(extension);
}

}  // extern "C"
