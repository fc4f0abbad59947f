#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# Boots Debian 12's own Linux kernel under qemu (software emulation, no KVM) and runs the store on the
# kernel's MTD stack: mtdram cut into the two nodes of the device table, vm/VmStoreTest.cpp on them,
# and mtd_debug comparing the nodes' bytes (vm/init). Downloads and builds are kept in ROMSTORE_VM_DIR
# (default build-vm) so that a second run is quick. The last line is "N passed, M failed"; the exit
# status is not 0 when a check failed or the machine did not finish.
set -euo pipefail
cd "$(dirname "$0")/.."
# depmod, modprobe, mtdpart and mtd_debug live in sbin, which a user's PATH may lack.
export PATH=$PATH:/usr/sbin:/sbin
work=${ROMSTORE_VM_DIR:-build-vm}
mkdir -p "$work"
work=$(cd "$work" && pwd)

# apt-get decides what is missing: asking dpkg first goes wrong for packages it has never heard of. A
# user who is not root must have installed them, and is told which one is missing.
packages=(qemu-system-x86 busybox-static mtd-utils cpio xz-utils kmod)
if [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}" \
        >/dev/null
fi
for tool in qemu-system-x86_64:qemu-system-x86 busybox:busybox-static mtdpart:mtd-utils cpio:cpio \
    xz:xz-utils depmod:kmod modprobe:kmod; do
    if ! command -v "${tool%%:*}" >/dev/null; then
        echo "run.sh: ${tool%%:*} is missing: install ${tool#*:}, or run this as root" >&2
        exit 1
    fi
done

# The kernel: the package that linux-image-amd64 stands for, unpacked rather than installed (the
# metapackage would pull in an init system and initramfs tools). qemu boots the uncompressed vmlinux
# through its PVH entry, about twice as fast as the compressed image.
kpkg=$(apt-cache depends linux-image-amd64 |
    awk '!found && $1 == "Depends:" && $2 ~ /^linux-image-6\.1\..*-amd64$/ {print $2; found = 1}')
kver=${kpkg#linux-image-}
kdir=$work/kernel/$kver
if [ ! -f "$kdir/vmlinux" ]; then
    rm -rf "$kdir" && mkdir -p "$kdir"
    (cd "$kdir" && apt-get download -qq "$kpkg" 2>/dev/null)
    dpkg-deb -x "$kdir"/*.deb "$kdir/root"
    depmod -b "$kdir/root" "$kver"
    vmlinuz=$kdir/root/boot/vmlinuz-$kver
    offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | awk -F: 'NR == 1 {print $1}')
    # xz stops after its stream and leaves the rest of vmlinuz unread.
    xz -dc --single-stream < <(tail -c +$((offset + 1)) "$vmlinuz") > "$kdir/vmlinux.part"
    [ "$(od -An -tx1 -N4 "$kdir/vmlinux.part")" = " 7f 45 4c 46" ]
    mv "$kdir/vmlinux.part" "$kdir/vmlinux"
    rm -f "$kdir"/*.deb
fi

# The library, romctl and the test program, static: the machine has no shared libraries but these.
cmake -S . -B "$work/build" -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DCMAKE_EXE_LINKER_FLAGS=-static \
    >/dev/null
cmake --build "$work/build" -j2 --target romstore nq romctl >/dev/null
g++ -std=c++17 -O2 -Wall -Wextra -Werror -static -Iinclude -Isrc/rom vm/VmStoreTest.cpp vm/Tally.cpp \
    vm/ExpectedNode.cpp "$work/build/libromstore.a" "$work/build/libnq.a" -o "$work/vmstoretest"

# The initramfs: busybox, the test program, romctl, the script that links the nodes (as the install
# configures it), the MTD modules with their dependencies in load order, and mtdpart and mtd_debug with
# the shared libraries they need.
root=$work/initramfs
rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,modules}
cp /bin/busybox "$root/bin/busybox"
cp vm/init "$root/init"
cp "$work/vmstoretest" "$root/vmstoretest"
cp "$work/build/tools/romctl" "$work/build/tools/romstore-mtd-links" "$root/bin/"
modprobe -d "$kdir/root" -S "$kver" --show-depends mtdram total_size=16384 erase_size=256 |
    while read -r _ module args; do
        cp "$module" "$root/modules/"
        echo "$(basename "$module") $args" >> "$root/modules/load"
    done
for tool in mtdpart mtd_debug; do
    path=$(command -v "$tool")
    cp --parents "$path" "$root"
    ldd "$path" | grep -o '/[^ ]*' | while read -r lib; do cp -L --parents "$lib" "$root"; done
done
(cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initramfs.cpio"

log=$work/console.log
status=0
timeout 150 qemu-system-x86_64 -m 256M -smp 2 -no-reboot -nographic -net none \
    -kernel "$kdir/vmlinux" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init" < /dev/null | tr -d '\r' > "$log" || status=$?
cat "$log"

passed=$(grep -c '^ok - ' "$log" || true)
failed=$(grep -c '^FAIL - ' "$log" || true)
if [ "$status" != 0 ] || ! grep -q '^vm: finished$' "$log"; then
    echo "run.sh: the virtual machine did not finish (qemu status $status)"
    failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
