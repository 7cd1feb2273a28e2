// pbmstore: a chunky picture, one byte per pixel, into ByteRun1 rows of the
// width rounded up to even.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/byterun1.h"

KERNEL_VERSION("pbmstore", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kSource = 2, kDestination = 3, kScratch = 4, kHeight = 5, kWidth = 6, kPacked = 7 };

uint64_t even_width(uint32_t width) { return uint64_t(width) + (width & 1); }

// Packs `rows` rows of the even width, one after another in the source, into
// `out` with room for `room` bytes. The total written, or -1 when out of room.
int64_t pack_rows(const uint8_t* source, uint8_t* out, uint64_t room, uint8_t* scratch, uint32_t rows, uint32_t width)
{
    const uint64_t even = even_width(width);
    uint64_t total = 0;
    // Empty rows pack to nothing, however many there are.
    for (uint32_t r = 0; r < rows && even > 0; ++r) {
        const int64_t written = byterun1_pack_row({source + r * even, even}, even, scratch, out + total, room - total);
        if (written < 0) return -1;
        total += uint64_t(written);
    }
    return int64_t(total);
}

} // namespace

KERNEL_EXPORT uint32_t DoPack(const uint8_t* source, uint8_t* destination, uint8_t* scratch, uint32_t rows,
                              uint32_t width)
{
    return uint32_t(pack_rows(source, destination, UINT64_MAX, scratch, rows, width));
}

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t height = block_word(block, kHeight);
    const uint32_t width = block_word(block, kWidth);
    const uint64_t even = even_width(width);

    const uint8_t* pixels = shared_bytes(block_word(block, kSource), checked_size(even, height));
    uint8_t* scratch = shared_bytes(block_word(block, kScratch), BYTERUN1_SCRATCH_SIZE);
    const std::span<uint8_t> destination = shared_span(block_word(block, kDestination));
    uint8_t* out = destination.data();
    const uint64_t room = destination.size();
    if (pixels == nullptr || scratch == nullptr || room == 0) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    const int64_t total = pack_rows(pixels, out, room, scratch, height, width);
    if (total < 0) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        PPCCacheFlush(out, uint32_t(room));
        return 1;
    }
    set_block_word(block, kPacked, uint32_t(total));
    PPCCacheFlush(out, uint32_t(total));
    // The scratch is flushed over the row plus 256 bytes, but not past the end
    // of its block.
    PPCCacheFlush(scratch, uint32_t(std::min<uint64_t>(even + 256, shared_room(scratch))));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
