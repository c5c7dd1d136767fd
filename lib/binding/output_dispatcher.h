#pragma once
// Reads a method's output record from a response payload, member by member in
// declaration order, through the record's generated `visit`.
//
//   Deserializer in(payload);
//   Method_output_deserialization_dispatcher<Read::Output, false>::deserialize(in, output);

#include "someip/deserializer.h"

namespace kem::com::cpp_binding::proxy {

template <class Output, bool Tagged>
struct Method_output_deserialization_dispatcher;

// Untagged records: members follow each other without gaps; bytes after the last member
// are ignored. On failure the members read so far keep their values.
template <class Output>
struct Method_output_deserialization_dispatcher<Output, false> {
    static void deserialize(someip::serialization::Deserializer& in, Output& output) {
        auto read_member = [&in](auto& member) { in.deserialize(member); };
        output.visit(read_member);
    }
};

}  // namespace kem::com::cpp_binding::proxy
