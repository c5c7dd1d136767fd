#include "host/record_writer.h"

namespace host {

void append_length(Bytes& out, std::size_t length) {
    kem::com::someip::serialization::serialize_length_field_dispatch(
        4, length, out, kem::com::someip::serialization::Serialization_properties{});
}

Bytes someip_meta(const Meta& meta) {
    Bytes out;
    append_member(out, meta);
    return out;
}

}  // namespace host
