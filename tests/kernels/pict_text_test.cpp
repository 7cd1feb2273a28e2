// pictrender's text: the built-in font, strings placed by the text opcodes
// and drawn through the text mode, and the picture comments that open and
// close turned text blocks. The font is read through its own header; the
// expected pictures place its glyphs by the layout rule: cell (k, r) of a
// glyph drawn at x, y lands at (x + x offset + k, y - height - y offset + r).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "kernel_test.h"
#include "kernels/pict/pict_font.h"
#include "pict_writer.h"

namespace {

using pict::Bytes;
using pict::Picture;
using pict::Rect;
using pict::Rendered;
using pict::Rgb;
using Art = std::vector<std::string>;

// --- the font -------------------------------------------------------------------------

// The advances in code order, as the font is given.
const std::vector<std::pair<uint32_t, std::string>> kGivenAdvances = {
    {32, "3 3 5 6 6 9 10 4 5 5 6 7 3 8 3 3 6 6 6 6 6 6 6 6 6 6 3 3 8 7 8 5"},
    {64, "11 9 8 8 9 8 8 9 9 4 4 8 7 11 9 9 7 9 8 7 7 8 9 12 8 9 8 5 3 5 6 6"},
    {96, "4 6 6 5 6 6 3 6 6 3 3 6 3 9 6 6 6 6 4 6 4 6 6 9 6 6 6 6 3 6 7"},
    {161, "4 6 6 7 6 3 6 3 11 5 7 8 6 11 4 5 7 4 4 4 6 7 3 3 4 5 7 9 9 9 5"},
    {192, "9 9 9 9 9 9 11 8 8 8 8 8 4 4 4 4 9 9 9 9 9 9 9 7 9 8 8 8 8 9 7 6"},
    {224, "6 6 6 6 6 6 9 5 6 6 6 6 3 3 3 3 6 6 6 6 6 6 6 7 6 6 6 6 6 6 6 6"},
};

TEST(PictFont, EveryGlyphHasItsAdvanceAndLiesInsideTheFontBox)
{
    const bdf_font& f = default_bdffont;
    EXPECT_EQ(f.width, 14);
    EXPECT_EQ(f.height, 15);
    EXPECT_EQ(f.x_offset, -1);
    EXPECT_EQ(f.y_offset, -3);
    std::vector<int> advance(256, 0);
    for (const auto& [first, list] : kGivenAdvances) {
        uint32_t code = first;
        size_t at = 0;
        while (at < list.size()) {
            const size_t end = std::min(list.find(' ', at), list.size());
            advance[code++] = std::stoi(list.substr(at, end - at));
            at = end + 1;
        }
    }
    int glyphs = 0, widest = 0, tallest = 0;
    for (uint32_t code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        const bdf_glyph& g = f.glyphs[code];
        const bool has_glyph = (code >= 32 && code <= 126) || code >= 161;
        ASSERT_EQ(g.bitmap != nullptr, has_glyph);
        if (!has_glyph) continue;
        ++glyphs;
        EXPECT_EQ(g.x_advance, advance[code]);
        EXPECT_GT(g.width, 0);
        EXPECT_GT(g.height, 0);
        EXPECT_GE(g.x_offset, f.x_offset);
        EXPECT_GE(g.y_offset, f.y_offset);
        EXPECT_LE(g.x_offset + g.width, f.x_offset + f.width);
        EXPECT_LE(g.y_offset + g.height, f.y_offset + f.height);
        for (int32_t i = 0; i < g.width * g.height; ++i) EXPECT_LE(g.bitmap[i], 1);
        widest = std::max(widest, g.width);
        tallest = std::max(tallest, g.height);
    }
    EXPECT_EQ(glyphs, 190);
    EXPECT_EQ(widest, 12);
    EXPECT_EQ(tallest, 12);
}

TEST(PictFont, TellingGlyphs)
{
    struct Case {
        uint8_t code;
        int32_t width, height, x_offset, y_offset, advance;
    };
    const std::vector<Case> cases = {
        {' ', 1, 1, 0, 0, 3}, {'A', 9, 9, 0, 0, 9}, {'g', 5, 9, 1, -3, 6}, {'W', 12, 9, 0, 0, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const bdf_glyph& g = default_bdffont.glyphs[c.code];
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
        EXPECT_EQ(g.x_offset, c.x_offset);
        EXPECT_EQ(g.y_offset, c.y_offset);
        EXPECT_EQ(g.x_advance, c.advance);
    }
    EXPECT_EQ(default_bdffont.glyphs[' '].bitmap[0], 0) << "the space's one cell is clear";
    for (char code = 'A'; code <= 'Z'; ++code) {
        SCOPED_TRACE(code);
        const bdf_glyph& g = default_bdffont.glyphs[uint8_t(code)];
        EXPECT_EQ(g.height, code == 'Q' ? 11 : 9);
        EXPECT_EQ(g.y_offset, code == 'Q' ? -2 : 0);
    }
    for (char code : std::string("gjpqy")) EXPECT_EQ(default_bdffont.glyphs[uint8_t(code)].y_offset, -3) << code;
}

// --- expected pictures --------------------------------------------------------------------

// A frame's worth of text art, white, with glyphs placed on it.
struct Page {
    Rect frame;
    Art rows;
    explicit Page(Rect f) : frame(f), rows(pict::height_of(f), std::string(pict::width_of(f), '.')) {}

    void set(int32_t x, int32_t y, char c)
    {
        if (x < frame.left || x >= frame.right || y < frame.top || y >= frame.bottom) return;
        rows[size_t(y - frame.top)][size_t(x - frame.left)] = c;
    }

    // The string's glyphs from x on the baseline y: set cells as `ink`, clear
    // cells as `paper` (or left alone when it is 0). Returns the x after it.
    int32_t text(int32_t x, int32_t y, const std::string& s, char ink = '#', char paper = 0)
    {
        for (const char ch : s) {
            const bdf_glyph& g = default_bdffont.glyphs[uint8_t(ch)];
            if (g.bitmap == nullptr) continue;
            for (int32_t r = 0; r < g.height; ++r)
                for (int32_t k = 0; k < g.width; ++k) {
                    const bool cell = g.bitmap[r * g.width + k] != 0;
                    if (cell || paper) set(x + g.x_offset + k, y - g.height - g.y_offset + r, cell ? ink : paper);
                }
            x += g.x_advance;
        }
        return x;
    }
};

// The set cells of a string's glyphs, as points, before any turn.
std::vector<std::pair<int32_t, int32_t>> glyph_cells(int32_t x, int32_t y, const std::string& s)
{
    std::vector<std::pair<int32_t, int32_t>> cells;
    for (const char ch : s) {
        const bdf_glyph& g = default_bdffont.glyphs[uint8_t(ch)];
        if (g.bitmap == nullptr) continue;
        for (int32_t r = 0; r < g.height; ++r)
            for (int32_t k = 0; k < g.width; ++k)
                if (g.bitmap[r * g.width + k] != 0) cells.push_back({x + g.x_offset + k, y - g.height - g.y_offset + r});
        x += g.x_advance;
    }
    return cells;
}

Rendered render(Picture& p) { return pict::render(pict::end(p)); }

// --- strings ----------------------------------------------------------------------------

TEST(PictText, AWordOfText)
{
    Picture p = pict::begin(2, {0, 0, 10, 12});
    pict::long_text(p, 0, 9, "Hi");
    const Rendered r = render(p);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(pict::art(r), (Art{
                                ".#.....#....",
                                ".#.....#..#.",
                                ".#.....#....",
                                ".#.....#..#.",
                                ".#######..#.",
                                ".#.....#..#.",
                                ".#.....#..#.",
                                ".#.....#..#.",
                                ".#.....#..#.",
                                "............",
                            }));
}

TEST(PictText, StringsAreDrawnAndTheCurrentPointMoves)
{
    const Rect frame = {0, 0, 40, 60};
    struct Case {
        const char* name;
        void (*draw)(Picture& p);
        void (*expect)(Page& page);
    };
    const std::vector<Case> cases = {
        {"LongText A B at (10, 20), mode 1: the A's top row at 11, the B from 19; DHText 5 then starts at 32",
         [](Picture& p) {
             pict::text_mode(p, 1);
             pict::long_text(p, 10, 20, "AB");
             pict::dh_text(p, 5, "I");
         },
         [](Page& page) {
             EXPECT_EQ(page.text(10, 20, "A"), 19);
             EXPECT_EQ(page.text(19, 20, "B"), 27);
             page.text(32, 20, "I");
         }},
        {"codes without a glyph draw nothing and do not advance", [](Picture& p) {
             pict::text_mode(p, 1);
             pict::long_text(p, 10, 20, std::string("\r") + "A" + std::string(1, '\x7F') + std::string(1, '\xA0'));
             pict::dh_text(p, 0, "I");
         },
         [](Page& page) { page.text(10, 20, "AI"); }},
        {"DVText moves down, DHDVText across and down, both from the point after the last string",
         [](Picture& p) {
             pict::text_mode(p, 1);
             pict::long_text(p, 2, 10, "gj");
             pict::dv_text(p, 12, "y");
             pict::dhdv_text(p, 4, 12, "Qp");
         },
         [](Page& page) {
             const int32_t x = page.text(2, 10, "gj");
             page.text(x, 22, "y");
             page.text(x + 6 + 4, 34, "Qp");
         }},
        {"mode 0 paints the whole glyph box, clear cells in the background colour", [](Picture& p) {
             pict::colour(p, 0x1B, {0, 0, 0xFFFF});
             pict::long_text(p, 3, 12, "Ao");
         },
         [](Page& page) { page.text(3, 12, "Ao", '#', 'B'); }},
        {"the foreground colour, and a text mode of 9 (the pattern form of 1)", [](Picture& p) {
             pict::colour(p, 0x1A, {0xFFFF, 0, 0});
             pict::text_mode(p, 9);
             pict::long_text(p, 3, 12, "Ao");
         },
         [](Page& page) { page.text(3, 12, "Ao", 'F'); }},
        {"notSrcCopy (4): set cells take the background, clear cells the foreground", [](Picture& p) {
             pict::colour(p, 0x1B, {0, 0, 0xFFFF});
             pict::text_mode(p, 4);
             pict::long_text(p, 3, 12, "x");
         },
         [](Page& page) { page.text(3, 12, "x", 'B', '#'); }},
        {"the clip rectangle cuts glyphs", [](Picture& p) {
             pict::clip(p, {5, 6, 9, 11});
             pict::text_mode(p, 1);
             pict::long_text(p, 3, 12, "HH");
         },
         [](Page& page) {
             Page whole(page.frame);
             whole.text(3, 12, "HH");
             for (int32_t y = 5; y < 9; ++y)
                 for (int32_t x = 6; x < 11; ++x) page.set(x, y, whole.rows[size_t(y)][size_t(x)]);
         }},
        {"a clip larger than the frame: glyphs past its edges are cut there", [](Picture& p) {
             pict::clip(p, {0, 0, 0xFFFF, 0xFFFF});
             pict::long_text(p, 55, 4, "Wg");
         },
         [](Page& page) { page.text(55, 4, "Wg", '#', '.'); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, frame);
        c.draw(p);
        const Rendered r = render(p);
        EXPECT_EQ(r.error, 0u);
        Page page(frame);
        c.expect(page);
        EXPECT_EQ(pict::art(r, {{Rgb{0, 0, 0xFF}, 'B'}, {Rgb{0xFF, 0, 0}, 'F'}}), page.rows);
    }
}

TEST(PictText, AStringCutByTheEndOfTheFileDrawsWhatItHolds)
{
    Picture p = pict::begin(2, {0, 0, 12, 30});
    pict::text_mode(p, 1);
    pict::long_text(p, 1, 10, "AWAY");
    Bytes file = p.bytes;
    file.resize(file.size() - 2);
    const Rendered r = pict::render(file);
    EXPECT_EQ(r.error, 14u);
    Page page({0, 0, 12, 30});
    page.text(1, 10, "AW");
    EXPECT_EQ(pict::art(r), page.rows);
}

// --- comments and text blocks ---------------------------------------------------------------

TEST(PictComments, TextBlocksOpenAndCloseByTheirComments)
{
    struct Case {
        const char* name;
        void (*comment)(Picture& p);
        bool block_open;
    };
    const std::vector<Case> cases = {
        {"text begin of size 6 opens a block: images are read, not drawn", [](Picture& p) { pict::text_begin(p, 0); },
         true},
        {"text begin of size 10: the rest is skipped", [](Picture& p) {
             pict::long_comment(p, 150, {0, 0, 0, 0, 0, 1, 2, 3, 4, 5});
         },
         true},
        {"text begin of size 4 is ignored and its 4 bytes skipped", [](Picture& p) {
             pict::long_comment(p, 150, {1, 0, 0, 90});
         },
         false},
        {"text begin as a short comment has no data: ignored", [](Picture& p) { pict::short_comment(p, 150); }, false},
        {"a short comment 151 closes the block", [](Picture& p) {
             pict::text_begin(p, 0);
             pict::text_end(p);
         },
         false},
        {"a long comment 151 closes it and its data is skipped", [](Picture& p) {
             pict::text_begin(p, 0);
             pict::long_comment(p, 151, {9, 9, 9});
         },
         false},
        {"a text centre of size 7 is ignored and skipped", [](Picture& p) {
             pict::long_comment(p, 154, {0, 5, 0, 0, 0, 5, 0});
         },
         false},
        {"other kinds are skipped", [](Picture& p) {
             pict::long_comment(p, 100, {1, 2, 3});
             pict::short_comment(p, 152);
             pict::long_comment(p, 0xFFFF, {});
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 1, 3});
        c.comment(p);
        pict::dot(p, 0, 0);
        pict::text_end(p);
        pict::dot(p, 2, 0);
        const Rendered r = render(p);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(pict::art(r), Art{c.block_open ? "..#" : "#.#"});
    }
}

// Inside a block the set cells of each glyph are turned about the centre and
// take the foreground colour; no transfer mode, no clip, clear cells draw
// nothing, and the current point stays where the string starts.
TEST(PictComments, TurnedTextInABlock)
{
    struct Case {
        const char* name;
        uint16_t rotation;
        std::pair<int32_t, int32_t> (*turn)(int32_t dx, int32_t dy);
    };
    const auto same = [](int32_t dx, int32_t dy) { return std::pair{dx, dy}; };
    const auto quarter = [](int32_t dx, int32_t dy) { return std::pair{-dy, dx}; };
    const auto half = [](int32_t dx, int32_t dy) { return std::pair{-dx, -dy}; };
    const auto three_quarters = [](int32_t dx, int32_t dy) { return std::pair{dy, -dx}; };
    const std::vector<Case> cases = {
        {"0: as drawn", 0, same},        {"45: as drawn", 45, same},         {"46: a quarter turn", 46, quarter},
        {"90", 90, quarter},             {"134", 134, quarter},              {"135: a half turn", 135, half},
        {"180", 180, half},              {"224", 224, half},                 {"225: three quarters", 225, three_quarters},
        {"270", 270, three_quarters},    {"314", 314, three_quarters},       {"315: as drawn", 315, same},
        {"359", 359, same},              {"720: as drawn", 720, same},
    };
    const Rect frame = {20, 60, 80, 140};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, frame);
        pict::colour(p, 0x1A, {0xFFFF, 0, 0});
        pict::clip(p, {0, 0, 1, 1});  // no effect inside a block
        pict::text_mode(p, 0);        // nor the text mode
        pict::text_begin(p, c.rotation);
        pict::text_centre(p, 3, -2);
        pict::long_text(p, 100, 50, "Ag");
        pict::dh_text(p, 20, "W");  // from (120, 50): the current point did not move with "Ag"
        pict::text_end(p);
        const Rendered r = render(p);
        EXPECT_EQ(r.error, 0u);
        Page page(frame);
        const int32_t cx = 103, cy = 48;  // the offset plus the first string's point
        auto cells = glyph_cells(100, 50, "Ag");
        for (const auto& cell : glyph_cells(120, 50, "W")) cells.push_back(cell);
        for (const auto& [x, y] : cells) {
            const auto [dx, dy] = c.turn(x - cx, y - cy);
            page.set(cx + dx, cy + dy, 'F');
        }
        EXPECT_EQ(pict::art(r, {{Rgb{0xFF, 0, 0}, 'F'}}), page.rows);
    }
}

TEST(PictComments, TheTurnOfRotation270MovesEachCellAsGiven)
{
    // The cell of the A at (102, 45) of a block whose first string starts at
    // (100, 50), turned by 270 about (100, 50), lands at (95, 48).
    Picture p = pict::begin(2, {30, 80, 70, 120});
    pict::text_begin(p, 270);
    pict::text_centre(p, 0, 0);
    pict::long_text(p, 100, 50, "A");
    pict::text_end(p);
    const Rendered r = render(p);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.at(95 - 80, 48 - 30), (Rgb{0, 0, 0}));
    const auto cells = glyph_cells(100, 50, "A");
    EXPECT_NE(std::find(cells.begin(), cells.end(), std::pair{102, 45}), cells.end());
}

