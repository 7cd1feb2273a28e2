// Pixel images: monochrome bitmaps and indexed pixel maps (opcodes 0x90,
// 0x91, 0x98, 0x99) and direct-colour pixel maps of 16 or 32 bits (0x9A).
// Each image is read whole (header, colour table, rows) and unpacked into a
// buffer of rows of the memory list; `blit` then clips it and draws it into
// the planes through its transfer mode.
#pragma once

#include <algorithm>
#include <cstring>

#include "kernels/pict/pict_read.h"
#include "kernels/pict/pict_state.h"
#include "kernels/pict/pict_transfer.h"

namespace {

// --- rectangles ---------------------------------------------------------------

void rectinter(const Rect& a, const Rect& b, Rect& out)
{
    out.top = std::max(a.top, b.top);
    out.left = std::max(a.left, b.left);
    out.bottom = std::min(a.bottom, b.bottom);
    out.right = std::min(a.right, b.right);
}

bool rectsamesize(const Rect& a, const Rect& b)
{
    return uint16_t(a.right - a.left) == uint16_t(b.right - b.left) &&
           uint16_t(a.bottom - a.top) == uint16_t(b.bottom - b.top);
}

uint16_t width_of(const Rect& r) { return uint16_t(r.right - r.left); }
uint16_t height_of(const Rect& r) { return uint16_t(r.bottom - r.top); }

// Width and height of an intersection, 0 when it came out empty.
uint32_t covered_width(const Rect& r) { return r.right > r.left ? uint32_t(r.right - r.left) : 0; }
uint32_t covered_height(const Rect& r) { return r.bottom > r.top ? uint32_t(r.bottom - r.top) : 0; }

// --- pixel map headers and colour tables ---------------------------------------

struct pixmap_header {
    Rect bounds;
    uint16_t version, packType;
    uint32_t packSize, hRes, vRes;
    uint16_t pixelType, pixelSize, cmpCount, cmpSize;
    uint32_t planeBytes, pmTable, pmReserved;
};

// The bounds and the 36 bytes after them.
void read_pixmap_fields(pixmap_header& h)
{
    read_rect(h.bounds);
    h.version = read_UWORD();
    h.packType = read_UWORD();
    h.packSize = read_long();
    h.hRes = read_long();
    h.vRes = read_long();
    h.pixelType = read_UWORD();
    h.pixelSize = read_UWORD();
    h.cmpCount = read_UWORD();
    h.cmpSize = read_UWORD();
    h.planeBytes = read_long();
    h.pmTable = read_long();
    h.pmReserved = read_long();
}

// An indexed pixel map, with its row-bytes word first when asked for. A map
// that is not indexed records 15 for each field that says so; it is still
// read and drawn.
void read_pixmap(pixmap_header& h, uint16_t* row_bytes)
{
    if (row_bytes != nullptr) *row_bytes = read_UWORD();
    read_pixmap_fields(h);
    if (h.pixelType != 0) kq_seterrcode(KERNEL_UNSUPPORTED);
    if (h.cmpCount != 1) kq_seterrcode(KERNEL_UNSUPPORTED);
    if (h.pixelSize != h.cmpSize) kq_seterrcode(KERNEL_UNSUPPORTED);
}

struct colour_table {
    const Colour* entries;  // null when the memory was refused
    uint32_t count;
};

// Entries the file does not set stay black. An index beyond the table
// records 14; its colour is read, so that the stream stays in step, and not
// stored.
colour_table read_colour_table()
{
    read_long();  // seed
    const uint16_t flags = read_UWORD();
    const uint16_t size = read_UWORD();
    const uint32_t count = uint32_t(size) + 1;
    auto* entries = static_cast<Colour*>(pict_alloc(checked_size(count, sizeof(Colour))));
    for (uint32_t i = 0; i < count && !pict_at_end; ++i) {
        uint32_t index = read_UWORD();
        if (flags & 0x8000) index = i;
        if (index > size) kq_seterrcode(KERNEL_BAD_DATA);
        Colour colour;
        read_rgb(colour);
        if (entries != nullptr && index <= size) entries[index] = colour;
    }
    return {entries, entries != nullptr ? count : 0};
}

// The colours of a bitmap: a clear bit is white, a set bit black.
constexpr Colour kBitmapColours[2] = {kWhite, kBlack};

// --- unpacking rows --------------------------------------------------------------

constexpr uint32_t kExpandScratch = 2048;
uint8_t expand_scratch[kExpandScratch];

// Pixels of 1, 2 or 4 bits become one byte each, leftmost first, in the
// scratch buffer, valid until the next call; larger pixels are their bytes
// themselves. An unknown pixel size records 14 and yields the scratch as it
// stands. `count` (bytes in, bytes out) never passes the scratch.
const uint8_t* expand_buf(const uint8_t* bytes, uint32_t& count, uint16_t pixel_size)
{
    uint32_t bits;
    switch (pixel_size) {
    case 1:
    case 2:
    case 4:
        bits = pixel_size;
        break;
    case 8:
    case 16:
    case 32:
        return bytes;
    default:
        kq_seterrcode(KERNEL_BAD_DATA);
        count = std::min(count, kExpandScratch);
        return expand_scratch;
    }
    const uint32_t per_byte = 8 / bits;
    const uint32_t n = std::min(count, kExpandScratch / per_byte);
    const uint32_t mask = (1u << bits) - 1;
    uint8_t* out = expand_scratch;
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t k = per_byte; k-- > 0;) *out++ = uint8_t(bytes[i] >> (k * bits) & mask);
    count = n * per_byte;
    return expand_scratch;
}

