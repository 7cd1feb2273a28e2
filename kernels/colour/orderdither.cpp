// orderdither: a true-colour picture into colour-cube indices by ordered
// dithering with the host's threshold matrix.
#include <algorithm>
#include <bit>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

KERNEL_VERSION("orderdither", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kBlockSize = 52;
enum : uint32_t {
    kSource = 2,
    kDestination = 3,
    kWidth = 4,
    kHeight = 5,
    kRedLevels = 6,
    kGreenLevels = 7,
    kBlueLevels = 8,
    kScale = 9,
    kMatrixSize = 10,
    kMatrix = 11,
};

// The arithmetic is that of signed 32-bit numbers that wrap, done on unsigned
// ones so that no step overflows; only the division is signed.
int32_t wrapped(uint32_t value) { return std::bit_cast<int32_t>(value); }

// The level of one component: (t + M x value) / Q, the fraction dropped,
// kept to its low 8 bits.
uint32_t level(uint32_t threshold, uint32_t multiplier, uint32_t value, int32_t divisor)
{
    return uint32_t(wrapped(threshold + multiplier * value) / divisor) & 0xFF;
}

uint32_t order_dither(void* block)
{
    const uint32_t width = block_word(block, kWidth), height = block_word(block, kHeight);
    const uint32_t red_levels = block_word(block, kRedLevels), green_levels = block_word(block, kGreenLevels),
                   blue_levels = block_word(block, kBlueLevels);
    const uint32_t scale = block_word(block, kScale), size = block_word(block, kMatrixSize);
    // S x 256 kept to 32 bits is 0 for every multiple of 2^24: no divisor.
    // Q is a multiple of 256, never -1, so the division cannot overflow.
    const int32_t divisor = wrapped(scale * 256u);
    if (divisor == 0 || size == 0) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }
    if (width == 0 || height == 0) return 0;  // no pixel to dither

    const checked_u64 pixels = checked_size(width, height);
    const uint8_t* rgb = shared_bytes(block_word(block, kSource), checked_size(pixels, 3));
    uint8_t* indices = shared_bytes(block_word(block, kDestination), pixels);
    const uint8_t* matrix = shared_bytes(block_word(block, kMatrix), checked_size(size, 4));
    if (rgb == nullptr || indices == nullptr || matrix == nullptr) {
        set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
        return 0;
    }
    // Every matrix row a picture row takes must hold its N thresholds, checked
    // before the first byte is written. The rows taken repeat after the
    // power of two at or above N, so no more rows than that are looked at.
    const uint32_t mask = size - 1;
    const uint64_t row_bytes = uint64_t(size) * 4;
    const uint64_t rows_taken = std::min<uint64_t>(height, std::bit_ceil(uint64_t(size)));
    for (uint64_t y = 0; y < rows_taken; ++y) {
        if (shared_bytes(load_be32(matrix + 4 * (y & mask)), row_bytes) == nullptr) {
            set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
            return 0;
        }
    }

    const uint32_t red_multiplier = (red_levels - 1) * scale + 1;
    const uint32_t green_multiplier = (green_levels - 1) * scale + 1;
    const uint32_t blue_multiplier = (blue_levels - 1) * scale + 1;
    const uint8_t* p = rgb;
    uint8_t* out = indices;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* thresholds = shared_bytes(load_be32(matrix + 4 * (y & mask)), row_bytes);
        if (thresholds == nullptr) {
            // Only a destination laid over the matrix can have changed a row
            // address that was checked above.
            PPCCacheFlush(indices, uint32_t(*pixels));
            set_block_error(block, kBlockSize, KERNEL_BAD_DATA);
            return 0;
        }
        // Columns run from the right-hand side: pixel x takes (width - x) AND (N - 1).
        for (uint32_t x = 0; x < width; ++x, p += 3, ++out) {
            const uint32_t t = load_be32(thresholds + 4 * uint64_t((width - x) & mask));
            const uint32_t b = level(t, blue_multiplier, p[2], divisor);
            const uint32_t g = level(t, green_multiplier, p[1], divisor);
            const uint32_t r = level(t, red_multiplier, p[0], divisor);
            *out = uint8_t(b + blue_levels * (g + green_levels * r));
        }
    }
    PPCCacheFlush(indices, uint32_t(*pixels));
    return 0;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, order_dither); }
