// palettetune: packs a palette picture's palette to the colours its pixels
// use, identical colours merged, renumbers the pixels in place and lowers
// the depth to the fewest bits that hold the colours kept.
#include <cstring>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

KERNEL_VERSION("palettetune", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 16;
enum : uint32_t { kRecord = 2 };

// 1 bit for up to 2 colours, 2 for up to 4, ... 8 for more than 128.
uint32_t depth_for(uint32_t colours)
{
    uint32_t depth = 1;
    while (depth < 8 && (1u << depth) < colours) ++depth;
    return depth;
}

uint32_t tune_palette(void* block)
{
    picture_record* record = picture_at(block_word(block, kRecord));
    if (record == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }
    const checked_u64 pixel_count = checked_size(picture_width(record), picture_height(record));
    // A picture of no pixels needs no buffer: it keeps no colour.
    uint8_t* pixels = nullptr;
    if (*pixel_count != 0) {
        pixels = shared_bytes(picture_pixels(record), pixel_count);
        if (pixels == nullptr) {
            set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
            return 0;
        }
    }
    const uint64_t n = *pixel_count;

    uint32_t uses[256] = {};
    for (uint64_t i = 0; i < n; ++i) ++uses[pixels[i]];

    // Used colours in the order of their lowest old index; a colour seen
    // before maps to the entry it got then.
    uint8_t packed[PICTURE_PALETTE_SIZE] = {};
    uint8_t renumber[256] = {};
    uint32_t kept = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        if (uses[i] == 0) continue;
        const uint8_t* colour = picture_colour(record, i);
        uint32_t j = 0;
        while (j < kept && std::memcmp(packed + 3 * j, colour, 3) != 0) ++j;
        if (j == kept) {
            std::memcpy(packed + 3 * kept, colour, 3);
            ++kept;
        }
        renumber[i] = uint8_t(j);
    }

    for (uint64_t i = 0; i < n; ++i) pixels[i] = renumber[pixels[i]];
    std::memcpy(record->palette, packed, PICTURE_PALETTE_SIZE);
    set_picture_depth(record, depth_for(kept));

    if (pixels != nullptr) PPCCacheFlush(pixels, uint32_t(n));
    PPCCacheFlush(record, PICTURE_RECORD_SIZE);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, tune_palette); }