// One row of the unpacked image being written: expanded bytes arrive at
// position `at`; those from `skip` on (an alpha plane comes before it) are
// kept, up to `keep` bytes, and the rest is dropped.
struct row_out {
    uint8_t* row;
    uint64_t at;
    uint32_t skip;
    uint32_t keep;

    bool full() const { return at >= uint64_t(skip) + keep; }
};

void put_bytes(row_out& out, const uint8_t* bytes, uint32_t n)
{
    const uint64_t from = std::max<uint64_t>(out.at, out.skip);
    const uint64_t to = std::min<uint64_t>(out.at + n, uint64_t(out.skip) + out.keep);
    if (from < to) std::memcpy(out.row + (from - out.skip), bytes + (from - out.at), to - from);
    out.at += n;
}

void put_repeated(row_out& out, const uint8_t* bytes, uint32_t n, uint32_t times)
{
    if (n == 1) {
        const uint64_t from = std::max<uint64_t>(out.at, out.skip);
        const uint64_t to = std::min<uint64_t>(out.at + times, uint64_t(out.skip) + out.keep);
        if (from < to) std::memset(out.row + (from - out.skip), bytes[0], to - from);
        out.at += times;
        return;
    }
    for (uint32_t t = 0; t < times && !out.full(); ++t) put_bytes(out, bytes, n);
}

// One PackBits row of n bytes, in units of `unit` bytes. A flag byte f of
// 0x80 and up repeats the next unit 257 - f times (0x80 too); below 0x80 the
// next f + 1 units are literal. A run cut by the packed length ends the row
// with what it holds.
void unpack_row(const uint8_t* line, uint32_t n, uint32_t unit, uint16_t pixel_size, row_out& out)
{
    uint32_t pos = 0;
    while (pos < n && !out.full()) {
        const uint8_t flag = line[pos++];
        if (flag >= 0x80) {
            if (n - pos < unit) break;
            uint32_t count = unit;
            const uint8_t* value = expand_buf(line + pos, count, pixel_size);
            put_repeated(out, value, count, 257u - flag);
            pos += unit;
        } else {
            uint32_t count = std::min((flag + 1u) * unit, n - pos);
            pos += count;
            const uint8_t* bytes = expand_buf(line + pos - count, count, pixel_size);
            put_bytes(out, bytes, count);
        }
    }
}

