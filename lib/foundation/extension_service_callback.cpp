#include "foundation/extension_service_callback.h"

namespace kem::dm::foundation::extension::detail {

void start_discovery(const std::string& instance, Report_handler handler, Start_find_service start,
                     std::unique_ptr<Find_service_handle>& find_handle) {
    std::string specifier(instance);
    try {
        auto started =
            std::make_unique<Find_service_handle>(start(std::move(handler), std::move(specifier)));
        find_handle = std::move(started);
    } catch (...) {
    }
}

void stop_discovery(const std::unique_ptr<Find_service_handle>& find_handle,
                    Stop_find_service stop) noexcept {
    if (!find_handle) {
        return;
    }
    try {
        stop(*find_handle);
    } catch (...) {
    }
}

}  // namespace kem::dm::foundation::extension::detail
