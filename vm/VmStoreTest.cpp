// The store on the kernel's own MTD stack: run inside the virtual machine that vm/run.sh boots, on the
// partitions of mtdram behind /dev/mtd_backup and /dev/mtd_backup2. Every result is checked as the
// simulator's tests check it; at the end each node's expected bytes are written to DIR/NAME.img for the
// init script to compare with what mtd_debug reads from the node.
//
//   vmstoretest DIR
#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ExpectedNode.h"
#include "RomMgr.h"
#include "Tally.h"

namespace {

const int kAreas = 31;
const int kAllAreas = 0x7FFFFFFF;
const int kLastArea = 31;  // the one area of /dev/mtd_backup2

// The table row of a global area, and the area's number on that row's node.
int Row(int area) { return area == kLastArea ? 1 : 0; }
int Local(int area) { return area == kLastArea ? 1 : area; }
const RomDeviceInfo& NodeOf(int area) { return g_RomDeviceInfoArray[Row(area)]; }
int Largest(int area) { return NodeOf(area).iBlockSize - 8; }
int Bit(int area) { return 1 << (area - 1); }
std::string Area(int area) { return "area " + std::to_string(area); }

// Bytes that tell one record from another: a header naming the area, the writer and the number, then
// a fill that depends on all three.
Bytes Pattern(int area, int writer, int number, int length) {
    Bytes record(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i)
        record[i] =
            static_cast<unsigned char>((i * 131 + area * 17 + writer * 89 + number * 59) ^ (i >> 8));
    const unsigned char head[] = {static_cast<unsigned char>(area), static_cast<unsigned char>(writer),
                                  static_cast<unsigned char>(number)};
    std::copy(head, head + std::min<int>(3, length), record.begin());
    return record;
}

int Write(CRomMgr& store, int area, Bytes record) {
    return store.SetData(area, record.data(), static_cast<int>(record.size()), true);
}

// The first length bytes of the current record, or of a named block; empty when the read does not
// return length.
Bytes Read(CRomMgr& store, int area, int length, int block = -1) {
    Bytes data(static_cast<std::size_t>(length));
    int n = block < 0 ? store.GetData(area, data.data(), length)
                      : store.GetData(area, block, data.data(), length);
    return n == length ? data : Bytes();
}

// The bytes of the node itself, read past the store.
Bytes ReadNode(const char* path, int offset, int length) {
    Bytes data(static_cast<std::size_t>(length));
    int fd = open(path, O_RDONLY);
    bool ok = fd >= 0 && pread(fd, data.data(), data.size(), offset) == length;
    if (fd >= 0) close(fd);
    return ok ? data : Bytes();
}

void Geometry(Tally& t) {
    for (int row = 0; row < 2; ++row) {
        const RomDeviceInfo& info = g_RomDeviceInfoArray[row];
        mtd_info_user mi{};
        int fd = open(info.pszDevName, O_RDONLY);
        bool ok = fd >= 0 && ioctl(fd, MEMGETINFO, &mi) == 0;
        if (fd >= 0) close(fd);
        printf("MEMGETINFO %s: type %u flags 0x%x size 0x%x erasesize 0x%x writesize %u oobsize %u\n",
               info.pszDevName, mi.type, mi.flags, mi.size, mi.erasesize, mi.writesize, mi.oobsize);
        t.Check(ok && mi.type == MTD_RAM && (mi.flags & MTD_WRITEABLE) != 0,
                std::string(info.pszDevName) + " is a writable MTD RAM node");
        t.Check(ok && mi.size == static_cast<unsigned>(info.iAreaNum * info.iAreaSize),
                std::string(info.pszDevName) + " is as large as the table's areas");
        t.Check(ok && mi.erasesize == 0x40000 && info.iSectorSize % mi.erasesize == 0,
                std::string(info.pszDevName) + ": the table's sector is a whole number of erase blocks");
    }
    // The kernel refuses an erase that is not aligned to its erase blocks, so every erase the store
    // makes below succeeds only if it is aligned.
    int fd = open(g_RomDeviceInfoArray[0].pszDevName, O_RDWR);
    erase_info_user half = {0x2000, 0x2000};
    bool refused = fd >= 0 && ioctl(fd, MEMERASE, &half) == -1 && errno == EINVAL;
    if (fd >= 0) close(fd);
    t.Check(refused, "MEMERASE of 8 KiB at 0x2000 is refused with EINVAL");
}

void BadArguments(Tally& t, CRomMgr& store) {
    int first = 0, last = 0;
    t.Check(store.GetAreaRange(&first, &last) == 0 && first == 1 && last == kAreas, "areas 1 to 31");
    t.Check(Write(store, 0, Bytes(4)) == -3 && Write(store, 32, Bytes(4)) == -3,
            "SetData of areas 0 and 32: -3");
    t.Check(Write(store, 1, Bytes(8185)) == -3 && Write(store, 31, Bytes(65529)) == -3,
            "SetData one byte over the largest record: -3");
    t.Check(Write(store, 1, Bytes(8184, 0x11)) == 0, "SetData of the largest record of area 1: 0");
    unsigned char b[4];
    t.Check(store.GetData(1, 64, b, 4) == -4 && store.GetData(1, -1, b, 4) == -4,
            "GetData of blocks 64 and -1: -4");
    t.Check(store.GetData(1, 2, b, 4) == -4, "GetData of a free block: -4");
}

void Masks(Tally& t, CRomMgr& store) {
    const std::vector<int> written = {2, 3, 4, 7, 31};
    for (int area : written)
        t.Check(Write(store, area, Pattern(area, 0, 1, 50)) == 0,
                "SetData of 50 bytes in " + Area(area));

    t.Check(store.InitializeArea(Bit(2) | Bit(7) | Bit(31)) == 0,
            "InitializeArea of areas 2, 7, 31: 0");
    for (int area : {2, 7, 31})
        t.Check(Read(store, area, Largest(area)) == Bytes(Largest(area), 0),
                Area(area) + " reads its largest record, all zero");
    t.Check(Read(store, 3, 50) == Pattern(3, 0, 1, 50), "area 3, not selected, keeps its record");

    t.Check(store.EraseArea(Bit(3) | Bit(7) | Bit(31)) == 0, "EraseArea of areas 3, 7, 31: 0");
    for (int area : {3, 7, 31}) {
        const RomDeviceInfo& node = NodeOf(area);
        const int offset = (Local(area) - 1) * node.iAreaSize;
        t.Check(ReadNode(node.pszDevName, offset, node.iAreaSize) == Bytes(node.iAreaSize, 0xFF),
                Area(area) + " is erased on the node");
        t.Check(Read(store, area, 50) == Bytes(50, 0xFF), Area(area) + " reads erased bytes");
    }
    t.Check(Read(store, 2, 16) == Bytes(16, 0) && Read(store, 4, 50) == Pattern(4, 0, 1, 50),
            "areas 2 and 4, not selected, keep their records");
}

// Repeats an operation of the store while it reports the node busy; counts the retries.
template <class Operation>
int UntilNotBusy(Operation operation, int* busy) {
    for (int tries = 0; tries < 100000; ++tries) {
        int result = operation();
        if (result != -2) return result;
        ++*busy;
        usleep(500);
    }
    return -2;
}

const int kWriters = 3;
const int kWritesEach = 10;
const int kRecordLength = 256;
const std::vector<int> kSharedAreas = {5, kLastArea};

// The writer and number of a record read back, when its bytes are one whole record of Pattern.
std::pair<int, int> WholeRecord(int area, const Bytes& data) {
    if (data.size() != static_cast<std::size_t>(kRecordLength) || data[0] != area) return {-1, -1};
    if (data != Pattern(area, data[1], data[2], kRecordLength)) return {-1, -1};
    return {data[1], data[2]};
}

// One of the concurrent processes: writes its records into both shared areas and reads each area back
// after its write; every read must be one whole record. The exit status is the number of faults.
int Writer(int writer, int startFd) {
    char go;
    if (read(startFd, &go, 1) != 1) return 1;
    CRomMgr store;
    int faults = 0, busy = 0;
    for (int number = 0; number < kWritesEach; ++number) {
        for (int area : kSharedAreas) {
            Bytes record = Pattern(area, writer, number, kRecordLength);
            int rc = UntilNotBusy([&] { return Write(store, area, record); }, &busy);
            Bytes back(kRecordLength);
            int n = UntilNotBusy([&] { return store.GetData(area, back.data(), kRecordLength); }, &busy);
            if (rc != 0 || n != kRecordLength || WholeRecord(area, back).first < 0) {
                printf("  writer %d: %s write %d returned %d, read returned %d%s\n", writer,
                       Area(area).c_str(), number, rc, n,
                       n == kRecordLength ? ", not a whole record" : "");
                ++faults;
            }
        }
    }
    printf("  writer %d: %d writes, %d faults, %d busy retries\n", writer,
           kWritesEach * static_cast<int>(kSharedAreas.size()), faults, busy);
    fflush(stdout);
    return faults;
}

// The committed blocks from..to of a shared area after the writers: each a whole record, every writer's
// numbers rising with the block. Returns the records found.
std::set<std::pair<int, int>> Committed(Tally& t, CRomMgr& store, int area, int from, int to) {
    std::set<std::pair<int, int>> found;
    std::vector<int> lastNumber(kWriters, -1);
    bool whole = true, rising = true;
    for (int block = from; block <= to; ++block) {
        std::pair<int, int> r = WholeRecord(area, Read(store, area, kRecordLength, block));
        if (r.first < 0 || r.first >= kWriters) {
            whole = false;
            continue;
        }
        rising = rising && r.second > lastNumber[r.first];
        lastNumber[r.first] = r.second;
        found.insert(r);
    }
    t.Check(whole && rising, Area(area) + ": blocks " + std::to_string(from) + " to " +
                                 std::to_string(to) + " hold whole records, each writer's in order");
    return found;
}

void Exclusion(Tally& t, CRomMgr& store) {
    // Another process that holds the node's lock turns the store away as busy, on that node only.
    int held[2], release[2];
    if (pipe(held) != 0 || pipe(release) != 0) return void(t.Check(false, "pipes"));
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open(g_RomDeviceInfoArray[0].pszDevName, O_RDWR);
        char c = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        (void)!write(held[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char c = 'n';
    (void)!read(held[0], &c, 1);
    unsigned char b[8];
    t.Check(c == 'y' && Write(store, 6, Bytes(8, 6)) == -2 && store.GetData(6, b, 8) == -2,
            "while another process holds /dev/mtd_backup locked: SetData and GetData of area 6 are -2");
    t.Check(Write(store, kLastArea, Bytes(8, 31)) == 0,
            "meanwhile SetData of area 31 on the other node: 0");
    (void)!write(release[1], "x", 1);
    waitpid(holder, nullptr, 0);
    t.Check(Write(store, 6, Bytes(8, 6)) == 0 && Read(store, 6, 8) == Bytes(8, 6),
            "after that process ended: SetData of area 6 is 0 and reads back");

    // Concurrent writers on the same areas, started together.
    t.Check(store.EraseArea(Bit(5) | Bit(kLastArea)) == 0, "EraseArea of the shared areas 5 and 31: 0");
    int start[2];
    if (pipe(start) != 0) return void(t.Check(false, "pipe"));
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) _exit(Writer(w, start[0]));
        writers.push_back(pid);
    }
    char go[kWriters] = {};
    (void)!write(start[1], go, sizeof go);
    bool clean = true;
    for (pid_t pid : writers) {
        int status = 0;
        clean = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                clean;
    }
    t.Check(clean, "3 writers, 20 writes each: every write 0, every read a whole record");

    // 30 writes into area 5 stay in its first sector behind the format marker: every one is there.
    std::set<std::pair<int, int>> all;
    for (int w = 0; w < kWriters; ++w)
        for (int n = 0; n < kWritesEach; ++n) all.insert({w, n});
    t.Check(Committed(t, store, 5, 1, 30) == all, "area 5 holds all 30 records written");
    unsigned char r[8];
    t.Check(store.GetData(5, 31, r, 8) == -4 &&
                Read(store, 5, kRecordLength) == Read(store, 5, kRecordLength, 30),
            "area 5: block 30 is current, block 31 free");
    // Area 31 has 16 blocks, 8 a sector: the 30th write is block 14, the 24th to 30th are in blocks 8
    // to 14.
    t.Check(Committed(t, store, kLastArea, 8, 14).size() == 7, "area 31 holds the last 7 records");
    t.Check(store.GetData(kLastArea, 15, r, 8) == -4 && store.GetData(kLastArea, 7, r, 8) == -4 &&
                Read(store, kLastArea, kRecordLength) == Read(store, kLastArea, kRecordLength, 14),
            "area 31: block 14 is current, blocks 7 and 15 free");
}

// Records of three lengths in every area, then enough writes to area 30 and area 31 to cross sector
// moves and the wrap; every result, every read and in the end every byte of both nodes as expected.
void Records(Tally& t, CRomMgr& store, const std::string& dir) {
    ExpectedNode expected[2] = {ExpectedNode(g_RomDeviceInfoArray[0]),
                                ExpectedNode(g_RomDeviceInfoArray[1])};
    t.Check(store.EraseArea(kAllAreas) == 0, "EraseArea of every area: 0");
    for (int area = 1; area <= kAreas; ++area) {
        ExpectedNode& node = expected[Row(area)];
        node.Erased(Local(area));
        const std::vector<int> lengths = {1, 100 + 13 * area, Largest(area)};
        std::vector<Bytes> records;
        bool ok = true;
        for (int number = 0; number < 3; ++number) {
            records.push_back(Pattern(area, 0, number, lengths[number]));
            ok = Write(store, area, records.back()) == 0 && ok;
            node.Wrote(Local(area), records.back());
            ok = Read(store, area, lengths[number]) == records.back() && ok;
        }
        t.Check(ok, Area(area) + ": SetData of 1, " + std::to_string(lengths[1]) + " and " +
                        std::to_string(lengths[2]) + " bytes, each read back as the current record");
        bool named = true;
        for (int number = 0; number < 3; ++number)
            named = Read(store, area, lengths[number], number + 1) == records[number] && named;
        Bytes padded = Read(store, area, lengths[1] + 16, 2);
        named = padded.size() == static_cast<std::size_t>(lengths[1] + 16) &&
                std::equal(records[1].begin(), records[1].end(), padded.begin()) &&
                std::all_of(padded.begin() + lengths[1], padded.end(),
                            [](unsigned char x) { return x == 0xFF; }) &&
                named;
        unsigned char b[4];
        t.Check(named && store.GetData(area, 4, b, 4) == -4,
                Area(area) + ": blocks 1 to 3 read by name, 0xFF after the record, block 4 free: -4");
    }

    // Area 30 to 100 writes (64 blocks, 32 a sector): moves at the 32nd and 96th, the wrap at the 64th.
    // Area 31 to 45 writes (16 blocks, 8 a sector).
    for (const std::pair<int, int>& run : {std::make_pair(30, 100), std::make_pair(kLastArea, 45)}) {
        const int area = run.first;
        ExpectedNode& node = expected[Row(area)];
        bool ok = true;
        for (int number = 3; number < run.second; ++number) {
            Bytes record = Pattern(area, 1, number, 64 + number);
            ok = Write(store, area, record) == 0 && Read(store, area, 64 + number) == record && ok;
            node.Wrote(Local(area), record);
        }
        t.Check(ok, Area(area) + ": " + std::to_string(run.second - 3) +
                        " more writes across sector moves and the wrap, each read back");
        const int blocks = NodeOf(area).iAreaSize / NodeOf(area).iBlockSize;
        const int current = run.second % blocks, perSector = blocks / 2;
        const int last = run.second - 1;
        unsigned char b[4];
        t.Check(Read(store, area, 64 + last, current) == Pattern(area, 1, last, 64 + last) &&
                    store.GetData(area, current + 1, b, 4) == -4 &&
                    store.GetData(area, (current + perSector) % blocks, b, 4) == -4,
                Area(area) + ": the last write is block " + std::to_string(current) +
                    ", the block after it and the other sector free");
    }

    for (int row = 0; row < 2; ++row) {
        Bytes image = expected[row].Image();
        const std::string name = strrchr(g_RomDeviceInfoArray[row].pszDevName, '/') + 1;
        std::ofstream out(dir + "/" + name + ".img", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
        t.Check(out.good(), "expected bytes of " + name + " written for mtd_debug");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: vmstoretest DIR\n");
        return 2;
    }
    Tally t;
    CRomMgr store;
    Geometry(t);
    BadArguments(t, store);
    Masks(t, store);
    Exclusion(t, store);
    Records(t, store, argv[1]);
    return t.Finish() == 0 ? 0 : 1;
}
