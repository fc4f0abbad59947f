// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// load checks every line of a manifest before it writes anything: here, with no node to write to.
$ printf good > good.bin && mkdir folder && head -c 65529 /dev/zero > huge.bin && printf '1 good.bin\n2 folder\n' > folder.m
$ printf '1 good.bin\n# again\n0x1 good.bin\n' > again; printf '1 good.bin\n2 good.bin # note\n' > note
$ printf '1 good.bin\n2 missing.bin\n' > missing; printf '1 good.bin\n31 huge.bin\n' > huge
$ for manifest in again note missing folder.m huge; do try romctl load $manifest; done
2 romctl: again:3: area 1 is named again, first on line 1; nothing was written
2 romctl: note:2: "2 good.bin # note" is not a pair of AREA and FILE; nothing was written
1 romctl: missing:2: cannot open missing.bin: No such file or directory; nothing was written
1 romctl: folder.m:2: cannot read folder: Is a directory; nothing was written
2 romctl: huge:2: a record of 65529 bytes is longer than area 31's largest record of 65528 bytes; nothing was written
// It writes in the manifest's order and stops at the first write that fails.
$ printf '1 good.bin\n31 good.bin\n' > both && try env NORSIM_BUSY=/dev/mtd_backup2 romsim -- romctl load both; romsim -- romctl read 1 && echo
3 romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
romctl: both:2: write area 31: busy (-2): another holder has /dev/mtd_backup2 open; nothing was done, try again later; the lines above it were written
good
// A factory image: relative files lie beside the manifest, absolute ones anywhere. save reads it back
// byte for byte, but for the record of two lengths, whose 7 bytes make the same block; it changes
// nothing, and its manifest loads into the same images. Loaded again with --if-changed, the manifest
// makes no flash operation at all.
$ mkdir -p factory/records && printf 'baud=115200' > factory/settings.bin && printf 'ab\377\377\377' > factory/records/two.bin
$ : > factory/empty.bin && printf 'tail \211L\377' > factory/two-lengths.bin && printf 'key\377' > key.bin
$ printf '# factory\n0x1f %s\n\n  1   settings.bin\n2 records/two.bin\n  # none in 4\n3 empty.bin\n6 two-lengths.bin\n' \
$   "$PWD/key.bin" > factory/factory.manifest && romsim --dir out -- romctl load factory/factory.manifest
$ md5sum out/* > sums && romsim --dir out -- romctl save dump && md5sum -c --quiet sums && grep -v ': no record$' dump/romstore.manifest
$ printf 'tail \211L' | cmp - dump/area-06.bin && romsim --dir copy -- romctl load dump/romstore.manifest
$ cmp out/mtd_backup.img copy/mtd_backup.img && cmp out/mtd_backup2.img copy/mtd_backup2.img
$ romsim --dir out --cut-after 1 -- romctl load --if-changed factory/factory.manifest
# The current record of each area, saved by romctl save; romctl load writes them back.
1 area-01.bin
2 area-02.bin
3 area-03.bin
6 area-06.bin
31 area-31.bin
! romsim: new erased flash images: out/mtd_backup.img, out/mtd_backup2.img
! romsim: new erased flash images: copy/mtd_backup.img, copy/mtd_backup2.img
! romsim: no power cut: romctl made fewer than 1 flash programs and erases
// An area formatted only holds no record, nor one whose committed blocks do not verify: area 4 holds
// a block with the checksum word of "four" and another record. The new save replaces the manifest.
$ romsim --dir out -- romctl read 5 && printf '\0\0\0\0\0\0\210\4fouX' | dd of=out/mtd_backup.img bs=1 seek=$((0x182000)) conv=notrunc status=none
$ romsim --dir out -- romctl save dump && grep 'area [45]:' dump/romstore.manifest && ls dump | wc -l
# area 4: no record, no committed block verifies
# area 5: no record
6
