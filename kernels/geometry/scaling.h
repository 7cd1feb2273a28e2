// What doublesize and halfsize share: the block, the choice of pixel size by
// depth, the buffer checks and the flush. Only the copy loop and the
// destination's size differ; each module gives them as a `Scale` type with
//
//     static checked_u64 destination_size(uint32_t width, uint32_t height, uint32_t pixel_bytes);
//     static checked_u64 flush_length(uint32_t width, uint32_t height, uint32_t pixel_bytes);
//     template <uint32_t PixelBytes>
//     static void copy(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height);
#pragma once

#include <cstdint>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

inline constexpr uint32_t SCALING_BLOCK_SIZE = 32;

enum : uint32_t {
    SCALING_SOURCE = 2,       // source pixel buffer
    SCALING_DESTINATION = 3,  // destination pixel buffer, written
    SCALING_WIDTH = 4,        // of the source, in pixels
    SCALING_HEIGHT = 5,
    SCALING_DEPTH = 6,        // bits per pixel: 8 or less one byte, 24 three bytes
};

// Bytes of a pixel that is copied: 0 for a depth neither path takes.
inline uint32_t scaling_pixel_bytes(uint32_t depth) { return depth <= 8 ? 1 : depth == 24 ? 3 : 0; }

template <typename Scale>
uint32_t scale_picture(void* block)
{
    const uint32_t width = block_word(block, SCALING_WIDTH);
    const uint32_t height = block_word(block, SCALING_HEIGHT);
    const uint32_t depth = block_word(block, SCALING_DEPTH);
    const uint32_t pixel_bytes = scaling_pixel_bytes(depth);

    if (pixel_bytes != 0) {
        const checked_u64 source_size = checked_size(width, height, pixel_bytes);
        const checked_u64 destination_size = Scale::destination_size(width, height, pixel_bytes);
        if (!source_size || !destination_size) {
            set_block_error(block, SCALING_BLOCK_SIZE, KERNEL_BAD_DATA);
            return 0;
        }
        // An empty destination takes nothing, however many rows or columns
        // the source has, and needs no buffers.
        if (*destination_size != 0) {
            const uint8_t* source = shared_bytes(block_word(block, SCALING_SOURCE), *source_size);
            uint8_t* destination = shared_bytes(block_word(block, SCALING_DESTINATION), *destination_size);
            if (source == nullptr || destination == nullptr) {
                set_block_error(block, SCALING_BLOCK_SIZE, KERNEL_BAD_DATA);
                return 0;
            }
            if (pixel_bytes == 1)
                Scale::template copy<1>(source, destination, width, height);
            else
                Scale::template copy<3>(source, destination, width, height);
        }
    }

    // The flush counts three bytes a pixel for any depth above 8, the depths
    // that write nothing too. A length past 32 bits names no range; it comes
    // only with a call that wrote nothing.
    const checked_u64 flush = Scale::flush_length(width, height, depth <= 8 ? 1 : 3);
    if (flush && *flush <= UINT32_MAX)
        PPCCacheFlush(shared_pointer(block_word(block, SCALING_DESTINATION)), uint32_t(*flush));
    return 0;
}
