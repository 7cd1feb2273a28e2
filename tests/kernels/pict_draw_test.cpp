// pictrender's pen drawing: lines, framed and painted rectangles, painted
// polygons. Expected pictures are kept as text art ('#' black, '.' white).
// A plain model of the pen walks, stepping through every position as the
// loops do and stamping the pen cell by cell, checks the module's walks,
// which visit only what the frame shows, on many random shapes; the XOR pen
// mode shows any stamp made twice or missed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "pict_writer.h"

namespace {

using pict::Bytes;
using pict::Picture;
using pict::Rect;
using pict::Rendered;
using pict::Rgb;
using pict::XY;
using Art = std::vector<std::string>;

struct DrawCase {
    const char* name;
    Rect frame;
    void (*draw)(Picture& p);
    Art expected;
};

void expect_drawn(const std::vector<DrawCase>& cases)
{
    for (const DrawCase& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, c.frame);
        c.draw(p);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(pict::art(r), c.expected);
    }
}

// --- the pen, modelled cell by cell ---------------------------------------------------

int64_t wrap16(int64_t v) { return ((v % 65536) + 65536) % 65536; }

struct PenModel {
    Rect frame, area;  // the area: the clip inside the frame
    int64_t pen_width = 1, pen_height = 1;
    std::vector<int> stamps;  // per frame cell

    PenModel(Rect f, Rect clip) : frame(f), stamps(size_t(pict::width_of(f)) * pict::height_of(f), 0)
    {
        area = {std::max(clip.top, f.top), std::max(clip.left, f.left), std::min(clip.bottom, f.bottom),
                std::min(clip.right, f.right)};
    }

    // The pen covers x to x + width - 1 and y to y + height - 1, modulo 65536.
    void pen(int64_t x, int64_t y)
    {
        for (int64_t i = 0; i < pen_width; ++i)
            for (int64_t j = 0; j < pen_height; ++j) {
                const int64_t cx = wrap16(x + i), cy = wrap16(y + j);
                if (cx >= area.left && cx < area.right && cy >= area.top && cy < area.bottom)
                    ++stamps[size_t(cy - frame.top) * pict::width_of(frame) + size_t(cx - frame.left)];
            }
    }

    // The midpoint walk, both ends drawn, stopping early past the frame's
    // right or bottom edge while stepping by +1.
    void line(int16_t x1, int16_t y1, int16_t x2, int16_t y2)
    {
        if (pen_width == 0 && pen_height == 0) return;
        const int64_t sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
        const int64_t ax = 2 * std::abs(int64_t(x2) - x1), ay = 2 * std::abs(int64_t(y2) - y1);
        int64_t x = x1, y = y1;
        if (ay < ax) {
            int64_t d = ay - ax / 2;
            for (;;) {
                pen(x, y);
                if (x == x2 || (x > frame.right && sx > 0)) break;
                if (d >= 0) {
                    y += sy;
                    d -= ax;
                }
                x += sx;
                d += ay;
            }
        } else {
            int64_t d = ax - ay / 2;
            for (;;) {
                pen(x, y);
                if (y == y2 || (y > frame.bottom && sy > 0)) break;
                if (d >= 0) {
                    x += sx;
                    d -= ay;
                }
                y += sy;
                d += ax;
            }
        }
    }

