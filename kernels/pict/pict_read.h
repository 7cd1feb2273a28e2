// Reading the picture file: big-endian numbers from the open stream, every
// byte read or skipped counted in `align`, whose parity tells version 2 where
// an opcode's pad byte lies.
//
// A read past the end of the file records error 14 and ends the opcode loop
// (pict_at_end); the byte read there counts as 0xFF. Data that would move the
// stream backwards (a negative skip, a 32-bit length with its top bit set) is
// treated the same way, so the loop can never come back to an opcode it has
// already read.
#pragma once

#include <cstring>

#include "kernels/pict/pict_state.h"

namespace {

void reached_end()
{
    pict_at_end = true;
    kq_seterrcode(KERNEL_BAD_DATA);
}

uint8_t read_UBYTE()
{
    ++align;
    const int c = getc_unlocked(pict_stream);
    if (c == EOF) {
        reached_end();
        return 0xFF;
    }
    return uint8_t(c);
}

int8_t read_BYTE() { return int8_t(read_UBYTE()); }

uint16_t read_UWORD()
{
    const uint16_t high = read_UBYTE();
    return uint16_t(high << 8 | read_UBYTE());
}

uint32_t read_long()
{
    const uint32_t high = read_UWORD();
    return high << 16 | read_UWORD();
}

// Bytes the file does not have are left 0.
void read_n(uint32_t count, uint8_t* buffer)
{
    align += count;
    const size_t got = std::fread(buffer, 1, count, pict_stream);
    if (got < count) {
        std::memset(buffer + got, 0, count - got);
        reached_end();
    }
}

// Passes over data by moving the stream; never backwards.
void skip(int64_t count)
{
    if (count < 0) {
        reached_end();
        return;
    }
    if (count > 0) std::fseek(pict_stream, long(count), SEEK_CUR);
    align += uint32_t(count);
}

// A 32-bit length, then that many bytes. A length with its top bit set
// would lead backwards.
void skip_long_length() { skip(int32_t(read_long())); }

void read_rect(Rect& rect)
{
    rect.top = read_UWORD();
    rect.left = read_UWORD();
    rect.bottom = read_UWORD();
    rect.right = read_UWORD();
}

void read_point(Point& point)
{
    point.y = read_UWORD();
    point.x = read_UWORD();
}

// A horizontal, then a vertical difference, one signed byte each.
void read_short_point(Point& point)
{
    point.x = uint16_t(read_BYTE());
    point.y = uint16_t(read_BYTE());
}

void read_rgb(Colour& colour)
{
    colour.red = read_UWORD();
    colour.green = read_UWORD();
    colour.blue = read_UWORD();
}

// Version 1 opcodes are bytes; version 2 opcodes are words at even positions,
// with a pad byte in front of one that would start at an odd position.
uint16_t get_op(uint16_t version)
{
    if (version == 1) return read_UBYTE();
    if (align & 1) read_UBYTE();
    return read_UWORD();
}

// A polygon or region: its size word counts itself. Also the handler of the
// polygon and region opcodes that are not drawn.
void skip_poly_or_region(uint16_t /* version */ = 0)
{
    const uint16_t size = read_UWORD();
    skip(int64_t(size) - 2);
}

} // namespace
