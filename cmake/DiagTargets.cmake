# Helpers shared by every CMakeLists of the project.

# Strict warnings on our own code (never on third-party headers).
# Every target of the project is compiled with -Wall -Wextra; warnings are errors only with
# DIAG_WERROR (the project's presets and CI), not for packagers and users with their own
# compilers and flags.
function(diag_strict target)
    if(DIAG_WERROR)
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra)
    endif()
endfunction()

# Label for tests that exercise threads: they also run under ThreadSanitizer.
set(DIAG_CONCURRENCY_LABEL concurrency)

# diag_add_test(NAME <exe> SOURCES <files...> LIBS <targets...> [CONCURRENCY] [LOCK <name>])
# One GoogleTest executable; its cases are registered with CTest one by one. Cases that share
# a LOCK (fixed loopback ports, say) never run at the same time.
function(diag_add_test)
    cmake_parse_arguments(T "CONCURRENCY" "NAME;LOCK" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gmock_main Threads::Threads)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    diag_strict(${T_NAME})
    # One label per test: gtest_discover_tests splits a label list into separate
    # properties, so a second label would be lost.
    set(label ${T_NAME})
    if(T_CONCURRENCY)
        set(label ${DIAG_CONCURRENCY_LABEL})
        add_dependencies(concurrency_tests ${T_NAME})
    endif()
    set(lock)
    if(T_LOCK)
        set(lock RESOURCE_LOCK ${T_LOCK})
    endif()
    include(GoogleTest)
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${label} TIMEOUT 300 ${lock})
endfunction()

# diag_find_part(<option> <package>): for an ON/OFF/AUTO option, finds the package the part
# needs (required when ON) and leaves the option ON or OFF in this scope.
macro(diag_find_part option package)
    if("${${option}}" STREQUAL "AUTO")
        find_package(${package} QUIET)
        if(${package}_FOUND)
            set(${option} ON)
        else()
            message(STATUS "${package} not found: ${option} is OFF (set it ON to require it)")
            set(${option} OFF)
        endif()
    elseif(${option})
        find_package(${package} REQUIRED)
    endif()
endmacro()

# diag_link_no_undefined(<target>): the shared library's link fails on a symbol that none of
# the libraries it links defines. clang puts the sanitizer runtimes into executables only
# (unlike GCC, which links its shared runtimes into every library), so a clang sanitizer
# build leaves __asan_* and __ubsan_* to the program that loads the library and skips the
# check; the plug-in's imports test still holds its undefined symbols to a fixed list.
function(diag_link_no_undefined target)
    set(flags "${CMAKE_CXX_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS}")
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND flags MATCHES "-fsanitize="
       AND NOT flags MATCHES "-shared-libsan")
        return()
    endif()
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()
