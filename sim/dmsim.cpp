// dmsim: stands in for the diagnostic manager's loading of the plug-in. Loads the library,
// prints both identifier tables in table order, constructs one extension per identifier and
// destroys them all again.
//
//   dmsim [path/to/libdiag_plugin.so]
//
// Exit status: 0 on success, 1 when the plug-in cannot be loaded or misbehaves.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "binding/runtime/runtime.h"
#include "plugin/entry_points.h"

namespace {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

struct Entry_points {
    kem::dm::plugin::Get_info_fn get_did_info = nullptr;
    kem::dm::plugin::Get_info_fn get_rid_info = nullptr;
    kem::dm::plugin::Construct_did_fn construct_extension_did = nullptr;
    kem::dm::plugin::Construct_rid_fn construct_extension_rid = nullptr;
    kem::dm::plugin::Destroy_did_fn destroy_extension_did = nullptr;
    kem::dm::plugin::Destroy_rid_fn destroy_extension_rid = nullptr;
};

template <class Fn>
bool resolve(void* library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    if (fn == nullptr) {
        std::fprintf(stderr, "dmsim: the plug-in does not export %s\n", name);
        return false;
    }
    return true;
}

void print_table(const char* title, const std::uint16_t* table, std::uint16_t count) {
    std::printf("%s (%u):", title, static_cast<unsigned>(count));
    for (std::uint16_t i = 0; i < count; ++i) {
        std::printf(" 0x%04X", static_cast<unsigned>(table[i]));
    }
    std::printf("\n");
}

int run(const Entry_points& plugin) {
    std::uint16_t did_count = 0;
    std::uint16_t rid_count = 0;
    const std::uint16_t* dids = plugin.get_did_info(&did_count);
    const std::uint16_t* rids = plugin.get_rid_info(&rid_count);
    print_table("DIDs", dids, did_count);
    print_table("RIDs", rids, rid_count);

    std::vector<Extension_data_identifier*> did_extensions;
    std::vector<Extension_routine_control*> rid_extensions;
    int status = 0;
    for (std::uint16_t i = 0; i < did_count; ++i) {
        if (auto* extension = plugin.construct_extension_did(dids[i])) {
            did_extensions.push_back(extension);
        } else {
            std::fprintf(stderr, "dmsim: no extension for DID 0x%04X\n", dids[i]);
            status = 1;
        }
    }
    for (std::uint16_t i = 0; i < rid_count; ++i) {
        if (auto* extension = plugin.construct_extension_rid(rids[i])) {
            rid_extensions.push_back(extension);
        } else {
            std::fprintf(stderr, "dmsim: no extension for RID 0x%04X\n", rids[i]);
            status = 1;
        }
    }
    std::printf("constructed %zu DID and %zu RID extensions\n", did_extensions.size(),
                rid_extensions.size());
    for (auto* extension : did_extensions) {
        plugin.destroy_extension_did(extension);
    }
    for (auto* extension : rid_extensions) {
        plugin.destroy_extension_rid(extension);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : DIAG_PLUGIN_PATH;
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "dmsim: cannot load the plug-in %s: %s\n", path, dlerror());
        return 1;
    }
    Entry_points plugin;
    bool complete = resolve(library, "get_did_info", plugin.get_did_info);
    complete = resolve(library, "get_rid_info", plugin.get_rid_info) && complete;
    complete =
        resolve(library, "construct_extension_did", plugin.construct_extension_did) && complete;
    complete =
        resolve(library, "construct_extension_rid", plugin.construct_extension_rid) && complete;
    complete = resolve(library, "destroy_extension_did", plugin.destroy_extension_did) && complete;
    complete = resolve(library, "destroy_extension_rid", plugin.destroy_extension_rid) && complete;
    if (!complete) {
        dlclose(library);
        return 1;
    }

    const char* version = kem::com::runtime::generator_version;
    std::printf("plug-in: %s\ngenerator version: %s\n", path, version ? version : "(not set)");
    int status = 1;
    try {
        status = run(plugin);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dmsim: %s\n", e.what());
    }
    dlclose(library);
    return status;
}
