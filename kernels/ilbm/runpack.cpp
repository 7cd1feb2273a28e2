// runpack: a planar bitmap into ByteRun1 plane rows, ready to be written as an
// ILBM body: row 0 of every plane, then row 1, and so on.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/byterun1.h"

KERNEL_VERSION("runpack", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 40;
enum : uint32_t { kSource = 2, kDestination = 3, kScratch = 4, kRows = 5, kPlanes = 6, kPlaneRowBytes = 7, kPacked = 8 };

} // namespace

// Packs one row of `length` bytes and moves both pointers past what it used.
KERNEL_EXPORT uint32_t PackRow(uint8_t* scratch, const uint8_t** source, uint8_t** destination, uint32_t length)
{
    const int64_t written = byterun1_pack_row({*source, length}, length, scratch, *destination, UINT64_MAX);
    *source += length;
    *destination += written;
    return uint32_t(written);
}

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t rows = block_word(block, kRows);
    const uint32_t planes = block_word(block, kPlanes);
    const uint32_t row_bytes = block_word(block, kPlaneRowBytes);
    // Rows are packed at an even length; an odd row takes in the byte after it.
    const uint64_t even = uint64_t(row_bytes) + (row_bytes & 1);
    const uint64_t plane_size = uint64_t(rows) * row_bytes;

    const uint8_t* bitmap = shared_bytes(block_word(block, kSource), checked_size(rows, row_bytes, planes));
    uint8_t* scratch = shared_bytes(block_word(block, kScratch), BYTERUN1_SCRATCH_SIZE);
    const std::span<uint8_t> destination = shared_span(block_word(block, kDestination));
    uint8_t* out = destination.data();
    const uint64_t room = destination.size();
    if (bitmap == nullptr || scratch == nullptr || room == 0) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    // The byte after the last row of the last plane lies past the bitmap; when
    // its block ends there too, that byte reads as 0.
    const uint64_t readable = shared_room(bitmap);
    uint64_t total = 0;
    // Empty rows, or rows of no planes, pack to nothing however many there are.
    const uint32_t packed_rows = row_bytes > 0 && planes > 0 ? rows : 0;
    for (uint32_t r = 0; r < packed_rows; ++r) {
        for (uint32_t p = 0; p < planes; ++p) {
            const uint64_t offset = uint64_t(r) * row_bytes + p * plane_size;
            const uint64_t present = std::min(even, readable - offset);
            const int64_t written =
                byterun1_pack_row({bitmap + offset, present}, even, scratch, out + total, room - total);
            if (written < 0) {
                set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
                PPCCacheFlush(out, uint32_t(room));
                PPCCacheFlush(scratch, BYTERUN1_SCRATCH_SIZE);
                return 1;
            }
            total += uint64_t(written);
        }
    }
    PPCCacheFlush(out, uint32_t(total));
    PPCCacheFlush(scratch, BYTERUN1_SCRATCH_SIZE);  // PackRow's scratch was written too
    set_block_word(block, kPacked, uint32_t(total));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
