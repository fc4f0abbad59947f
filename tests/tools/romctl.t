// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

$ romctl range && romctl --help > help && romctl -h | cmp - help && romctl help | cmp - help && head -n 1 help
$ romctl --version > version && romctl -V | cmp - version && cat version && romsim --version
$ try romctl; try romctl frob; try romctl read 32; try romctl read -1; try romctl erase 1 x
$ try romctl read 1 --block; try romctl read 1 --block 64; try romctl read 1 --length -1; try romctl write 1 --hex
$ try romctl write; try romctl erase; try romctl erase --mask 0; try romctl init --mask 0x80000000
$ try romctl read 1 --length 8185; head -c 8185 /dev/zero | try romctl write 1
$ try romctl read 1 -q; try romctl --hex=1 read 1; try romctl read 1 -l; try romctl --h range
// Without the nodes: the failures name the node that cannot be opened.
$ try romctl write 1 missing.bin; try romctl read 1; printf x | try romctl write 31; try romctl erase 1 31
1 31
usage: romctl [OPTION...] COMMAND [ARGS]
romctl (romstore) 1.0.0
romsim (romstore) 1.0.0
2 romctl: no command given; see romctl --help
2 romctl: unknown command "frob"; see romctl --help
2 romctl: area 32 is out of range 1..31
2 romctl: area -1 is out of range 1..31
2 romctl: area "x" is not a number
2 romctl: option --block needs a value
2 romctl: block 64 is out of range 0..63 of area 1
2 romctl: --length must be a number from 0 to 2147483647, not "-1"
2 romctl: write does not take --hex
2 romctl: usage: romctl write AREA [FILE|-] [--if-changed]
2 romctl: usage: romctl erase AREA... | --all | --mask M
2 romctl: --mask 0 selects no area (bit k of M is area k + 1)
2 romctl: --mask must be a number from 0 to 2147483647, not "0x80000000"
2 romctl: --length 8185 is longer than area 1's largest record of 8184 bytes
2 romctl: a record of 8185 bytes is longer than area 1's largest record of 8184 bytes; nothing was written
2 romctl: unknown option -q
2 romctl: option --hex takes no value
2 romctl: option -l needs a value
2 romctl: ambiguous option --h
1 romctl: cannot open missing.bin: No such file or directory
1 romctl: read area 1: failed (-1): cannot open /dev/mtd_backup: No such file or directory
1 romctl: write area 31: failed (-1): cannot open /dev/mtd_backup2: No such file or directory
1 romctl: erase failed in areas 1 31: cannot open /dev/mtd_backup: No such file or directory; cannot open /dev/mtd_backup2: No such file or directory
// Under romsim, after romsim's "--", -h is romctl's. info shows each node as the kernel (here the
// simulator) reports it beside the device table.
$ printf 'version 1' | romsim -- romctl write 1 && romsim -- romctl read 1 --out record.bin && romsim -- romctl -h | cmp - help
$ cat record.bin && echo && romsim -- romctl info > info && sed -n 5p info
version 1
  kernel: nor flash, size 0x100000, erase size 0x80000, write size 1
! romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
$ try romsim -- romctl read 1 --block 2; printf '' | romsim -- romctl write 2 && romsim -- romctl read 2 --hex
1 romctl: read area 1 block 2: bad block (-4): the block is not committed or its record does not verify; romctl inspect 1 shows the blocks
00000000
// Options in any of their forms and places; after "--" every word is an operand, "-" standard input.
$ romsim -- romctl read 1 --length=4 && romsim -- romctl -l3 read 1 && romsim -- romctl --out=two -xl2 read 1 && cat two
$ printf dash > -x && romsim -- romctl write 4 -- -x && printf in | romsim -- romctl -- write 5 - && romsim -- romctl read 4
$ romsim -- romctl read 5 && echo
versver00000000  76 65                                             |ve|
00000002
dashin
// A record reads back at its own length, 0xFF bytes at its end included.
$ { head -c 65520 /dev/zero | tr '\0' L; printf '\377\377\377\377\377\377\377\377'; } | romsim -- romctl write 31 && romsim -- romctl read 31 --hex
00000000  4c 4c 4c 4c 4c 4c 4c 4c  4c 4c 4c 4c 4c 4c 4c 4c  |LLLLLLLLLLLLLLLL|
*
0000fff0  ff ff ff ff ff ff ff ff                           |........|
0000fff8
$ printf x | try env NORSIM_BUSY=/dev/mtd_backup romsim -- romctl write 1; try env NORSIM_BUSY=/dev/mtd_backup romsim -- romctl save dump
$ romsim -- romctl --verbose read 1 2>&1 >/dev/null | grep -m 1 -o 'Success open device(/dev/mtd_backup)$'
3 romctl: write area 1: busy (-2): another holder has /dev/mtd_backup open; nothing was done, try again later
3 romctl: cannot open /dev/mtd_backup: Device or resource busy
Success open device(/dev/mtd_backup)
// --wait tries a busy node again every 100 ms (on the simulator's virtual clock here): ten times in a
// second. erase and init wait 10 s by default and leave an area whose node stays busy as it was; they
// leave a node locked by another process (flock) to it, and do the rest.
$ b() { n=$1; shift; try env NORSIM_CLOCK=virtual NORSIM_BUSY=/dev/mtd_backup$n romsim -- romctl "$@"; }
$ b :10 read 1 -w1; b :11 --wait=1 read 1; b :100 init 2; b :101 erase 2; romsim -- romctl read 2 | wc -c
$ try flock flash/mtd_backup.img romsim -- romctl erase --wait=0 1 31; romsim -- romctl read 31 | wc -c
$ romsim -- romctl read 1 && echo
0 version 1
3 romctl: read area 1: busy (-2): another holder has /dev/mtd_backup open; nothing was done, try again later (waited 1 s)
0 
3 romctl: erase failed in areas 2: another holder has /dev/mtd_backup open; try again later (waited 10 s)
8184
3 romctl: erase failed in areas 1: another holder has /dev/mtd_backup open; try again later
0
version 1
// --if-changed writes nothing, not one flash operation for a cut to fall on, when the current block
// holds what the write would store. It writes a record that differs only in its length or in a 0xFF
// byte at its end, and a first record of no bytes over the format marker. A node busy for a while is
// compared once it is free.
$ printf abc > abc && romsim -- romctl write 5 abc && romsim --cut-after 1 -- romctl --verbose write 5 abc --if-changed 2>&1 | grep '^rom'
$ NORSIM_CLOCK=virtual NORSIM_BUSY=/dev/mtd_backup:10 romsim --cut-after 1 -- romctl -vw1 write 5 abc --if-changed 2>&1 | grep '^rom'
$ for new in ab 'ab\377'; do printf "$new" | romsim -- romctl write --if-changed 5 && romsim -- romctl read 5 | od -An -tx1; done
$ printf '' | romsim -- romctl write --if-changed 6 && romsim -- romctl inspect 6 | sed -n 4p
romctl: area 5 holds these 3 bytes already; nothing was written
romsim: no power cut: romctl made fewer than 1 flash programs and erases
romctl: area 5 holds these 3 bytes already; nothing was written
romsim: no power cut: romctl made fewer than 1 flash programs and erases
 61 62
 61 62 ff
  current block: 1
// erase and init change the areas they name and no other; init stores zeros as long as the area takes.
$ for a in 1 2 3 31; do printf "record $a" | romsim -- romctl write $a; done; romsim -- romctl erase 2
$ romsim -- romctl inspect 2 | tail -n 1 && romsim -- romctl read 1 && romsim -- romctl read 3 && echo
  not blank: no sector
