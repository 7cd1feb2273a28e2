// A small PICT writer for the tests and benchmarks of pictrender: version-1
// and version-2 pictures, opcodes with their data, pixel images with their
// rows packed as QuickDraw packs them, the pen, text and comment opcodes;
// a runner that hands the written bytes to pictrender as a file and returns
// what it delivered, and a view of that as text art.
//
//     pict::Picture p = pict::begin(2, {0, 0, 10, 20});
//     pict::op(p, 0x1A);                         // RGBFgCol
//     pict::put_rgb(p.bytes, {0xFFFF, 0, 0});
//     pict::bitmap(p, 0x98, {0, 0, 2, 8}, bits, {0, 0, 2, 8}, {4, 4, 6, 12}, 1);
//     const pict::Rendered r = pict::render(pict::end(p));
#pragma once

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"

namespace pict {

using Bytes = std::vector<uint8_t>;

// top, left, bottom, right, as in the file.
struct Rect {
    uint16_t top, left, bottom, right;
};

struct Rgb16 {
    uint16_t red, green, blue;
};

inline uint16_t width_of(const Rect& r) { return uint16_t(r.right - r.left); }
inline uint16_t height_of(const Rect& r) { return uint16_t(r.bottom - r.top); }

// --- numbers ------------------------------------------------------------------

inline void put8(Bytes& out, uint32_t v) { out.push_back(uint8_t(v)); }

inline void put16(Bytes& out, uint32_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline void put32(Bytes& out, uint32_t v)
{
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

inline void put_bytes(Bytes& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

inline void put_rect(Bytes& out, const Rect& r)
{
    put16(out, r.top);
    put16(out, r.left);
    put16(out, r.bottom);
    put16(out, r.right);
}

// A point: the vertical word first.
inline void put_point(Bytes& out, uint16_t x, uint16_t y)
{
    put16(out, y);
    put16(out, x);
}

inline void put_rgb(Bytes& out, const Rgb16& c)
{
    put16(out, c.red);
    put16(out, c.green);
    put16(out, c.blue);
}

// A counted string: its length byte, then its characters.
inline void put_string(Bytes& out, const std::string& text)
{
    put8(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// --- the picture ----------------------------------------------------------------

struct Picture {
    Bytes bytes;
    int version;
};

// The 512-byte file header, the picture size word, the frame and the version
// opcodes; a version-2 picture then has its 0x0C00 header opcode (left out
// when `header_opcode` is false).
inline Picture begin(int version, const Rect& frame, bool header_opcode = true)
{
    Picture p{Bytes(512, 0), version};
    put16(p.bytes, 0);  // picture size: nobody reads it
    put_rect(p.bytes, frame);
    if (version == 1) {
        put8(p.bytes, 0x11);
        put8(p.bytes, 0x01);
        return p;
    }
    put16(p.bytes, 0x0011);
    put16(p.bytes, 0x02FF);
    if (header_opcode) {
        put16(p.bytes, 0x0C00);
        put16(p.bytes, 0xFFFE);
        put16(p.bytes, 0);
        put32(p.bytes, 0x00480000);
        put32(p.bytes, 0x00480000);
        put_rect(p.bytes, frame);
        put32(p.bytes, 0);
    }
    return p;
}

// An opcode: a byte in version 1; in version 2 a word, after a pad byte
// when the data before it ended at an odd position.
inline void op(Picture& p, uint16_t opcode)
{
    if (p.version == 1) {
        put8(p.bytes, opcode);
        return;
    }
    if (p.bytes.size() % 2) put8(p.bytes, 0);
    put16(p.bytes, opcode);
}

// The end-of-picture opcode; the finished file.
inline Bytes end(Picture& p)
{
    op(p, p.version == 1 ? 0xFF : 0x00FF);
    return p.bytes;
}

// --- PackBits and rows ------------------------------------------------------------

// PackBits of one row in units of `unit` bytes (2 for 16-bit pixels): runs
// of two units and more (three for bytes) repeat, the rest is literal, at
// most 128 units per code.
inline Bytes packbits(std::span<const uint8_t> row, unsigned unit = 1)
{
    const size_t units = row.size() / unit;
    const auto same = [&](size_t a, size_t b) { return std::memcmp(&row[a * unit], &row[b * unit], unit) == 0; };
    const size_t shortest_run = unit == 1 ? 3 : 2;
    Bytes out;
    size_t i = 0;
    while (i < units) {
        size_t run = 1;
        while (i + run < units && run < 128 && same(i, i + run)) ++run;
        if (run >= shortest_run) {
            out.push_back(uint8_t(257 - run));
            out.insert(out.end(), row.begin() + long(i * unit), row.begin() + long((i + 1) * unit));
            i += run;
            continue;
        }
        const size_t start = i;
        while (i < units && i - start < 128) {
            size_t ahead = 1;
            while (i + ahead < units && ahead < shortest_run && same(i, i + ahead)) ++ahead;
            if (ahead >= shortest_run) break;
            ++i;
        }
        out.push_back(uint8_t(i - start - 1));
        out.insert(out.end(), row.begin() + long(start * unit), row.begin() + long(i * unit));
    }
    return out;
}

// Rows of `row_length` bytes as an image opcode stores them: as they are
// when `packed` is false or row bytes are below 8, otherwise each packed
// and led by its length, a byte up to 250 row bytes and a word above.
inline Bytes row_data(std::span<const uint8_t> rows, uint32_t row_length, uint32_t row_bytes, bool packed,
                      unsigned unit = 1)
{
    if (!packed || row_bytes < 8) return Bytes(rows.begin(), rows.end());
    Bytes out;
    for (size_t at = 0; at + row_length <= rows.size() && row_length > 0; at += row_length) {
        const Bytes row = packbits(rows.subspan(at, row_length), unit);
        if (row_bytes > 250) {
            put16(out, uint32_t(row.size()));
        } else {
            put8(out, uint32_t(row.size()));
        }
        put_bytes(out, row);
    }
    return out;
}

// --- pixel images -----------------------------------------------------------------

// A pixel map's bounds and the 36 bytes after them.
struct PixMap {
    Rect bounds;
    uint16_t version = 0;
    uint16_t pack_type = 0;
    uint32_t pack_size = 0;
    uint32_t h_res = 0x00480000, v_res = 0x00480000;
    uint16_t pixel_type = 0;
    uint16_t pixel_size = 8;
    uint16_t cmp_count = 1;
    uint16_t cmp_size = 8;
    uint32_t plane_bytes = 0, pm_table = 0, pm_reserved = 0;
};

inline void put_pixmap(Bytes& out, const PixMap& m)
{
    put_rect(out, m.bounds);
    put16(out, m.version);
    put16(out, m.pack_type);
    put32(out, m.pack_size);
    put32(out, m.h_res);
    put32(out, m.v_res);
    put16(out, m.pixel_type);
    put16(out, m.pixel_size);
    put16(out, m.cmp_count);
    put16(out, m.cmp_size);
    put32(out, m.plane_bytes);
    put32(out, m.pm_table);
    put32(out, m.pm_reserved);
}

// A colour table: seed, flags, size (entries - 1), then index and colour of
// each entry.
inline void put_colour_table(Bytes& out, const std::vector<Rgb16>& colours, uint16_t flags = 0)
{
    put32(out, 0);
    put16(out, flags);
    put16(out, uint32_t(colours.size() - 1));
    for (size_t i = 0; i < colours.size(); ++i) {
        put16(out, uint32_t(i));
        put_rgb(out, colours[i]);
    }
}

// Even row bytes that hold `width` pixels of `bits` bits.
inline uint16_t even_row_bytes(uint32_t width, uint32_t bits) { return uint16_t((width * bits + 15) / 16 * 2); }

// Pixels of `bits` bits (one value per byte of `pixels`, width per row) as
// rows of `row_bytes`, leftmost pixel in the high bits.
inline Bytes pack_pixels(const Bytes& pixels, uint32_t width, uint32_t bits, uint32_t row_bytes)
{
    const size_t height = width ? pixels.size() / width : 0;
    Bytes rows(row_bytes * height, 0);
    for (size_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t bit = x * bits;
            if (bit / 8 >= row_bytes) break;
            rows[y * row_bytes + bit / 8] |= uint8_t(pixels[y * width + x] << (8 - bits - bit % 8));
        }
    return rows;
}

// Where an image lands: its source and destination rectangles and the
// transfer mode; the region variants (0x91, 0x99) add a mask region, the
// destination rectangle.
inline void put_placement(Picture& p, uint16_t opcode, const Rect& src, const Rect& dst, uint16_t mode)
{
    put_rect(p.bytes, src);
    put_rect(p.bytes, dst);
    put16(p.bytes, mode);
    if (opcode == 0x91 || opcode == 0x99) {
        put16(p.bytes, 10);
        put_rect(p.bytes, dst);
    }
}

// The rows of 1- to 8-bit pixels, stored (0x90, 0x91) or packed.
inline void put_pixel_rows(Picture& p, uint16_t opcode, const Bytes& pixels, uint32_t width, uint32_t bits,
                           uint16_t row_bytes)
{
    put_bytes(p.bytes, row_data(pack_pixels(pixels, width, bits, row_bytes), row_bytes, row_bytes, opcode >= 0x98));
}

// A bitmap (0x90 stored, 0x98 packed; 0x91/0x99 with a mask region) of 0/1
// pixels, width of the bounds per row.
inline void bitmap(Picture& p, uint16_t opcode, const Rect& bounds, const Bytes& pixels, const Rect& src,
                   const Rect& dst, uint16_t mode, uint16_t row_bytes = 0)
{
    if (row_bytes == 0) row_bytes = even_row_bytes(width_of(bounds), 1);
    op(p, opcode);
    put16(p.bytes, row_bytes);
    put_rect(p.bytes, bounds);
    put_placement(p, opcode, src, dst, mode);
    put_pixel_rows(p, opcode, pixels, width_of(bounds), 1, row_bytes);
}

// A black dot at (x, y) from a one-pixel bitmap: the tests' sign that the
// stream was still in step where it stands (and, for text blocks, that no
// block was open).
inline void dot(Picture& p, uint16_t x, uint16_t y)
{
    bitmap(p, 0x90, {0, 0, 1, 1}, {1}, {0, 0, 1, 1}, {y, x, uint16_t(y + 1), uint16_t(x + 1)}, 0);
}

// An indexed pixel map of 1, 2, 4 or 8 bits (0x90/0x98, 0x91/0x99) with its
// colour table.
inline void indexed(Picture& p, uint16_t opcode, const Rect& bounds, uint16_t bits, const Bytes& pixels,
                    const std::vector<Rgb16>& colours, const Rect& src, const Rect& dst, uint16_t mode,
                    uint16_t row_bytes = 0)
{
    if (row_bytes == 0) row_bytes = even_row_bytes(width_of(bounds), bits);
    op(p, opcode);
    put16(p.bytes, 0x8000 | row_bytes);
    PixMap m{bounds};
    m.pixel_size = bits;
    m.cmp_size = bits;
    put_pixmap(p.bytes, m);
    put_colour_table(p.bytes, colours);
    put_placement(p, opcode, src, dst, mode);
    put_pixel_rows(p, opcode, pixels, width_of(bounds), bits, row_bytes);
}

// A direct pixel map (0x9A) of 32-bit pixels, given as red, green, blue
// bytes: packed rows hold a plane per component, components x width bytes
// (alpha first, 0xFF, when there are four); rows below 8 row bytes hold
// whole pixels (pad, red, green, blue).
inline void direct32(Picture& p, const Rect& bounds, const Bytes& rgb, const Rect& src, const Rect& dst,
                     uint16_t mode, uint16_t components = 3, uint16_t row_bytes = 0)
{
    const uint32_t width = width_of(bounds), height = height_of(bounds);
    if (row_bytes == 0) row_bytes = uint16_t(4 * width);
    op(p, 0x9A);
    put32(p.bytes, 0xFF);  // base address
    put16(p.bytes, 0x8000 | row_bytes);
    PixMap m{bounds};
    m.pack_type = 4;
    m.pixel_type = 16;
    m.pixel_size = 32;
    m.cmp_count = components;
    m.cmp_size = 8;
    put_pixmap(p.bytes, m);
    put_placement(p, 0x9A, src, dst, mode);
    // Stored rows hold whole pixels, packed rows a plane per component.
    const uint32_t row_length = row_bytes < 8 ? row_bytes : components * width;
    Bytes rows(size_t(row_length) * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = rows.data() + size_t(y) * row_length;
        for (uint32_t x = 0; x < width; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                const uint8_t v = rgb[(size_t(y) * width + x) * 3 + c];
                if (row_bytes < 8) {
                    if (4 * x + 1 + c < row_length) row[4 * x + 1 + c] = v;
                } else {
                    if (components == 4) row[x] = 0xFF;
                    row[(c + components - 3) * width + x] = v;
                }
            }
    }
    put_bytes(p.bytes, row_data(rows, row_length, row_bytes, true));
}

// A direct pixel map (0x9A) of 16-bit pixels (x, 5 bits red, green, blue),
// packed in words.
inline void direct16(Picture& p, const Rect& bounds, const std::vector<uint16_t>& pixels, const Rect& src,
                     const Rect& dst, uint16_t mode, uint16_t row_bytes = 0)
{
    const uint32_t width = width_of(bounds), height = height_of(bounds);
    if (row_bytes == 0) row_bytes = uint16_t(2 * width);
    op(p, 0x9A);
    put32(p.bytes, 0xFF);
    put16(p.bytes, 0x8000 | row_bytes);
    PixMap m{bounds};
    m.pack_type = 3;
    m.pixel_type = 16;
    m.pixel_size = 16;
    m.cmp_count = 3;
    m.cmp_size = 5;
    put_pixmap(p.bytes, m);
    put_placement(p, 0x9A, src, dst, mode);
    Bytes rows(size_t(row_bytes) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width && 2 * x + 1 < row_bytes; ++x) {
            rows[size_t(y) * row_bytes + 2 * x] = uint8_t(pixels[size_t(y) * width + x] >> 8);
            rows[size_t(y) * row_bytes + 2 * x + 1] = uint8_t(pixels[size_t(y) * width + x]);
        }
    put_bytes(p.bytes, row_data(rows, row_bytes, row_bytes, true, 2));
}

// --- pen, lines, rectangles, polygons, text, comments ------------------------------

inline void clip(Picture& p, const Rect& r)
{
    op(p, 0x01);
    put16(p.bytes, 10);
    put_rect(p.bytes, r);
}

// PnSize: the height word first.
inline void pen_size(Picture& p, uint16_t width, uint16_t height)
{
    op(p, 0x07);
    put16(p.bytes, height);
    put16(p.bytes, width);
}

inline void pen_mode(Picture& p, uint16_t mode)
{
    op(p, 0x08);
    put16(p.bytes, mode);
}

// PnPat: 8 rows, bit 7 the leftmost cell.
inline void pen_pattern(Picture& p, const std::array<uint8_t, 8>& rows)
{
    op(p, 0x09);
    put_bytes(p.bytes, rows);
}

inline void text_mode(Picture& p, uint16_t mode)
{
    op(p, 0x05);
    put16(p.bytes, mode);
}

inline void colour(Picture& p, uint16_t opcode, const Rgb16& c)
{
    op(p, opcode);
    put_rgb(p.bytes, c);
}

inline void line(Picture& p, uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2)
{
    op(p, 0x20);
    put_point(p.bytes, x1, y1);
    put_point(p.bytes, x2, y2);
}

inline void line_from(Picture& p, uint16_t x, uint16_t y)
{
    op(p, 0x21);
    put_point(p.bytes, x, y);
}

// A short point: a signed horizontal byte, then a signed vertical byte.
inline void short_line(Picture& p, uint16_t x, uint16_t y, int8_t dh, int8_t dv)
{
    op(p, 0x22);
    put_point(p.bytes, x, y);
    put8(p.bytes, uint8_t(dh));
    put8(p.bytes, uint8_t(dv));
}

inline void short_line_from(Picture& p, int8_t dh, int8_t dv)
{
    op(p, 0x23);
    put8(p.bytes, uint8_t(dh));
    put8(p.bytes, uint8_t(dv));
}

// frameRect (0x30), paintRect (0x31) and the other rectangle opcodes.
inline void rect_op(Picture& p, uint16_t opcode, const Rect& r)
{
    op(p, opcode);
    put_rect(p.bytes, r);
}

struct XY {
    int32_t x, y;
};

// paintPoly: its size word (10 + 4 a point), its bounding rectangle, its
// points.
inline void polygon(Picture& p, const std::vector<XY>& points, uint16_t opcode = 0x71)
{
    op(p, opcode);
    put16(p.bytes, uint32_t(10 + 4 * points.size()));
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    if (!points.empty()) {
        top = bottom = points[0].y;
        left = right = points[0].x;
    }
    for (const XY& q : points) {
        top = std::min(top, q.y);
        bottom = std::max(bottom, q.y);
        left = std::min(left, q.x);
        right = std::max(right, q.x);
    }
    put_rect(p.bytes, {uint16_t(top), uint16_t(left), uint16_t(bottom), uint16_t(right)});
    for (const XY& q : points) put_point(p.bytes, uint16_t(q.x), uint16_t(q.y));
}

inline void long_text(Picture& p, uint16_t x, uint16_t y, const std::string& text)
{
    op(p, 0x28);
    put_point(p.bytes, x, y);
    put_string(p.bytes, text);
}

inline void dh_text(Picture& p, uint8_t dh, const std::string& text)
{
    op(p, 0x29);
    put8(p.bytes, dh);
    put_string(p.bytes, text);
}

inline void dv_text(Picture& p, uint8_t dv, const std::string& text)
{
    op(p, 0x2A);
    put8(p.bytes, dv);
    put_string(p.bytes, text);
}

inline void dhdv_text(Picture& p, uint8_t dh, uint8_t dv, const std::string& text)
{
    op(p, 0x2B);
    put8(p.bytes, dh);
    put8(p.bytes, dv);
    put_string(p.bytes, text);
}

inline void short_comment(Picture& p, uint16_t kind)
{
    op(p, 0xA0);
    put16(p.bytes, kind);
}

inline void long_comment(Picture& p, uint16_t kind, const Bytes& data)
{
    op(p, 0xA1);
    put16(p.bytes, kind);
    put16(p.bytes, uint32_t(data.size()));
    put_bytes(p.bytes, data);
}

// A text-begin comment (kind 150): justification, flip, rotation, line
// spacing, and a pad byte to its usual size of 6.
inline void text_begin(Picture& p, uint16_t rotation)
{
    long_comment(p, 150, {1, 0, uint8_t(rotation >> 8), uint8_t(rotation), 2, 0});
}

// A text-centre comment (kind 154): vertical, then horizontal offset, each
// a whole word and a fraction word.
inline void text_centre(Picture& p, int16_t dx, int16_t dy)
{
    long_comment(p, 154, {uint8_t(uint16_t(dy) >> 8), uint8_t(dy), 0x80, 0, uint8_t(uint16_t(dx) >> 8), uint8_t(dx), 0, 0});
}

inline void text_end(Picture& p) { short_comment(p, 151); }

// --- running pictrender -------------------------------------------------------------

using Rgb = std::array<uint8_t, 3>;

// What a run delivered: the error word, the block's words 4 and 5 after it,
// the record's 205 words when word 2 named one, and its pixels.
struct Rendered {
    uint32_t error = 0;
    uint32_t memlist_word = 0, stream_word = 0;
    bool has_record = false;
    std::vector<uint32_t> record;
    bool has_pixels = false;
    uint32_t width = 0, height = 0;
    Bytes rgb;

    Rgb at(uint32_t x, uint32_t y) const
    {
        const size_t i = (size_t(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// A rendered picture as rows of text: '#' for black, '.' for white, the
// legend's letter for its colours, '?' for any other.
inline std::vector<std::string> art(const Rendered& r, const std::vector<std::pair<Rgb, char>>& legend = {})
{
    std::vector<std::string> rows;
    for (uint32_t y = 0; y < r.height; ++y) {
        std::string row;
        for (uint32_t x = 0; x < r.width; ++x) {
            const Rgb c = r.at(x, y);
            char cell = c == Rgb{0, 0, 0} ? '#' : c == Rgb{0xFF, 0xFF, 0xFF} ? '.' : '?';
            for (const auto& [colour, letter] : legend)
                if (c == colour) cell = letter;
            row += cell;
        }
        rows.push_back(row);
    }
    return rows;
}

// A file name of its own for each call, in the temporary directory.
inline std::string scratch_path(const char* stem)
{
    static uint32_t made = 0;
    return (std::filesystem::temp_directory_path() /
            (std::string(stem) + "_" + std::to_string(getpid()) + "_" + std::to_string(made++) + ".pict"))
        .string();
}

inline bool write_file(const std::string& path, const Bytes& bytes)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

// The call itself, for callers that arm failures or logs around it.
using Call = std::function<void(const host_module* module, uint8_t* block)>;

// Runs pictrender on the file at `path`; the record and its pixels are
// copied out and freed, as the host would.
inline Rendered render_file(const std::string& path, const Call& call = {})
{
    Rendered r;
    const host_module* module = host_load_module("pictrender");
    if (module == nullptr) {
        r.error = ~0u;
        return r;
    }
    uint8_t* name = host_alloc(uint32_t(path.size() + 1));
    std::memcpy(name, path.c_str(), path.size() + 1);
    uint8_t* block = host_new_block(52);
    host_set_word(block, 3, host_address(name));
    host_set_word(block, 1, 1);
    if (call) {
        call(module, block);
    } else {
        module->function(block);
    }
    r.error = host_word(block, 12);
    r.memlist_word = host_word(block, 4);
    r.stream_word = host_word(block, 5);
    auto* record = static_cast<uint8_t*>(shared_pointer(host_word(block, 2)));
    if (record != nullptr) {
        r.has_record = true;
        for (uint32_t w = 0; w < 205; ++w) r.record.push_back(host_word(record, w));
        r.width = r.record[2];
        r.height = r.record[3];
        const auto* pixels = static_cast<const uint8_t*>(shared_pointer(r.record[200]));
        if (pixels != nullptr) {
            r.has_pixels = true;
            r.rgb.assign(pixels, pixels + r.record[201]);
        }
        host_free_picture(record);
    }
    host_free(block);
    host_free(name);
    return r;
}

inline Rendered render(const Bytes& file, const Call& call = {})
{
    const std::string path = scratch_path("pictrender");
    if (!write_file(path, file)) {
        Rendered failed;
        failed.error = ~0u;
        return failed;
    }
    Rendered r = render_file(path, call);
    std::remove(path.c_str());
    return r;
}

} // namespace pict
