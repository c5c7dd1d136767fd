#include "host/extensions.h"

#include <cstdio>

#include "platform/runtime/application.h"

namespace host {
namespace {

void destroy(const Plugin& plugin, Extension_data_identifier* extension) {
    plugin.destroy_did(extension);
}
void destroy(const Plugin& plugin, Extension_routine_control* extension) {
    plugin.destroy_rid(extension);
}

template <class Owned>
Owned connect(Owned extension, const std::string& instance) {
    if (extension) {
        extension->start_find_service(instance);
        platform::runtime::settle();
    }
    return extension;
}

}  // namespace

template <class Extension>
void Extension_deleter<Extension>::operator()(Extension* extension) const {
    extension->stop_find_service();
    destroy(*plugin_, extension);
}

template class Extension_deleter<Extension_data_identifier>;
template class Extension_deleter<Extension_routine_control>;

Did_extension make_did(const Plugin& plugin, std::uint16_t id) {
    return Did_extension(plugin.construct_did(id),
                         Extension_deleter<Extension_data_identifier>(plugin));
}

Rid_extension make_rid(const Plugin& plugin, std::uint16_t id) {
    return Rid_extension(plugin.construct_rid(id),
                         Extension_deleter<Extension_routine_control>(plugin));
}

Did_extension connect_did(const Plugin& plugin, std::uint16_t id, const std::string& instance) {
    return connect(make_did(plugin, id), instance);
}

Rid_extension connect_rid(const Plugin& plugin, std::uint16_t id, const std::string& instance) {
    return connect(make_rid(plugin, id), instance);
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
                plugin_.destroy_did(extension);  // listed twice: one extension serves it
            }
        }
        for (std::uint16_t id : plugin_.rid_list()) {
            Extension_routine_control* extension = plugin_.construct_rid(id);
            if (extension == nullptr) {
                fail("RID", id);
            }
            if (!rids_.emplace(id, extension).second) {
                plugin_.destroy_rid(extension);
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
        plugin_.destroy_did(extension);
    }
    for (auto& [id, extension] : rids_) {
        plugin_.destroy_rid(extension);
    }
    dids_.clear();
    rids_.clear();
}

}  // namespace host
