#include "bench/plugin_loader.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace bench {
namespace {

template <class Function>
void bind(void* library, const char* name, Function& function) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("the plug-in lacks ") + name);
    }
    function = reinterpret_cast<Function>(symbol);
}

}  // namespace

Plugin_loader& Plugin_loader::get() {
    static Plugin_loader loader;
    return loader;
}

Plugin_loader::Plugin_loader() {
    // Never unloaded: runtime threads may still run plug-in code until the process ends.
    void* library = dlopen(DIAG_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        throw std::runtime_error(std::string("cannot load the plug-in: ") + dlerror());
    }
    bind(library, "get_did_info", get_did_info);
    bind(library, "get_rid_info", get_rid_info);
    bind(library, "construct_extension_did", construct_extension_did);
    bind(library, "construct_extension_rid", construct_extension_rid);
    bind(library, "destroy_extension_did", destroy_extension_did);
    bind(library, "destroy_extension_rid", destroy_extension_rid);
}

}  // namespace bench
