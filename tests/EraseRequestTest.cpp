// The erase request as the kernel of the machine takes it. Its number comes from the platform's header
// and carries the transfer direction, which powerpc keeps in bit 31 and x86 and Arm in bit 30: a number
// taken from a workstation would erase nothing on the target.
#include <gtest/gtest.h>

#include <cerrno>

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>

#include "RomDevice.h"
#include "TableFlash.h"

using norsim::OpKind;
using romtest::Bytes;

namespace {

#if defined(__powerpc__)
const unsigned long kMemErase = 0x80084d02;
const unsigned long kOtherEncoding = 0x40084d02;
#else
const unsigned long kMemErase = 0x40084d02;
const unsigned long kOtherEncoding = 0x80084d02;
#endif

TEST(EraseRequest, IsTheNumberOfThisArchitecture) { EXPECT_EQ(MEMERASE, kMemErase); }

// The simulator erases on MEMERASE and on nothing else, so the erase in its log is the store's
// request arriving with exactly that number.
TEST(EraseRequest, StoreErasesWithItAndTheOtherEncodingErasesNothing) {
    romtest::TableFlash flash;
    norsim::Node& node = flash.node(0);
    CRomDevice device;
    romtest::InitializeFromTable(device, 0);
    const std::uint32_t sector = 0x40000;
    node.fill(0, 2 * sector, 0x00);
    ASSERT_EQ(device.DeviceOpen(), 0);

    erase_info_user request{sector, sector};
    EXPECT_EQ(ioctl(device.m_iFd, kOtherEncoding, &request), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(romtest::CountOps(node, OpKind::Erase), 0);

    EXPECT_EQ(device.EraseSectorSystem(1, 1), 0);
    device.DeviceClose();
    const auto erases = romtest::OpsOf(node, OpKind::Erase);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].offset, sector);
    EXPECT_EQ(erases[0].length, sector);
    EXPECT_EQ(erases[0].result, 0);
    EXPECT_EQ(node.peek(0, sector), Bytes(sector, 0x00));
    EXPECT_EQ(node.peek(sector, sector), Bytes(sector, 0xFF));
}

}  // namespace
