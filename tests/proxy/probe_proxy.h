#pragma once
// A proxy class written the way the generator writes them, over the probe interface of
// the binding tests.

#include "binding/probe_interfaces.h"
#include "proxy/method.h"
#include "proxy/proxy.h"

namespace probe::d_0001::proxy {

class DataIdentifier_ProbeProxy
    : public ara::com::internal::proxy::Proxy<probe::d_0001::DataIdentifier_Probe> {
  public:
    explicit DataIdentifier_ProbeProxy(Handle_type& handle)
        : Proxy(handle), Cancel(port()), Read(port()) {}

    ara::com::internal::proxy::Method<DataIdentifier_Probe::Cancel,
                                      DataIdentifier_Probe::Cancel::Signature>
        Cancel;
    ara::com::internal::proxy::Method<DataIdentifier_Probe::Read,
                                      DataIdentifier_Probe::Read::Signature>
        Read;
};

}  // namespace probe::d_0001::proxy