    // The outline traced with the pen, its row crossings stored, the last
    // one replaced where the outline turns back, sorted, and every row
    // filled pairwise.
    void polygon(std::vector<XY> p)
    {
        const size_t n = p.size();
        if (n == 0) return;
        p.push_back(p[0]);
        std::vector<XY> edge;
        int64_t m = 0;
        const auto store = [&](XY q) {
            ASSERT_GE(m, 0);
            if (size_t(m) == edge.size()) {
                edge.push_back(q);
            } else {
                edge[size_t(m)] = q;
            }
            ++m;
        };
        const auto sign = [](int64_t v) { return int64_t(v > 0) - int64_t(v < 0); };
        if (p[1].y == p[0].y) store(p[0]);
        const int64_t first_dir = sign(p[1].y - p[0].y);
        int64_t dir = first_dir, last_sy = 1;
        for (size_t e = 0; e < n; ++e) {
            int64_t x = p[e].x, y = p[e].y;
            const int64_t dx = p[e + 1].x - x, dy = p[e + 1].y - y;
            const int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
            const int64_t adx = std::abs(dx), ady = std::abs(dy);
            last_sy = sy;
            int64_t error = 0;
            if (adx >= ady) {
                for (int64_t i = 0; i < adx; ++i) {
                    error += ady;
                    if (error >= adx) {
                        error -= adx;
                        y += sy;
                        if (dir != sy) {
                            dir = sy;
                            --m;
                        }
                        store({int32_t(x + sx), int32_t(y)});
                    }
                    x += sx;
                    pen(x, y);
                }
            } else {
                for (int64_t i = 0; i < ady; ++i) {
                    error += adx;
                    if (error >= ady) {
                        error -= ady;
                        x += sx;
                    }
                    y += sy;
                    if (dir != sy) {
                        dir = sy;
                        --m;
                    }
                    pen(x, y);
                    store({int32_t(x), int32_t(y)});
                }
            }
        }
        int64_t last = m - 1;
        if (last_sy + first_dir == 0) --last;
        if (last < 1) return;
        std::sort(edge.begin(), edge.begin() + last + 1,
                  [](const XY& a, const XY& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
        bool filled = false;
        for (int64_t i = 0; i < last; ++i) {
            if (edge[size_t(i) + 1].y == edge[size_t(i)].y && !filled) {
                for (int64_t x = edge[size_t(i)].x; x <= edge[size_t(i) + 1].x; ++x) pen(x, edge[size_t(i)].y);
                filled = true;
            } else {
                filled = false;
            }
        }
    }

    // Stamped cells black: those stamped an odd number of times (the XOR
    // pen) or at all (the copying pen).
    Art art(bool exclusive_or) const
    {
        Art rows;
        const uint32_t w = pict::width_of(frame);
        for (uint32_t y = 0; y < pict::height_of(frame); ++y) {
            std::string row;
            for (uint32_t x = 0; x < w; ++x) {
                const int n = stamps[y * w + x];
                row += (exclusive_or ? n % 2 == 1 : n > 0) ? '#' : '.';
            }
            rows.push_back(row);
        }
        return rows;
    }
};

// --- lines ----------------------------------------------------------------------------

TEST(PictLines, TheWalksAndTheirEnds)
{
    expect_drawn({
        {"Line (2, 2) to (5, 3)", {0, 0, 5, 8}, [](Picture& p) { pict::line(p, 2, 2, 5, 3); },
         {"........",
          "........",
          "..##....",
          "....##..",
          "........"}},
        {"vertical from (4, 9) up to (4, 2)", {0, 0, 11, 6}, [](Picture& p) { pict::line(p, 4, 9, 4, 2); },
         {"......", "......", "....#.", "....#.", "....#.", "....#.", "....#.", "....#.", "....#.", "....#.",
          "......"}},
        {"exactly diagonal: the steep walk", {0, 0, 5, 5}, [](Picture& p) { pict::line(p, 0, 0, 3, 3); },
         {"#....",
          ".#...",
          "..#..",
          "...#.",
          "....."}},
        {"steep, leaning left", {0, 0, 5, 4}, [](Picture& p) { pict::line(p, 3, 0, 1, 4); },
         {"...#",
          "..#.",
          "..#.",
          ".#..",
          ".#.."}},
        {"a single point", {0, 0, 2, 3}, [](Picture& p) { pict::line(p, 1, 1, 1, 1); }, {"...", ".#."}},
        {"a pen of 0 x 0 draws nothing", {0, 0, 3, 5},
         [](Picture& p) {
             pict::pen_size(p, 0, 0);
             pict::line(p, 0, 1, 4, 1);
         },
         {".....", ".....", "....."}},
        {"a pen of width 0 and height 5 draws nothing", {0, 0, 3, 5},
         [](Picture& p) {
             pict::pen_size(p, 0, 5);
             pict::line(p, 0, 1, 4, 1);
         },
         {".....", ".....", "....."}},
        {"a 3 x 3 pen along a line", {0, 0, 5, 8},
         [](Picture& p) {
             pict::pen_size(p, 3, 3);
             pict::line(p, 1, 1, 4, 1);
         },
         {"........",
          ".######.",
          ".######.",
          ".######.",
          "........"}},
        {"a pen partly left of and above 0 keeps its part", {0, 0, 7, 6},
         [](Picture& p) {
             pict::pen_size(p, 3, 3);
             pict::line(p, 0xFFFE, 0xFFFF, 0xFFFE, 0xFFFF);  // (-2, -1)
             pict::line(p, 0xFFFF, 4, 2, 4);                 // from x = -1
         },
         {"#.....",
          "#.....",
          "......",
          "......",
          "#####.",
          "#####.",
          "#####."}},
        {"lines past the right and left of the frame stop at its edges", {0, 0, 3, 8},
         [](Picture& p) {
             pict::line(p, 1, 0, 30000, 0);
             pict::line(p, 30000, 2, 3, 2);
             pict::line(p, 0x8000, 1, 0x7FFF, 1);  // -32768 to 32767
         },
         {".#######",
          "########",
          "...#####"}},
        {"the clip rectangle cuts lines", {0, 0, 4, 8},
         [](Picture& p) {
             pict::clip(p, {1, 1, 3, 4});
             pict::line(p, 0, 2, 7, 2);
             pict::line(p, 2, 0, 2, 3);
         },
         {"........",
          "..#.....",
          ".###....",
          "........"}},
        {"a clip larger than the frame draws only inside the frame", {0, 0, 4, 6},
         [](Picture& p) {
             pict::clip(p, {0, 0, 200, 300});
             pict::pen_size(p, 2, 2);
             pict::line(p, 0, 0, 100, 100);
         },
         {"##....",
          "###...",
          ".###..",
          "..###."}},
    });
}

TEST(PictLines, TheCurrentPointCarriesFromLineToLine)
{
    expect_drawn({
        {"ShortLineFrom (-3, 2) from (10, 10) draws to (7, 12) and stays there", {8, 5, 16, 13},
         [](Picture& p) {
             pict::line(p, 10, 10, 10, 10);  // the current point: (10, 10)
             pict::short_line_from(p, -3, 2);
             pict::line_from(p, 7, 14);
         },
         {"........",
          "........",
          ".....#..",
          "...##...",
          "..#.....",
          "..#.....",
          "..#.....",
          "........"}},
        {"ShortLine from (2, 1) by (4, -1), then LineFrom its end", {0, 0, 5, 8},
         [](Picture& p) {
             pict::short_line(p, 2, 1, 4, -1);
             pict::line_from(p, 6, 3);
         },
         {"....###.",
          "..##..#.",
          "......#.",
          "......#.",
          "........"}},
        {"Line leaves the current point at its end", {0, 0, 3, 6},
         [](Picture& p) {
             pict::line(p, 0, 0, 2, 0);
             pict::line_from(p, 2, 2);
             pict::short_line_from(p, 3, 0);
         },
         {"###...",
          "..#...",
          "..####"}},
    });
}

// --- rectangles -------------------------------------------------------------------------

TEST(PictRectangles, FramesAndPaint)
{
    expect_drawn({
        {"a 3 x 3 pen frames 10 x 10 in its own steps; the corner (9, 9) stays white", {0, 0, 10, 10},
         [](Picture& p) {
             pict::pen_size(p, 3, 3);
             pict::rect_op(p, 0x30, {0, 0, 10, 10});
         },
         {"##########",
          "##########",
          "##########",
          "###....###",
          "###....###",
          "###....###",
          "###....###",
          "##########",
          "##########",
          "#########."}},
        {"a 1 x 1 pen frames every border cell", {0, 0, 4, 6}, [](Picture& p) { pict::rect_op(p, 0x30, {0, 1, 4, 5}); },
         {".####.",
          ".#..#.",
          ".#..#.",
          ".####."}},
        {"a pen of width 0 frames nothing; paint does not need the pen", {0, 0, 3, 4},
         [](Picture& p) {
             pict::pen_size(p, 0, 2);
             pict::rect_op(p, 0x30, {0, 0, 3, 4});
             pict::rect_op(p, 0x31, {1, 1, 2, 3});
         },
         {"....", ".##.", "...."}},
        {"a frame narrower than the pen: its right-hand stamps, left of 0, keep their part", {0, 0, 6, 4},
         [](Picture& p) {
             pict::pen_size(p, 3, 3);
             pict::pen_mode(p, 2);  // exclusive or: cells stamped twice come back white
             pict::rect_op(p, 0x30, {0, 0, 6, 2});
         },
         {"..#.", "..#.", "..#.", "..#.", "..#.", "..#."}},
        {"frameSameRect takes the rectangle painted last", {0, 0, 5, 6},
         [](Picture& p) {
             pict::rect_op(p, 0x31, {1, 1, 4, 5});
             pict::colour(p, 0x1A, {0xFFFF, 0xFFFF, 0xFFFF});
             pict::op(p, 0x38);
         },
         {"......",
          "......",
          "..##..",
          "......",
          "......"}},
        {"paintSameRect takes the rectangle framed last", {0, 0, 4, 5},
         [](Picture& p) {
             pict::rect_op(p, 0x30, {0, 0, 4, 5});
             pict::pen_mode(p, 2);  // exclusive or
             pict::op(p, 0x39);
         },
         {".....",
          ".###.",
          ".###.",
          "....."}},
        {"the clip rectangle cuts paint and frames", {0, 0, 4, 6},
         [](Picture& p) {
             pict::clip(p, {1, 0, 3, 4});
             pict::rect_op(p, 0x31, {0, 0, 4, 2});
             pict::rect_op(p, 0x30, {0, 3, 4, 6});
         },
         {"......",
          "##.#..",
          "##.#..",
          "......"}},
        {"a clip larger than the frame paints only the frame", {0, 0, 2, 3},
         [](Picture& p) {
             pict::clip(p, {0, 0, 0xFFFF, 0xFFFF});
             pict::rect_op(p, 0x31, {0, 0, 0xFFFF, 0xFFFF});
         },
         {"###", "###"}},
        {"a rectangle whose sides cross is empty", {0, 0, 2, 3}, [](Picture& p) { pict::rect_op(p, 0x31, {0, 2, 2, 1}); },
         {"...", "..."}},
    });
}

TEST(PictRectangles, ThePenPatternIsAnchoredToThePicture)
{
    // Pattern 0xAA, 0, ..., 0 in mode 0: on the rows whose y AND 7 is 0 the
    // even columns take the foreground, the rest the background; all other
    // rows the background. The same holds for a rectangle that starts at an
    // odd place.
    for (const Rect rect : {Rect{0, 0, 10, 12}, Rect{3, 5, 10, 12}}) {
        Picture p = pict::begin(2, {0, 0, 10, 12});
        pict::colour(p, 0x1A, {0xFFFF, 0, 0});
        pict::colour(p, 0x1B, {0, 0, 0xFFFF});
        pict::pen_pattern(p, {0xAA, 0, 0, 0, 0, 0, 0, 0});
        pict::rect_op(p, 0x31, rect);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        Art expected;
        for (uint32_t y = 0; y < 10; ++y) {
            std::string row;
            for (uint32_t x = 0; x < 12; ++x) {
                const bool inside = y >= rect.top && x >= rect.left;
                row += !inside ? '.' : (y % 8 == 0 && x % 2 == 0) ? 'F' : 'B';
            }
            expected.push_back(row);
        }
        EXPECT_EQ(pict::art(r, {{Rgb{0xFF, 0, 0}, 'F'}, {Rgb{0, 0, 0xFF}, 'B'}}), expected);
    }
}

TEST(PictRectangles, PenModesCombineWithThePlanes)
{
    // A black 4 x 1 bar, then a painted 2 x 1 bar over half of it in each mode.
    struct Case {
        const char* name;
        uint16_t mode;
        std::string row;
    };
    const std::vector<Case> cases = {
        {"srcCopy", 0, "######"},
        {"srcOr", 1, "######"},
        {"srcXor: black cells flip", 2, "##..##"},
        {"srcBic: black cells take the background", 3, "##...."},
        {"notSrcCopy: black cells take the background", 4, "##...."},
        {"notSrcOr: black cells leave the planes", 5, "####.."},
        {"patXor (10) is srcXor", 10, "##..##"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 1, 6});
        pict::rect_op(p, 0x31, {0, 0, 1, 4});
        pict::pen_mode(p, c.mode);
        pict::rect_op(p, 0x31, {0, 2, 1, 6});
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(pict::art(r), Art{c.row});
    }
}

// --- polygons ----------------------------------------------------------------------------

TEST(PictPolygons, PaintedWithTheirOutline)
{
    expect_drawn({
        {"the triangle (10, 10), (20, 10), (15, 20)", {8, 8, 23, 23},
         [](Picture& p) { pict::polygon(p, {{10, 10}, {20, 10}, {15, 20}}); },
         {"...............",
          "...............",
          "..###########..",
          "...##########..",
          "...#########...",
          "....########...",
          "....#######....",
          ".....######....",
          ".....#####.....",
          "......####.....",
          "......###......",
          ".......##......",
          ".......#.......",
          "...............",
          "..............."}},
        {"a square with a notch: two runs on the notched rows", {0, 0, 7, 9},
         [](Picture& p) { pict::polygon(p, {{1, 1}, {3, 1}, {4, 3}, {5, 1}, {7, 1}, {7, 5}, {1, 5}}); },
         {".........",
          ".###.###.",
          ".#######.",
          ".#######.",
          ".#######.",
          ".#######.",
          "........."}},
        {"a polygon partly left of 0 fills its part", {0, 0, 5, 6},
         [](Picture& p) { pict::polygon(p, {{-6, 0}, {3, 0}, {3, 4}, {-6, 4}}); },
         {"####..",
          "####..",
          "####..",
          "####..",
          "####.."}},
        {"no points, one point: nothing", {0, 0, 2, 3},
         [](Picture& p) {
             pict::polygon(p, {});
             pict::polygon(p, {{1, 1}});
         },
         {"...", "..."}},
        {"two points: the line there and back", {0, 0, 3, 4}, [](Picture& p) { pict::polygon(p, {{0, 0}, {3, 2}}); },
         {"##..",
          ".##.",
          "..##"}},
    });
}

TEST(PictPolygons, SizesThatAreNotWholePointsKeepTheStreamInStep)
{
    struct Case {
        const char* name;
        uint16_t size;
        size_t data;  // bytes after the size word
    };
    const std::vector<Case> cases = {
        {"size 13: a rectangle and 3 bytes, no points", 13, 11},
        {"size 8: shorter than a rectangle", 8, 6},
        {"size 10: no points", 10, 8},
        {"size 23: three points and a byte", 23, 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 2, 2});
        pict::op(p, 0x71);
        pict::put16(p.bytes, c.size);
        p.bytes.insert(p.bytes.end(), c.data, 0x40);  // points far outside the frame
        pict::dot(p, 1, 1);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(pict::art(r), (Art{"..", ".#"}));
    }
}

