#pragma once
// A compile-time list of types, as the generated services/all_interfaces.h uses it to name
// every service interface at once.
//
//   template <class... Ts> void for_each(Type_list<Ts...>) { (visit_one<Ts>(), ...); }
//   for_each(All_interfaces{});

#include <cstddef>

namespace orlak::services::diag {

template <class... Ts>
struct Type_list {
    static constexpr std::size_t size = sizeof...(Ts);
};

}  // namespace orlak::services::diag
