#pragma once
// Extensions of a loaded plug-in held the way the diagnostic manager holds them: constructed
// through the factory, discovery started, and at the end stop_find_service, then the
// plug-in's destroy function.
//
//   host::Did_extension did = host::connect_did(plugin, 0x0102);  // discovery has settled
//   did->read(meta, response);                                    // shut down when it goes
//
//   host::Extension_set all(plugin);  all.start_find_service("diag");  // every identifier

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "host/plugin.h"

namespace host {

// The instance under which the simulated applications offer and the extensions search
// unless told otherwise.
inline const char* const default_instance = "diag";

// The manager's shut-down of one extension: stop_find_service, then destroy.
template <class Extension>
class Extension_deleter {
  public:
    Extension_deleter() = default;
    explicit Extension_deleter(const Plugin& plugin) : plugin_(&plugin) {}
    void operator()(Extension* extension) const;

  private:
    const Plugin* plugin_ = nullptr;
};

using Did_extension =
    std::unique_ptr<Extension_data_identifier, Extension_deleter<Extension_data_identifier>>;
using Rid_extension =
    std::unique_ptr<Extension_routine_control, Extension_deleter<Extension_routine_control>>;

// A freshly constructed extension, no discovery running; null when the factory refuses `id`.
Did_extension make_did(const Plugin& plugin, std::uint16_t id);
Rid_extension make_rid(const Plugin& plugin, std::uint16_t id);

// As make_*, then start_find_service(instance) and a wait until the runtime has delivered
// every discovery report so far. Null when the factory refuses `id`. Not on a runtime thread.
Did_extension connect_did(const Plugin& plugin, std::uint16_t id,
                          const std::string& instance = default_instance);
Rid_extension connect_rid(const Plugin& plugin, std::uint16_t id,
                          const std::string& instance = default_instance);

// One extension for every identifier that the plug-in lists, constructed at once.
// Lifecycle: construct -> start_find_service -> requests -> stop_find_service -> destroy;
// the set stops every extension before it destroys the first.
class Extension_set {
  public:
    // Throws Plugin_error when the plug-in returns null for an identifier it lists (the
    // ones constructed so far are destroyed again). An identifier listed twice gets one
    // extension. `plugin` must outlive the set.
    explicit Extension_set(const Plugin& plugin);
    // stop_find_service on every extension, then destroys them all.
    ~Extension_set();
    Extension_set(const Extension_set&) = delete;
    Extension_set& operator=(const Extension_set&) = delete;

    void start_find_service(const std::string& instance);
    // Does nothing unless discovery runs.
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

}  // namespace host
