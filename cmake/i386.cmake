# Cross build for 32-bit x86 with Debian's multiarch libraries (the :i386 -dev packages):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake -DTARQLE_I386_BASELINE=i686-sse2|i686 ...
# i686-sse2: SSE2 maths, a Pentium 4 or later. i686: no SSE at all, x87 floating point and
# MMX, a Pentium II. The programs the build runs itself go through the user-mode emulator,
# as this machine's kernel may not execute 32-bit programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(TARQLE_I386_BASELINE i686-sse2 CACHE STRING "The 32-bit CPU the build is for: i686-sse2 or i686")
set_property(CACHE TARQLE_I386_BASELINE PROPERTY STRINGS i686-sse2 i686)
if(TARQLE_I386_BASELINE STREQUAL "i686-sse2")
  set(tarqle_cpu_flags "-m32 -march=pentium4 -mtune=generic -mfpmath=sse")
elseif(TARQLE_I386_BASELINE STREQUAL "i686")
  set(tarqle_cpu_flags "-m32 -march=pentium2 -mtune=generic -mfpmath=387")
else()
  message(FATAL_ERROR "TARQLE_I386_BASELINE must be i686-sse2 or i686, not '${TARQLE_I386_BASELINE}'")
endif()
set(CMAKE_C_FLAGS_INIT "${tarqle_cpu_flags}")
set(CMAKE_CXX_FLAGS_INIT "${tarqle_cpu_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")

# Libraries and headers of the target architecture only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -L /)
