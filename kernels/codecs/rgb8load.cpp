// rgb8load: RGB8 records (red, green, blue, count) into true-colour pixels.
// The records run through the picture as one sequence of pixels, so a run may
// go on from the end of one row into the next.
#include <algorithm>
#include <cstring>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("rgb8load", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kFlushLength = 6 };

constexpr uint32_t kRecordBytes = 4;
constexpr uint8_t kCountBits = 0x7F;  // bit 7 of the count byte is not part of the count

// Stores `n` pixels of one colour at `out`. Long runs are copied from a
// block of eight pixels rather than stored three bytes at a time.
void store_run(uint8_t* out, const uint8_t* colour, uint64_t n)
{
    if (n < 8) {
        for (uint64_t k = 0; k < n; ++k, out += 3) std::memcpy(out, colour, 3);
        return;
    }
    uint8_t eight[24];
    for (uint32_t k = 0; k < 8; ++k) std::memcpy(eight + 3 * k, colour, 3);
    uint64_t k = 0;
    for (; k + 8 <= n; k += 8, out += 24) std::memcpy(out, eight, 24);
    std::memcpy(out, eight, 3 * (n - k));
}

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const checked_u64 size = checked_size(3, width, height);

    uint8_t* pixels = shared_bytes(block_word(block, kDestination), size);
    if (pixels == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }
    const std::span<const uint8_t> source = shared_source(block_word(block, kSource));

    // Every record gives at least one pixel, so the walk ends with the picture.
    uint64_t remaining = *size / 3;
    uint8_t* out = pixels;
    uint64_t at = 0;
    bool complete = true;
    while (remaining != 0) {
        if (source.size() - at < kRecordBytes) {
            complete = false;
            break;
        }
        // Taken out before any store: a careless host may name one buffer
        // for both.
        const uint8_t record[kRecordBytes] = {source[at], source[at + 1], source[at + 2], source[at + 3]};
        at += kRecordBytes;
        // A count of 0 gives one pixel, like 1; pixels past the picture's
        // last are not stored.
        const uint64_t n = std::min<uint64_t>(std::max<uint32_t>(record[3] & kCountBits, 1), remaining);
        store_run(out, record, n);
        out += 3 * n;
        remaining -= n;
    }

    // The host names the length to flush; it is kept inside the destination's
    // block.
    PPCCacheFlush(pixels, std::min(block_word(block, kFlushLength), shared_room(pixels)));
    if (!complete) set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
