// halfsize: a palette or true-colour picture reduced to half its width and
// height, keeping the top-left pixel of every 2 x 2 block.
#include <cstring>

#include "kernels/geometry/scaling.h"

KERNEL_VERSION("halfsize", "1.0", "11.12.2026");

namespace {

struct halving {
    static checked_u64 destination_size(uint32_t width, uint32_t height, uint32_t pixel_bytes)
    {
        return checked_size(width / 2, height / 2, pixel_bytes);
    }
    // The flush runs over the source's size from the start of the
    // destination, a range that covers the smaller destination.
    static checked_u64 flush_length(uint32_t width, uint32_t height, uint32_t pixel_bytes)
    {
        return checked_size(width, height, pixel_bytes);
    }

    // Rows and columns of odd index are skipped, and with them the last row
    // or column of an odd height or width.
    template <uint32_t PixelBytes>
    static void copy(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height)
    {
        const uint64_t row = uint64_t(width) * PixelBytes;
        const uint32_t kept = width / 2;
        for (uint32_t y = 0; y < height / 2; ++y, source += 2 * row) {
            for (uint64_t p = 0; p < kept; ++p, destination += PixelBytes)
                std::memcpy(destination, source + 2 * p * PixelBytes, PixelBytes);
        }
    }
};

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, SCALING_BLOCK_SIZE, scale_picture<halving>); }
