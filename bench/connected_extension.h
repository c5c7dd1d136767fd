#pragma once
// An extension of the loaded plug-in whose service discovery has run: the manager's
// start-up of one identifier, and on destruction its shut-down (stop_find_service, then
// the plug-in's destroy function).
//
//   bench::Connected_did did(0x0102);   // the service must be offered already
//   did->read(meta, response);

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "bench/answering_service.h"
#include "bench/plugin_loader.h"
#include "platform/runtime/application.h"

namespace bench {

template <class Extension>
class Connected {
    static constexpr bool is_did = std::is_same_v<Extension, Extension_data_identifier>;

  public:
    // Throws std::runtime_error when the factory refuses `id`.
    explicit Connected(std::uint16_t id) {
        Plugin_loader& plugin = Plugin_loader::get();
        if constexpr (is_did) {
            extension_ = plugin.construct_extension_did(id);
        } else {
            extension_ = plugin.construct_extension_rid(id);
        }
        if (extension_ == nullptr) {
            throw std::runtime_error("the plug-in refuses identifier " + std::to_string(id));
        }
        extension_->start_find_service(bench_instance);
        platform::runtime::settle();
    }
    ~Connected() {
        extension_->stop_find_service();
        if constexpr (is_did) {
            Plugin_loader::get().destroy_extension_did(extension_);
        } else {
            Plugin_loader::get().destroy_extension_rid(extension_);
        }
    }
    Connected(const Connected&) = delete;
    Connected& operator=(const Connected&) = delete;

    Extension* operator->() const noexcept { return extension_; }
    Extension& operator*() const noexcept { return *extension_; }

  private:
    Extension* extension_ = nullptr;
};

using Connected_did = Connected<Extension_data_identifier>;
using Connected_rid = Connected<Extension_routine_control>;

}  // namespace bench
