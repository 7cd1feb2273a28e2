// The run-time stand-in that every kernel module and the host share.
//
// On the real machine the host processor and the PowerPC reach one memory
// through 32-bit addresses. Here one region of address space is reserved per
// process and a 32-bit address is an offset into it: 0 is null, and the first
// page is never handed out. Both allocators (the host operating system's
// AllocVec and the PowerPC run-time's PPCAllocVec) carve their blocks out of
// that region, and the region keeps a record of every live block, so that a
// module can ask how many bytes are left from any pointer to the end of the
// block that holds it (shared_room). That answer is what keeps every kernel
// inside the memory it was given.
#pragma once

#include <cstdint>

// 1 in a build with AddressSanitizer, which GCC announces with
// __SANITIZE_ADDRESS__ and clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLATFORM_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef PLATFORM_ADDRESS_SANITIZER
#define PLATFORM_ADDRESS_SANITIZER 0
#endif

#if defined(PLATFORM_BUILDING)
#define PLATFORM_API extern "C" __attribute__((visibility("default")))
#else
#define PLATFORM_API extern "C"
#endif

// Memory flags, as the operating system spells them.
inline constexpr uint32_t MEMF_PUBLIC = 0x00001;
inline constexpr uint32_t MEMF_CLEAR = 0x10000;

// The host operating system's allocator. Null for size 0 or when memory runs
// out; zero-filled when the flags carry MEMF_CLEAR, otherwise filled with a
// junk pattern so that nothing comes to rely on memory it did not clear.
PLATFORM_API void* AllocVec(uint32_t size, uint32_t flags);
PLATFORM_API void FreeVec(void* memory);

// The PowerPC run-time's working memory, with the same rules.
PLATFORM_API void* PPCAllocVec(uint32_t size, uint32_t flags);
PLATFORM_API void PPCFreeVec(void* memory);

// Writes the data cache back over a range. This host's caches are coherent,
// so it does nothing unless a test has switched the flush log on.
PLATFORM_API void PPCCacheFlush(const void* start, uint32_t length);

// Calls a function of the host operating system described by a call record
// (struct os_call_record below). Returns the function's result in d0.
PLATFORM_API uint32_t PPCCallOS(void* call_record);

// Translation between pointers and 32-bit shared addresses. A pointer outside
// the region, or null, has address 0; address 0 gives null.
PLATFORM_API uint32_t shared_address(const void* pointer);
PLATFORM_API void* shared_pointer(uint32_t address);

// Bytes from `pointer` to the end of the live block that holds it; 0 when it
// lies in no live block.
PLATFORM_API uint32_t shared_room(const void* pointer);

// Base of exec, the value a call record carries in a6 for exec's functions.
PLATFORM_API uint32_t SysBase;

// Library vector offsets of exec that PPCCallOS serves.
inline constexpr int32_t LVO_AllocVec = -684;
inline constexpr int32_t LVO_FreeVec = -690;

// Cache modes of a call record.
inline constexpr uint32_t IF_CACHEFLUSHNO = 0;
inline constexpr uint32_t IF_CACHEFLUSHALL = 1;

// A cross call to the host operating system: which function (by its library
// vector offset from the base in a6), how the caches are treated on either
// side, and the registers. Registers hold 32-bit values; pointers travel as
// shared addresses. AllocVec takes the size in d0 and the flags in d1;
// FreeVec takes the block in a1. Fields nobody sets stay 0.
struct os_call_record {
    int32_t library_offset;
    uint32_t host_cache_mode;
    uint32_t ppc_cache_mode;
    uint32_t d0, d1, d2, d3, d4, d5, d6, d7;
    uint32_t a0, a1, a2, a3, a4, a5, a6;
};

// ---------------------------------------------------------------------------
// Test controls. Nothing in the kernels or the host library uses these.

enum platform_allocator : uint32_t {
    ALLOCATOR_HOST = 0,  // AllocVec / FreeVec
    ALLOCATOR_PPC = 1,   // PPCAllocVec / PPCFreeVec
};

// Makes the n-th request of that allocator from now fail (n = 1: the next
// one). 0 disarms it.
PLATFORM_API void platform_fail_nth_alloc(uint32_t allocator, uint32_t n);

// Blocks of that allocator that are live now.
PLATFORM_API uint32_t platform_live_blocks(uint32_t allocator);

// Requests made of that allocator so far, granted or not (size 0 aside).
PLATFORM_API uint32_t platform_requests(uint32_t allocator);

// Lists the live blocks of both allocators, lowest address first: fills up to
// `capacity` addresses and sizes and returns how many blocks there are.
PLATFORM_API uint32_t platform_list_blocks(uint32_t* addresses, uint32_t* sizes, uint32_t capacity);

// The flush log: while it is on, every PPCCacheFlush is recorded.
PLATFORM_API void platform_flush_log_enable(int on);
PLATFORM_API uint32_t platform_flush_log_size(void);
PLATFORM_API void platform_flush_log_entry(uint32_t index, const void** start, uint32_t* length);
PLATFORM_API void platform_flush_log_clear(void);
