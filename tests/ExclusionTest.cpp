// Processes that share a node take turns: a second user is turned away as busy, so that concurrent
// writers and readers never see a torn record and never lose a write that returned success.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "NorSim.h"
#include "RomMgr.h"
#include "TableFlash.h"
#include "TableNodes.h"

using Bytes = std::vector<unsigned char>;

namespace {

const int kLargest = 0x2000 - 8;
const int kSharedArea = 1;

// A record that names its writer and its number and can be checked whole from its bytes alone.
Bytes MakeRecord(int writer, int number) {
    const int length = 16 + (number * 37 + writer * 101) % 2000;
    Bytes record(static_cast<std::size_t>(length));
    record[0] = 0xA5;
    record[1] = static_cast<unsigned char>(writer);
    record[2] = static_cast<unsigned char>(number >> 8);
    record[3] = static_cast<unsigned char>(number);
    record[4] = static_cast<unsigned char>(length >> 8);
    record[5] = static_cast<unsigned char>(length);
    for (int i = 6; i < length; ++i) record[static_cast<std::size_t>(i)] = static_cast<unsigned char>((i * (writer + 3) + number) % 251);
    return record;
}

// What a read of the largest record may show: erased flash before the first write, or one record
// whole, followed by erased bytes.
bool IsWholeRecord(const Bytes& read) {
    if (read == Bytes(kLargest, 0xFF)) return true;
    if (read[0] != 0xA5) return false;
    const int length = read[4] << 8 | read[5];
    if (length < 16 || length > kLargest) return false;
    Bytes expected = MakeRecord(read[1], read[2] << 8 | read[3]);
    expected.resize(kLargest, 0xFF);
    return read == expected;
}

// Retries while another process holds the node, as a host does.
template <class Call>
int WhileBusy(Call call) {
    int result;
    while ((result = call()) == -2) usleep(100);
    return result;
}

// One writer's life; its exit status tells whether every promise held.
int Writer(int writer, int writes) {
    CRomMgr mgr;
    const int ownArea = 2 + writer;
    Bytes lastOwn;
    for (int n = 0; n < writes; ++n) {
        Bytes record = MakeRecord(writer, n);
        const int area = n % 2 == 0 ? kSharedArea : ownArea;
        if (WhileBusy([&] { return mgr.SetData(area, record.data(), static_cast<int>(record.size()), true); }) != 0)
            return 1;
        if (area == ownArea) lastOwn = record;

        Bytes shared(kLargest);
        if (WhileBusy([&] { return mgr.GetData(kSharedArea, shared.data(), kLargest); }) != kLargest) return 2;
        if (!IsWholeRecord(shared)) return 3;
    }
    Bytes own(kLargest);
    if (WhileBusy([&] { return mgr.GetData(ownArea, own.data(), kLargest); }) != kLargest) return 4;
    lastOwn.resize(kLargest, 0xFF);
    return own == lastOwn ? 0 : 5;
}

}  // namespace

TEST(Exclusion, ConcurrentProcessesNeverTearARecordNorLoseOne) {
    const std::string image = (std::filesystem::temp_directory_path() /
                               ("romstore-exclusion-" + std::to_string(getpid()) + ".img"))
                                  .string();
    std::filesystem::remove(image);
    const norsim::TableNode node = norsim::TableNodes().at(0);
    norsim::Flash::instance().addImage(node.path, node.size, node.eraseSize, image);

    const int kWriters = 3;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(Writer(writer, 150));
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1 write failed, 2 read failed, 3 torn record, 5 lost write";
    }

    CRomMgr mgr;
    Bytes shared(kLargest);
    EXPECT_EQ(mgr.GetData(kSharedArea, shared.data(), kLargest), kLargest);
    EXPECT_TRUE(IsWholeRecord(shared));
    EXPECT_NE(shared[0], 0xFF);
    norsim::Flash::instance().remove(node.path);
    std::filesystem::remove(image);
    std::filesystem::remove(image + ".wear");
}

// The lock itself, with no race to win or lose: while one descriptor holds the node, any other open
// of it is turned away at once, and so is a record call through it.
TEST(Exclusion, AHeldNodeIsBusyToEveryOtherOpen) {
    romtest::TableFlash flash;
    CRomMgr holder, other;
    Bytes record(10, 0x11);
    ASSERT_EQ(holder.m_pRomDevice[0].DeviceOpen(), 0);
    EXPECT_EQ(other.m_pRomDevice[0].DeviceOpen(), -2);
    EXPECT_EQ(other.SetData(kSharedArea, record.data(), 10, true), -2);
    EXPECT_EQ(flash.node(0).peek(0, kLargest + 8), Bytes(kLargest + 8, 0xFF));
    EXPECT_EQ(holder.m_pRomDevice[0].DeviceClose(), 0);
    EXPECT_EQ(other.SetData(kSharedArea, record.data(), 10, true), 0);
}
