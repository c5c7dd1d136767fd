#pragma once
// Loads the built plug-in the way the diagnostic manager does: dlopen, then the six plain
// functions through dlsym, and nothing else of the library.
//
//   auto did = Plugin_host::get().make_did(0x0102);   // destroyed through destroy_extension_did
//   did->start_find_service("diag");

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/extension.h"

namespace integration {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

class Plugin_host {
  public:
    using Get_info = const std::uint16_t* (*)(std::uint16_t*);
    using Construct_did = Extension_data_identifier* (*)(std::uint16_t);
    using Construct_rid = Extension_routine_control* (*)(std::uint16_t);
    using Destroy_did = void (*)(Extension_data_identifier*);
    using Destroy_rid = void (*)(Extension_routine_control*);

    // The manager's shut-down of one extension: stop_find_service, then destroy.
    struct Did_deleter {
        Destroy_did destroy;
        void operator()(Extension_data_identifier* e) const {
            e->stop_find_service();
            destroy(e);
        }
    };
    struct Rid_deleter {
        Destroy_rid destroy;
        void operator()(Extension_routine_control* e) const {
            e->stop_find_service();
            destroy(e);
        }
    };
    using Did_extension = std::unique_ptr<Extension_data_identifier, Did_deleter>;
    using Rid_extension = std::unique_ptr<Extension_routine_control, Rid_deleter>;

    // The process-wide host: loads the plug-in on first use (std::runtime_error with the
    // loader's message when it cannot be loaded or lacks one of the six functions).
    static Plugin_host& get();
    // Unloads the plug-in. Every extension must have been destroyed and the runtime settled.
    static void unload();

    std::vector<std::uint16_t> did_table() const;
    std::vector<std::uint16_t> rid_table() const;
    // Null when the factory refuses the identifier.
    Did_extension make_did(std::uint16_t id) const;
    Rid_extension make_rid(std::uint16_t id) const;

    Get_info get_did_info = nullptr;
    Get_info get_rid_info = nullptr;
    Construct_did construct_extension_did = nullptr;
    Construct_rid construct_extension_rid = nullptr;
    Destroy_did destroy_extension_did = nullptr;
    Destroy_rid destroy_extension_rid = nullptr;

    ~Plugin_host();
    Plugin_host(const Plugin_host&) = delete;
    Plugin_host& operator=(const Plugin_host&) = delete;

  private:
    explicit Plugin_host(const std::string& path);
    void* library_ = nullptr;
};

// Constructs the extension for `id`, starts its discovery under `instance` and waits until
// the runtime has delivered every report so far (the extension holds a proxy when the
// service is offered). Null when the factory refuses `id`.
Plugin_host::Did_extension connect_did(std::uint16_t id, const std::string& instance = "diag");
Plugin_host::Rid_extension connect_rid(std::uint16_t id, const std::string& instance = "diag");

}  // namespace integration
