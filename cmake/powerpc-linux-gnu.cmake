# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# Cross-compiling for the target, 32-bit big-endian PowerPC Linux, with a GCC cross toolchain whose
# programs are named powerpc-linux-gnu-* and are on PATH (Debian: g++-powerpc-linux-gnu):
#
#   cmake -S . -B build-powerpc -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake
#
# Headers, libraries and CMake packages come from the target's root only: CMAKE_SYSROOT when it is
# given, otherwise the toolchain's own target directory, <prefix>/powerpc-linux-gnu beside the
# compiler's <prefix>/bin, where Debian's cross packages put the target's libc and libstdc++.
# Programs built for the target run under qemu-user when it is installed, so that test discovery and
# ctest work as they do natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

if(CMAKE_SYSROOT)
  set(POWERPC_TARGET_ROOT ${CMAKE_SYSROOT})
else()
  find_program(POWERPC_CXX_COMPILER powerpc-linux-gnu-g++ REQUIRED)
  get_filename_component(POWERPC_TOOLCHAIN_BIN ${POWERPC_CXX_COMPILER} DIRECTORY)
  get_filename_component(POWERPC_TARGET_ROOT ${POWERPC_TOOLCHAIN_BIN}/../powerpc-linux-gnu ABSOLUTE)
  list(APPEND CMAKE_FIND_ROOT_PATH ${POWERPC_TARGET_ROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(POWERPC_QEMU NAMES qemu-ppc-static qemu-ppc)
  if(POWERPC_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${POWERPC_QEMU} -L ${POWERPC_TARGET_ROOT})
  endif()
endif()