// A row stored as it is: expanded through the scratch in pieces that fit it.
// 32-bit pixels come whole (a pad or alpha byte, red, green, blue) and go to
// the row's red, green and blue parts.
void copy_row(const uint8_t* line, uint32_t row_bytes, uint16_t pixel_size, row_out& out)
{
    if (pixel_size == 32) {
        const uint32_t part = out.keep / 3;
        for (uint32_t k = 0; k < part && 4 * k + 3 < row_bytes; ++k) {
            out.row[k] = line[4 * k + 1];
            out.row[part + k] = line[4 * k + 2];
            out.row[2 * part + k] = line[4 * k + 3];
        }
        return;
    }
    const uint32_t piece = pixel_size == 1 ? 256 : pixel_size == 2 ? 512 : pixel_size == 4 ? 1024 : kExpandScratch;
    for (uint32_t at = 0; at < row_bytes && !out.full(); at += piece) {
        uint32_t count = std::min(piece, row_bytes - at);
        const uint8_t* bytes = expand_buf(line + at, count, pixel_size);
        put_bytes(out, bytes, count);
    }
}

struct unpacked_image {
    const uint8_t* pixels;  // null when nothing can be drawn
    uint64_t size;
    uint32_t rows;          // rows read whole before the end of the file
};

// The rows of an image into a buffer of rows, row i at i x the unpacked row
// width: the bounds width for up to 8 bits per pixel (a byte per pixel after
// expansion), twice it for 16 bits, three times it for 32 (a red, a green
// and a blue part). Rows are PackBits-packed when `packed` is set and row
// bytes are 8 or more, otherwise stored as they are; a packed row starts
// with its length, a byte up to 250 row bytes and a word above. What a row
// holds beyond the unpacked width is dropped, what it lacks stays 0, and the
// alpha plane of a packed 32-bit row of four components is skipped. When the
// memory is refused the rows are still read past.
unpacked_image unpackbits(const Rect& bounds, uint16_t row_bytes, uint16_t pixel_size, uint16_t components,
                          bool packed)
{
    if (pixel_size <= 8) row_bytes &= 0x7FFF;
    const uint16_t width = width_of(bounds);
    uint16_t row_width = width;
    uint32_t unit = 1;
    if (pixel_size == 16) {
        row_width = uint16_t(width * 2);
        unit = 2;
    } else if (pixel_size == 32) {
        row_width = uint16_t(width * 3);
    }
    if (row_bytes == 0) row_bytes = row_width;
    const uint32_t height = height_of(bounds);
    const bool as_stored = !packed || row_bytes < 8;
    const uint32_t line_length = row_bytes < 8 ? row_bytes * 8u : row_width;
    const uint32_t line_size = row_bytes + 100u;

    const checked_u64 size = checked_add(checked_size(std::max<uint32_t>(line_length, row_width), height), 8);
    auto* image = static_cast<uint8_t*>(pict_alloc(size));
    auto* line = static_cast<uint8_t*>(pict_alloc(line_size));
    if (image == nullptr || line == nullptr) {
        if (as_stored) {
            skip(int64_t(row_bytes) * height);
        } else {
            for (uint32_t y = 0; y < height && !pict_at_end; ++y) skip(row_bytes > 250 ? read_UWORD() : read_UBYTE());
        }
        return {nullptr, 0, 0};
    }

    const uint32_t alpha = pixel_size == 32 && components == 4 && !as_stored ? width : 0;
    uint32_t y = 0;
    for (; y < height; ++y) {
        row_out out{image + uint64_t(y) * row_width, 0, alpha, row_width};
        if (as_stored) {
            read_n(row_bytes, line);
            copy_row(line, row_bytes, pixel_size, out);
        } else {
            const uint32_t length = row_bytes > 250 ? read_UWORD() : read_UBYTE();
            const uint32_t n = std::min(length, line_size);
            read_n(n, line);
            skip(length - n);
            unpack_row(line, n, unit, pixel_size, out);
        }
        if (pict_at_end) break;
    }
    return {image, *size, y};
}

// --- drawing an image ------------------------------------------------------------

