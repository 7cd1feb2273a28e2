// pbmload: ByteRun1 rows of a chunky body into a picture of one byte per
// pixel.
#include <algorithm>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/byterun1.h"

KERNEL_VERSION("pbmload", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 44;
enum : uint32_t {
    kSource = 2,
    kDestination = 3,
    kRowBuffer = 4,
    kHeight = 6,
    kRowBytes = 7,
    kRowLength = 8,
    kProduced = 9,
};

} // namespace

KERNEL_EXPORT void copymem(const uint8_t* source, uint8_t* destination, uint32_t count)
{
    byterun1_copy(source, destination, count);
}

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t height = block_word(block, kHeight);
    const uint32_t kept = block_word(block, kRowBytes);
    const uint64_t length = block_word(block, kRowLength);
    const uint64_t picture_size = uint64_t(kept) * height;

    const uint64_t row_size = std::max(length + BYTERUN1_ROW_SLACK, uint64_t(kept));
    uint8_t* row = shared_bytes(block_word(block, kRowBuffer), row_size);
    uint8_t* picture = shared_bytes(block_word(block, kDestination), picture_size);
    if (row == nullptr || picture == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    const std::span<const uint8_t> source = shared_source(block_word(block, kSource));
    uint64_t at = 0;
    int64_t produced = 0;
    for (uint32_t r = 0; r < height; ++r) {
        produced = byterun1_unpack_row(source, at, {row, row_size}, length);
        if (produced < 0) {
            set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
            PPCCacheFlush(picture, uint32_t(picture_size));
            return 1;
        }
        copymem(row, picture + uint64_t(r) * kept, kept);
    }
    // What the last row's codes produced; 0 when there are no rows.
    set_block_word(block, kProduced, uint32_t(produced));
    PPCCacheFlush(picture, uint32_t(picture_size));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
