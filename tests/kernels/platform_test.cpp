// The run-time stand-in: translation, allocation, room, failure injection,
// the flush log and the operating-system call gate.
#include <gtest/gtest.h>

#include <cstring>

#include "kernel_test.h"
#include "platform/byteorder.h"
#include "platform/platform.h"

TEST(Platform, AddressesAndPointersTranslateBothWays)
{
    EXPECT_EQ(shared_address(nullptr), 0u);
    EXPECT_EQ(shared_pointer(0), nullptr);
    int not_shared = 0;
    EXPECT_EQ(shared_address(&not_shared), 0u);

    auto* p = static_cast<uint8_t*>(AllocVec(100, MEMF_CLEAR));
    ASSERT_NE(p, nullptr);
    const uint32_t a = shared_address(p);
    EXPECT_GE(a, 4096u) << "the first page is never handed out";
    EXPECT_EQ(shared_pointer(a), p);
    EXPECT_EQ(shared_address(p + 99), a + 99);
    EXPECT_EQ(shared_pointer(a + 99), p + 99);
    FreeVec(p);
}

TEST(Platform, MemoryIsZeroFilledOnlyWhenAskedAndSizeZeroIsNull)
{
    EXPECT_EQ(AllocVec(0, MEMF_CLEAR), nullptr);
    EXPECT_EQ(PPCAllocVec(0, MEMF_CLEAR), nullptr);

    for (auto* alloc : {&AllocVec, &PPCAllocVec}) {
        auto* junk = static_cast<uint8_t*>(alloc(64, MEMF_PUBLIC));
        ASSERT_NE(junk, nullptr);
        std::memset(junk, 0, 64);
        (alloc == &AllocVec ? FreeVec : PPCFreeVec)(junk);
        // Whatever was there before, a cleared block is all zeros and an
        // uncleared one is not.
        auto* cleared = static_cast<uint8_t*>(alloc(64, MEMF_PUBLIC | MEMF_CLEAR));
        auto* plain = static_cast<uint8_t*>(alloc(64, MEMF_PUBLIC));
        ASSERT_NE(cleared, nullptr);
        ASSERT_NE(plain, nullptr);
        int zeros = 0;
        for (int i = 0; i < 64; ++i) {
            EXPECT_EQ(cleared[i], 0) << i;
            zeros += plain[i] == 0;
        }
        EXPECT_LT(zeros, 64);
        (alloc == &AllocVec ? FreeVec : PPCFreeVec)(cleared);
        (alloc == &AllocVec ? FreeVec : PPCFreeVec)(plain);
    }
}

TEST(Platform, RoomRunsToTheEndOfTheLiveBlockAndIsZeroOutside)
{
    auto* p = static_cast<uint8_t*>(PPCAllocVec(37, MEMF_CLEAR));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(shared_room(p), 37u);
    EXPECT_EQ(shared_room(p + 36), 1u);
    EXPECT_EQ(shared_room(p + 37), 0u) << "just past the end";
    EXPECT_EQ(shared_room(p - 1), 0u);
    EXPECT_EQ(shared_room(nullptr), 0u);
    int not_shared = 0;
    EXPECT_EQ(shared_room(&not_shared), 0u);
    PPCFreeVec(p);
    EXPECT_EQ(shared_room(p), 0u) << "a freed block has no room";
}

TEST(Platform, LiveBlocksAreCountedPerAllocatorAndListed)
{
    const uint32_t host = platform_live_blocks(ALLOCATOR_HOST);
    const uint32_t ppc = platform_live_blocks(ALLOCATOR_PPC);
    void* a = AllocVec(10, 0);
    void* b = PPCAllocVec(20, 0);
    void* c = PPCAllocVec(30, 0);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), host + 1);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), ppc + 2);

    const uint32_t n = platform_list_blocks(nullptr, nullptr, 0);
    std::vector<uint32_t> addresses(n), sizes(n);
    ASSERT_EQ(platform_list_blocks(addresses.data(), sizes.data(), n), n);
    int found = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (addresses[i] == shared_address(b)) found += sizes[i] == 20;
        if (i > 0) {
            EXPECT_LT(addresses[i - 1], addresses[i]);
        }
    }
    EXPECT_EQ(found, 1);

    FreeVec(a);
    PPCFreeVec(b);
    PPCFreeVec(c);
    FreeVec(nullptr);
    PPCFreeVec(nullptr);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), host);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), ppc);
}

