// ByteRun1 rows, shared by the ILBM body kernels (rununpack, runpack) and the
// chunky body kernels (pbmload, pbmstore).
//
// A packed row is a run of codes, each one byte n and its data:
//   0 to 127    the next n + 1 bytes, copied;
//   129 to 255  the next byte, 257 - n times;
//   128         nothing.
// Rows carry no length: both sides know how many bytes a row unpacks to. The
// unpacker stops once a row has that many; a code that runs past the end is
// still written whole into the row buffer and its surplus is dropped.
//
// The routines here take the bounds of every buffer they touch; the exported
// routines built on them (PackRow, DoPack, copymem) work on bare pointers, so
// the modules check sizes before calling them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "kernels/common/buffers.h"

// A code that crosses the end of a row writes at most this many bytes past
// it, so a row buffer holds the row length plus this.
inline constexpr uint64_t BYTERUN1_ROW_SLACK = 127;

// PackRow's scratch buffer: a literal written on the way into a run leaves
// the run's bytes where they are, at positions up to 253.
inline constexpr uint64_t BYTERUN1_SCRATCH_SIZE = 254;

// Unpacks codes from `source`, starting at `at`, into `row` until at least
// `length` bytes have been produced; `at` moves past the codes read. Returns
// the bytes produced (more than `length` when the last code crossed the end),
// or -1 when the source ends first or a code would run past `row`. Copies
// are moves: a careless host may name one buffer twice.
inline int64_t byterun1_unpack_row(std::span<const uint8_t> source, uint64_t& at, std::span<uint8_t> row,
                                   uint64_t length)
{
    uint64_t produced = 0;
    while (produced < length) {
        if (at >= source.size()) return -1;
        const uint8_t n = source[at++];
        if (n < 128) {
            const uint64_t count = uint64_t(n) + 1;
            if (source.size() - at < count || row.size() - produced < count) return -1;
            std::memmove(row.data() + produced, source.data() + at, count);
            at += count;
            produced += count;
        } else if (n > 128) {
            const uint64_t count = 257 - uint64_t(n);
            if (at >= source.size() || row.size() - produced < count) return -1;
            std::memset(row.data() + produced, source[at++], count);
            produced += count;
        }
    }
    return int64_t(produced);
}

// The row buffer of an unpacker at `address`: room for a row and the overrun
// of its last code, and for the bytes kept from it. Empty when its block is
// smaller.
inline std::span<uint8_t> byterun1_row_buffer(uint32_t address, uint64_t length, uint64_t kept)
{
    const uint64_t size = std::max(length + BYTERUN1_ROW_SLACK, kept);
    uint8_t* row = shared_bytes(address, size);
    return row ? std::span<uint8_t>{row, size} : std::span<uint8_t>{};
}

// copymem: `count` bytes, first to last, one at a time in effect. Only
// overlapping ranges can tell the difference, so those alone take the slow
// road.
inline void byterun1_copy(const uint8_t* from, uint8_t* to, uint32_t count)
{
    const uintptr_t f = reinterpret_cast<uintptr_t>(from), t = reinterpret_cast<uintptr_t>(to);
    if (t <= f || t - f >= count) {
        std::memmove(to, from, count);
        return;
    }
    for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
}

// Unpacks a body of `rows` x `planes` packed rows, row 0 of every plane
// first, through the row buffer `row`, and keeps the first `kept` bytes of
// each: row r of plane p lands at destination + r x kept + p x plane_size,
// which the caller has checked. Returns the bytes the last row produced (0
// for no rows), or -1 when the source ends early; the rows before stay.
inline int64_t byterun1_unpack_body(std::span<const uint8_t> source, std::span<uint8_t> row, uint8_t* destination,
                                    uint32_t rows, uint64_t planes, uint32_t kept, uint64_t length,
                                    uint64_t plane_size)
{
    // Counts no buffer could hold must not keep the loops going for ever.
    // Without planes, or with nothing to unpack and nothing to keep, nothing
    // happens. Otherwise every plane row either reads source bytes or copies
    // kept bytes to a place of its own (the callers refuse overlapping rows).
    if (planes == 0 || (length == 0 && kept == 0)) return 0;
    uint64_t at = 0;
    int64_t produced = 0;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint64_t p = 0; p < planes; ++p) {
            produced = byterun1_unpack_row(source, at, row, length);
            if (produced < 0) return -1;
            byterun1_copy(row.data(), destination + uint64_t(r) * kept + p * plane_size, kept);
        }
    }
    return produced;
}

