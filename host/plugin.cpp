#include "host/plugin.h"

#include <dlfcn.h>

namespace host {
namespace {

template <class Function>
void resolve(void* library, const std::string& path, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr) {
        throw Plugin_error(path + ": not a diagnostic plug-in: it does not export " + name);
    }
}

std::vector<std::uint16_t> list(kem::dm::plugin::Get_info_fn get_info) {
    std::uint16_t count = 0;
    const std::uint16_t* table = get_info(&count);
    if (table == nullptr) {
        return {};
    }
    return {table, table + count};
}

}  // namespace

Plugin::Plugin(const std::string& path)
    : path_(path), library_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (library_ == nullptr) {
        const char* reason = dlerror();
        throw Plugin_error("cannot load the plug-in: " +
                           std::string(reason != nullptr ? reason : path));
    }
    try {
        resolve(library_, path, "get_did_info", get_did_info_);
        resolve(library_, path, "get_rid_info", get_rid_info_);
        resolve(library_, path, "construct_extension_did", construct_did_);
        resolve(library_, path, "construct_extension_rid", construct_rid_);
        resolve(library_, path, "destroy_extension_did", destroy_did_);
        resolve(library_, path, "destroy_extension_rid", destroy_rid_);
    } catch (...) {
        dlclose(library_);  // nothing of it ran beyond its load-time initialisation
        throw;
    }
}

std::vector<std::uint16_t> Plugin::did_list() const {
    return list(get_did_info_);
}

std::vector<std::uint16_t> Plugin::rid_list() const {
    return list(get_rid_info_);
}

}  // namespace host