TEST(Platform, TheNthRequestFromNowFailsOnce)
{
    const uint32_t before = platform_requests(ALLOCATOR_PPC);
    platform_fail_nth_alloc(ALLOCATOR_PPC, 2);
    void* first = PPCAllocVec(8, 0);
    void* second = PPCAllocVec(8, 0);
    void* third = PPCAllocVec(8, 0);
    void* host = AllocVec(8, 0);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_NE(host, nullptr) << "the other allocator is not affected";
    EXPECT_EQ(platform_requests(ALLOCATOR_PPC), before + 3);
    PPCFreeVec(first);
    PPCFreeVec(third);
    FreeVec(host);

    platform_fail_nth_alloc(ALLOCATOR_HOST, 1);
    EXPECT_EQ(AllocVec(8, 0), nullptr);
    platform_fail_nth_alloc(ALLOCATOR_HOST, 1);
    platform_fail_nth_alloc(ALLOCATOR_HOST, 0);
    void* again = AllocVec(8, 0);
    EXPECT_NE(again, nullptr) << "0 disarms";
    FreeVec(again);
}

TEST(Platform, RequestsBeyondTheRegionFailCleanly)
{
    EXPECT_EQ(AllocVec(0xFFFFFFFFu, MEMF_CLEAR), nullptr);
    EXPECT_EQ(PPCAllocVec(0xFFFFF000u, 0), nullptr);
}

TEST(Platform, FreedMemoryIsReusedAndLargeBlocksWork)
{
    for (int round = 0; round < 3; ++round) {
        auto* big = static_cast<uint8_t*>(AllocVec(200u << 20, MEMF_CLEAR));
        ASSERT_NE(big, nullptr);
        EXPECT_EQ(big[0], 0);
        EXPECT_EQ(big[(200u << 20) - 1], 0);
        big[12345] = 7;
        FreeVec(big);
    }
}

TEST(Platform, FlushLogRecordsOnlyWhileOn)
{
    platform_flush_log_clear();
    uint8_t bytes[8];
    PPCCacheFlush(bytes, 8);
    EXPECT_EQ(platform_flush_log_size(), 0u);
    {
        FlushLog log;
        PPCCacheFlush(bytes, 8);
        PPCCacheFlush(bytes + 2, 3);
        auto entries = log.entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].start, bytes);
        EXPECT_EQ(entries[0].length, 8u);
        EXPECT_EQ(entries[1].start, bytes + 2);
        EXPECT_EQ(entries[1].length, 3u);
    }
    EXPECT_EQ(platform_flush_log_size(), 0u);
}

TEST(Platform, CallOSServesExecAllocVecAndFreeVec)
{
    const uint32_t live = platform_live_blocks(ALLOCATOR_HOST);
    os_call_record call{};
    call.library_offset = LVO_AllocVec;
    call.host_cache_mode = IF_CACHEFLUSHALL;
    call.ppc_cache_mode = IF_CACHEFLUSHALL;
    call.d0 = 820;
    call.d1 = MEMF_PUBLIC | MEMF_CLEAR;
    call.a6 = SysBase;
    const uint32_t address = PPCCallOS(&call);
    ASSERT_NE(address, 0u);
    EXPECT_EQ(shared_room(shared_pointer(address)), 820u);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), live + 1) << "it is host memory";

    os_call_record free_call{};
    free_call.library_offset = LVO_FreeVec;
    free_call.a1 = address;
    free_call.a6 = SysBase;
    PPCCallOS(&free_call);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), live);

    os_call_record unknown = call;
    unknown.library_offset = -6;
    EXPECT_EQ(PPCCallOS(&unknown), 0u);
    os_call_record wrong_base = call;
    wrong_base.a6 = 0;
    EXPECT_EQ(PPCCallOS(&wrong_base), 0u);
    EXPECT_EQ(PPCCallOS(nullptr), 0u);
}

TEST(Platform, BigEndianWords)
{
    uint8_t b[4];
    store_be32(b, 0x12345678);
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(b[3], 0x78);
    EXPECT_EQ(load_be32(b), 0x12345678u);
    store_be16(b, 0xABCD);
    EXPECT_EQ(b[0], 0xAB);
    EXPECT_EQ(load_be16(b), 0xABCD);
}

TEST(PlatformDeath, FreeingWhatTheAllocatorNeverGaveStops)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    void* host = AllocVec(16, 0);
    EXPECT_DEATH(PPCFreeVec(host), "no live block");
    int local = 0;
    EXPECT_DEATH(FreeVec(&local), "no live block");
    FreeVec(host);
}

#if PLATFORM_ADDRESS_SANITIZER
TEST(PlatformDeath, BytesOutsideLiveBlocksArePoisoned)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto* p = static_cast<volatile uint8_t*>(PPCAllocVec(10, MEMF_CLEAR));
    EXPECT_DEATH(p[10] = 1, "");
    PPCFreeVec(const_cast<uint8_t*>(p));
    EXPECT_DEATH((void)p[0], "");
}
#endif
