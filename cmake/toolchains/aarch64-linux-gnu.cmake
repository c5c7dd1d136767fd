# Cross build for AArch64 Linux with Debian's cross compiler (crossbuild-essential-arm64).
# Libraries come from Debian's arm64 packages in the multiarch folders
# (/usr/lib/aarch64-linux-gnu: libgtest-dev:arm64, libgmock-dev:arm64); header-only
# packages (nlohmann-json, CLI11) are architecture-independent and found as on the host.
# Programs built here run under qemu-user, so CTest and test discovery can run them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(DIAG_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${DIAG_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${DIAG_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${DIAG_CROSS_TRIPLE})

# qemu takes the AArch64 loader from the cross toolchain's root (-L), and the C and C++
# runtime from the same root: the loader would otherwise take them from the arm64 multiarch
# folders (libc6:arm64, installed for the package's shlibs), and a loader and libc of two
# different builds hang the first pthread_create.
find_program(DIAG_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DIAG_QEMU_AARCH64} -L /usr/${DIAG_CROSS_TRIPLE}
    -E LD_LIBRARY_PATH=/usr/${DIAG_CROSS_TRIPLE}/lib)

# Tools (the generator's Python, help2man) are host programs; libraries, headers and
# package configurations are searched in the multiarch folders of the target only.
set(CMAKE_FIND_ROOT_PATH /usr/${DIAG_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config looks at the target's package configurations only, so that a host library
# (libdlt-dev for amd64) is never taken for the target's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${DIAG_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
