// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The stand-in log facility: levels per module from NQ_LOG, one readable line per call.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "NqLog.h"

TEST(StandInLogFacility, EnablesLevelsPerModuleAndFormatsOneLine) {
    // Read once, at the first call: set before anything asks.
    setenv("NQ_LOG", "14=6,*=3,bogus", 1);
    EXPECT_NE(NqGetStatus(ROM_LOG_MODULE, LOGLV_INFO), 0);
    EXPECT_EQ(NqGetStatus(ROM_LOG_MODULE, LOGLV_DEBUG), 0);
    EXPECT_NE(NqGetStatus(2, LOGLV_ERROR), 0);
    EXPECT_EQ(NqGetStatus(2, LOGLV_WARNING), 0);

    // A null string, as the store passes for a device initialised without a path.
    const char* pszNone = getenv("ROMSTORE_TEST_UNSET_VARIABLE");
    testing::internal::CaptureStderr();
    NqLogX(LOGLV_ERROR, "RO", "SetData", "RomDevice", 42, "FAIL to SetData( %d, 0x%X, %d )", 3,
           0xABCDu, 7);
    NqLogX(LOGLV_WARNING, "RO", "Initialize", "RomDevice", 9, "path %s", pszNone);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR RO SetData (RomDevice:42): FAIL to SetData( 3, 0xABCD, 7 )\n"
              "WARNING RO Initialize (RomDevice:9): path (null)\n");
}
