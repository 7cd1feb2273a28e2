// doublesize: a palette or true-colour picture enlarged to twice its width
// and height, each pixel repeated into a 2 x 2 block.
#include <bit>
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

    // One source row into one destination row of twice its width: source
    // pixel p becomes destination pixels 2p and 2p + 1.
    template <uint32_t PixelBytes>
    static void widen_row(const uint8_t* in, uint8_t* out, uint64_t width)
    {
        uint64_t p = 0;
        if constexpr (PixelBytes == 3 && std::endian::native == std::endian::little) {
            // A pixel's three bytes and the first of the next pixel are read
            // as one word and stored twice over in eight bytes; the last two
            // are the next pixel's, which overwrites them. The row's last
            // pixel is copied byte by byte, so nothing is read or written
            // past the row.
            for (; p + 1 < width; ++p) {
                uint32_t word;
                std::memcpy(&word, in + 3 * p, 4);
                const uint64_t pixel = word & 0xFFFFFF;
                const uint64_t twice = pixel | pixel << 24;
                std::memcpy(out + 6 * p, &twice, 8);
            }
        }
        for (; p < width; ++p) {
            std::memcpy(out + 2 * p * PixelBytes, in + p * PixelBytes, PixelBytes);
            std::memcpy(out + (2 * p + 1) * PixelBytes, in + p * PixelBytes, PixelBytes);
        }
    }

    // Every source row is widened twice, once into each of its two
    // destination rows.
    template <uint32_t PixelBytes>
    static void copy(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height)
    {
        const uint64_t row = uint64_t(width) * PixelBytes;
        for (uint32_t y = 0; y < height; ++y, source += row)
            for (int twice = 0; twice < 2; ++twice, destination += 2 * row)
                widen_row<PixelBytes>(source, destination, width);
    }
};

} // namespace

KERNEL_EXPORT uint32_t Function(void* block)
{
    return kernel_entry(block, SCALING_BLOCK_SIZE, scale_picture<doubling>);
}
