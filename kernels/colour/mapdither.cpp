// mapdither: a true-colour picture into indices of the host's palette, taken
// in the record's order, with no diffusion or with Floyd-Steinberg.
#include <cstring>

#include "kernels/colour/palette_mapping.h"
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

KERNEL_VERSION("mapdither", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kMarginOfFloydSteinberg = 1;  // the accumulators hold pixels -1 to width

uint32_t map_dither(void* block)
{
    palette_dither_call call;
    if (!take_palette_dither_call(block, call)) return 0;

    // The search reads a copy, so a destination that overlaps the record
    // cannot change the palette under it.
    uint8_t palette[PICTURE_PALETTE_SIZE];
    std::memcpy(palette, call.record->palette, PICTURE_PALETTE_SIZE);
    const search_palette search{palette, 3, int32_t(1) << call.depth};

    mapping_work work;
    const uint32_t result = request_mapping_work(work, call.width, kMarginOfFloydSteinberg);
    if (result == KERNEL_OK) {
        if (call.mode == 0)
            map_undiffused(search, work.cache, call.rgb, call.indices, call.width, call.height);
        else
            map_diffused<floyd_steinberg>(search, work, call.rgb, call.indices, call.width, call.height);
        release_mapping_work(work);
    }
    set_block_error(block, PALETTE_DITHER_BLOCK_SIZE, result);
    PPCCacheFlush(call.indices, call.pixels);
    PPCCacheFlush(call.record, PICTURE_RECORD_SIZE);
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, PALETTE_DITHER_BLOCK_SIZE, map_dither); }