// The source colour of pixel x of a source row.
template <uint16_t PixelSize>
Colour source_colour(const uint8_t* row, uint32_t x, uint32_t part, const colour_table& table)
{
    if constexpr (PixelSize == 8) {
        const uint8_t index = row[x];
        return index < table.count ? table.entries[index] : kBlack;
    } else if constexpr (PixelSize == 16) {
        const uint32_t b0 = row[2 * x], b1 = row[2 * x + 1];
        return {uint16_t((b0 & 0x7C) << 9), uint16_t((b0 & 0x03) << 14 | (b1 & 0xE0) << 6), uint16_t((b1 & 0x1F) << 11)};
    } else {
        return {uint16_t(row[x] << 8), uint16_t(row[x + part] << 8), uint16_t(row[x + 2 * part] << 8)};
    }
}

template <uint16_t PixelSize>
void blit_rows(const uint8_t* from, uint32_t src_row, uint32_t part, uint32_t to, uint32_t dst_row, uint32_t w,
               uint32_t h, const colour_table& table, TransferRoutine routine)
{
    for (uint32_t y = 0; y < h; ++y, from += src_row, to += dst_row) {
        uint16_t* r = red + to;
        uint16_t* g = green + to;
        uint16_t* b = blue + to;
        if (routine == nullptr) {
            if constexpr (PixelSize == 32) {
                for (uint32_t x = 0; x < w; ++x) r[x] = uint16_t(from[x] << 8);
                for (uint32_t x = 0; x < w; ++x) g[x] = uint16_t(from[x + part] << 8);
                for (uint32_t x = 0; x < w; ++x) b[x] = uint16_t(from[x + 2 * part] << 8);
            } else {
                for (uint32_t x = 0; x < w; ++x) {
                    const Colour s = source_colour<PixelSize>(from, x, part, table);
                    r[x] = s.red;
                    g[x] = s.green;
                    b[x] = s.blue;
                }
            }
            continue;
        }
        for (uint32_t x = 0; x < w; ++x) {
            Colour d = {r[x], g[x], b[x]};
            routine(source_colour<PixelSize>(from, x, part, table), d);
            r[x] = d.red;
            g[x] = d.green;
            b[x] = d.blue;
        }
    }
}

// Draws an unpacked image. The copy covers the clipped source and lands at
// the clipped destination's top-left corner; where the clipped destination is
// smaller, only the rows and columns both hold are copied, from their
// top-left corners. Rows of an image that the end of the file cut off are
// not drawn. Mode 0 (the dither flag aside) copies the source colours;
// any other mode goes through its transfer routine. 8-bit pixels are indices
// into the colour table (an index beyond it is black), 16-bit pixels are
// 5-bit components, 32-bit rows hold a red, a green and a blue part.
uint32_t blit(const Rect& src_rect, const Rect& src_bounds, uint32_t src_row, const unpacked_image& image,
              uint16_t pixel_size, const Rect& dst_rect, const Rect& dst_bounds, uint32_t dst_row,
              const colour_table& table, uint16_t mode)
{
    if (ps_text) return 0;
    Rect src, dst;
    rectinter(src_bounds, src_rect, src);
    rectinter(dst_bounds, dst_rect, dst);
    uint32_t w = covered_width(src), h = covered_height(src);
    if (!rectsamesize(src, dst)) {
        w = std::min(w, covered_width(dst));
        h = std::min(h, covered_height(dst));
    }
    // Rows the file did not hold are not drawn.
    const uint32_t first_row = uint32_t(src.top - src_bounds.top);
    h = std::min(h, image.rows > first_row ? image.rows - first_row : 0);
    if (image.pixels == nullptr || w == 0 || h == 0) return 1;
    if (pixel_size != 16 && pixel_size != 32 && (pixel_size != 8 || table.entries == nullptr)) return 1;

    const uint32_t bytes_per_pixel = pixel_size == 16 ? 2 : 1;
    const uint32_t part = src_row / 3;
    const uint64_t from = uint64_t(src.top - src_bounds.top) * src_row +
                          uint64_t(src.left - src_bounds.left) * bytes_per_pixel;
    const uint64_t to = uint64_t(dst.top - dst_bounds.top) * dst_row + uint64_t(dst.left - dst_bounds.left);
    // Every byte the copy reads lies in the image, every sample it writes in
    // the planes: the last row's reach decides.
    const uint64_t reach = pixel_size == 32 ? uint64_t(w) + 2 * part : uint64_t(w) * bytes_per_pixel;
    if (from + uint64_t(h - 1) * src_row + reach > image.size) return 0;
    if (to + uint64_t(h - 1) * dst_row + w > planelen) return 0;

    mode &= uint16_t(~64u);
    const TransferRoutine routine = mode == 0 ? nullptr : transfer(mode);
    const uint8_t* first = image.pixels + from;
    if (pixel_size == 8) {
        blit_rows<8>(first, src_row, part, uint32_t(to), dst_row, w, h, table, routine);
    } else if (pixel_size == 16) {
        blit_rows<16>(first, src_row, part, uint32_t(to), dst_row, w, h, table, routine);
    } else {
        blit_rows<32>(first, src_row, part, uint32_t(to), dst_row, w, h, table, routine);
    }
    return 1;
}

