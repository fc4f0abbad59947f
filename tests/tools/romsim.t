// romsim refuses a wrong command line before it makes any image.
$ romsim --help | head -n 1; try romsim; try romsim --cut-after 0 -- true; try romsim --cut-after 1 --cut-erase half -- true
$ try romsim --cut-bytes 3 -- true; try romsim --wear -- true; try romsim --speed 9 -- true; try romsim --dir no/flash -- true
$ try romsim --wear | sed "s|$PWD/||"; ls
usage: romsim [--dir DIR] [--cut-after N [--cut-bytes J] [--cut-erase STATE]] -- COMMAND [ARGS...]
125 romsim: no command given; see romsim --help
125 romsim: --cut-after counts flash operations from 1
125 romsim: --cut-erase must be untouched, completed, zeroed, mixed or almost, not "half"
125 romsim: --cut-bytes and --cut-erase need --cut-after
125 romsim: --wear runs no command
125 romsim: unknown option --speed
125 romsim: cannot create the directory no/flash: its parent does not exist
125 romsim: flash/mtd_backup.img does not exist: no program has used this flash yet
// Images as large as their nodes, made erased where they are missing.
$ romsim --dir elsewhere -- true && rm elsewhere/mtd_backup2.img && romsim --dir elsewhere -- true && romsim --dir elsewhere -- true
$ od -Ax -tx1 elsewhere/mtd_backup.img elsewhere/mtd_backup2.img && ls
000000 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
*
1000000
elsewhere
! romsim: new erased flash images: elsewhere/mtd_backup.img, elsewhere/mtd_backup2.img
! romsim: new erased flash images: elsewhere/mtd_backup2.img
// The exit status tells how the program ended; without a cut, a SIGKILL is no power cut.
$ try romsim -- sh -c 'exit 7'; try romsim -- sh -c 'kill -TERM $$'; try romsim -- sh -c 'kill -KILL $$'
$ try romsim -- no-such-program; try romsim -- ./elsewhere
7 romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
143 romsim: sh was killed by signal 15 (Terminated)
137 romsim: sh was killed by signal 9 (Killed)
127 romsim: cannot run no-such-program: No such file or directory
126 romsim: cannot run ./elsewhere: Permission denied
$ head -c 100 /dev/zero > flash/mtd_backup.img && rm flash/mtd_backup2.img && try romsim -- romctl write 31; ls flash/*.img
125 romsim: flash/mtd_backup.img holds 100 bytes, not the 15728640 of /dev/mtd_backup
flash/mtd_backup.img
// --wear counts the erases of every sector across runs.
$ rm -r flash && romsim -- romctl erase 1 31 && romsim -- romctl erase 1 && romsim --wear | sed -n '1,2p;4p;61,$p'
node               area  sector  offset       erases
/dev/mtd_backup       1       0  0x00000000        2
/dev/mtd_backup       2       2  0x00080000        0
/dev/mtd_backup      30      59  0x00ec0000        0
/dev/mtd_backup2     31       0  0x00000000        1
/dev/mtd_backup2     31       1  0x00080000        1
! romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
// The power cut: block 0 of area 1 is the format marker, block 1 the record (status 00 00 00 00,
// checksum word 00 00 23 55: CRC-16/MODBUS 0x5523); the cut left block 2 with its checksum word and
// the first 4 bytes of its record, and no status word. The second node stays erased.
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
// The previous record survives, and the next write skips the half-written block.
$ romsim -- romctl read 1 && printf 'version 3' | romsim -- romctl write 1 && romsim -- romctl read 1 --block 3 && echo
version 1version 3
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
$   sed "s|$PWD/moved/usr/.*/romstore/|moved/usr/LIBDIR/romstore/|" && ls
areas 1 to 31
area 1 holds "baud=115200 mode=8N1"
moved
125 romsim: the simulator moved/usr/LIBDIR/romstore/libnorsim.so is missing
elsewhere
moved
! romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img
