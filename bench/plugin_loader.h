#pragma once
// The plug-in loaded the way the diagnostic manager loads it: dlopen, then the six plain
// functions through dlsym, and nothing else of the library.
//
//   bench::Plugin_loader& plugin = bench::Plugin_loader::get();
//   auto* did = plugin.construct_extension_did(0x0102);  // later plugin.destroy_extension_did(did)

#include <cstdint>

#include "foundation/extension.h"

namespace bench {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

class Plugin_loader {
  public:
    // Loads the built plug-in on first use; std::runtime_error with the loader's message
    // when it cannot be loaded or lacks one of the six functions. Stays loaded until exit.
    static Plugin_loader& get();

    Plugin_loader(const Plugin_loader&) = delete;
    Plugin_loader& operator=(const Plugin_loader&) = delete;

    const std::uint16_t* (*get_did_info)(std::uint16_t*) = nullptr;
    const std::uint16_t* (*get_rid_info)(std::uint16_t*) = nullptr;
    Extension_data_identifier* (*construct_extension_did)(std::uint16_t) = nullptr;
    Extension_routine_control* (*construct_extension_rid)(std::uint16_t) = nullptr;
    void (*destroy_extension_did)(Extension_data_identifier*) = nullptr;
    void (*destroy_extension_rid)(Extension_routine_control*) = nullptr;

  private:
    Plugin_loader();
};

}  // namespace bench
