# Cross-compiling for Windows x64 with mingw-w64 (Debian's g++-mingw-w64-x86-64).
#
#   cmake --preset windows
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64-x86_64.cmake
#
# The C and C++ runtimes (libgcc, libstdc++, winpthread) are linked statically,
# so the .exe and .dll files import only DLLs that ship with Windows.
#
# Debian installs two flavours of the compilers: "-win32" (the default) and
# "-posix". The GCC 12 win32 flavour has no std::thread, std::mutex or
# std::condition_variable, so the posix flavour is taken where it is present.
# Set MINGW_THREAD_MODEL=win32 to force the other one.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(MINGW_THREAD_MODEL "posix" CACHE STRING "Thread model of the mingw-w64 compilers (posix or win32)")
# Try-compile projects see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_THREAD_MODEL)

find_program(MINGW_CC NAMES ${MINGW_TRIPLET}-gcc-${MINGW_THREAD_MODEL} ${MINGW_TRIPLET}-gcc)
find_program(MINGW_CXX NAMES ${MINGW_TRIPLET}-g++-${MINGW_THREAD_MODEL} ${MINGW_TRIPLET}-g++)
if(NOT MINGW_CC OR NOT MINGW_CXX)
  message(FATAL_ERROR "mingw-w64 compilers not found; install g++-mingw-w64-x86-64")
endif()

set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLET}-windres)
find_program(CMAKE_AR NAMES ${MINGW_TRIPLET}-ar)
find_program(CMAKE_RANLIB NAMES ${MINGW_TRIPLET}-ranlib)

# Look for libraries, headers and CMake packages only in the target's sysroot
# and in the prefixes given to the build (CMAKE_PREFIX_PATH, e.g. the jsoncpp
# built by scripts/build-jsoncpp-windows.sh), never in the host's /usr: the
# native libjsoncpp-dev also installs a jsoncpp CMake package. Programs come
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The same for pkg-config: the host's .pc files describe Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Static runtimes: -static makes the linker prefer static archives for
# everything, winpthread included; the other two cover libgcc and libstdc++.
set(_mingw_static_link "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_mingw_static_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_mingw_static_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_mingw_static_link}")
unset(_mingw_static_link)

# Run the cross-built programs (try_run, add_test, custom commands) with Wine.
find_program(MINGW_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT MINGW_WINE)
  find_program(MINGW_WINE NAMES wine64 wine)
endif()
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()
