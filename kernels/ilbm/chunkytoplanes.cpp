// chunkytoplanes: a chunky picture (one palette index per byte) into a planar
// bitmap of 1 to 8 planes.
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/planar.h"

KERNEL_VERSION("chunkytoplanes", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kPlanes = 6 };

uint32_t chunky_to_planes(void* block)
{
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t planes = block_word(block, kPlanes);
    const uint64_t row_bytes = planar_row_bytes(width);
    const uint64_t plane_size = row_bytes * height;
    const checked_u64 planar_size = checked_size(row_bytes, height, planes);

    const uint8_t* chunky = shared_bytes(block_word(block, kSource), checked_size(width, height));
    uint8_t* planar = shared_bytes(block_word(block, kDestination), planar_size);
    if (chunky == nullptr || planar == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // Planes past the eighth get no bits from a byte.
    const uint32_t used = planes < 8 ? planes : 8;
    // Rows of no pixels need no walk, however many there are.
    const uint32_t rows = width == 0 ? 0 : height;
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* rows[8] = {};
        for (uint32_t k = 0; k < used; ++k) rows[k] = planar + k * plane_size + y * row_bytes;
        planes_from_pixel_row<1>(chunky + uint64_t(y) * width, width, rows, used);
    }
    PPCCacheFlush(planar, uint32_t(*planar_size));
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, chunky_to_planes); }
