#pragma once

namespace zun::com {

// Root of the runtime's polymorphic interfaces: a virtual destructor and nothing else.
class Interface {
public:
    Interface() = default;
    Interface(const Interface&) = default;
    Interface& operator=(const Interface&) = default;
    virtual ~Interface() = default;
};

}  // namespace zun::com
