#include "host/built_plugin.h"

namespace host {

const Plugin& built_plugin() {
    static const Plugin plugin(DIAG_PLUGIN_PATH);
    return plugin;
}

}  // namespace host
