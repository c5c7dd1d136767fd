#pragma once
// What the UDS framing tells whoever watches a request while extension operations run: a
// request starts, an operation with its cancel is about to run, the operation returned.
// Implemented by the ECU's response-pending clock, which also serves --cancel-after.

#include <functional>

namespace dmsim {

class Operation_watch {
  public:
    virtual ~Operation_watch() = default;
    // A new request starts: its clock starts now.
    virtual void begin_request() = 0;
    // The calling thread is about to run one extension operation; `cancel` cancels it.
    virtual void watch(std::function<bool()> cancel) = 0;
    // The operation returned; true when a cancel ran and was accepted meanwhile.
    virtual bool unwatch() = 0;
};

}  // namespace dmsim
