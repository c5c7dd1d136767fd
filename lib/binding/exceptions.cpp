#include "binding/exceptions.h"

namespace kem::com::cpp_binding {

std::string to_string(const std::exception_ptr& error) {
    if (!error) {
        return "Exception: no exception";
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        const char* text = e.what();
        return std::string("Exception: ") + (text != nullptr ? text : "what() returned null ptr");
    }
}

}  // namespace kem::com::cpp_binding