record 1record 3
$ romsim -- romctl init --mask 0x5 && romsim -- romctl read 3 --hex
00000000  00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  |................|
*
00001ff0  00 00 00 00 00 00 00 00                           |........|
00001ff8
$ romsim -- romctl erase --all && romsim -- romctl inspect | grep -c -e 'current block: none$' -e 'not blank: no sector$'
62
// The power cut: block 0 of area 1 is the format marker, block 1 the record (status 00 00 00 00, checksum
// word 00 00 23 55: CRC-16/MODBUS 0x5523); the cut left block 2 with its checksum word and the first 4
// bytes of its record, and no status word. The second node stays erased.
$ printf 'version 1' | romsim -- romctl write 1 && printf 'version 2' | try romsim --cut-after 2 --cut-bytes 4 -- romctl write 1
$ od -Ax -tx1 flash/mtd_backup.img flash/mtd_backup2.img
137 romsim: power cut at flash operation 2: romctl was killed there
000000 00 00 00 00 ff ff ff ff ff ff ff ff ff ff ff ff
000010 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
*
002000 00 00 00 00 00 00 23 55 76 65 72 73 69 6f 6e 20
002010 31 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
002020 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
*
004000 ff ff ff ff 00 00 63 54 76 65 72 73 ff ff ff ff
004010 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
*
1000000
// inspect only reads. Area 1 gets a block rejected, one in no state, one committed with the checksum
// word of another record and a stray byte in sector 1. The store reads the block inspect calls current.
$ poke() { printf "$1" | dd of=flash/mtd_backup.img bs=1 seek=$(($2)) conv=notrunc status=none; }
$ poke '\0\1\0\0\0\0\22\64' 3*0x2000; poke '\0\377\0\0\0\0\22\64' 4*0x2000; poke '\0\0\0\0\0\0\43\125XXXX' 5*0x2000; poke '\0' 40*0x2000+100
$ md5sum flash/* > sums && romsim -- romctl inspect > all && md5sum -c --quiet sums && grep -c '^area ' all
$ sed -n '3,11p' all && romsim -- romctl read 1 && echo
31
area 1: /dev/mtd_backup at 0x0, 2 sectors of 32 blocks of 8192 bytes
  current block: 1
  sector 0: CCWR?!..........................
  sector 1: ................................
  not blank: sectors 0 1
  block  length
      0  format marker
      1  9
      5  does not verify
version 1
! romctl: warning: read area 1: the record of block 1 is older than block 5, whose record does not verify; romctl check 1 tells more
// info fails with a line for each way in which a node does not fit.
$ LD_PRELOAD=$(find "$STAGE" -name libnorsim.so) NORSIM_NODES=/dev/mtd_backup:0xE00000:0x80000:short.img romctl info
/dev/mtd_backup
  kernel: nor flash, size 0xe00000, erase size 0x80000, write size 1
  table:  nor flash, size 0xf00000 (30 areas of 0x80000), sectors of 0x40000
/dev/mtd_backup2
  table:  nor flash, size 0x100000 (1 area of 0x100000), sectors of 0x80000
! romctl: /dev/mtd_backup is smaller than its areas: size 0xe00000, needed 0xf00000 for 30 areas of 0x80000
! romctl: /dev/mtd_backup: erase size 0x80000 does not divide the table's sector size 0x40000
! romctl: cannot open /dev/mtd_backup2: No such file or directory
? 1
// Only the first node simulated, then one that ends before area 2, where only the log tells why.
$ sim=$(find "$STAGE" -name libnorsim.so) && try env LD_PRELOAD=$sim NORSIM_NODES=/dev/mtd_backup:0xF00000:0x40000:flash/mtd_backup.img romctl erase 1 31
$ try env LD_PRELOAD=$sim NORSIM_NODES=/dev/mtd_backup:0x80000:0x40000:small.img romctl read 2
1 romctl: erase failed in areas 31: cannot open /dev/mtd_backup2: No such file or directory
1 romctl: read area 2: failed (-1); --verbose shows the store's log lines
