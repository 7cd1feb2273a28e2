// pcxstore24: true-colour pixels into plain PCX scan lines of three planes,
// red, green and blue, each width bytes long.
#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("pcxstore24", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 32;
enum : uint32_t { kSource = 2, kDestination = 3, kWidth = 4, kHeight = 5, kLength = 6 };

} // namespace

KERNEL_EXPORT uint32_t PPCFunction(void* block)
{
    if (!block_fits(block, kBlockSize)) return 1;
    const uint32_t width = block_word(block, kWidth);
    const uint32_t height = block_word(block, kHeight);
    const uint64_t row_bytes = 3 * uint64_t(width);
    const checked_u64 size = checked_size(3, width, height);

    const uint8_t* rgb = shared_bytes(block_word(block, kSource), size);
    uint8_t* out = shared_bytes(block_word(block, kDestination), size);
    if (rgb == nullptr || out == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 1;
    }

    // Rows of no pixels need no walk, however many there are.
    const uint32_t rows = width == 0 ? 0 : height;
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* pixel = rgb + y * row_bytes;
        uint8_t* red = out + y * row_bytes;
        uint8_t* green = red + width;
        uint8_t* blue = green + width;
        for (uint32_t x = 0; x < width; ++x, pixel += 3) {
            red[x] = pixel[0];
            green[x] = pixel[1];
            blue[x] = pixel[2];
        }
    }

    set_block_word(block, kLength, uint32_t(*size));
    PPCCacheFlush(out, uint32_t(*size));
    return 1;
}

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, PPCFunction); }
