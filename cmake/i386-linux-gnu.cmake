# The 32-bit x86 build on an x86-64 Debian machine: the multilib compiler with -m32, and
# the libraries (libplist, GoogleTest) from Debian's i386 multiarch packages. Its programs
# run natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Floating point in SSE2 registers, as the x86 build always had it: the x87 unit's 80-bit
# intermediates round fractions differently (a region edge cut toward zero moves a pixel).
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# pkg-config must describe the i386 libraries, not the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# Some x86-64 kernels are built without 32-bit program support; there the programs run
# under qemu-i386 instead. The i386 dynamic loader itself tells which case this is;
# TESSERA_I386_EMULATOR=ON runs them under qemu-i386 anyway (how the emulated case is tested
# on a machine that runs them natively).
set(TESSERA_I386_EMULATOR OFF CACHE BOOL "Run the i386 programs under qemu-i386 even where the kernel runs them")
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE tessera_i386_runs
                OUTPUT_QUIET ERROR_QUIET)
if(TESSERA_I386_EMULATOR OR NOT tessera_i386_runs EQUAL 0)
  find_program(TESSERA_QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSERA_QEMU_I386})
endif()