// More than 100 points, and more than 5000 crossings, drawn whole; the
// stream in step after them.
TEST(PictPolygons, LargePolygonsAreDrawnWhole)
{
    std::vector<XY> star;
    for (int i = 0; i < 600; ++i) {
        const double a = i * 2 * 3.14159265358979 / 600;
        const double radius = i % 2 ? 20 : 39;
        star.push_back({int32_t(40 + radius * std::cos(a)), int32_t(40 + radius * std::sin(a))});
    }
    std::vector<XY> comb = {{0, 0}};
    for (int i = 0; i < 60; ++i) {
        comb.push_back({2 * i + 1, 70});
        comb.push_back({2 * i + 2, 0});
    }
    for (const auto& shape : {star, comb}) {
        const Rect frame = {0, 0, 80, 124};
        Picture p = pict::begin(2, frame);
        pict::polygon(p, shape);
        pict::dot(p, 123, 79);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        PenModel model(frame, frame);
        model.polygon(shape);
        Art expected = model.art(false);
        expected[79][123] = '#';
        EXPECT_EQ(pict::art(r), expected);
    }
}

// The point and crossing lists come from the run-time for each polygon and
// go back after it: more polygons than the memory list could hold are all
// drawn, and none of their memory outlives the run.
TEST(PictPolygons, EveryPolygonReturnsItsMemory)
{
    Picture p = pict::begin(2, {0, 0, 1, 300});
    for (int32_t x = 0; x < 300; ++x) pict::polygon(p, {{x, 0}, {x + 1, 0}, {x + 1, 1}, {x, 1}});
    const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
    const Rendered r = pict::render(pict::end(p));
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(pict::art(r), Art{std::string(300, '#')});
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
}

