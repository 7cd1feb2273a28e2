// bmpstore: a picture in the host's layout (rows top down, one byte per pixel,
// or red, green, blue) into a BMP pixel array: rows bottom up, packed at 1, 4,
// 8 or 24 bits, each padded to a multiple of 4 bytes.
#include <cstring>

#include "kernels/codecs/bmp.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("bmpstore", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 36;
enum : uint32_t { kSource = 2, kDestination = 3, kRowBuffer = 4, kWidth = 5, kHeight = 6, kDepth = 7 };

// One source row into one destination row. At 1 and 4 bits the pixels are
// OR-ed into a destination the host has cleared; padding is never written.
void pack_row(const uint8_t* pixels, uint32_t width, uint32_t depth, uint8_t* out)
{
    switch (depth) {
    case 1:
        for (uint32_t x = 0; x < width; x += 8) {
            const uint32_t count = width - x < 8 ? width - x : 8;
            uint8_t bits = 0;
            for (uint32_t j = 0; j < count; ++j) bits |= uint8_t((pixels[x + j] & 1) << (7 - j));
            out[x / 8] |= bits;
        }
        break;
    case 4:
        for (uint32_t x = 0; x < width; x += 2) {
            const uint8_t right = x + 1 < width ? pixels[x + 1] : 0;
            out[x / 2] |= uint8_t(pixels[x] << 4) | right;
        }
        break;
    case 8:
        std::memmove(out, pixels, width);
        break;
    case 24:
        bmp_swap_red_blue(pixels, width, out);
        break;
    }
}

uint32_t store_bmp(void* block)
{
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t depth = block_word(block, kDepth);
    const uint64_t source_row = depth <= 8 ? width : 3 * uint64_t(width);
    const uint64_t row_length = bmp_row_length(width, depth);

    uint8_t* pixels = shared_bytes(block_word(block, kSource), checked_size(source_row, height));
    uint8_t* row_buffer = shared_bytes(block_word(block, kRowBuffer), source_row);
    uint8_t* out =
        row_length != 0 ? shared_bytes(block_word(block, kDestination), checked_size(row_length, height)) : nullptr;
    if (pixels == nullptr || row_buffer == nullptr || (row_length != 0 && out == nullptr)) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // BMP rows run bottom up. Reading the source from its last row comes to
    // the same as turning it upside down and back, without moving it.
    if (out != nullptr)
        for (uint32_t y = 0; y < height; ++y)
            pack_row(pixels + uint64_t(height - 1 - y) * source_row, width, depth, out + y * row_length);

    // The row buffer is left holding what turning the rows back would leave:
    // the last row it carried, row height - height / 2 of the source.
    if (height >= 2) std::memmove(row_buffer, pixels + uint64_t(height - height / 2) * source_row, source_row);

    PPCCacheFlush(pixels, uint32_t(source_row * height));
    if (out != nullptr) {
        PPCCacheFlush(out, uint32_t(row_length * height));
    } else if (uint8_t* unpacked = shared_bytes(block_word(block, kDestination), source_row * height)) {
        PPCCacheFlush(unpacked, uint32_t(source_row * height));
    }
    PPCCacheFlush(row_buffer, uint32_t(source_row));
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, store_bmp); }
