// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// romsim refuses a wrong command line before it makes any image.
$ try romsim --help | head -n 1; try romsim; try romsim --cut-after 0 -- true; try romsim --cut-after 1 --cut-erase half -- true
$ try romsim --cut-bytes 3 -- true; try romsim --wear -- true; try romsim --speed 9 -- true; try romsim --dir no/flash -- true
$ try romsim --wear | sed "s|$PWD/||"; try romsim -d; try romsim --cut=1 -- true; ls
0 usage: romsim [--dir DIR] [--cut-after N [--cut-bytes J] [--cut-erase STATE]] -- COMMAND [ARGS...]
125 romsim: no command given; see romsim --help
125 romsim: --cut-after counts flash operations from 1
125 romsim: --cut-erase must be untouched, completed, zeroed, mixed or almost, not "half"
125 romsim: --cut-bytes and --cut-erase need --cut-after
125 romsim: --wear runs no command
125 romsim: unknown option --speed
125 romsim: cannot create the directory no/flash: its parent does not exist
125 romsim: flash/mtd_backup.img does not exist: no program has used this flash yet
125 romsim: option -d needs a value
125 romsim: ambiguous option --cut
// Images as large as their nodes, made erased where they are missing.
$ romsim -d elsewhere -- true && rm elsewhere/mtd_backup2.img && romsim --dir=elsewhere -- true && romsim --dir elsewhere -- true
$ od -Ax -tx1 elsewhere/mtd_backup.img elsewhere/mtd_backup2.img && test ! -e flash
000000 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
*
1000000
! romsim: new erased flash images: elsewhere/mtd_backup.img, elsewhere/mtd_backup2.img
! romsim: new erased flash images: elsewhere/mtd_backup2.img
// The exit status tells how the program ended; without a cut, a SIGKILL is no power cut.
$ try romsim -- sh -c 'exit 7'; try env NORSIM_CLOCK=real romsim -- sh -c 'kill -KILL $$'; try romsim -- no-such-program
7 romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
137 norsim: ignoring NORSIM_CLOCK=real: expected virtual
romsim: sh was killed by signal 9 (Killed)
127 romsim: cannot run no-such-program: No such file or directory
$ head -c 100 /dev/zero > flash/mtd_backup.img && rm flash/mtd_backup2.img && try romsim -- romctl write 31; test ! -e flash/mtd_backup2.img
125 romsim: flash/mtd_backup.img holds 100 bytes, not the 15728640 of /dev/mtd_backup
// --wear counts the erases of every sector across runs.
$ rm -r flash && romsim -- romctl erase 1 31 && romsim -- romctl erase 1 && romsim --wear | sed -n '1,2p;62,$p'
node               area  sector  offset       erases
/dev/mtd_backup       1       0  0x00000000        2
/dev/mtd_backup2     31       0  0x00000000        1
/dev/mtd_backup2     31       1  0x00080000        1
! romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
// A cut erase leaves the state asked for; a cut that does not fall is reported.
$ try romsim --cut-after 1 --cut-erase zeroed -- romctl erase 1; od -Ax -tx1 -N 0x80010 flash/mtd_backup.img
$ try romsim --cut-after 5 -- romctl read 2
137 romsim: power cut at flash operation 1: romctl was killed there
000000 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
*
080000 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
080010
0 romsim: no power cut: romctl made fewer than 5 flash programs and erases
// The host example; an installed tree copied elsewhere works, and without its simulator runs nothing.
$ romsim -- "$HOST_EXAMPLE" && rm -r flash && cp -R "$STAGE" moved
$ printf moved | moved/usr/bin/romsim -- moved/usr/bin/romctl write 1 && romsim -- romctl read 1 && echo
$ find moved -name libnorsim.so -delete && rm -r flash && try moved/usr/bin/romsim -- moved/usr/bin/romctl write 1 </dev/null |
$   sed "s|$PWD/moved/usr/.*/romstore/|moved/usr/LIBDIR/romstore/|" && test ! -e flash
areas 1 to 31
area 1 holds "baud=115200 mode=8N1"
moved
125 romsim: the simulator moved/usr/LIBDIR/romstore/libnorsim.so is missing
! romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
