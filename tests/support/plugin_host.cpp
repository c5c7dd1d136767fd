// dlopen host of the built plug-in.

#include "support/plugin_host.h"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>

#include "platform/runtime/application.h"

namespace support {
namespace {

std::mutex host_mutex;
std::unique_ptr<Plugin_host> host;

template <class Function>
void resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr) {
        dlclose(library);
        throw std::runtime_error(std::string("the plug-in lacks ") + name);
    }
}

template <class Extension>
Extension connect(Extension extension, const std::string& instance) {
    if (extension) {
        extension->start_find_service(instance);
        platform::runtime::settle();
    }
    return extension;
}

}  // namespace

Plugin_host::Plugin_host() : library_(dlopen(DIAG_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (library_ == nullptr) {
        throw std::runtime_error(std::string("cannot load the plug-in: ") + dlerror());
    }
    resolve(library_, "get_did_info", get_did_info);
    resolve(library_, "get_rid_info", get_rid_info);
    resolve(library_, "construct_extension_did", construct_did);
    resolve(library_, "construct_extension_rid", construct_rid);
    resolve(library_, "destroy_extension_did", destroy_did);
    resolve(library_, "destroy_extension_rid", destroy_rid);
}

Plugin_host::~Plugin_host() {
    dlclose(library_);
}

Plugin_host& Plugin_host::get() {
    std::lock_guard<std::mutex> lock(host_mutex);
    if (!host) {
        host.reset(new Plugin_host());
    }
    return *host;
}

void Plugin_host::unload() {
    std::lock_guard<std::mutex> lock(host_mutex);
    host.reset();
}

Plugin_host::Did_extension connect_did(std::uint16_t id, const std::string& instance) {
    return connect(Plugin_host::get().make_did(id), instance);
}

Plugin_host::Rid_extension connect_rid(std::uint16_t id, const std::string& instance) {
    return connect(Plugin_host::get().make_rid(id), instance);
}

}  // namespace support
