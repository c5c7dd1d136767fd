#pragma once
// The cancel operation shared by every extension: sends the interface's Cancel method,
// keeps its Future and raises the cancel flag that a waiting request polls.
//
//   bool cancel(const MetaInfo& meta) override {
//       return send_cancel(*this, cancel_requested, pending_cancel, meta); }
//
// Runs on a manager thread, possibly while a request waits on another one: the flag is
// raised only after pending_cancel has been stored, and it is the only thing both share.
// Two cancels at once on one extension are not supported.

#include <atomic>
#include <memory>
#include <utility>

#include "exec/future.h"
#include "foundation/extension_service_callback.h"
#include "foundation/types.h"

namespace kem::dm::foundation::extension {

// False, and nothing sent or raised, without a proxy. Otherwise calls Cancel with `meta`,
// stores its Future in pending_cancel (releasing the previous one), raises the flag and
// answers true; a failing call is ignored, pending_cancel then stays as it was.
template <class Proxy>
bool send_cancel(const Extension_service_callback<Proxy>& service,
                 std::atomic<bool>& cancel_requested,
                 std::unique_ptr<zun::com::Future<void>>& pending_cancel,
                 const types::MetaInfo& meta) {
    const std::shared_ptr<Proxy> proxy = service.current_proxy();
    if (!proxy) {
        return false;
    }
    try {
        auto sent = std::make_unique<zun::com::Future<void>>(proxy->Cancel(meta));
        pending_cancel = std::move(sent);
    } catch (...) {
    }
    cancel_requested.store(true);
    return true;
}

}  // namespace kem::dm::foundation::extension
