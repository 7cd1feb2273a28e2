// The shared-memory region, its two allocators, the room query, the cache
// flush log and the operating-system call gate. See platform.h.
#include "platform/platform.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

// Under AddressSanitizer everything outside a live block is poisoned.
#if PLATFORM_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#define POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define POISON(p, n) ((void)(p), (void)(n))
#define UNPOISON(p, n) ((void)(p), (void)(n))
#endif

uint32_t SysBase = 0x400;  // a handle inside the first page: it names no memory

namespace {

constexpr uint64_t kRegionSize = uint64_t(1) << 32;  // every 32-bit address
constexpr uint64_t kFirstAddress = 4096;             // the first page is never handed out
constexpr uint64_t kAlign = 16;
constexpr uint64_t kGuard = 32;                      // untouchable gap after every block
constexpr uint64_t kCommitStep = uint64_t(64) << 20; // the region is made usable in steps
constexpr uint64_t kReleaseAbove = uint64_t(1) << 20;// freed blocks this large give pages back
constexpr uint8_t kJunk = 0xA5;                      // fill of memory nobody asked to clear

struct Block {
    uint64_t size;       // bytes the caller asked for
    uint64_t span;       // bytes taken from the region, guard included
    uint32_t allocator;
};

struct Region {
    uint8_t* base = nullptr;
    uint64_t committed_end = kFirstAddress;      // [kFirstAddress, committed_end) is read/write
    std::map<uint64_t, Block> live;              // by start address
    std::map<uint64_t, uint64_t> free_ranges;    // start -> length, inside the committed part
    uint32_t live_count[2] = {0, 0};
    uint32_t fail_countdown[2] = {0, 0};
    uint32_t requests[2] = {0, 0};
    bool flush_log_on = false;
    std::vector<std::pair<const void*, uint32_t>> flush_log;
    std::mutex lock;
};

Region& region()
{
    // Made once, never destroyed: modules may still free memory while the
    // process winds down.
    static Region* r = [] {
        auto* made = new Region;
        void* base = mmap(nullptr, kRegionSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (base == MAP_FAILED) {
            std::fputs("platform: cannot reserve the shared memory region\n", stderr);
            std::abort();
        }
        made->base = static_cast<uint8_t*>(base);
        return made;
    }();
    return *r;
}

uint64_t round_up(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

void add_free_range(Region& r, uint64_t start, uint64_t length)
{
    auto next = r.free_ranges.lower_bound(start);
    if (next != r.free_ranges.end() && start + length == next->first) {
        length += next->second;
        next = r.free_ranges.erase(next);
    }
    if (next != r.free_ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == start) {
            prev->second += length;
            return;
        }
    }
    r.free_ranges.emplace(start, length);
}

// Makes more of the region usable; false when the region is exhausted.
bool commit_more(Region& r, uint64_t at_least)
{
    uint64_t grow = round_up(at_least > kCommitStep ? at_least : kCommitStep, kCommitStep);
    if (r.committed_end + grow > kRegionSize) grow = kRegionSize - r.committed_end;
    if (grow < at_least || grow == 0) return false;
    uint8_t* start = r.base + r.committed_end;
    if (mprotect(start, grow, PROT_READ | PROT_WRITE) != 0) return false;
    POISON(start, grow);
    add_free_range(r, r.committed_end, grow);
    r.committed_end += grow;
    return true;
}

void* allocate(uint32_t allocator, uint32_t size, uint32_t flags)
{
    if (size == 0) return nullptr;
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    r.requests[allocator]++;
    if (r.fail_countdown[allocator] != 0 && --r.fail_countdown[allocator] == 0) return nullptr;

    const uint64_t span = round_up(size, kAlign) + kGuard;
    auto fit = r.free_ranges.end();
    for (;;) {
        for (auto it = r.free_ranges.begin(); it != r.free_ranges.end(); ++it) {
            if (it->second >= span) {
                fit = it;
                break;
            }
        }
        if (fit != r.free_ranges.end()) break;
        // A range at the top of the committed part grows with the commit.
        uint64_t tail = 0;
        if (!r.free_ranges.empty()) {
            auto last = std::prev(r.free_ranges.end());
            if (last->first + last->second == r.committed_end) tail = last->second;
        }
        if (!commit_more(r, span - tail)) return nullptr;
    }

    const uint64_t start = fit->first;
    const uint64_t rest = fit->second - span;
    r.free_ranges.erase(fit);
    if (rest != 0) r.free_ranges.emplace(start + span, rest);
    r.live.emplace(start, Block{size, span, allocator});
    r.live_count[allocator]++;

    uint8_t* memory = r.base + start;
    UNPOISON(memory, size);
    std::memset(memory, (flags & MEMF_CLEAR) ? 0 : kJunk, size);
    return memory;
}

void release(uint32_t allocator, void* memory, const char* who)
{
    if (memory == nullptr) return;
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    const auto* p = static_cast<uint8_t*>(memory);
    auto it = r.live.end();
    if (p >= r.base && uint64_t(p - r.base) < kRegionSize) it = r.live.find(uint64_t(p - r.base));
    if (it == r.live.end() || it->second.allocator != allocator) {
        // A free of something this allocator never handed out is a fault of
        // the caller; stop where it happened rather than corrupt the region.
        std::fprintf(stderr, "platform: %s of %p, which is no live block of its allocator\n", who, memory);
        std::abort();
    }
    const uint64_t start = it->first;
    const Block block = it->second;
    r.live.erase(it);
    r.live_count[allocator]--;

    POISON(r.base + start, block.size);
    if (block.span >= kReleaseAbove) {
        const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
        const uint64_t from = round_up(start, page);
        const uint64_t to = (start + block.span) / page * page;
        if (to > from) madvise(r.base + from, to - from, MADV_DONTNEED);
    }
    add_free_range(r, start, block.span);
}

} // namespace

PLATFORM_API void* AllocVec(uint32_t size, uint32_t flags) { return allocate(ALLOCATOR_HOST, size, flags); }
PLATFORM_API void FreeVec(void* memory) { release(ALLOCATOR_HOST, memory, "FreeVec"); }
PLATFORM_API void* PPCAllocVec(uint32_t size, uint32_t flags) { return allocate(ALLOCATOR_PPC, size, flags); }
PLATFORM_API void PPCFreeVec(void* memory) { release(ALLOCATOR_PPC, memory, "PPCFreeVec"); }

PLATFORM_API void PPCCacheFlush(const void* start, uint32_t length)
{
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.flush_log_on) r.flush_log.emplace_back(start, length);
}

