#pragma once
// The plug-in as the diagnostic manager loads it: a shared library opened with dlopen and its
// six plain functions resolved with dlsym; nothing else of the library is used.
//
//   const host::Plugin plugin("build/default/lib/plugin/libdiag_plugin.so");  // Plugin_error
//   auto* did = plugin.construct_did(0x0102);  ...  plugin.destroy_did(did);
//
// Unload policy: a plug-in, once loaded, stays mapped until the process ends; nothing here
// calls dlclose on a plug-in that loaded. dlclose would unmap it, while runtime threads may
// still run its code (late responses, discovery reports) and the runtime's singletons may
// still hold objects it created. Only a library that fails to load completely (an entry
// point is missing) is closed again, before any of it ran.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/entry_points.h"

namespace host {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

// The plug-in cannot be loaded or lacks an entry point; what() says which and why.
class Plugin_error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Threads: every member may be called from any thread; the entry points are thread-safe.
class Plugin {
  public:
    // dlopen (RTLD_NOW | RTLD_LOCAL) and dlsym of the six functions.
    explicit Plugin(const std::string& path);
    // Leaves the library loaded (see the unload policy above).
    ~Plugin() = default;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::string& path() const { return path_; }
    // The dlopen handle.
    void* library() const { return library_; }

    // The entry points themselves.
    const std::uint16_t* get_did_info(std::uint16_t* count) const { return get_did_info_(count); }
    const std::uint16_t* get_rid_info(std::uint16_t* count) const { return get_rid_info_(count); }
    // Null when the factory refuses `id`.
    Extension_data_identifier* construct_did(std::uint16_t id) const { return construct_did_(id); }
    Extension_routine_control* construct_rid(std::uint16_t id) const { return construct_rid_(id); }
    void destroy_did(Extension_data_identifier* extension) const { destroy_did_(extension); }
    void destroy_rid(Extension_routine_control* extension) const { destroy_rid_(extension); }

    // The identifier tables, in the plug-in's order.
    std::vector<std::uint16_t> did_list() const;
    std::vector<std::uint16_t> rid_list() const;

  private:
    std::string path_;
    void* library_ = nullptr;
    kem::dm::plugin::Get_info_fn get_did_info_ = nullptr;
    kem::dm::plugin::Get_info_fn get_rid_info_ = nullptr;
    kem::dm::plugin::Construct_did_fn construct_did_ = nullptr;
    kem::dm::plugin::Construct_rid_fn construct_rid_ = nullptr;
    kem::dm::plugin::Destroy_did_fn destroy_did_ = nullptr;
    kem::dm::plugin::Destroy_rid_fn destroy_rid_ = nullptr;
};

}  // namespace host
