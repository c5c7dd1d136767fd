#pragma once
// The plug-in as the diagnostic manager sees it: a shared library loaded with dlopen, its
// six plain functions, and one extension object per identifier that it lists.
//
//   dmsim::Plugin plugin("build/lib/plugin/libdiag_plugin.so");   // throws Plugin_error
//   dmsim::Extension_set extensions(plugin);  extensions.start_find_service("diag");

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/extension.h"
#include "plugin/entry_points.h"

namespace dmsim {

using kem::dm::foundation::extension::Extension_data_identifier;
using kem::dm::foundation::extension::Extension_routine_control;

// The plug-in cannot be loaded or lacks an entry point; what() says which and why.
class Plugin_error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Plugin {
  public:
    // dlopen (RTLD_NOW | RTLD_LOCAL) and dlsym of the six functions.
    explicit Plugin(const std::string& path);
    // The library stays mapped until the process ends: runtime threads may still run its
    // code for late responses, and the runtime's singletons may hold objects it created.
    ~Plugin() = default;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::string& path() const { return path_; }
    // The identifier lists, in the plug-in's order.
    std::vector<std::uint16_t> did_list() const;
    std::vector<std::uint16_t> rid_list() const;

    Extension_data_identifier* construct_did(std::uint16_t id) const;
    Extension_routine_control* construct_rid(std::uint16_t id) const;
    void destroy(Extension_data_identifier* extension) const;
    void destroy(Extension_routine_control* extension) const;

  private:
    std::string path_;
    kem::dm::plugin::Get_info_fn get_did_info_ = nullptr;
    kem::dm::plugin::Get_info_fn get_rid_info_ = nullptr;
    kem::dm::plugin::Construct_did_fn construct_did_ = nullptr;
    kem::dm::plugin::Construct_rid_fn construct_rid_ = nullptr;
    kem::dm::plugin::Destroy_did_fn destroy_did_ = nullptr;
    kem::dm::plugin::Destroy_rid_fn destroy_rid_ = nullptr;
};

// One extension for every identifier that the plug-in lists, constructed at once.
// Lifecycle: construct -> start_find_service -> requests -> stop_find_service -> destroy.
class Extension_set {
  public:
    // Throws Plugin_error when the plug-in returns null for an identifier it lists (the
    // ones constructed so far are destroyed again).
    explicit Extension_set(const Plugin& plugin);
    // stop_find_service on every extension, then destroys them all.
    ~Extension_set();
    Extension_set(const Extension_set&) = delete;
    Extension_set& operator=(const Extension_set&) = delete;

    void start_find_service(const std::string& instance);
    void stop_find_service();

    const std::map<std::uint16_t, Extension_data_identifier*>& dids() const { return dids_; }
    const std::map<std::uint16_t, Extension_routine_control*>& rids() const { return rids_; }

  private:
    void destroy_all();

    const Plugin& plugin_;
    std::map<std::uint16_t, Extension_data_identifier*> dids_;
    std::map<std::uint16_t, Extension_routine_control*> rids_;
    bool discovering_ = false;
};

}  // namespace dmsim
