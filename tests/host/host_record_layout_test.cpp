// SPDX-License-Identifier: MIT
// The host's record as a host lays it out in memory: raw bytes, not our
// struct. A slip in the declared layout makes the library read the wrong
// bytes here, as it would in a user's editor.
#include <gtest/gtest.h>

#include <cstring>

#include "host/host_buffers.h"
#include "lumarex/lumarex.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::TestHost;

template <class T>
void Put(unsigned char* at, const T& value) {
    std::memcpy(at, &value, sizeof value);
}

TEST(HostRecordLayout, AllocationRunsThroughARecordBuiltFromRawBytes) {
    if (sizeof(void*) != 8) GTEST_SKIP() << "the byte offsets are those of 64-bit hosts";
    TestHost host;
    const BufferProcs& counting = *host.record()->bufferProcs;

    // The five-procedure buffer suite: two int16 counts, then the procedures
    // at bytes 8, 16, 24, 32 and 40.
    alignas(8) unsigned char suite[48] = {};
    Put(suite + 0, int16_t{2});
    Put(suite + 2, int16_t{5});
    Put(suite + 8, counting.allocateProc);
    Put(suite + 16, counting.lockProc);
    Put(suite + 24, counting.unlockProc);
    Put(suite + 32, counting.freeProc);
    Put(suite + 40, counting.spaceProc);
    // The record: zeros, with the suite pointer at byte 224.
    alignas(8) unsigned char record[256] = {};
    Put(record + 224, static_cast<void*>(suite));

    SetFilterRecord(reinterpret_cast<FilterRecord*>(record));
    HostBlock* block = AllocateHostBlock(100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(host.allocations(), 1);
    EXPECT_EQ(host.lastRequest(), 112);
    EXPECT_EQ(host.locks(), 1);
    EXPECT_EQ(block->Size(), 100);
    ReleaseHostBlock(block);
    EXPECT_EQ(host.live(), 0);

    // The whole export path through the same bytes: a blob and back.
    uint8_t rgb[2 * 2 * 3] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    ImageDesc d{0, 2, 2, 6, 3, rgb, rgb + 1, rgb + 2};
    ImageBlob* blob = AllocImageBlob(&d);
    ASSERT_NE(blob, nullptr);
    EXPECT_GE(host.live(), 1);
    FreeImageBlob(blob);
    EXPECT_EQ(host.live(), 0);
    SetFilterRecord(host.record());
}

}  // namespace
}  // namespace lx