TEST(PictPolygons, ARefusedListRecordsError3AndSkipsThatPolygon)
{
    // Requests: the memory list and three planes, then for each polygon its
    // points, its row counts and its list of crossings; the dot's image and
    // line last. Each refused in turn: error 3, that polygon (or the dot)
    // missing, the rest drawn.
    const std::vector<XY> shapes[2] = {{{0, 0}, {1, 0}, {0, 1}}, {{3, 0}, {3, 1}, {2, 1}}};
    Picture p = pict::begin(2, {0, 0, 2, 4});
    pict::polygon(p, shapes[0]);
    pict::polygon(p, shapes[1]);
    pict::dot(p, 0, 1);
    const Bytes file = pict::end(p);
    const auto drawn = [&shapes](bool first, bool second, bool with_dot) {
        PenModel model({0, 0, 2, 4}, {0, 0, 2, 4});
        if (first) model.polygon(shapes[0]);
        if (second) model.polygon(shapes[1]);
        Art art = model.art(false);
        if (with_dot) art[1][0] = '#';
        return art;
    };
    const std::vector<Art> expected = {drawn(false, true, true), drawn(false, true, true), drawn(false, true, true),
                                       drawn(true, false, true), drawn(true, false, true), drawn(true, false, true),
                                       drawn(true, true, false), drawn(true, true, false)};
    uint32_t n = 5;
    for (;; ++n) {
        SCOPED_TRACE(n);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        uint32_t requests = 0;
        const Rendered r = pict::render(file, [n, &requests](const host_module* module, uint8_t* block) {
            const uint32_t before = platform_requests(ALLOCATOR_PPC);
            platform_fail_nth_alloc(ALLOCATOR_PPC, n);
            module->function(block);
            platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
            requests = platform_requests(ALLOCATOR_PPC) - before;
        });
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
        if (requests < n) {
            EXPECT_EQ(r.error, 0u);
            EXPECT_EQ(pict::art(r), drawn(true, true, true));
            break;
        }
        EXPECT_EQ(r.error, 3u);
        ASSERT_LE(n - 5, expected.size() - 1);
        EXPECT_EQ(pict::art(r), expected[n - 5]);
    }
    EXPECT_EQ(n, 13u) << "twelve requests";
}