// --- the image opcodes -------------------------------------------------------------

void do_bitmap(uint16_t row_bytes, bool region, bool packed)
{
    Rect bounds, src, dst;
    read_rect(bounds);
    read_rect(src);
    read_rect(dst);
    const uint16_t mode = read_UWORD();
    if (region) skip_poly_or_region();
    const unpacked_image image = unpackbits(bounds, row_bytes, 1, 1, packed);
    blit(src, bounds, width_of(bounds), image, 8, dst, picFrame, rowlen, {kBitmapColours, 2}, mode);
}

void do_pixmap(uint16_t row_bytes, bool region, bool packed)
{
    pixmap_header h;
    read_pixmap(h, nullptr);
    const colour_table table = read_colour_table();
    Rect src, dst;
    read_rect(src);
    read_rect(dst);
    const uint16_t mode = read_UWORD();
    if (region) skip_poly_or_region();
    const unpacked_image image = unpackbits(h.bounds, row_bytes, h.pixelSize, h.cmpCount, packed);
    if (table.entries != nullptr) blit(src, h.bounds, width_of(h.bounds), image, 8, dst, picFrame, rowlen, table, mode);
}

// The row-bytes word tells a pixel map (bit 15 set) from a bitmap.
void bits_image(bool packed, bool region)
{
    const uint16_t row_bytes = read_UWORD();
    if (row_bytes & 0x8000) {
        do_pixmap(row_bytes, region, packed);
    } else {
        do_bitmap(row_bytes, region, packed);
    }
}

// 0x90 and 0x91 store their rows as they are, at any row bytes; 0x98 and
// 0x99 pack them. The region variants carry a mask region after the mode.
void BitsRect(uint16_t) { bits_image(false, false); }
void BitsRegion(uint16_t) { bits_image(false, true); }
void PackBitsRect(uint16_t) { bits_image(true, false); }
void PackBitsRegion(uint16_t) { bits_image(true, true); }

// A direct-colour pixel map, read by its own row bytes (the flag bits
// cleared). 16- and 32-bit pixels are drawn; other sizes have no colours to
// draw with.
void Opcode_9A(uint16_t)
{
    skip(4);  // base address
    const uint16_t row_bytes = read_UWORD() & 0x3FFF;
    pixmap_header h;
    read_pixmap_fields(h);
    const uint16_t width = width_of(h.bounds);
    const uint32_t src_row = h.pixelSize == 16   ? uint16_t(width * 2)
                             : h.pixelSize == 32 ? uint16_t(width * 3)
                                                 : width;
    Rect src, dst;
    read_rect(src);
    read_rect(dst);
    const uint16_t mode = read_UWORD();
    const unpacked_image image = unpackbits(h.bounds, row_bytes, h.pixelSize, h.cmpCount, true);
    blit(src, h.bounds, src_row, image, h.pixelSize, dst, picFrame, rowlen, {nullptr, 0}, mode);
}

} // namespace
