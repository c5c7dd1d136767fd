#pragma once
// Loads the built plug-in the way the diagnostic manager does: dlopen, the six plain
// functions through dlsym, and nothing else of the library.
//
//   auto did = connect_did(0x0102);   // constructed, discovery started and settled
//   did->read(meta, response);        // stop_find_service and destroy when it goes

#include <cstdint>
#include <memory>
#include <string>

#include "plugin/entry_points.h"

namespace support {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

class Plugin_host {
  public:
    // The manager's shut-down of one extension: stop_find_service, then destroy.
    template <class Extension>
    struct Deleter {
        void (*destroy)(Extension*);
        void operator()(Extension* extension) const {
            extension->stop_find_service();
            destroy(extension);
        }
    };
    using Did_extension =
        std::unique_ptr<Extension_data_identifier, Deleter<Extension_data_identifier>>;
    using Rid_extension =
        std::unique_ptr<Extension_routine_control, Deleter<Extension_routine_control>>;

    // The process-wide host: loads the plug-in on first use (std::runtime_error when it
    // cannot be loaded or lacks one of the six functions).
    static Plugin_host& get();
    // Unloads the plug-in. Every extension must be gone and the runtime settled.
    static void unload();
    ~Plugin_host();

    void* library() const { return library_; }
    // Null when the factory refuses the identifier.
    Did_extension make_did(std::uint16_t id) const { return {construct_did(id), {destroy_did}}; }
    Rid_extension make_rid(std::uint16_t id) const { return {construct_rid(id), {destroy_rid}}; }

    kem::dm::plugin::Get_info_fn get_did_info = nullptr;
    kem::dm::plugin::Get_info_fn get_rid_info = nullptr;
    kem::dm::plugin::Construct_did_fn construct_did = nullptr;
    kem::dm::plugin::Construct_rid_fn construct_rid = nullptr;
    kem::dm::plugin::Destroy_did_fn destroy_did = nullptr;
    kem::dm::plugin::Destroy_rid_fn destroy_rid = nullptr;

  private:
    Plugin_host();
    void* library_;
};

// Constructs the extension for `id`, starts its discovery under `instance` and waits until
// the runtime has delivered every report so far. Null when the factory refuses `id`.
Plugin_host::Did_extension connect_did(std::uint16_t id, const std::string& instance = "diag");
Plugin_host::Rid_extension connect_rid(std::uint16_t id, const std::string& instance = "diag");

}  // namespace support
