// doublesize: a palette or true-colour picture enlarged to twice its width
// and height, each pixel repeated into a 2 x 2 block.
#include <cstring>

#include "kernels/geometry/scaling.h"

KERNEL_VERSION("doublesize", "1.0", "11.12.2026");

namespace {

struct doubling {
    static checked_u64 destination_size(uint32_t width, uint32_t height, uint32_t pixel_bytes)
    {
        return checked_size(4, width, height, pixel_bytes);
    }
    static checked_u64 flush_length(uint32_t width, uint32_t height, uint32_t pixel_bytes)
    {
        return destination_size(width, height, pixel_bytes);
    }

    // Every source row is widened twice, once into each of its two
    // destination rows.
    template <uint32_t PixelBytes>
    static void copy(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height)
    {
        const uint64_t row = uint64_t(width) * PixelBytes;
        for (uint32_t y = 0; y < height; ++y, source += row) {
            for (int twice = 0; twice < 2; ++twice, destination += 2 * row) {
                for (uint64_t p = 0; p < width; ++p) {
                    std::memcpy(destination + 2 * p * PixelBytes, source + p * PixelBytes, PixelBytes);
                    std::memcpy(destination + (2 * p + 1) * PixelBytes, source + p * PixelBytes, PixelBytes);
                }
            }
        }
    }
};

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, SCALING_BLOCK_SIZE, scale_picture<doubling>); }
