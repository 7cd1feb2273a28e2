// planestochunky: a planar bitmap of 1 to 8 planes into a chunky picture (one
// palette index per byte).
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/planar.h"

KERNEL_VERSION("planestochunky", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kPlanes = 6 };

uint32_t planes_to_chunky(void* block)
{
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint32_t planes = block_word(block, kPlanes);
    const uint64_t row_bytes = planar_row_bytes(width);
    const uint64_t plane_size = row_bytes * height;
    const uint64_t chunky_size = uint64_t(width) * height;

    const uint8_t* planar = shared_bytes(block_word(block, kSource), checked_size(row_bytes, height, planes));
    uint8_t* chunky = shared_bytes(block_word(block, kDestination), chunky_size);
    if (planar == nullptr || chunky == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }

    // A plane past the eighth would set a bit no byte has.
    const uint32_t used = planes < 8 ? planes : 8;
    // Rows of no pixels need no walk, however many there are.
    const uint32_t rows = width == 0 ? 0 : height;
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* rows[8] = {};
        for (uint32_t k = 0; k < used; ++k) rows[k] = planar + k * plane_size + y * row_bytes;
        pixel_row_from_planes<1>(rows, used, width, chunky + uint64_t(y) * width);
    }
    PPCCacheFlush(chunky, uint32_t(chunky_size));
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, planes_to_chunky); }
