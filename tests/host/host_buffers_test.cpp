// SPDX-License-Identifier: MIT
#include "host/host_buffers.h"

#include <gtest/gtest.h>

#include "lumarex/lumarex.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::TestHost;

TEST(HostBuffers, BlockHeaderHoldsIdAndSizeAndGoesBackThroughTheCurrentRecord) {
    TestHost host;
    HostBlock* b = AllocateHostBlock(1024);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(host.lastRequest(), 1024 + 12);  // the header travels with the data
    EXPECT_EQ(b->Size(), 1024);
    EXPECT_EQ(b->Data(), reinterpret_cast<uint8_t*>(b) + 12);
    EXPECT_EQ(host.locks(), 1);
    ReleaseHostBlock(b);
    EXPECT_EQ(host.live(), 0);

    HostBlock* empty = AllocateHostBlock(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(host.lastRequest(), 12);
    EXPECT_EQ(empty->Size(), 0);
    // A block goes back through the record current at release time, here a
    // second record whose suite frees through the first one's, counting.
    static FreeBufferProc hostFree = nullptr;
    static int otherFrees = 0;
    hostFree = host.record()->bufferProcs->freeProc;
    otherFrees = 0;
    BufferProcs otherProcs = *host.record()->bufferProcs;
    otherProcs.freeProc = [](BufferID id) {
        ++otherFrees;
        hostFree(id);
    };
    FilterRecord other = *host.record();
    other.bufferProcs = &otherProcs;
    SetFilterRecord(&other);
    ReleaseHostBlock(empty);
    EXPECT_EQ(otherFrees, 1);
    EXPECT_EQ(host.live(), 0);
}

TEST(HostBuffers, RefusalsNullsAndMissingHostsMakeNoFurtherHostCalls) {
    TestHost host;
    host.FailAt(1);
    EXPECT_EQ(AllocateHostBlock(16), nullptr);
    EXPECT_EQ(host.locks(), 0) << "a refused allocation must not be locked";
    // A buffer handed out but not lockable is freed at once.
    host.FailLockAt(1);
    EXPECT_EQ(AllocateHostBlock(16), nullptr);
    EXPECT_EQ(host.allocations(), 1);
    EXPECT_EQ(host.live(), 0);
    host.Reset();
    ReleaseHostBlock(nullptr);

    // Sizes the host's int32 cannot carry with the header are refused here.
    EXPECT_EQ(AllocateHostBlock(-1), nullptr);
    EXPECT_EQ(AllocateHostBlock64(int64_t{INT32_MAX} - 11), nullptr);
    EXPECT_EQ(AllocateHostBlock64(int64_t{1} << 40), nullptr);
    EXPECT_EQ(host.allocations(), 0);

    // No record, or one without a buffer suite: no memory, no crash.
    SetFilterRecord(nullptr);
    EXPECT_EQ(AllocateHostBlock(16), nullptr);
    FilterRecord noSuite{};
    SetFilterRecord(&noSuite);
    EXPECT_EQ(AllocateHostBlock(16), nullptr);
    SetFilterRecord(host.record());
}

TEST(HostBuffers, OwnerReleasesWhenMovedOverAndAtScopeEnd) {
    TestHost host;
    {
        HostBuffer a = HostBuffer::Allocate(64);
        HostBuffer b = HostBuffer::Allocate(64);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(host.live(), 2);
        a = std::move(b);  // the old block of `a` goes back at once
        EXPECT_EQ(host.live(), 1);
        EXPECT_FALSE(b);
    }
    EXPECT_EQ(host.live(), 0);
}

}  // namespace
}  // namespace lx
