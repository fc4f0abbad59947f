// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The erase request as the kernel of the machine takes it. Its number comes from the platform's header
// and carries the transfer direction, which powerpc keeps in bit 31 and x86 and Arm in bit 30: a number
// taken from a workstation would erase nothing on the target. The simulator erases on MEMERASE and on
// nothing else, so an erase in its log is the store's request arriving with exactly that number.
#include <gtest/gtest.h>

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>

#include "RomMgr.h"
#include "TableFlash.h"

using romtest::Bytes;

TEST(EraseRequest, IsTheNumberOfThisArchitectureAndTheStoreErasesWithIt) {
#if defined(__powerpc__)
    EXPECT_EQ(MEMERASE, 0x80084d02ul);
#else
    EXPECT_EQ(MEMERASE, 0x40084d02ul);
#endif
    romtest::TableFlash flash;
    flash.node(0).fill(0, 2 * romtest::kArea, 0x00);
    CRomMgr store;
    EXPECT_EQ(store.EraseArea(1 << 1), 0);
    const auto erases = romtest::OpsOf(flash.node(0), norsim::OpKind::Erase);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].offset, romtest::kArea);
    EXPECT_EQ(erases[0].length, romtest::kArea);
    EXPECT_EQ(flash.node(0).peek(0, romtest::kArea), Bytes(romtest::kArea, 0x00));
    EXPECT_EQ(flash.node(0).peek(romtest::kArea, romtest::kArea), Bytes(romtest::kArea, 0xFF));
}
