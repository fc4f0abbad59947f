// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// romctl check on healthy, blank, damaged and worn images: a line or a JSON object an area, and an
// exit status: 0 healthy, 4 damaged, 5 unreadable, 3 busy. read --strict fails on a record older than
// a damaged block (4) and on an area without a record (6), but not on an empty record.
$ printf 'v1' | romsim -- romctl write 2 && printf '' | romsim -- romctl write 3 && romsim -- romctl check 1 2 3 31
$ try romsim -- romctl read 1 --strict; try romsim -- romctl read 3 --strict; romsim -- romctl -v read 5 2>&1 | grep -v ' RO '
area 1: healthy, blank
area 2: healthy, record of 2 bytes in block 1
area 3: healthy, record of 0 bytes in block 1
area 31: healthy, blank
6 romctl: read area 1: the area holds no record, only the format marker
0 
romctl: read area 5: the area holds no record, only the format marker
! romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
// The cut leaves block 2 written but not committed; then a byte of block 1's record decays.
$ printf 'v2' | try romsim --cut-after 2 --cut-bytes 1 -- romctl write 2
$ printf X | dd of=flash/mtd_backup.img bs=1 seek=$((0x80000 + 0x2000 + 8)) conv=notrunc status=none
$ try romsim -- romctl check 2; try romsim -- romctl read 2 --strict; romsim -- romctl read 2 --hex
137 romsim: power cut at flash operation 2: romctl was killed there
4 area 2: damaged, no record, format marker in block 0; newer block 1 does not verify; 1 block written but not committed
romctl: check: damaged: areas 2
4 romctl: read area 2: the record of block 0 is older than block 1, whose record does not verify; romctl check 2 tells more
00000000
! romctl: warning: read area 2: the record of block 0 is older than block 1, whose record does not verify; romctl check 2 tells more
$ romsim -- romctl check 2 --json; romsim -- romctl inspect 2 --json
{"area":2,"node":"/dev/mtd_backup","status":"damaged","result":0,"state":"formatted","current_block":0,"record_length":0,"newer_damaged":1,"newest_damaged":1,"older_damaged":0,"rejected":0,"unfinished":1,"other":0,"stale_sector":-1,"unreadable":0}
{"area":2,"node":"/dev/mtd_backup","offset":524288,"sectors":2,"blocks_per_sector":32,"block_size":8192,"current_block":0,"blocks":["C!W.............................","................................"],"not_blank_sectors":[0],"records":[{"block":0,"length":0,"format_marker":true},{"block":1,"length":-1,"format_marker":false}]}
! romctl: check: damaged: areas 2
// Sector 1 of area 1 stops erasing at the wrap: the write that commits block 0 fails, and check finds
// sector 0 holding it while the current record lives in sector 1, until a read erases sector 0.
$ for i in $(seq 63); do printf "v$i" | romsim -- romctl write 1; done
$ printf v64 | try env NORSIM_WORN=/dev/mtd_backup:0x40000 romsim -- romctl write 1
$ try romsim -- romctl check 1; romsim -- romctl read 1 && echo && romsim -- romctl check 1
1 romctl: write area 1: failed (-1): sector 1 of area 1 on /dev/mtd_backup could not be erased: Input/output error
4 area 1: damaged, record of 3 bytes in block 63; sector 0 is not blank although the current record lives in another sector
romctl: check: damaged: areas 1
v63
area 1: healthy, record of 3 bytes in block 63
// A node that is busy, or missing.
$ try env NORSIM_BUSY=/dev/mtd_backup2 romsim -- romctl check 30 31; try romctl check 31; romsim -- romctl info --json
3 area 30: healthy, blank
area 31: busy: another holder has /dev/mtd_backup2 open
romctl: check: busy, try again later: areas 31
5 area 31: unreadable: failed (-1): cannot open /dev/mtd_backup2: No such file or directory
romctl: check: unreadable: areas 31
{"node":"/dev/mtd_backup","kernel":{"type":"nor flash","size":15728640,"erase_size":262144,"write_size":1},"table":{"size":15728640,"areas":30,"area_size":524288,"sector_size":262144},"problems":[]}
{"node":"/dev/mtd_backup2","kernel":{"type":"nor flash","size":1048576,"erase_size":524288,"write_size":1},"table":{"size":1048576,"areas":1,"area_size":1048576,"sector_size":524288},"problems":[]}
