// dlopen host of the built plug-in.

#include "integration/plugin_host.h"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>

#include "platform/runtime/application.h"

namespace integration {
namespace {

std::mutex host_mutex;
std::unique_ptr<Plugin_host> host;

template <class Function>
Function resolve(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("plug-in lacks ") + name);
    }
    return reinterpret_cast<Function>(symbol);
}

std::vector<std::uint16_t> copy_table(Plugin_host::Get_info get_info) {
    std::uint16_t count = 0;
    const std::uint16_t* table = get_info(&count);
    return std::vector<std::uint16_t>(table, table + count);
}

}  // namespace

Plugin_host::Plugin_host(const std::string& path) {
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* error = dlerror();
        throw std::runtime_error("cannot load " + path + ": " + (error ? error : "unknown"));
    }
    try {
        get_did_info = resolve<Get_info>(library_, "get_did_info");
        get_rid_info = resolve<Get_info>(library_, "get_rid_info");
        construct_extension_did = resolve<Construct_did>(library_, "construct_extension_did");
        construct_extension_rid = resolve<Construct_rid>(library_, "construct_extension_rid");
        destroy_extension_did = resolve<Destroy_did>(library_, "destroy_extension_did");
        destroy_extension_rid = resolve<Destroy_rid>(library_, "destroy_extension_rid");
    } catch (...) {
        dlclose(library_);
        throw;
    }
}

Plugin_host::~Plugin_host() {
    if (library_ != nullptr)
        dlclose(library_);
}

Plugin_host& Plugin_host::get() {
    std::lock_guard<std::mutex> lock(host_mutex);
    if (!host)
        host.reset(new Plugin_host(DIAG_PLUGIN_PATH));
    return *host;
}

void Plugin_host::unload() {
    std::lock_guard<std::mutex> lock(host_mutex);
    host.reset();
}

std::vector<std::uint16_t> Plugin_host::did_table() const {
    return copy_table(get_did_info);
}
std::vector<std::uint16_t> Plugin_host::rid_table() const {
    return copy_table(get_rid_info);
}

Plugin_host::Did_extension Plugin_host::make_did(std::uint16_t id) const {
    return Did_extension(construct_extension_did(id), Did_deleter{destroy_extension_did});
}

Plugin_host::Rid_extension Plugin_host::make_rid(std::uint16_t id) const {
    return Rid_extension(construct_extension_rid(id), Rid_deleter{destroy_extension_rid});
}

Plugin_host::Did_extension connect_did(std::uint16_t id, const std::string& instance) {
    auto extension = Plugin_host::get().make_did(id);
    if (extension) {
        extension->start_find_service(instance);
        platform::runtime::settle();
    }
    return extension;
}

Plugin_host::Rid_extension connect_rid(std::uint16_t id, const std::string& instance) {
    auto extension = Plugin_host::get().make_rid(id);
    if (extension) {
        extension->start_find_service(instance);
        platform::runtime::settle();
    }
    return extension;
}

}  // namespace integration
