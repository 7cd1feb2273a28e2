// The WPG bitmap records, shared by wpgload1, wpgload4 and wpgload8.
//
// A row's coded bytes (for wpgload1 one plane row after another, planes in
// order) are a sequence of records:
//   0x81 to 0xFF, v   (first & 0x7F) copies of v;
//   0x80, n           n bytes of 0xFF;
//   0x01 to 0x7F      that many bytes, as they stand;
//   0x00              inside a row, nothing: the record is that one byte.
// Right after a row has been decoded from its records, a 0x00 and a count q
// repeat that row q more times. That is the only place a repeat is
// recognised: a 0x00 at the very start of row 0, or right after a repeat
// record, is the one-byte empty record of the row that follows.
//
// A coded byte gives one output byte (wpgload1, wpgload8) or two, its high
// nibble and then its low nibble (wpgload4); output past a row's length is
// dropped, and rows are stored in the order they come.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"

// Words the three blocks share; wpgload1 adds its plane count before the
// bytes written.
inline constexpr uint32_t WPG_BLOCK_SIZE = 32;  // wpgload4 and wpgload8
enum : uint32_t { kWpgSource = 2, kWpgDestination = 3, kWpgWidth = 4, kWpgHeight = 5, kWpgWritten = 6 };

// `units` output bytes of the coded byte v repeated.
template <uint32_t UnitsPerByte>
inline void wpg_put_run(uint8_t* out, uint8_t v, uint64_t units)
{
    if constexpr (UnitsPerByte == 1) {
        std::memset(out, v, units);
    } else {
        for (uint64_t i = 0; i < units / 2; ++i) {
            out[2 * i] = v >> 4;
            out[2 * i + 1] = v & 0x0F;
        }
        if (units % 2) out[units - 1] = v >> 4;
    }
}

// `units` output bytes of the coded bytes as they stand.
template <uint32_t UnitsPerByte>
inline void wpg_put_bytes(uint8_t* out, const uint8_t* bytes, uint64_t units)
{
    if constexpr (UnitsPerByte == 1) {
        std::memmove(out, bytes, units);  // a careless host may name one buffer twice
    } else {
        for (uint64_t i = 0; i < units / 2; ++i) {
            const uint8_t b = bytes[i];
            out[2 * i] = b >> 4;
            out[2 * i + 1] = b & 0x0F;
        }
        if (units % 2) out[units - 1] = bytes[units / 2] >> 4;
    }
}

// Decodes the records of a row of one output byte a coded byte while they
// lie wholly inside the source and at least 128 bytes of the row remain,
// with source and output apart: there data and runs store whole chunks of 16
// bytes, up to the 128 that the longest (127) rounds to, and the records
// after them overwrite what lies past their own end. Fixed-size stores are
// much faster than exact ones.
inline void wpg_decode_far_from_the_end(std::span<const uint8_t> source, uint64_t& at, uint8_t* out,
                                        uint64_t& count, uint64_t length)
{
    while (count + 128 <= length && source.size() - at > 128) {
        const uint8_t first = source[at];
        const uint8_t* data = source.data() + at + 1;
        if (first < 0x80) {  // 0x00 included: no bytes
            for (uint32_t k = 0; k < first; k += 16) std::memcpy(out + count + k, data + k, 16);
            at += 1 + first;
            count += first;
        } else if (first > 0x80) {
            uint8_t chunk[16];
            std::memset(chunk, data[0], 16);
            for (uint32_t k = 0; k < (first & 0x7Fu); k += 16) std::memcpy(out + count + k, chunk, 16);
            at += 2;
            count += first & 0x7Fu;
        } else {
            std::memset(out + count, 0xFF, std::min<uint64_t>(data[0], length - count));
            at += 2;
            count += data[0];
        }
    }
}

