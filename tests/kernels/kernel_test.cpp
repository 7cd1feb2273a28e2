#include "kernel_test.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

const host_module* load_module(const char* name)
{
    const host_module* module = host_load_module(name);
    EXPECT_NE(module, nullptr) << "module " << name << " not found in " << host_module_dir();
    return module;
}

SharedArena::~SharedArena()
{
    for (void* p : owned) host_free(p);
}

uint8_t* SharedArena::alloc(uint32_t size)
{
    uint8_t* p = host_alloc(size);
    if (p) owned.push_back(p);
    return p;
}

uint8_t* SharedArena::copy(std::span<const uint8_t> bytes)
{
    uint8_t* p = alloc(uint32_t(bytes.size()));
    if (p) std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

uint8_t* SharedArena::fill(uint32_t size, uint8_t value)
{
    uint8_t* p = alloc(size);
    if (p) std::memset(p, value, size);
    return p;
}

uint8_t* SharedArena::block(uint32_t size, std::initializer_list<std::pair<uint32_t, uint32_t>> words)
{
    uint8_t* b = alloc(size);
    for (auto [index, value] : words) host_set_word(b, index, value);
    return b;
}

SharedSnapshot take_snapshot()
{
    const uint32_t count = platform_list_blocks(nullptr, nullptr, 0);
    std::vector<uint32_t> addresses(count), sizes(count);
    platform_list_blocks(addresses.data(), sizes.data(), count);
    SharedSnapshot snap;
    snap.addresses = addresses;
    for (uint32_t i = 0; i < count; ++i) {
        const auto* p = static_cast<const uint8_t*>(shared_pointer(addresses[i]));
        snap.bytes.emplace_back(p, p + sizes[i]);
    }
    return snap;
}

std::vector<uint32_t> changed_addresses(const SharedSnapshot& before, const SharedSnapshot& after)
{
    std::vector<uint32_t> changed;
    for (size_t i = 0; i < before.addresses.size(); ++i) {
        for (size_t j = 0; j < after.addresses.size(); ++j) {
            if (after.addresses[j] != before.addresses[i]) continue;
            const auto& a = before.bytes[i];
            const auto& b = after.bytes[j];
            for (size_t k = 0; k < a.size() && k < b.size(); ++k)
                if (a[k] != b[k]) changed.push_back(before.addresses[i] + uint32_t(k));
        }
    }
    return changed;
}

FlushLog::FlushLog()
{
    platform_flush_log_clear();
    platform_flush_log_enable(1);
}

FlushLog::~FlushLog()
{
    platform_flush_log_enable(0);
    platform_flush_log_clear();
}

std::vector<FlushRange> FlushLog::entries() const
{
    std::vector<FlushRange> out;
    for (uint32_t i = 0; i < platform_flush_log_size(); ++i) {
        const void* start;
        uint32_t length;
        platform_flush_log_entry(i, &start, &length);
        out.push_back({static_cast<const uint8_t*>(start), length});
    }
    return out;
}

bool covered_by(const std::vector<FlushRange>& ranges, const uint8_t* p)
{
    for (const auto& r : ranges)
        if (p >= r.start && p < r.start + r.length) return true;
    return false;
}

namespace {

uint64_t thread_nanoseconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
}

uint64_t work_budget_nanoseconds()
{
    static const uint64_t budget = [] {
        constexpr size_t kBytes = size_t(64) << 20;
        std::vector<uint8_t> area(kBytes, 1);
        uint64_t best = ~uint64_t(0);
        for (int i = 0; i < 3; ++i) {
            const uint64_t start = thread_nanoseconds();
            std::memset(area.data(), i, kBytes);
            const volatile uint8_t keep = area[kBytes / 2];
            (void)keep;
            best = std::min(best, thread_nanoseconds() - start);
        }
        return std::max<uint64_t>(best, 2000000);  // never below 2 ms
    }();
    return budget;
}

} // namespace

bool run_within_work_budget(const host_module* module, uint8_t* block, std::span<const uint8_t> words)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::memcpy(block, words.data(), words.size());
        const uint64_t start = thread_nanoseconds();
        module->function(block);
        if (thread_nanoseconds() - start <= work_budget_nanoseconds()) return true;
    }
    return false;
}
