#pragma once
// Runs a user callout whose exceptions must not be survived: on any exception the
// hook reports it and the process terminates.
//
//   kem::com::apply_callout_with_on_exception(handler, report_fatal, std::move(handles));

#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

namespace kem::com {

// Calls callout with the arguments moved in and returns its result. An exception
// (an empty std::function callout included) calls on_exception, then std::terminate.
template <typename Callout, typename... Args>
std::invoke_result_t<const Callout&, Args&&...> apply_callout_with_on_exception(
    const Callout& callout, const std::function<void()>& on_exception, Args... args) {
    try {
        return std::invoke(callout, std::move(args)...);
    } catch (...) {
        if (on_exception) {
            try {
                on_exception();
            } catch (...) {
            }
        }
        std::terminate();
    }
}

}  // namespace kem::com
