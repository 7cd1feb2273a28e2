// Text (opcodes 0x28 to 0x2B) with the built-in font, and the picture
// comments (0xA0, 0xA1) that open and close a text block and give its
// rotation centre.
//
// Outside a block a string is drawn glyph box by glyph box through the text
// transfer mode: set cells as black, clear cells as white, so that mode 0
// paints the whole box and mode 1 only the set cells. Inside a block the
// string's set cells are turned about the block's centre and take the
// foreground colour, and the block's pixel images are not drawn.
#pragma once

#include <cstdint>

#include "kernels/pict/pict_font.h"
#include "kernels/pict/pict_pixmap.h"
#include "kernels/pict/pict_read.h"
#include "kernels/pict/pict_state.h"

namespace {

const bdf_font* tfont;  // the font in use: always the built-in one

// A string in the file: a length byte, then its characters. Characters the
// file does not hold are 0, which has no glyph.
struct counted_string {
    uint8_t length;
    uint8_t chars[255];
};

void read_string(counted_string& s)
{
    s.length = read_UBYTE();
    read_n(s.length, s.chars);
}

// One cell of a glyph on the picture, through a transfer routine, where the
// clip rectangle and the frame both hold it.
void draw_pixel(int32_t x, int32_t y, const Colour& colour, TransferRoutine routine)
{
    Rect area;
    rectinter(clip_rect, picFrame, area);
    if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) return;
    const uint32_t i = uint32_t(y - picFrame.top) * rowlen + uint32_t(x - picFrame.left);
    Colour d = {red[i], green[i], blue[i]};
    routine(colour, d);
    red[i] = d.red;
    green[i] = d.green;
    blue[i] = d.blue;
}

// Turns a point clockwise on the page about the block's centre, by the
// quarter turn nearest the block's rotation.
void rotate(int32_t& x, int32_t& y)
{
    const uint16_t r = ps_rotation;
    const int32_t cx = ps_cent_x, cy = ps_cent_y;
    const int32_t dx = x - cx, dy = y - cy;
    if (r <= 45 || r >= 315) return;
    if (r < 135) {
        x = cx - dy;
        y = cy + dx;
    } else if (r < 225) {
        x = cx - dx;
        y = cy - dy;
    } else {
        x = cx + dy;
        y = cy - dx;
    }
}

// A string inside a text block. The block's first string places its centre;
// the current point stays where the string starts.
void do_ps_text(uint16_t x, uint16_t y)
{
    current = {x, y};
    if (!ps_cent_set) {
        ps_cent_x += x;
        ps_cent_y += y;
        ps_cent_set = 1;
    }
    counted_string s;
    read_string(s);
    int32_t x0 = x;
    for (uint32_t i = 0; i < s.length; ++i) {
        const bdf_glyph& g = tfont->glyphs[s.chars[i]];
        if (g.bitmap == nullptr) continue;
        for (int32_t r = 0; r < g.height; ++r)
            for (int32_t k = 0; k < g.width; ++k) {
                if (g.bitmap[r * g.width + k] == 0) continue;
                int32_t px = x0 + g.x_offset + k, py = y - g.height - g.y_offset + r;
                rotate(px, py);
                if (px < picFrame.left || px >= picFrame.right || py < picFrame.top || py >= picFrame.bottom) continue;
                const uint32_t at = uint32_t(py - picFrame.top) * rowlen + uint32_t(px - picFrame.left);
                red[at] = foreground.red;
                green[at] = foreground.green;
                blue[at] = foreground.blue;
            }
        x0 += g.x_advance;
    }
}

// A string read from the file, drawn with its baseline at y from x on;
// the current point ends after its last glyph.
void do_text(uint16_t x, uint16_t y)
{
    tfont = &default_bdffont;
    if (ps_text) {
        do_ps_text(x, y);
        return;
    }
    counted_string s;
    read_string(s);
    for (uint32_t i = 0; i < s.length; ++i) {
        const bdf_glyph& g = tfont->glyphs[s.chars[i]];
        if (g.bitmap == nullptr) continue;
        const int32_t left = x + g.x_offset, top = y - g.height - g.y_offset;
        for (int32_t r = 0; r < g.height; ++r)
            for (int32_t k = 0; k < g.width; ++k)
                draw_pixel(left + k, top + r, g.bitmap[r * g.width + k] != 0 ? kBlack : kWhite, text_trf);
        x = uint16_t(x + g.x_advance);
    }
    current = {x, y};
}

void LongText(uint16_t)
{
    Point at;
    read_point(at);
    do_text(at.x, at.y);
}

void DHText(uint16_t)
{
    current.x = uint16_t(current.x + read_UBYTE());
    do_text(current.x, current.y);
}

void DVText(uint16_t)
{
    current.y = uint16_t(current.y + read_UBYTE());
    do_text(current.x, current.y);
}

void DHDVText(uint16_t)
{
    current.x = uint16_t(current.x + read_UBYTE());
    current.y = uint16_t(current.y + read_UBYTE());
    do_text(current.x, current.y);
}

// --- picture comments ---------------------------------------------------------------

constexpr uint16_t kTextBegin = 150, kTextEnd = 151, kTextCentre = 154;

// A centre offset: a signed word, then a fraction that is passed over.
int32_t read_centre_offset()
{
    const uint16_t whole = read_UWORD();
    skip(2);
    return whole > 32767 ? int32_t(whole) - 65536 : int32_t(whole);
}

// One comment, whose `size` bytes of data follow; what a comment does not
// read is passed over.
void picComment(uint16_t kind, uint16_t size)
{
    uint32_t left = size;
    if (kind == kTextBegin && size >= 6) {
        ps_just = read_UBYTE();
        ps_flip = read_UBYTE();
        ps_rotation = read_UWORD();
        ps_linespace = read_UBYTE();
        left -= 5;
        if (recognize_comment) ps_text = 1;
        ps_cent_set = 0;
    } else if (kind == kTextEnd) {
        ps_text = 0;
    } else if (kind == kTextCentre && size >= 8) {
        ps_cent_y = read_centre_offset();
        ps_cent_x = read_centre_offset();
        left -= 8;
    }
    if (left > 0) skip(left);
}

void ShortComment(uint16_t) { picComment(read_UWORD(), 0); }

void LongComment(uint16_t)
{
    const uint16_t kind = read_UWORD();
    picComment(kind, read_UWORD());
}

} // namespace
