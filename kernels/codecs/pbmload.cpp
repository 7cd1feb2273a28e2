// pbmload: ByteRun1 rows of a chunky body into a picture of one byte per
// pixel.
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/byterun1.h"

KERNEL_VERSION("pbmload", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 44;
enum : uint32_t { kSource = 2, kDestination = 3, kRowBuffer = 4, kHeight = 6, kRowBytes = 7, kRowLength = 8, kProduced = 9 };

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

    const std::span<uint8_t> row = byterun1_row_buffer(block_word(block, kRowBuffer), length, kept);
    uint8_t* picture = shared_bytes(block_word(block, kDestination), checked_size(kept, height));
    if (row.empty() || picture == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    // One plane: the rows follow each other, `kept` bytes apart.
    const std::span<const uint8_t> source = shared_source(block_word(block, kSource));
    const int64_t produced = byterun1_unpack_body(source, row, picture, height, 1, kept, length, 0);
    if (produced < 0) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
    } else {
        // What the last row's codes produced; 0 when there are no rows.
        set_block_word(block, kProduced, uint32_t(produced));
    }
    PPCCacheFlush(picture, uint32_t(picture_size));
    PPCCacheFlush(row.data(), uint32_t(row.size()));  // the row buffer was written too
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
