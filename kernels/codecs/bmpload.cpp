// bmpload: an uncompressed BMP pixel array of 1, 4, 8 or 24 bits into one byte
// per pixel, or red, green, blue, rows kept in the order they stand.
#include <cstring>

#include "kernels/codecs/bmp.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("bmpload", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kDepth = 6, kByteCount = 7 };

// One padded row into one destination row. At 1 and 4 bits a zero byte is
// skipped and a clear bit leaves its pixel alone: the host has cleared the
// destination, so only set pixels cost a store.
void unpack_row(const uint8_t* row, uint32_t width, uint32_t depth, uint8_t* out)
{
    switch (depth) {
    case 1:
        for (uint32_t x = 0; x < width; x += 8) {
            const uint8_t bits = row[x / 8];
            if (bits == 0) continue;
            const uint32_t count = width - x < 8 ? width - x : 8;
            for (uint32_t j = 0; j < count; ++j)
                if (bits & (0x80 >> j)) out[x + j] = 1;
        }
        break;
    case 4:
        for (uint32_t x = 0; x < width; x += 2) {
            const uint8_t pair = row[x / 2];
            if (pair == 0) continue;
            out[x] = pair >> 4;
            if (x + 1 < width) out[x + 1] = pair & 0x0F;
        }
        break;
    case 8:
        std::memmove(out, row, width);
        break;
    case 24:
        bmp_swap_red_blue(row, width, out);
        break;
    }
}

uint32_t load_bmp(void* block)
{
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t depth = block_word(block, kDepth);
    const uint64_t row_length = bmp_row_length(width, depth);
    if (row_length == 0) {
        set_block_word(block, kByteCount, 0);  // a depth without pixels
        return 0;
    }
    const uint64_t out_row = depth == 24 ? 3 * uint64_t(width) : width;

    const uint8_t* rows = shared_bytes(block_word(block, kSource), checked_size(row_length, height));
    uint8_t* out = shared_bytes(block_word(block, kDestination), checked_size(out_row, height));
    if (rows == nullptr || out == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    for (uint32_t y = 0; y < height; ++y) unpack_row(rows + y * row_length, width, depth, out + y * out_row);

    // The count is four and three times the bytes read at 4 and 24 bits.
    const uint64_t scale = depth == 4 ? 4 : depth == 24 ? 3 : 1;
    set_block_word(block, kByteCount, uint32_t(scale * row_length * height));
    PPCCacheFlush(out, uint32_t(out_row * height));
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, load_bmp); }