PLATFORM_API uint32_t PPCCallOS(void* call_record)
{
    if (call_record == nullptr) return 0;
    const auto* call = static_cast<const os_call_record*>(call_record);
    if (call->a6 != SysBase) return 0;
    switch (call->library_offset) {
    case LVO_AllocVec:
        return shared_address(AllocVec(call->d0, call->d1));
    case LVO_FreeVec:
        FreeVec(shared_pointer(call->a1));
        return 0;
    default:
        return 0;
    }
}

PLATFORM_API uint32_t shared_address(const void* pointer)
{
    const auto* p = static_cast<const uint8_t*>(pointer);
    const uint8_t* base = region().base;
    if (p == nullptr || p < base || uint64_t(p - base) >= kRegionSize) return 0;
    return uint32_t(p - base);
}

PLATFORM_API void* shared_pointer(uint32_t address)
{
    if (address == 0) return nullptr;
    return region().base + address;
}

PLATFORM_API uint32_t shared_room(const void* pointer)
{
    const uint32_t address = shared_address(pointer);
    if (address == 0) return 0;
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.live.upper_bound(address);
    if (it == r.live.begin()) return 0;
    --it;
    const uint64_t end = it->first + it->second.size;
    return address < end ? uint32_t(end - address) : 0;
}

PLATFORM_API void platform_fail_nth_alloc(uint32_t allocator, uint32_t n)
{
    if (allocator > ALLOCATOR_PPC) return;
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    r.fail_countdown[allocator] = n;
}

PLATFORM_API uint32_t platform_live_blocks(uint32_t allocator)
{
    if (allocator > ALLOCATOR_PPC) return 0;
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.live_count[allocator];
}

PLATFORM_API uint32_t platform_requests(uint32_t allocator)
{
    if (allocator > ALLOCATOR_PPC) return 0;
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.requests[allocator];
}

PLATFORM_API uint32_t platform_list_blocks(uint32_t* addresses, uint32_t* sizes, uint32_t capacity)
{
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    uint32_t i = 0;
    for (const auto& [start, block] : r.live) {
        if (i < capacity) {
            if (addresses) addresses[i] = uint32_t(start);
            if (sizes) sizes[i] = uint32_t(block.size);
        }
        ++i;
    }
    return i;
}

PLATFORM_API void platform_flush_log_enable(int on)
{
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    r.flush_log_on = on != 0;
}

PLATFORM_API uint32_t platform_flush_log_size(void)
{
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    return uint32_t(r.flush_log.size());
}

PLATFORM_API void platform_flush_log_entry(uint32_t index, const void** start, uint32_t* length)
{
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    const bool known = index < r.flush_log.size();
    if (start) *start = known ? r.flush_log[index].first : nullptr;
    if (length) *length = known ? r.flush_log[index].second : 0;
}

PLATFORM_API void platform_flush_log_clear(void)
{
    Region& r = region();
    std::lock_guard<std::mutex> hold(r.lock);
    r.flush_log.clear();
}