// --- cost ------------------------------------------------------------------------------------

// What the pen touches costs the frame, not the coordinates: a huge polygon
// and long lines over a small frame run within the work budget. (Stepping
// through every position would take some 65536 steps for each edge, line
// or side here, 10^8 in all.)
TEST(PictPenCost, HugeShapesOverASmallFrameCostTheFrame)
{
    struct Case {
        const char* name;
        void (*draw)(Picture& p);
    };
    const std::vector<Case> cases = {
        {"a polygon of 2000 points zigzagging across the whole coordinate range",
         [](Picture& p) {
             std::vector<XY> points;
             for (int i = 0; i < 2000; ++i)
                 points.push_back({i % 2 ? 32767 : -32768, i % 4 < 2 ? -32000 + 8 * i : 32000 - 8 * i});
             pict::polygon(p, points);
         }},
        {"1000 lines from corner to corner of the coordinate range",
         [](Picture& p) {
             for (int i = 0; i < 1000; ++i) pict::line_from(p, i % 2 ? 0x7FFF : 0x8000, i % 2 ? 0x7FFF : 0x8000);
         }},
        {"1000 frames of the whole coordinate range", [](Picture& p) {
             pict::rect_op(p, 0x30, {0, 0, 0xFFFF, 0xFFFF});
             for (int i = 0; i < 1000; ++i) pict::op(p, 0x38);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {10, 10, 14, 14});
        c.draw(p);
        bool within = false;
        const Rendered r = pict::render(pict::end(p), [&within](const host_module* module, uint8_t* block) {
            within = run_within_work_budget(module, block, bytes_of(block, 52));
        });
        EXPECT_TRUE(within);
        EXPECT_EQ(r.error, 0u);
    }
}

// --- the walks against the model ---------------------------------------------------------------

// Random lines and polygons with random pens, frames at the origin, away
// from it and at the top of the coordinate range, clips inside and around
// the frame: each cell the module draws is the model's, with the XOR pen
// (each stamp flips a cell) and with the copying pen.
TEST(PictPenModel, RandomShapesMatchTheStepByStepWalk)
{
    std::mt19937 random(1234);
    const auto in = [&random](int lo, int hi) { return int(random() % uint32_t(hi - lo + 1)) + lo; };
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE(round);
        const int place = round % 3;
        const uint16_t left = place == 0 ? uint16_t(in(0, 3)) : place == 1 ? 296 : 65500;
        const uint16_t top = place == 0 ? uint16_t(in(0, 3)) : place == 1 ? 200 : 65510;
        const Rect frame = {top, left, uint16_t(top + in(1, 18)), uint16_t(left + in(1, 24))};
        Rect clip = frame;
        if (round % 4 == 1) clip = {uint16_t(top + in(0, 4)), uint16_t(left + in(0, 4)), uint16_t(frame.bottom - in(0, 3)),
                                    uint16_t(frame.right - in(0, 3))};
        if (round % 4 == 2) clip = {uint16_t(top - std::min<int>(top, 5)), 0, 0xFFFF, 0xFFFF};
        const int pen_w = round % 11 == 0 ? 0 : in(1, 4), pen_h = round % 13 == 0 ? 0 : in(1, 4);
        const bool lines = round % 2 == 0;
        std::vector<XY> points;
        for (int i = in(1, 14); i > 0; --i)
            points.push_back({int16_t(uint16_t(left + in(-60, 80))), int16_t(uint16_t(top + in(-40, 60)))});
        for (const bool exclusive_or : {true, false}) {
            PenModel model(frame, clip);
            model.pen_width = pen_w;
            model.pen_height = pen_h;
            Picture p = pict::begin(2, frame);
            pict::clip(p, clip);
            pict::pen_size(p, uint16_t(pen_w), uint16_t(pen_h));
            pict::pen_mode(p, exclusive_or ? 2 : 0);
            if (lines) {
                for (size_t i = 0; i + 1 < points.size(); ++i) {
                    pict::line(p, uint16_t(points[i].x), uint16_t(points[i].y), uint16_t(points[i + 1].x),
                               uint16_t(points[i + 1].y));
                    model.line(int16_t(points[i].x), int16_t(points[i].y), int16_t(points[i + 1].x),
                               int16_t(points[i + 1].y));
                }
            } else {
                pict::polygon(p, points);
                model.polygon(points);
            }
            const Rendered r = pict::render(pict::end(p));
            ASSERT_EQ(r.error, 0u);
            std::string shape;
            for (const XY& q : points) shape += " (" + std::to_string(q.x) + ", " + std::to_string(q.y) + ")";
            ASSERT_EQ(pict::art(r), model.art(exclusive_or))
                << (exclusive_or ? "XOR pen " : "copying pen ") << pen_w << " x " << pen_h << ", frame " << frame.left
                << ", " << frame.top << ", clip " << clip.left << ", " << clip.top << ", " << clip.right << ", "
                << clip.bottom << ", points" << shape;
        }
    }
}

