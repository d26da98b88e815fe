# The big-endian 32-bit PowerPC build; its programs run under qemu-user (qemu-ppc).
# The compiler is clang with Debian's PowerPC cross libraries (libc, libstdc++, binutils):
# Debian's GCC cross compiler conflicts with gcc-multilib, which the 32-bit x86 checks of
# the main build need, so the two cannot be installed on one machine. Debian has no
# PowerPC packages of libplist or Qt, so this build goes without them (see
# TOOLBOX_WITH_PLIST) and builds GoogleTest from Debian's googletest sources.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET powerpc-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET powerpc-linux-gnu)
# The start files are those of the cross libc, not the i386 ones clang would find first.
set(tessera_ppc_flags "-msecure-plt -B/usr/powerpc-linux-gnu/lib")
set(CMAKE_C_FLAGS_INIT "${tessera_ppc_flags}")
set(CMAKE_CXX_FLAGS_INIT "${tessera_ppc_flags}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-L/usr/powerpc-linux-gnu/lib")
endforeach()
set(CMAKE_FIND_ROOT_PATH /usr/powerpc-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/powerpc-linux-gnu/lib/pkgconfig")

find_program(TESSERA_QEMU_PPC qemu-ppc REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSERA_QEMU_PPC} -L /usr/powerpc-linux-gnu)

set(TOOLBOX_WITH_PLIST OFF CACHE BOOL "")
set(TESSERA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "")
