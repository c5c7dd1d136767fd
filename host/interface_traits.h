#pragma once
// What kind of interface or method a generated type is, read from its members: a data
// identifier has Read; a routine has Start, a full routine also Stop and RequestResults; a
// method with a result has Output.
//
//   static_assert(host::Is_full_routine<r_0318::RoutineService_...>::value);
//   using R = host::Result_of<Interface::Cancel>::type;   // void

#include <cstddef>
#include <type_traits>

namespace host {

namespace detail {

// True when Member<T> names a type.
template <class T, template <class> class Member, class = void>
struct Has : std::false_type {};
template <class T, template <class> class Member>
struct Has<T, Member, std::void_t<Member<T>>> : std::true_type {};

template <class S>
using Read_of = typename S::Read;
template <class S>
using Start_of = typename S::Start;
template <class S>
using Stop_of = typename S::Stop;
template <class M>
using Output_of = typename M::Output;

}  // namespace detail

template <class S>
using Has_read = detail::Has<S, detail::Read_of>;
template <class S>
using Is_routine = detail::Has<S, detail::Start_of>;
template <class S>
using Is_full_routine = detail::Has<S, detail::Stop_of>;
template <class M>
using Has_output = detail::Has<M, detail::Output_of>;

// The method's output record, or void.
template <class M, class = void>
struct Result_of {
    using type = void;
};
template <class M>
struct Result_of<M, std::void_t<typename M::Output>> {
    using type = typename M::Output;
};

// Where method M of interface S finds its own code in a UDSServiceFailed payload: the one
// code of a data identifier or short routine; RequestResults, Start, Stop of a full routine.
template <class S, class M>
constexpr std::size_t error_code_position() {
    if constexpr (!Is_full_routine<S>::value) {
        return 0;
    } else if constexpr (std::is_same_v<M, typename S::RequestResults>) {
        return 0;
    } else if constexpr (std::is_same_v<M, typename S::Start>) {
        return 1;
    } else {
        return 2;
    }
}

}  // namespace host
