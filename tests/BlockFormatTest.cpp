// The trust rule of the block format, and the record length that it finds and romctl shows.
#include <gtest/gtest.h>

#include <algorithm>

#include "BlockFormat.h"
#include "TableFlash.h"

using romtest::Bytes;
using romtest::Record;

namespace {

const std::size_t kRegion = 0x2000 - BlockFormat::kHeaderSize;

// The record region of a block holding `record`: the record, then erased bytes.
Bytes Region(Bytes record) {
    record.resize(kRegion, 0xFF);
    return record;
}

// The length that the trust rule finds in `region`, fed to it `piece` bytes at a time.
int LengthFound(unsigned int uiCrc, const Bytes& region, std::size_t piece) {
    BlockFormat::RecordCheck check(uiCrc);
    for (std::size_t at = 0; at < region.size(); at += piece)
        check.Add(region.data() + at, static_cast<int>(std::min(piece, region.size() - at)));
    EXPECT_EQ(check.Trusted(), check.RecordLength() >= 0);
    return check.RecordLength();
}

unsigned int ChecksumOf(const Bytes& record) {
    return BlockFormat::ChecksumWord(record.data(), static_cast<int>(record.size()));
}

}  // namespace

TEST(RecordCheck, FindsTheLengthOfARecordThatEndsInErasedBytes) {
    Bytes record = Record(100, 3);
    record.insert(record.end(), 5, 0xFF);
    for (std::size_t piece : {1, 7, 4096}) EXPECT_EQ(LengthFound(ChecksumOf(record), Region(record), piece), 105) << piece;
    EXPECT_EQ(LengthFound(ChecksumOf({}), Region({}), 4096), 0);
}

TEST(RecordCheck, TheFormatMarkerHoldsARecordOfNoBytes) {
    EXPECT_EQ(LengthFound(BlockFormat::kErasedWord, Region({}), 4096), 0);
    EXPECT_EQ(LengthFound(BlockFormat::kErasedWord, Region({0x00}), 4096), -1);
}

TEST(RecordCheck, ChangedRecordOrChecksumWordFindsNoLength) {
    const Bytes record = Record(100, 3);
    Bytes changed = record;
    changed[50] ^= 0x01;
    EXPECT_EQ(LengthFound(ChecksumOf(record), Region(changed), 4096), -1);
    EXPECT_EQ(LengthFound(ChecksumOf(record) | 0x00010000u, Region(record), 4096), -1);
}

TEST(RecordCheck, ErasedRunsInsideARecordCountWhereverThePiecesSplitThem) {
    Bytes record = Record(100, 5);
    record.insert(record.end(), 300, 0xFF);
    const Bytes tail = Record(50, 6);
    record.insert(record.end(), tail.begin(), tail.end());
    for (std::size_t piece : {1, 7, 64, 150, 4096})
        EXPECT_EQ(LengthFound(ChecksumOf(record), Region(record), piece), 450) << piece;
}

TEST(IsErased, FindsOneClearedBitAtAnyPlaceAndAlignment) {
    Bytes bytes(300, 0xFF);
    for (std::size_t start = 0; start < 8; ++start)
        for (std::size_t length : {0, 1, 3, 63, 64, 65, 200, 292}) {
            const unsigned char* p = bytes.data() + start;
            EXPECT_TRUE(BlockFormat::IsErased(p, static_cast<int>(length))) << start << " " << length;
            for (std::size_t at = 0; at < length; ++at) {
                bytes[start + at] = 0x7F;
                EXPECT_FALSE(BlockFormat::IsErased(p, static_cast<int>(length))) << start << " " << length << " " << at;
                bytes[start + at] = 0xFF;
            }
        }
}
