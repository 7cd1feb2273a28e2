// The Targa run-length packet, shared by tgaload1, tgaload8, tgaload16 and
// tgaload24, which differ only in the size of the element a packet repeats
// or copies and in how many elements a row has.
//
// A packet is a header byte h and its data, (h & 0x7F) + 1 elements: with
// bit 7 set one element follows and stands for all of them (a run),
// otherwise the elements follow one by one (raw). Packets run on across row
// ends: the picture is one sequence of elements, kept in the file's byte and
// row order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

// The block every Targa decoder takes.
inline constexpr uint32_t TARGA_BLOCK_SIZE = 32;
enum : uint32_t { kTargaSource = 2, kTargaDestination = 3, kTargaWidth = 4, kTargaHeight = 5, kTargaWritten = 6 };

// `count` copies of the element at `element`.
template <uint32_t ElementSize>
inline void targa_fill(uint8_t* out, const uint8_t* element, uint64_t count)
{
    if constexpr (ElementSize == 1) {
        std::memset(out, *element, count);
    } else {
        uint8_t value[ElementSize];
        std::memcpy(value, element, ElementSize);  // the source may lie under the output
        for (uint64_t i = 0; i < count; ++i) std::memcpy(out + i * ElementSize, value, ElementSize);
    }
}

// Decodes the packets that lie wholly inside the source while at least 128
// elements remain, with source and output apart: there every packet may
// store up to the 128 elements of the longest, in whole chunks of 16
// elements or 16 bytes, and the packets after it overwrite what lies past
// its own end. Fixed-size stores are much faster than exact ones.
template <uint32_t ElementSize>
inline void targa_decode_far_from_the_ends(std::span<const uint8_t> source, uint64_t& at, uint8_t* out,
                                           uint64_t& done, uint64_t elements)
{
    constexpr uint64_t E = ElementSize, kLongest = 128 * E, kRunChunk = 16 * E;
    const uintptr_t from = reinterpret_cast<uintptr_t>(source.data()), to = reinterpret_cast<uintptr_t>(out);
    if (!(from + source.size() <= to || to + elements * E <= from)) return;
    while (elements - done >= 128 && source.size() - at > kLongest) {
        const uint8_t header = source[at];
        const uint64_t count = (header & 0x7Fu) + 1;
        const uint8_t* data = source.data() + at + 1;
        uint8_t* put = out + done * E;
        if (header & 0x80) {
            uint8_t chunk[kRunChunk];
            for (uint64_t i = 0; i < 16; ++i) std::memcpy(chunk + i * E, data, E);
            for (uint64_t k = 0; k < count * E; k += kRunChunk) std::memcpy(put + k, chunk, kRunChunk);
            at += 1 + E;
        } else {
            for (uint64_t k = 0; k < count * E; k += 16) std::memcpy(put + k, data + k, 16);
            at += 1 + count * E;
        }
        done += count;
    }
}

// Decodes packets from the start of `source` until `elements` elements of
// ElementSize bytes stand in `out`; elements of the last packet beyond them
// are not stored, and bytes the picture does not need are not looked for.
// Returns false when the source ends first; what was decoded stays stored.
template <uint32_t ElementSize>
inline bool targa_decode(std::span<const uint8_t> source, uint8_t* out, uint64_t elements)
{
    constexpr uint64_t E = ElementSize;
    uint64_t at = 0;
    uint64_t done = 0;
    targa_decode_far_from_the_ends<ElementSize>(source, at, out, done, elements);
    while (done < elements) {
        if (at >= source.size()) return false;
        const uint8_t header = source[at++];
        const uint64_t count = std::min<uint64_t>((header & 0x7Fu) + 1, elements - done);
        uint8_t* to = out + done * E;
        if (header & 0x80) {
            if (source.size() - at < E) return false;
            targa_fill<ElementSize>(to, source.data() + at, count);
            at += E;
        } else {
            // Moves, not copies: a careless host may name one buffer twice.
            const uint64_t present = std::min(count, (source.size() - at) / E);
            std::memmove(to, source.data() + at, present * E);
            if (present < count) return false;
            at += count * E;
        }
        done += count;
    }
    return true;
}

// The work routine of a Targa decoder whose element holds ElementSize bytes
// and PixelsPerElement pixels (8 for one bit per pixel, else 1): a row has
// ceil(width / PixelsPerElement) elements. Stores the bytes of the picture
// in word 6 and flushes the destination over them. A destination too small
// for them is left untouched, and it and a source that ends early give
// error 14.
template <uint32_t ElementSize, uint32_t PixelsPerElement = 1>
inline uint32_t targa_load(void* block)
{
    const uint64_t row_elements = (uint64_t(block_word(block, kTargaWidth)) + PixelsPerElement - 1) / PixelsPerElement;
    const checked_u64 elements = checked_size(row_elements, block_word(block, kTargaHeight));
    const checked_u64 size = checked_size(elements, ElementSize);
    uint8_t* out = shared_bytes(block_word(block, kTargaDestination), size);
    if (out == nullptr) {
        set_block_error(block, TARGA_BLOCK_SIZE, KERNEL_BAD_DATA);
        return 1;
    }
    const bool complete = targa_decode<ElementSize>(shared_source(block_word(block, kTargaSource)), out, *elements);
    set_block_word(block, kTargaWritten, uint32_t(*size));
    PPCCacheFlush(out, uint32_t(*size));
    if (!complete) set_block_error(block, TARGA_BLOCK_SIZE, KERNEL_BAD_DATA);
    return 1;
}
