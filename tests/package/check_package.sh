#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# Installs the build into a staging root with DESTDIR, then builds a consumer in C++ and one in C
# against it as a firmware build does, through find_package and through pkg-config with the staging
# root as its sysroot, and runs all four. Nothing of the stage is on the loader's path while they link:
# the link must find every library through the package alone; pkg-config and the library tell its version.
set -euo pipefail
build=$1 version=$2 source=$3 work=$4 cc=$5
rm -rf "$work"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
cxx=$(cache CMAKE_CXX_COMPILER)
DESTDIR="$work/root" cmake --install "$build" >/dev/null
stage="$work/root$prefix"
libdir=$(dirname "$(dirname "$(find "$stage" -name romstore.pc)")")
test -f "$stage/include/romstore/RomMgr.h"
test -f "$stage/include/romstore/romstore.h"
test -f "$stage/share/doc/romstore/LICENSE"
test -f "$stage/lib/udev/rules.d/60-romstore.rules"
for page in man1/romsim.1 man3/romstore.3 man8/romctl.8; do test -f "$stage/share/man/$page"; done
# The pkg-config file names the final prefix; the sysroot points it at the staging root.
grep -q "^libdir=$prefix/" "$libdir/pkgconfig/romstore.pc"

cmake -S "$source" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$stage" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_COMPILER="$cc" >/dev/null
cmake --build "$work/consumer" >/dev/null

# The recipe of docs/building.md for a staged sysroot: libromstore.so needs libnq.so, which the linker finds
# through -rpath-link.
PKG_CONFIG_SYSROOT_DIR="$work/root" PKG_CONFIG_LIBDIR="$libdir/pkgconfig" \
  pkg-config --cflags --libs romstore > "$work/pkgconfig.flags"
test "$(PKG_CONFIG_LIBDIR="$libdir/pkgconfig" pkg-config --modversion romstore)" = "$version"
# shellcheck disable=SC2046
"$cxx" -std=c++17 "$source/consumer.cpp" $(cat "$work/pkgconfig.flags") -Wl,-rpath-link,"$libdir" \
  -o "$work/consumer/consumer_pkgconfig"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror "$source/consumer.c" $(cat "$work/pkgconfig.flags") \
  -Wl,-rpath-link,"$libdir" -o "$work/consumer/consumer_c_pkgconfig"

# On a target the libraries lie in the loader's own directories; here the stage stands in for them.
LD_LIBRARY_PATH="$libdir" "$work/consumer/consumer_cmake"
LD_LIBRARY_PATH="$libdir" "$work/consumer/consumer_pkgconfig"
test "$(LD_LIBRARY_PATH="$libdir" "$work/consumer/consumer_c_cmake")" = "$version"
test "$(LD_LIBRARY_PATH="$libdir" "$work/consumer/consumer_c_pkgconfig")" = "$version"
echo "package consumed from C++ and C through find_package and pkg-config"
