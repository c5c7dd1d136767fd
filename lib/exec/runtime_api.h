#pragma once
// Marks declarations whose definitions live in the communication runtime library.
//
// The plug-in is compiled with hidden visibility; a class or function that the runtime
// defines must keep default visibility on our side too, or the dynamic linker cannot
// bind our references to the runtime's definitions.
#define ZUN_RUNTIME_API __attribute__((visibility("default")))
