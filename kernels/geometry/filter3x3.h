// The 3 x 3 walk that crispen and soften share: the block, the records, the
// margins and the flush. Only the formula for one output sample differs.
//
// Samples are reached by byte position: the neighbours of byte i are at
// i +- 3 (the same channel of the pixels beside it) and i +- R (the rows above
// and below), R = 3 x width, so the three channels need no separate passes.
// Row 0, the last two rows, pixel 0 and the last two pixels of every row are
// never written.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

inline constexpr uint32_t FILTER_BLOCK_SIZE = 20;

enum : uint32_t {
    FILTER_SOURCE = 2,       // address of the source picture record
    FILTER_DESTINATION = 3,  // address of the destination picture record
};

using filter_routine = void (*)(const picture_record* source, picture_record* destination);

// The two pixel buffers of a filter call, both of the source's size.
struct filter_buffers {
    const uint8_t* source;
    uint8_t* destination;
    uint32_t width, height;
};

// A picture narrower or lower than 4 pixels has no sample inside the margins.
inline bool filter_has_inside(uint32_t width, uint32_t height) { return width >= 4 && height >= 4; }

// The buffers of the two records, checked; false when a record does not lie
// in a live block or a buffer is shorter than 3 x width x height bytes. A
// picture with nothing inside its margins needs no buffers.
inline bool filter_take(const picture_record* from, picture_record* to, filter_buffers& buffers)
{
    if (from == nullptr || to == nullptr) return false;
    buffers = {nullptr, nullptr, picture_width(from), picture_height(from)};
    if (!filter_has_inside(buffers.width, buffers.height)) return true;
    const checked_u64 size = checked_size(3, buffers.width, buffers.height);
    buffers.source = shared_bytes(picture_pixels(from), size);
    buffers.destination = shared_bytes(picture_pixels(to), size);
    return buffers.source != nullptr && buffers.destination != nullptr;
}

// `sample(centre, R)` gives the output byte for the source byte at `centre`.
// The bounds are written so that they cannot wrap for the smallest pictures.
template <typename Sample>
void filter_walk(const filter_buffers& b, Sample sample)
{
    if (b.source == nullptr) return;
    const uint64_t R = 3 * uint64_t(b.width);
    for (uint64_t y = 1; y + 2 < b.height; ++y) {
        const uint8_t* in = b.source + y * R;
        uint8_t* out = b.destination + y * R;
        for (uint64_t i = 3; i + 6 < R; ++i) out[i] = sample(in + i, ptrdiff_t(R));
    }
}

// The exported filter on records given as pointers: a host may call it
// directly, so it checks what it reaches and writes nothing when that fails.
template <typename Sample>
void filter_records(const picture_record* source, picture_record* destination, Sample sample)
{
    filter_buffers buffers;
    if (filter_take(picture_at(shared_address(source)), picture_at(shared_address(destination)), buffers))
        filter_walk(buffers, sample);
}

// PPCFunction of both modules: checks the records and buffers (14 and no
// write when they fall short), runs the filter and flushes the destination's
// pixel buffer over the length its record gives. The record is not flushed.
inline uint32_t filter_block(void* block, filter_routine filter)
{
    if (!block_fits(block, FILTER_BLOCK_SIZE)) return 1;
    const picture_record* from = picture_at(block_word(block, FILTER_SOURCE));
    picture_record* to = picture_at(block_word(block, FILTER_DESTINATION));
    filter_buffers buffers;
    if (!filter_take(from, to, buffers)) {
        set_block_error(block, FILTER_BLOCK_SIZE, KERNEL_BAD_DATA);
        return 1;
    }
    filter(from, to);
    PPCCacheFlush(shared_pointer(picture_pixels(to)), picture_pixels_length(to));
    return 1;
}