// --- away from the origin ---------------------------------------------------------------------

// Every drawing opcode of the pen and the text draws the same picture in a
// frame away from the origin as at the origin, its coordinates moved with
// the frame (by multiples of 8, so that the pen pattern falls alike).
TEST(PictDrawingAway, EachOpcodeDrawsTheSameAwayFromTheOrigin)
{
    struct Case {
        const char* name;
        void (*draw)(Picture& p, uint16_t dx, uint16_t dy);
    };
    const std::vector<Case> cases = {
        {"Line", [](Picture& p, uint16_t dx, uint16_t dy) { pict::line(p, 1 + dx, 2 + dy, 30 + dx, 9 + dy); }},
        {"LineFrom", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::line(p, 2 + dx, 11 + dy, 2 + dx, 11 + dy);
             pict::line_from(p, 28 + dx, 0 + dy);
         }},
        {"ShortLine", [](Picture& p, uint16_t dx, uint16_t dy) { pict::short_line(p, 3 + dx, 1 + dy, 25, 10); }},
        {"ShortLineFrom", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::line(p, 30 + dx, 11 + dy, 30 + dx, 11 + dy);
             pict::short_line_from(p, -29, -5);
         }},
        {"frameRect with a 2 x 3 pen", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::pen_size(p, 2, 3);
             pict::rect_op(p, 0x30, {uint16_t(1 + dy), uint16_t(2 + dx), uint16_t(11 + dy), uint16_t(29 + dx)});
         }},
        {"paintRect with a pattern", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::pen_pattern(p, {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81});
             pict::rect_op(p, 0x31, {uint16_t(1 + dy), uint16_t(2 + dx), uint16_t(11 + dy), uint16_t(29 + dx)});
         }},
        {"frameSameRect, paintSameRect", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::rect_op(p, 0x31, {uint16_t(3 + dy), uint16_t(3 + dx), uint16_t(9 + dy), uint16_t(20 + dx)});
             pict::pen_mode(p, 2);
             pict::op(p, 0x39);
             pict::op(p, 0x38);
         }},
        {"paintPoly", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::polygon(p, {{2 + dx, 1 + dy}, {30 + dx, 4 + dy}, {12 + dx, 11 + dy}, {6 + dx, 6 + dy}});
         }},
        {"LongText, DHText", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::long_text(p, 1 + dx, 10 + dy, "Ag");
             pict::dh_text(p, 2, "W!");
         }},
        {"DVText, DHDVText", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::line(p, 3 + dx, 0 + dy, 3 + dx, 0 + dy);
             pict::dv_text(p, 9, "Qy");
             pict::dhdv_text(p, 2, 2, "j");
         }},
        {"a turned text block", [](Picture& p, uint16_t dx, uint16_t dy) {
             pict::text_begin(p, 90);
             pict::text_centre(p, 2, 1);
             pict::long_text(p, 12 + dx, 2 + dy, "Hey");
             pict::text_end(p);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Art drawn[2];
        for (int away = 0; away < 2; ++away) {
            const uint16_t dx = away ? 304 : 0, dy = away ? 208 : 0;
            Picture p = pict::begin(2, {dy, dx, uint16_t(dy + 12), uint16_t(dx + 32)});
            c.draw(p, dx, dy);
            const Rendered r = pict::render(pict::end(p));
            EXPECT_EQ(r.error, 0u);
            drawn[away] = pict::art(r);
        }
        EXPECT_EQ(drawn[1], drawn[0]);
        EXPECT_NE(drawn[0], Art(12, std::string(32, '.'))) << "it draws something";
    }
}

} // namespace
