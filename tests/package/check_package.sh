#!/usr/bin/env bash
# Installs the build into a staging root with DESTDIR, then builds and runs a consumer against it
# through find_package and through pkg-config.
set -euo pipefail
build=$1 source=$2 work=$3
rm -rf "$work"
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
DESTDIR="$work/root" cmake --install "$build" >/dev/null
stage="$work/root$prefix"
libdir=$(dirname "$(find "$stage" -name romstore.pc)")/..
test -f "$stage/include/romstore/RomMgr.h"
# The pkg-config file names the final prefix; point it at the staging root as a sysroot would.
export PKG_CONFIG_SYSROOT_DIR="$work/root" PKG_CONFIG_PATH="$libdir/pkgconfig"
grep -q "^libdir=$prefix/" "$libdir/pkgconfig/romstore.pc"
export LD_LIBRARY_PATH="$libdir"
cmake -S "$source" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer_cmake"
"$work/consumer/consumer_pkgconfig"
echo "package consumed through find_package and pkg-config"
