#!/bin/sh
# SPDX-FileCopyrightText: 2026 The romstore developers
# SPDX-License-Identifier: MIT

# Points the store's nodes, /dev/mtd_backup and /dev/mtd_backup2, at the MTD character devices of the
# partitions named "@ROMSTORE_PARTITION@" and "@ROMSTORE_PARTITION2@", as the udev rule does, for
# systems without udev: run it from an init script once the partitions exist, or from busybox mdev with
# the mdev.conf line
#   mtd[0-9]+ 0:0 600 @@CMAKE_INSTALL_FULL_SBINDIR@/romstore-mtd-links
# MTD numbers move between kernels and device trees; /proc/mtd tells which number a name has today.
# ROMSTORE_PROC_MTD and ROMSTORE_DEV_DIR stand in for /proc/mtd and /dev. A partition that is missing
# or named twice is reported and fails the run, after the other node has been linked.
proc=${ROMSTORE_PROC_MTD:-/proc/mtd}
dev=${ROMSTORE_DEV_DIR:-/dev}
status=0

link() {  # link PARTITION NODE
    # Names are compared whole, quotes included: one may begin with another or hold blanks.
    devices=$(while read -r device _ _ name; do
        if [ "$name" = "\"$1\"" ]; then printf ' %s' "${device%:}"; fi
    done < "$proc")
    case $devices in
    "") echo "romstore-mtd-links: no MTD partition is named \"$1\" in $proc" >&2; status=1 ;;
    " "*" "*)
        echo "romstore-mtd-links: more than one MTD partition is named \"$1\" in $proc:$devices" >&2
        status=1 ;;
    *) ln -sf "${devices# }" "$dev/$2" || status=1 ;;
    esac
}

if [ ! -r "$proc" ]; then
    echo "romstore-mtd-links: cannot read $proc" >&2
    exit 1
fi
link '@ROMSTORE_PARTITION@' mtd_backup
link '@ROMSTORE_PARTITION2@' mtd_backup2
exit $status