// Decodes records from source[at] on until `length` output bytes of one row
// (or plane row) are stored in `out`; `at` moves past the records. A record
// that runs past the row's end is cut there, and data it lacks past that
// point is not looked for. `apart` says that source and output do not
// overlap. Returns false when the source ends first.
template <uint32_t UnitsPerByte>
inline bool wpg_decode_row(std::span<const uint8_t> source, uint64_t& at, uint8_t* out, uint64_t length,
                           bool apart)
{
    uint64_t count = 0;
    if (UnitsPerByte == 1 && apart) wpg_decode_far_from_the_end(source, at, out, count, length);
    while (count < length) {
        if (at >= source.size()) return false;
        const uint8_t first = source[at++];
        if (first == 0x00) continue;
        const uint64_t room = length - count;
        if (first < 0x80) {
            const uint64_t n = std::min<uint64_t>(first, source.size() - at);
            wpg_put_bytes<UnitsPerByte>(out + count, source.data() + at, std::min(n * UnitsPerByte, room));
            at += n;
            count += n * UnitsPerByte;
            if (n < first && count < length) return false;
            continue;
        }
        if (at >= source.size()) return false;
        const uint8_t second = source[at++];
        const bool ones = first == 0x80;  // then `second` counts bytes of 0xFF
        const uint64_t n = ones ? second : first & 0x7Fu;
        wpg_put_run<UnitsPerByte>(out + count, ones ? 0xFF : second, std::min(n * UnitsPerByte, room));
        count += n * UnitsPerByte;
    }
    return true;
}

// Decodes `height` rows of `planes` plane rows of `length` output bytes
// each; row r of plane p lands at out + p x length x height + r x length,
// which the caller has checked. A repeat that reaches past the last row
// stops there; a source that ends right after the last row (or inside a
// repeat record there) is complete. Returns false when the source ends
// before the last row is complete.
template <uint32_t UnitsPerByte>
inline bool wpg_decode(std::span<const uint8_t> source, uint8_t* out, uint64_t length, uint32_t height,
                       uint64_t planes)
{
    // Rows of nothing read and write nothing, however many there are.
    if (length == 0 || planes == 0) return true;
    const uint64_t plane_size = length * height;
    const uintptr_t from = reinterpret_cast<uintptr_t>(source.data()), to = reinterpret_cast<uintptr_t>(out);
    const bool apart = from + source.size() <= to || to + plane_size * planes <= from;
    uint64_t at = 0;
    for (uint64_t r = 0; r < height; ++r) {
        for (uint64_t p = 0; p < planes; ++p)
            if (!wpg_decode_row<UnitsPerByte>(source, at, out + p * plane_size + r * length, length, apart))
                return false;
        if (source.size() - at >= 2 && source[at] == 0x00) {
            const uint64_t repeats = std::min<uint64_t>(source[at + 1], height - 1 - r);
            for (uint64_t p = 0; p < planes; ++p) {
                const uint8_t* row = out + p * plane_size + r * length;
                for (uint64_t k = 1; k <= repeats; ++k) std::memcpy(out + p * plane_size + (r + k) * length, row, length);
            }
            at += 2;
            r += repeats;
        }
    }
    return true;
}

// The work routine of a WPG decoder: rows of `row_length` output bytes in
// `planes` planes. Stores row_length x height x planes in `written_word` and
// flushes the destination over as many bytes. A destination too small for
// them is left untouched, and it and a source that ends early give error 14.
template <uint32_t UnitsPerByte>
inline uint32_t wpg_load(void* block, uint32_t block_size, uint64_t row_length, uint64_t planes,
                         uint32_t written_word)
{
    const uint32_t height = block_word(block, kWpgHeight);
    const checked_u64 size = checked_size(row_length, height, planes);
    uint8_t* out = shared_bytes(block_word(block, kWpgDestination), size);
    if (out == nullptr) {
        set_block_error(block, block_size, KERNEL_BAD_DATA);
        return 1;
    }
    const std::span<const uint8_t> source = shared_source(block_word(block, kWpgSource));
    const bool complete = wpg_decode<UnitsPerByte>(source, out, row_length, height, planes);
    set_block_word(block, written_word, uint32_t(*size));
    PPCCacheFlush(out, uint32_t(*size));
    if (!complete) set_block_error(block, block_size, KERNEL_BAD_DATA);
    return 1;
}

// The work routine of wpgload4 and wpgload8: one plane, one output byte a
// pixel.
template <uint32_t UnitsPerByte>
inline uint32_t wpg_load_chunky(void* block)
{
    return wpg_load<UnitsPerByte>(block, WPG_BLOCK_SIZE, block_word(block, kWpgWidth), 1, kWpgWritten);
}
