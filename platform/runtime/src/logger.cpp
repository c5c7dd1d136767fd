// The process-wide front-end logger: a Dlt target over the "ACOM" context of the
// platform log, which follows the platform's process-wide level threshold.

#include "binding/runtime/runtime.h"
#include "log/dlt.h"
#include "log/generic_logger.h"

namespace ara::com {

kem::com::log::Generic_logger& logger() {
    // Never destroyed: runtime threads may still raise incidents while the process exits.
    static kem::com::log::Generic_logger* const instance = [] {
        auto& context = ::ara::log::CreateLogger("ACOM", "ara::com communication incidents");
        auto* target = new kem::com::log::target::Dlt(context);
        return new kem::com::log::Generic_logger("ara::com", *target);
    }();
    return *instance;
}

}  // namespace ara::com
