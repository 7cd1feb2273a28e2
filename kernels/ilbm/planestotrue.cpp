// planestotrue: a planar bitmap of 24 planes into a true-colour picture (red,
// green, blue bytes).
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/ilbm/planar.h"

KERNEL_VERSION("planestotrue", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 28;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5 };

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint64_t row_bytes = planar_row_bytes(width);
    const uint64_t plane_size = row_bytes * height;
    const checked_u64 rgb_size = checked_size(width, height, 3);

    const uint8_t* planar = shared_bytes(block_word(block, kSource), checked_size(row_bytes, height, 24));
    uint8_t* rgb = shared_bytes(block_word(block, kDestination), rgb_size);
    if (planar == nullptr || rgb == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    // Rows of no pixels need no walk, however many there are.
    const uint32_t rows = width == 0 ? 0 : height;
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* row = rgb + uint64_t(y) * width * 3;
        for (uint32_t channel = 0; channel < 3; ++channel) {
            const uint8_t* rows[8] = {};
            for (uint32_t k = 0; k < 8; ++k) rows[k] = planar + (8 * channel + k) * plane_size + y * row_bytes;
            pixel_row_from_planes<3>(rows, 8, width, row + channel);
        }
    }
    PPCCacheFlush(rgb, uint32_t(*rgb_size));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
