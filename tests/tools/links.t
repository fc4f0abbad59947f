// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The installed romstore-mtd-links points the nodes at the partitions named mtd_backup and mtd_backup2
// in a made-up /proc/mtd, in which one name begins another and one holds a blank, over a stale link.
$ printf 'dev:    size   erasesize  name\nmtd0: 00040000 00040000 "mtd_backup old"\n' > mtd && mkdir dev
$ printf 'mtd1: 00100000 00040000 "mtd_backup2"\nmtd2: 00f00000 00040000 "mtd_backup"\n' >> mtd && ln -s mtd9 dev/mtd_backup
$ ROMSTORE_PROC_MTD=mtd ROMSTORE_DEV_DIR=dev "$STAGE"/usr/sbin/romstore-mtd-links && readlink dev/*
mtd2
mtd1
// A name given to two partitions links neither, a missing one nothing; the other node is linked all the same.
$ rm dev/* && sed -i 's/mtd_backup old/mtd_backup/' mtd && try env ROMSTORE_PROC_MTD=mtd ROMSTORE_DEV_DIR=dev "$STAGE"/usr/sbin/romstore-mtd-links
$ readlink dev/*; try env ROMSTORE_PROC_MTD=/dev/null "$STAGE"/usr/sbin/romstore-mtd-links
1 romstore-mtd-links: more than one MTD partition is named "mtd_backup" in mtd: mtd0 mtd2
mtd1
1 romstore-mtd-links: no MTD partition is named "mtd_backup" in /dev/null
romstore-mtd-links: no MTD partition is named "mtd_backup2" in /dev/null
