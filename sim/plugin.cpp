#include "sim/plugin.h"

#include <dlfcn.h>

#include <cstdio>

namespace dmsim {

namespace {

template <class Fn>
void resolve(void* library, const std::string& path, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(library, name));
    if (fn == nullptr) {
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

Plugin::Plugin(const std::string& path) : path_(path) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        throw Plugin_error("cannot load the plug-in: " +
                           std::string(reason != nullptr ? reason : path));
    }
    try {
        resolve(library, path, "get_did_info", get_did_info_);
        resolve(library, path, "get_rid_info", get_rid_info_);
        resolve(library, path, "construct_extension_did", construct_did_);
        resolve(library, path, "construct_extension_rid", construct_rid_);
        resolve(library, path, "destroy_extension_did", destroy_did_);
        resolve(library, path, "destroy_extension_rid", destroy_rid_);
    } catch (...) {
        dlclose(library);  // nothing of it ran beyond its load-time initialisation
        throw;
    }
}

std::vector<std::uint16_t> Plugin::did_list() const {
    return list(get_did_info_);
}
std::vector<std::uint16_t> Plugin::rid_list() const {
    return list(get_rid_info_);
}

Extension_data_identifier* Plugin::construct_did(std::uint16_t id) const {
    return construct_did_(id);
}

Extension_routine_control* Plugin::construct_rid(std::uint16_t id) const {
    return construct_rid_(id);
}

void Plugin::destroy(Extension_data_identifier* extension) const {
    destroy_did_(extension);
}
void Plugin::destroy(Extension_routine_control* extension) const {
    destroy_rid_(extension);
}

Extension_set::Extension_set(const Plugin& plugin) : plugin_(plugin) {
    auto fail = [&](const char* kind, std::uint16_t id) {
        destroy_all();
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(id));
        throw Plugin_error(plugin_.path() + ": no extension for the listed " + kind + " " + hex);
    };
    try {
        for (std::uint16_t id : plugin_.did_list()) {
            Extension_data_identifier* extension = plugin_.construct_did(id);
            if (extension == nullptr) {
                fail("DID", id);
            }
            if (!dids_.emplace(id, extension).second) {
                plugin_.destroy(extension);  // listed twice: one extension serves it
            }
        }
        for (std::uint16_t id : plugin_.rid_list()) {
            Extension_routine_control* extension = plugin_.construct_rid(id);
            if (extension == nullptr) {
                fail("RID", id);
            }
            if (!rids_.emplace(id, extension).second) {
                plugin_.destroy(extension);
            }
        }
    } catch (const Plugin_error&) {
        throw;
    } catch (...) {
        destroy_all();
        throw;
    }
}

Extension_set::~Extension_set() {
    stop_find_service();
    destroy_all();
}

void Extension_set::start_find_service(const std::string& instance) {
    for (auto& [id, extension] : dids_) {
        extension->start_find_service(instance);
    }
    for (auto& [id, extension] : rids_) {
        extension->start_find_service(instance);
    }
    discovering_ = true;
}

void Extension_set::stop_find_service() {
    if (!discovering_) {
        return;
    }
    for (auto& [id, extension] : dids_) {
        extension->stop_find_service();
    }
    for (auto& [id, extension] : rids_) {
        extension->stop_find_service();
    }
    discovering_ = false;
}

void Extension_set::destroy_all() {
    for (auto& [id, extension] : dids_) {
        plugin_.destroy(extension);
    }
    for (auto& [id, extension] : rids_) {
        plugin_.destroy(extension);
    }
    dids_.clear();
    rids_.clear();
}

}  // namespace dmsim