// A block without a centre comment turns about the previous centre plus its
// own first string's point; the text-begin comment leaves the centre alone.
TEST(PictComments, ASecondBlockKeepsTheCentre)
{
    const Rect frame = {0, 0, 130, 230};
    Picture p = pict::begin(2, frame);
    pict::text_begin(p, 0);
    pict::text_centre(p, -10, -10);             // words 0xFFF6: read as signed
    pict::long_text(p, 100, 50, "I");           // the centre becomes (90, 40)
    pict::text_end(p);
    pict::text_begin(p, 180);
    pict::long_text(p, 20, 30, "Tk");           // about (90 + 20, 40 + 30)
    pict::long_text(p, 60, 30, "a");            // the same block, the same centre
    pict::text_end(p);
    const Rendered r = render(p);
    EXPECT_EQ(r.error, 0u);
    Page page(frame);
    for (const auto& [x, y] : glyph_cells(100, 50, "I")) page.set(x, y, '#');
    auto cells = glyph_cells(20, 30, "Tk");
    for (const auto& cell : glyph_cells(60, 30, "a")) cells.push_back(cell);
    for (const auto& [x, y] : cells) page.set(2 * 110 - x, 2 * 70 - y, '#');
    EXPECT_EQ(pict::art(r), page.rows);
}

TEST(PictComments, EveryRunStartsWithNoBlockOpenAndTheCentreAtRest)
{
    Picture first = pict::begin(2, {0, 0, 1, 1});
    pict::text_begin(first, 90);
    pict::text_centre(first, 40, 40);
    pict::long_text(first, 1, 1, "x");
    EXPECT_EQ(pict::render(pict::end(first)).error, 0u);  // left open

    Picture second = pict::begin(2, {0, 0, 12, 12});
    pict::dot(second, 11, 11);
    pict::text_begin(second, 180);
    pict::long_text(second, 4, 9, "L");  // about (4, 9) alone
    pict::text_end(second);
    const Rendered r = render(second);
    Page page({0, 0, 12, 12});
    page.set(11, 11, '#');
    for (const auto& [x, y] : glyph_cells(4, 9, "L")) page.set(8 - x, 18 - y, '#');
    EXPECT_EQ(pict::art(r), page.rows);
}

} // namespace