// Packs a row of `length` bytes into `out`, which has room for `room` bytes,
// using `scratch` (BYTERUN1_SCRATCH_SIZE bytes) for the bytes not yet
// written. The row's bytes are `row`; any of the `length` bytes past its end
// read as 0. Returns the bytes written, or -1 when `out` runs out of room
// (what fitted of the row is then written). An empty row packs to nothing.
//
// The packer keeps a stretch of bytes in the scratch buffer, in literal mode
// or run mode, and remembers where the latest stretch of equal bytes began
// (rstart). Three equal bytes start a run, and so do two at the start of the
// buffer; two equal bytes after other literal bytes stay in the literal.
inline int64_t byterun1_pack_row(std::span<const uint8_t> row, uint64_t length, uint8_t* scratch, uint8_t* out,
                                 uint64_t room)
{
    if (length == 0) return 0;
    uint64_t written = 0;
    auto literal = [&](uint32_t k) {  // k = 1 to 128 bytes from scratch position 0
        if (room - written < uint64_t(k) + 1) return false;
        out[written] = uint8_t(k - 1);
        std::memmove(out + written + 1, scratch, k);
        written += uint64_t(k) + 1;
        return true;
    };
    auto run = [&](uint32_t k, uint8_t value) {  // k = 2 to 128 copies of value
        if (room - written < 2) return false;
        out[written] = uint8_t(257 - k);
        out[written + 1] = value;
        written += 2;
        return true;
    };
    const uint64_t present = std::min<uint64_t>(row.size(), length);
    auto byte_at = [&](uint64_t i) { return i < present ? row[i] : uint8_t(0); };

    const uint8_t* src = row.data();
    uint8_t previous = byte_at(0);
    scratch[0] = previous;
    uint32_t nbuf = 1, rstart = 0;
    bool in_run = false;
    for (uint64_t i = 1; i < length;) {
        // Stretches that change no decision go in bulk: in a literal, bytes
        // that start no run while the buffer has room; in a run, more of the
        // same byte while the run has room.
        if (i < present) {
            // scratch[k] holds source byte first + k.
            const uint64_t first = i - nbuf;
            uint64_t j = i;
            if (!in_run) {
                // A pair after other literal bytes changes nothing either.
                const uint64_t limit = std::min(present, i + (128 - nbuf));
                for (; j < limit; ++j) {
                    const uint8_t b = src[j];
                    if (b != src[j - 1]) {
                        rstart = uint32_t(j - first);
                    } else if (rstart == 0 || j - first - rstart >= 2) {
                        break;
                    }
                    scratch[j - first] = b;
                }
                if (j > i) previous = src[j - 1];
            } else {
                const uint64_t limit = std::min(present, i + (128 + rstart - nbuf));
                for (; j < limit && src[j] == previous; ++j) scratch[j - first] = previous;
            }
            if (j > i) {
                nbuf = uint32_t(j - first);
                i = j;
                continue;
            }
        }
        // One byte that may end the literal, start a run or end the run.
        const uint8_t b = byte_at(i++);
        scratch[nbuf++] = b;
        if (!in_run) {
            if (nbuf > 128) {
                if (!literal(nbuf - 1)) return -1;
                scratch[0] = b;
                nbuf = 1;
                rstart = 0;
            } else if (b == previous) {
                if (nbuf - rstart >= 3) {
                    if (rstart > 0 && !literal(rstart)) return -1;
                    in_run = true;
                } else if (rstart == 0) {
                    in_run = true;
                }
            } else {
                rstart = nbuf - 1;
            }
        } else if (b != previous || nbuf - rstart > 128) {
            if (!run(nbuf - 1 - rstart, previous)) return -1;
            scratch[0] = b;
            nbuf = 1;
            rstart = 0;
            in_run = false;
        }
        previous = b;
    }
    if (in_run ? !run(nbuf - rstart, previous) : !literal(nbuf)) return -1;
    return int64_t(written);
}
