// mapdither: a true-colour picture into indices of the host's palette, taken
// in the record's order, with no diffusion or with Floyd-Steinberg.
#include <cstring>

#include "kernels/colour/palette_mapping.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

KERNEL_VERSION("mapdither", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 28;
enum : uint32_t { kSource = 2, kDestination = 3, kRecord = 4, kMode = 5 };

constexpr uint32_t kMarginOfFloydSteinberg = 1;  // the accumulators hold pixels -1 to width

uint32_t map_dither(void* block)
{
    picture_record* record = picture_at(block_word(block, kRecord));
    if (record == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }
    const uint32_t width = picture_width(record), height = picture_height(record), depth = picture_depth(record);
    if (depth < 1 || depth > 8) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }
    if (width == 0 || height == 0) return 0;  // no pixel to map

    const checked_u64 pixels = checked_size(width, height);
    const uint8_t* rgb = shared_bytes(block_word(block, kSource), checked_size(pixels, 3));
    uint8_t* indices = shared_bytes(block_word(block, kDestination), pixels);
    if (rgb == nullptr || indices == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // The search reads a copy, so a destination that overlaps the record
    // cannot change the palette under it.
    uint8_t palette[PICTURE_PALETTE_SIZE];
    std::memcpy(palette, record->palette, PICTURE_PALETTE_SIZE);
    const search_palette search{palette, 3, int32_t(1) << depth};

    mapping_work work;
    const uint32_t result = request_mapping_work(work, width, kMarginOfFloydSteinberg);
    if (result == KERNEL_OK) {
        if (block_word(block, kMode) == 0)
            map_undiffused(search, work.cache, rgb, indices, width, height);
        else
            map_diffused<floyd_steinberg>(search, work, rgb, indices, width, height);
        release_mapping_work(work);
    }
    set_block_error(block, kBlockSize, result);
    PPCCacheFlush(indices, uint32_t(*pixels));
    PPCCacheFlush(record, PICTURE_RECORD_SIZE);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, map_dither); }
