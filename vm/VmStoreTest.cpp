// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The store on the kernel's own MTD stack: run inside the virtual machine that vm/run.sh boots, on the
// partitions of mtdram behind /dev/mtd_backup and /dev/mtd_backup2. At the end each node's expected
// bytes are written to DIR/NAME.img for the init script to compare with what mtd_debug reads from it.
//
//   vmstoretest DIR
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>

#include "ExpectedNode.h"
#include "RomMgr.h"
#include "Tally.h"

namespace {

const int kLastArea = 31;  // the one area of /dev/mtd_backup2

// The table row of a global area, and the area's number on that row's node.
int Row(int area) { return area == kLastArea ? 1 : 0; }
int Local(int area) { return area == kLastArea ? 1 : area; }
int Largest(int area) { return g_RomDeviceInfoArray[Row(area)].iBlockSize - 8; }
int Bit(int area) { return 1 << (area - 1); }

// The store, and what each node must hold after the calls that returned 0.
struct Store {
    CRomMgr mgr;
    ExpectedNode nodes[2] = {ExpectedNode(g_RomDeviceInfoArray[0]), ExpectedNode(g_RomDeviceInfoArray[1])};

    // SetData of the record, then GetData of as many bytes: they must be the record. It stands in the
    // expected node whatever the calls returned, which a failed check reports.
    bool Write(int area, Bytes record) {
        const int length = static_cast<int>(record.size());
        Bytes back(record.size());
        nodes[Row(area)].Wrote(Local(area), record);
        return mgr.SetData(area, record.data(), length, true) == 0 &&
               mgr.GetData(area, back.data(), length) == length && back == record;
    }
    // InitializeArea or EraseArea of the areas of the mask.
    bool Bulk(bool initialize, int mask) {
        for (int area = 1; area <= kLastArea; ++area) {
            if ((mask & Bit(area)) != 0 && initialize) nodes[Row(area)].Wrote(Local(area), Bytes(Largest(area), 0x00));
            if ((mask & Bit(area)) != 0 && !initialize) nodes[Row(area)].Erased(Local(area));
        }
        return (initialize ? mgr.InitializeArea(mask) : mgr.EraseArea(mask)) == 0;
    }
};

// Records that tell one write from another.
Bytes Pattern(int area, int number, int length) {
    Bytes record(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) record[i] = static_cast<unsigned char>(i * 131 + area * 17 + number * 59 + i / 97);
    return record;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: vmstoretest DIR\n");
        return 2;
    }
    Tally t;
    Store store;
    unsigned char b[8] = {};

    // Another process that holds a node's lock turns the store away as busy, on that node only.
    int held[2];
    const pid_t holder = pipe(held) == 0 ? fork() : -1;
    if (holder == 0) {
        const int fd = open(g_RomDeviceInfoArray[0].pszDevName, O_RDWR);
        (void)!write(held[1], fd >= 0 && flock(fd, LOCK_EX) == 0 ? "y" : "n", 1);
        pause();
    }
    char locked = 'n';
    t.Check(holder > 0 && read(held[0], &locked, 1) == 1 && locked == 'y' &&
                store.mgr.SetData(6, b, 8, true) == -2 && store.mgr.GetData(6, b, 8) == -2,
            "while another process holds /dev/mtd_backup locked: SetData and GetData of area 6 are -2");
    t.Check(store.mgr.SetData(kLastArea, b, 8, true) == 0, "meanwhile SetData of area 31 on the other node: 0");
    if (holder > 0 && kill(holder, SIGKILL) == 0) waitpid(holder, nullptr, 0);
    t.Check(store.mgr.SetData(6, b, 8, true) == 0, "after that process ended: SetData of area 6: 0");

    t.Check(store.Bulk(false, 0x7FFFFFFF), "EraseArea of every area: 0");
    for (int area = 1; area <= kLastArea; ++area) {
        bool ok = true;
        for (int length : {1, 100 + 13 * area, Largest(area)})
            ok = store.Write(area, Pattern(area, length, length)) && ok;
        t.Check(ok, "area " + std::to_string(area) + ": SetData of 1, " + std::to_string(100 + 13 * area) +
                        " and the largest record, each read back");
    }
    t.Check(store.Bulk(true, Bit(2) | Bit(7) | Bit(kLastArea)), "InitializeArea of areas 2, 7, 31: 0");
    t.Check(store.Bulk(false, Bit(3) | Bit(7) | Bit(kLastArea)), "EraseArea of areas 3, 7, 31: 0");
    // Area 30, 64 blocks and 32 a sector, moves to its other sector at its 32nd and 96th write and wraps
    // at the 64th; area 31, 16 blocks and 8 a sector, starts erased and moves five times, twice by wrapping.
    for (const auto& [area, writes] : {std::make_pair(30, 97), std::make_pair(kLastArea, 45)}) {
        bool ok = true;
        for (int number = 0; number < writes; ++number)
            ok = store.Write(area, Pattern(area, number, 64 + number)) && ok;
        t.Check(ok, "area " + std::to_string(area) + ": " + std::to_string(writes) +
                        " more writes across sector moves and the wrap, each read back");
    }

    for (int row = 0; row < 2; ++row) {
        const Bytes image = store.nodes[row].Image();
        const std::string name = strrchr(g_RomDeviceInfoArray[row].pszDevName, '/') + 1;
        std::ofstream out(std::string(argv[1]) + "/" + name + ".img", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        t.Check(out.good(), "expected bytes of " + name + " written for mtd_debug");
    }
    return t.Finish() == 0 ? 0 : 1;
}
