// The built-in bitmap font of pictrender's text: whatever font, size and
// style a picture asks for, its strings are drawn with this one.
//
// The font box is 14 x 15 cells at x offset -1, y offset -3 from the pen
// position; every glyph lies inside it. Codes 32 to 126 and 161 to 255 have
// a glyph, the others none. A glyph's y offset is the height of its bottom
// row above the baseline: capitals stand 9 rows on it, small letters 6 (9
// with an ascender), descenders reach 3 rows below it.
//
// Each glyph is drawn below as rows of cells, '#' set and '.' clear, after
// its code, its width and its x and y offsets; the height is the number of
// rows. The advances are kept apart, in code order. The font's cells are
// made from the drawings when the module is built, and the checks at the end
// refuse a drawing that leaves the box or a code range that has a glyph
// missing.
//
// This header stands alone (the tests read the font through it), and like
// the other pict_*.h it is a part of pictrender.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

struct bdf_glyph {
    int32_t width, height, x_offset, y_offset, x_advance;
    const uint8_t* bitmap;  // width x height cells, 0 or 1, from the top row; null: no glyph
};

struct bdf_font {
    int32_t width, height, x_offset, y_offset;  // the font box
    bdf_glyph glyphs[256];
};

// How far the pen moves after each glyph, in code order; 0 where there is
// no glyph.
constexpr uint8_t kAdvances32to63[] = {3, 3, 5, 6, 6, 9, 10, 4, 5, 5, 6, 7, 3, 8, 3, 3,
                                       6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 3, 3, 8, 7, 8, 5};
constexpr uint8_t kAdvances64to95[] = {11, 9, 8, 8, 9, 8, 8, 9, 9, 4, 4, 8, 7, 11, 9, 9,
                                       7,  9, 8, 7, 7, 8, 9, 12, 8, 9, 8, 5, 3, 5, 6, 6};
constexpr uint8_t kAdvances96to126[] = {4, 6, 6, 5, 6, 6, 3, 6, 6, 3, 3, 6, 3, 9, 6, 6,
                                        6, 6, 4, 6, 4, 6, 6, 9, 6, 6, 6, 6, 3, 6, 7};
constexpr uint8_t kAdvances161to191[] = {4, 6, 6, 7, 6, 3, 6, 3, 11, 5, 7, 8, 6, 11, 4, 5,
                                         7, 4, 4, 4, 6, 7, 3, 3, 4,  5, 7, 9, 9, 9,  5};
constexpr uint8_t kAdvances192to223[] = {9, 9, 9, 9, 9, 9, 11, 8, 8, 8, 8, 8, 4, 4, 4, 4,
                                         9, 9, 9, 9, 9, 9, 9,  7, 9, 8, 8, 8, 8, 9, 7, 6};
constexpr uint8_t kAdvances224to255[] = {6, 6, 6, 6, 6, 6, 9, 5, 6, 6, 6, 6, 3, 3, 3, 3,
                                         6, 6, 6, 6, 6, 6, 6, 7, 6, 6, 6, 6, 6, 6, 6, 6};

struct advance_range {
    uint32_t first;
    const uint8_t* advances;
    uint32_t count;
};

constexpr advance_range kAdvanceRanges[] = {
    {32, kAdvances32to63, std::size(kAdvances32to63)},       {64, kAdvances64to95, std::size(kAdvances64to95)},
    {96, kAdvances96to126, std::size(kAdvances96to126)},     {161, kAdvances161to191, std::size(kAdvances161to191)},
    {192, kAdvances192to223, std::size(kAdvances192to223)},  {224, kAdvances224to255, std::size(kAdvances224to255)},
};

constexpr uint32_t glyph_advance(uint32_t code)
{
    for (const advance_range& range : kAdvanceRanges)
        if (code >= range.first && code < range.first + range.count) return range.advances[code - range.first];
    return 0;
}

// A glyph as drawn: its rows one after another, width cells each.
struct glyph_drawing {
    uint8_t code;
    int8_t width, x_offset, y_offset;
    const char* rows;
};

constexpr glyph_drawing kGlyphDrawings[] = {
    // 0x20 space
    {0x20, 1, 0, 0,
     "."},
    // 0x21 exclamation mark
    {0x21, 1, 1, 0,
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "."
     "#"},
    // 0x22 quotation mark
    {0x22, 3, 1, 6,
     "#.#"
     "#.#"
     "#.#"},
    // 0x23 number sign
    {0x23, 5, 0, 0,
     ".#.#."
     ".#.#."
     "#####"
     ".#.#."
     "#####"
     ".#.#."
     ".#.#."},
    // 0x24 dollar sign
    {0x24, 5, 0, -1,
     "..#.."
     ".####"
     "#.#.."
     "#.#.."
     ".###."
     "..#.#"
     "..#.#"
     "####."
     "..#.."},
    // 0x25 percent sign
    {0x25, 8, 0, 0,
     ".##....#"
     "#..#..#."
     "#..#.#.."
     ".##.#..."
     "...#.##."
     "..#.#..#"
     ".#..#..#"
     "#....##."},
    // 0x26 ampersand
    {0x26, 8, 0, 0,
     "..##...."
     ".#..#..."
     ".#..#..."
     "..##...."
     ".##..#.."
     "#..#.#.."
     "#...#..."
     "#...##.."
     ".###..#."},
    // 0x27 apostrophe
    {0x27, 1, 1, 6,
     "#"
     "#"
     "#"},
    // 0x28 left parenthesis
    {0x28, 3, 1, -3,
     "..#"
     ".#."
     ".#."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     ".#."
     ".#."
     "..#"},
    // 0x29 right parenthesis
    {0x29, 3, 1, -3,
     "#.."
     ".#."
     ".#."
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     ".#."
     ".#."
     "#.."},
    // 0x2A asterisk
    {0x2A, 5, 0, 4,
     "..#.."
     "#.#.#"
     ".###."
     "#.#.#"
     "..#.."},
    // 0x2B plus sign
    {0x2B, 5, 1, 1,
     "..#.."
     "..#.."
     "#####"
     "..#.."
     "..#.."},
    // 0x2C comma
    {0x2C, 2, 0, -2,
     ".#"
     ".#"
     "#."},
    // 0x2D hyphen-minus
    {0x2D, 6, 1, 3,
     "######"},
    // 0x2E full stop
    {0x2E, 1, 1, 0,
     "#"},
    // 0x2F solidus
    {0x2F, 3, 0, 0,
     "..#"
     "..#"
     "..#"
     ".#."
     ".#."
     ".#."
     "#.."
     "#.."
     "#.."},
    // 0x30 digit zero
    {0x30, 5, 0, 0,
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0x31 digit one
    {0x31, 5, 0, 0,
     "..#.."
     ".##.."
     "#.#.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "..#.."
     "#####"},
    // 0x32 digit two
    {0x32, 5, 0, 0,
     ".###."
     "#...#"
     "....#"
     "...#."
     "..#.."
     ".#..."
     "#...."
     "#...."
     "#####"},
    // 0x33 digit three
    {0x33, 5, 0, 0,
     ".###."
     "#...#"
     "....#"
     "....#"
     "..##."
     "....#"
     "....#"
     "#...#"
     ".###."},
    // 0x34 digit four
    {0x34, 5, 0, 0,
     "...#."
     "..##."
     ".#.#."
     "#..#."
     "#..#."
     "#####"
     "...#."
     "...#."
     "...#."},
    // 0x35 digit five
    {0x35, 5, 0, 0,
     "#####"
     "#...."
     "#...."
     "####."
     "....#"
     "....#"
     "....#"
     "#...#"
     ".###."},
    // 0x36 digit six
    {0x36, 5, 0, 0,
     ".###."
     "#...#"
     "#...."
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0x37 digit seven
    {0x37, 5, 0, 0,
     "#####"
     "....#"
     "...#."
     "...#."
     "..#.."
     "..#.."
     ".#..."
     ".#..."
     ".#..."},
    // 0x38 digit eight
    {0x38, 5, 0, 0,
     ".###."
     "#...#"
     "#...#"
     "#...#"
     ".###."
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0x39 digit nine
    {0x39, 5, 0, 0,
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"
     "....#"
     "#...#"
     ".###."},
    // 0x3A colon
    {0x3A, 1, 1, 0,
     "#"
     "."
     "."
     "."
     "."
     "#"},
    // 0x3B semicolon
    {0x3B, 2, 0, -2,
     ".#"
     ".."
     ".."
     ".."
     ".."
     ".#"
     ".#"
     "#."},
    // 0x3C less-than sign
    {0x3C, 6, 1, 0,
     ".....#"
     "...##."
     ".##..."
     "#....."
     ".##..."
     "...##."
     ".....#"},
    // 0x3D equals sign
    {0x3D, 5, 1, 2,
     "#####"
     "....."
     "#####"},
    // 0x3E greater-than sign
    {0x3E, 6, 1, 0,
     "#....."
     ".##..."
     "...##."
     ".....#"
     "...##."
     ".##..."
     "#....."},
    // 0x3F question mark
    {0x3F, 4, 0, 0,
     ".##."
     "#..#"
     "...#"
     "...#"
     "..#."
     ".#.."
     ".#.."
     "...."
     ".#.."},
    // 0x40 commercial at
    {0x40, 10, 0, -1,
     "...####..."
     "..#....#.."
     ".#......#."
     "#..###.#.#"
     "#.#...##.#"
     "#.#....#.#"
     "#.#...##.#"
     "#..###.##."
     ".#........"
     "..#####..."},
    // 0x41 latin capital letter a
    {0x41, 9, 0, 0,
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0x42 latin capital letter b
    {0x42, 7, 0, 0,
     "######."
     "#.....#"
     "#.....#"
     "#.....#"
     "######."
     "#.....#"
     "#.....#"
     "#.....#"
     "######."},
    // 0x43 latin capital letter c
    {0x43, 7, 0, 0,
     "..####."
     ".#....#"
     "#......"
     "#......"
     "#......"
     "#......"
     "#......"
     ".#....#"
     "..####."},
    // 0x44 latin capital letter d
    {0x44, 7, 0, 0,
     "#####.."
     "#....#."
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#....#."
     "#####.."},
    // 0x45 latin capital letter e
    {0x45, 6, 0, 0,
     "######"
     "#....."
     "#....."
     "#....."
     "#####."
     "#....."
     "#....."
     "#....."
     "######"},
    // 0x46 latin capital letter f
    {0x46, 6, 0, 0,
     "######"
     "#....."
     "#....."
     "#....."
     "#####."
     "#....."
     "#....."
     "#....."
     "#....."},
    // 0x47 latin capital letter g
    {0x47, 8, 0, 0,
     "..####.."
     ".#....#."
     "#......#"
     "#......."
     "#...####"
     "#......#"
     "#......#"
     ".#....##"
     "..####.#"},
    // 0x48 latin capital letter h
    {0x48, 7, 1, 0,
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#######"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"},
    // 0x49 latin capital letter i
    {0x49, 1, 1, 0,
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"},
    // 0x4A latin capital letter j
    {0x4A, 3, 0, 0,
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "##."},
    // 0x4B latin capital letter k
    {0x4B, 6, 0, 0,
     "#....#"
     "#...#."
     "#..#.."
     "#.#..."
     "##...."
     "#.#..."
     "#..#.."
     "#...#."
     "#....#"},
    // 0x4C latin capital letter l
    {0x4C, 6, 0, 0,
     "#....."
     "#....."
     "#....."
     "#....."
     "#....."
     "#....."
     "#....."
     "#....."
     "######"},
    // 0x4D latin capital letter m
    {0x4D, 9, 1, 0,
     "#.......#"
     "##.....##"
     "#.#...#.#"
     "#.#...#.#"
     "#..#.#..#"
     "#..#.#..#"
     "#...#...#"
     "#...#...#"
     "#.......#"},
    // 0x4E latin capital letter n
    {0x4E, 7, 1, 0,
     "#.....#"
     "##....#"
     "#.#...#"
     "#.#...#"
     "#..#..#"
     "#...#.#"
     "#...#.#"
     "#....##"
     "#.....#"},
    // 0x4F latin capital letter o
    {0x4F, 8, 0, 0,
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     ".#....#."
     "..####.."},
    // 0x50 latin capital letter p
    {0x50, 6, 0, 0,
     "#####."
     "#....#"
     "#....#"
     "#....#"
     "#####."
     "#....."
     "#....."
     "#....."
     "#....."},
    // 0x51 latin capital letter q
    {0x51, 8, 0, -2,
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#...#..#"
     ".#...##."
     "..####.."
     "......#."
     ".......#"},
    // 0x52 latin capital letter r
    {0x52, 7, 0, 0,
     "######."
     "#.....#"
     "#.....#"
     "#.....#"
     "######."
     "#...#.."
     "#....#."
     "#....#."
     "#.....#"},
    // 0x53 latin capital letter s
    {0x53, 6, 0, 0,
     ".####."
     "#....#"
     "#....."
     "#....."
     ".####."
     ".....#"
     ".....#"
     "#....#"
     ".####."},
    // 0x54 latin capital letter t
    {0x54, 7, 0, 0,
     "#######"
     "...#..."
     "...#..."
     "...#..."
     "...#..."
     "...#..."
     "...#..."
     "...#..."
     "...#..."},
    // 0x55 latin capital letter u
    {0x55, 7, 0, 0,
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     ".#####."},
    // 0x56 latin capital letter v
    {0x56, 9, 0, 0,
     "#.......#"
     "#.......#"
     ".#.....#."
     ".#.....#."
     "..#...#.."
     "..#...#.."
     "...#.#..."
     "...#.#..."
     "....#...."},
    // 0x57 latin capital letter w
    {0x57, 12, 0, 0,
     "#....##....#"
     "#....##....#"
     ".#...##...#."
     ".#..#..#..#."
     ".#..#..#..#."
     "..#.#..#.#.."
     "..#.#..#.#.."
     "...#....#..."
     "...#....#..."},
    // 0x58 latin capital letter x
    {0x58, 7, 0, 0,
     "#.....#"
     "#.....#"
     ".#...#."
     "..#.#.."
     "...#..."
     "..#.#.."
     ".#...#."
     "#.....#"
     "#.....#"},
    // 0x59 latin capital letter y
    {0x59, 9, 0, 0,
     "#.......#"
     ".#.....#."
     "..#...#.."
     "...#.#..."
     "....#...."
     "....#...."
     "....#...."
     "....#...."
     "....#...."},
    // 0x5A latin capital letter z
    {0x5A, 7, 0, 0,
     "#######"
     "......#"
     ".....#."
     "....#.."
     "...#..."
     "..#...."
     ".#....."
     "#......"
     "#######"},
    // 0x5B left square bracket
    {0x5B, 3, 1, -3,
     "###"
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."
     "###"},
    // 0x5C reverse solidus
    {0x5C, 3, 0, 0,
     "#.."
     "#.."
     "#.."
     ".#."
     ".#."
     ".#."
     "..#"
     "..#"
     "..#"},
    // 0x5D right square bracket
    {0x5D, 3, 1, -3,
     "###"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "..#"
     "###"},
    // 0x5E circumflex accent
    {0x5E, 5, 0, 6,
     "..#.."
     ".#.#."
     "#...#"},
    // 0x5F low line
    {0x5F, 6, 0, -2,
     "######"},
    // 0x60 grave accent
    {0x60, 2, 1, 7,
     "#."
     ".#"},
    // 0x61 latin small letter a
    {0x61, 5, 0, 0,
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0x62 latin small letter b
    {0x62, 5, 0, 0,
     "#...."
     "#...."
     "#...."
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "####."},
    // 0x63 latin small letter c
    {0x63, 4, 0, 0,
     ".###"
     "#..."
     "#..."
     "#..."
     "#..."
     ".###"},
    // 0x64 latin small letter d
    {0x64, 5, 0, 0,
     "....#"
     "....#"
     "....#"
     ".####"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"},
    // 0x65 latin small letter e
    {0x65, 5, 0, 0,
     ".###."
     "#...#"
     "#####"
     "#...."
     "#...#"
     ".###."},
    // 0x66 latin small letter f
    {0x66, 3, 0, 0,
     ".##"
     "#.."
     "#.."
     "###"
     "#.."
     "#.."
     "#.."
     "#.."
     "#.."},
    // 0x67 latin small letter g
    {0x67, 5, 1, -3,
     ".####"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"
     "....#"
     "#...#"
     ".###."},
    // 0x68 latin small letter h
    {0x68, 5, 0, 0,
     "#...."
     "#...."
     "#...."
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"},
    // 0x69 latin small letter i
    {0x69, 1, 1, 0,
     "#"
     "."
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"},
    // 0x6A latin small letter j
    {0x6A, 2, 0, -3,
     ".#"
     ".."
     ".#"
     ".#"
     ".#"
     ".#"
     ".#"
     ".#"
     ".#"
     ".#"
     "#."},
    // 0x6B latin small letter k
    {0x6B, 5, 0, 0,
     "#...."
     "#...."
     "#...."
     "#..#."
     "#.#.."
     "##..."
     "#.#.."
     "#..#."
     "#...#"},
    // 0x6C latin small letter l
    {0x6C, 1, 1, 0,
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"},
    // 0x6D latin small letter m
    {0x6D, 7, 0, 0,
     "###.##."
     "#..#..#"
     "#..#..#"
     "#..#..#"
     "#..#..#"
     "#..#..#"},
    // 0x6E latin small letter n
    {0x6E, 5, 0, 0,
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"},
    // 0x6F latin small letter o
    {0x6F, 5, 0, 0,
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0x70 latin small letter p
    {0x70, 5, 0, -3,
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "####."
     "#...."
     "#...."
     "#...."},
    // 0x71 latin small letter q
    {0x71, 5, 0, -3,
     ".####"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"
     "....#"
     "....#"
     "....#"},
    // 0x72 latin small letter r
    {0x72, 3, 0, 0,
     "#.#"
     "##."
     "#.."
     "#.."
     "#.."
     "#.."},
    // 0x73 latin small letter s
    {0x73, 5, 0, 0,
     ".####"
     "#...."
     ".###."
     "....#"
     "....#"
     "####."},
    // 0x74 latin small letter t
    {0x74, 3, 0, 0,
     ".#."
     ".#."
     "###"
     ".#."
     ".#."
     ".#."
     ".#."
     "..#"},
    // 0x75 latin small letter u
    {0x75, 5, 0, 0,
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"},
    // 0x76 latin small letter v
    {0x76, 5, 0, 0,
     "#...#"
     "#...#"
     ".#.#."
     ".#.#."
     "..#.."
     "..#.."},
    // 0x77 latin small letter w
    {0x77, 7, 0, 0,
     "#..#..#"
     "#..#..#"
     "#..#..#"
     ".#.#.#."
     ".#.#.#."
     "..#.#.."},
    // 0x78 latin small letter x
    {0x78, 5, 0, 0,
     "#...#"
     ".#.#."
     "..#.."
     "..#.."
     ".#.#."
     "#...#"},
    // 0x79 latin small letter y
    {0x79, 5, 0, -3,
     "#...#"
     "#...#"
     "#...#"
     ".#.#."
     ".#.#."
     "..#.."
     "..#.."
     ".#..."
     "#...."},
    // 0x7A latin small letter z
    {0x7A, 5, 0, 0,
     "#####"
     "...#."
     "..#.."
     ".#..."
     "#...."
     "#####"},
    // 0x7B left curly bracket
    {0x7B, 4, 1, -3,
     "..##"
     ".#.."
     ".#.."
     ".#.."
     ".#.."
     "#..."
     ".#.."
     ".#.."
     ".#.."
     ".#.."
     ".#.."
     "..##"},
    // 0x7C vertical line
    {0x7C, 1, 1, -3,
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"},
    // 0x7D right curly bracket
    {0x7D, 4, 1, -3,
     "##.."
     "..#."
     "..#."
     "..#."
     "..#."
     "...#"
     "..#."
     "..#."
     "..#."
     "..#."
     "..#."
     "##.."},
    // 0x7E tilde
    {0x7E, 6, 0, 3,
     ".##..#"
     "#..##."},
    // 0xA1 inverted exclamation mark
    {0xA1, 1, 1, -3,
     "#"
     "."
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"
     "#"},
    // 0xA2 cent sign
    {0xA2, 5, 0, -1,
     "...#."
     ".####"
     "#.#.."
     "#.#.."
     "#.#.."
     "#.#.."
     ".####"
     ".#..."},
    // 0xA3 pound sign
    {0xA3, 5, 0, 0,
     "..##."
     ".#..#"
     ".#..."
     ".#..."
     "####."
     ".#..."
     ".#..."
     "##..#"
     "#.##."},
    // 0xA4 currency sign
    {0xA4, 6, 0, 1,
     "#....#"
     ".####."
     ".#..#."
     ".#..#."
     ".####."
     "#....#"},
    // 0xA5 yen sign
    {0xA5, 5, 0, 0,
     "#...#"
     "#...#"
     ".#.#."
     "..#.."
     "#####"
     "..#.."
     "#####"
     "..#.."
     "..#.."},
    // 0xA6 broken bar
    {0xA6, 1, 1, -2,
     "#"
     "#"
     "#"
     "#"
     "."
     "."
     "#"
     "#"
     "#"
     "#"
     "#"},
    // 0xA7 section sign
    {0xA7, 5, 0, -3,
     ".###."
     "#...#"
     "#...."
     ".##.."
     "#..#."
     "#...#"
     "#...#"
     ".#..#"
     "..##."
     "....#"
     "#...#"
     ".###."},
    // 0xA8 diaeresis
    {0xA8, 3, 0, 8,
     "#.#"},
    // 0xA9 copyright sign
    {0xA9, 9, 1, 0,
     "..#####.."
     ".#.....#."
     "#..###..#"
     "#.#...#.#"
     "#.#.....#"
     "#.#...#.#"
     "#..###..#"
     ".#.....#."
     "..#####.."},
    // 0xAA feminine ordinal indicator
    {0xAA, 4, 0, 4,
     ".##."
     "...#"
     ".###"
     "#..#"
     ".###"},
    // 0xAB left-pointing double angle quotation mark
    {0xAB, 5, 1, 1,
     "..#.#"
     ".#.#."
     "#.#.."
     ".#.#."
     "..#.#"},
    // 0xAC not sign
    {0xAC, 6, 1, 2,
     "######"
     ".....#"
     ".....#"},
    // 0xAD soft hyphen
    {0xAD, 4, 1, 3,
     "####"},
    // 0xAE registered sign
    {0xAE, 9, 1, 0,
     "..#####.."
     ".#.....#."
     "#.####..#"
     "#.#...#.#"
     "#.####..#"
     "#.#..#..#"
     "#.#...#.#"
     ".#.....#."
     "..#####.."},
    // 0xAF macron
    {0xAF, 4, 0, 9,
     "####"},
    // 0xB0 degree sign
    {0xB0, 4, 0, 5,
     ".##."
     "#..#"
     "#..#"
     ".##."},
    // 0xB1 plus-minus sign
    {0xB1, 5, 1, 0,
     "..#.."
     "..#.."
     "#####"
     "..#.."
     "..#.."
     "....."
     "#####"},
    // 0xB2 superscript two
    {0xB2, 3, 0, 4,
     "##."
     "..#"
     ".#."
     "#.."
     "###"},
    // 0xB3 superscript three
    {0xB3, 3, 0, 4,
     "##."
     "..#"
     ".#."
     "..#"
     "##."},
    // 0xB4 acute accent
    {0xB4, 2, 1, 7,
     ".#"
     "#."},
    // 0xB5 micro sign
    {0xB5, 5, 0, -3,
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#..##"
     "###.#"
     "#...."
     "#...."
     "#...."},
    // 0xB6 pilcrow sign
    {0xB6, 6, 0, -3,
     ".#####"
     "####.#"
     "####.#"
     "####.#"
     ".###.#"
     "...#.#"
     "...#.#"
     "...#.#"
     "...#.#"
     "...#.#"
     "...#.#"
     "...#.#"},
    // 0xB7 middle dot
    {0xB7, 1, 1, 3,
     "#"},
    // 0xB8 cedilla
    {0xB8, 2, 0, -3,
     "#."
     ".#"
     "#."},
    // 0xB9 superscript one
    {0xB9, 2, 0, 4,
     ".#"
     "##"
     ".#"
     ".#"
     ".#"},
    // 0xBA masculine ordinal indicator
    {0xBA, 4, 0, 4,
     ".##."
     "#..#"
     "#..#"
     ".##."
     "####"},
    // 0xBB right-pointing double angle quotation mark
    {0xBB, 5, 1, 1,
     "#.#.."
     ".#.#."
     "..#.#"
     ".#.#."
     "#.#.."},
    // 0xBC vulgar fraction one quarter
    {0xBC, 8, 0, 0,
     ".#....#."
     "##....#."
     ".#...#.."
     ".#..#..."
     ".#.#..#."
     "..#..##."
     ".#..#.#."
     "#...####"
     "......#."},
    // 0xBD vulgar fraction one half
    {0xBD, 8, 0, 0,
     ".#....#."
     "##....#."
     ".#...#.."
     ".#..#..."
     ".#.#.##."
     "..#.#..#"
     ".#....#."
     "#....#.."
     "....####"},
    // 0xBE vulgar fraction three quarters
    {0xBE, 8, 0, 0,
     "##....#."
     "..#...#."
     ".#...#.."
     "..#.#..."
     "##.#..#."
     "..#..##."
     ".#..#.#."
     "#...####"
     "......#."},
    // 0xBF inverted question mark
    {0xBF, 4, 0, -3,
     ".#.."
     "...."
     ".#.."
     ".#.."
     "#..."
     "#..."
     "#..#"
     "#..#"
     ".##."},
    // 0xC0 latin capital letter a with grave
    {0xC0, 9, 0, 0,
     "...#....."
     "....#...."
     "........."
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0xC1 latin capital letter a with acute
    {0xC1, 9, 0, 0,
     "....#...."
     "...#....."
     "........."
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0xC2 latin capital letter a with circumflex
    {0xC2, 9, 0, 0,
     "....#...."
     "...#.#..."
     "........."
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0xC3 latin capital letter a with tilde
    {0xC3, 9, 0, 0,
     "...#.#..."
     "..#.#...."
     "........."
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0xC4 latin capital letter a with diaeresis
    {0xC4, 9, 0, 0,
     "........."
     "...#.#..."
     "........."
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0xC5 latin capital letter a with ring above
    {0xC5, 9, 0, 0,
     "....#...."
     "...#.#..."
     "....#...."
     "....#...."
     "...#.#..."
     "...#.#..."
     "..#...#.."
     "..#...#.."
     ".#######."
     ".#.....#."
     "#.......#"
     "#.......#"},
    // 0xC6 latin capital letter ae
    {0xC6, 10, 0, 0,
     "....######"
     "...#.#...."
     "...#.#...."
     "..#..#...."
     "..#..#####"
     ".#####...."
     ".#...#...."
     "#....#...."
     "#....#####"},
    // 0xC7 latin capital letter c with cedilla
    {0xC7, 7, 0, -3,
     "..####."
     ".#....#"
     "#......"
     "#......"
     "#......"
     "#......"
     "#......"
     ".#....#"
     "..####."
     "..#...."
     "...#..."
     "..#...."},
    // 0xC8 latin capital letter e with grave
    {0xC8, 6, 0, 0,
     "..#..."
     "...#.."
     "......"
     "######"
     "#....."
     "#....."
     "#....."
     "#####."
     "#....."
     "#....."
     "#....."
     "######"},
    // 0xC9 latin capital letter e with acute
    {0xC9, 6, 0, 0,
     "...#.."
     "..#..."
     "......"
     "######"
     "#....."
     "#....."
     "#....."
     "#####."
     "#....."
     "#....."
     "#....."
     "######"},
    // 0xCA latin capital letter e with circumflex
    {0xCA, 6, 0, 0,
     "..#..."
     ".#.#.."
     "......"
     "######"
     "#....."
     "#....."
     "#....."
     "#####."
     "#....."
     "#....."
     "#....."
     "######"},
    // 0xCB latin capital letter e with diaeresis
    {0xCB, 6, 0, 0,
     "......"
     ".#.#.."
     "......"
     "######"
     "#....."
     "#....."
     "#....."
     "#####."
     "#....."
     "#....."
     "#....."
     "######"},
    // 0xCC latin capital letter i with grave
    {0xCC, 2, 1, 0,
     "#."
     ".#"
     ".."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."},
    // 0xCD latin capital letter i with acute
    {0xCD, 2, 1, 0,
     ".#"
     "#."
     ".."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."},
    // 0xCE latin capital letter i with circumflex
    {0xCE, 3, 0, 0,
     ".#."
     "#.#"
     "..."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."},
    // 0xCF latin capital letter i with diaeresis
    {0xCF, 3, 0, 0,
     "..."
     "#.#"
     "..."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."},
    // 0xD0 latin capital letter eth
    {0xD0, 8, 0, 0,
     ".#####.."
     ".#....#."
     ".#.....#"
     ".#.....#"
     "####...#"
     ".#.....#"
     ".#.....#"
     ".#....#."
     ".#####.."},
    // 0xD1 latin capital letter n with tilde
    {0xD1, 7, 1, 0,
     "..#.#.."
     ".#.#..."
     "......."
     "#.....#"
     "##....#"
     "#.#...#"
     "#.#...#"
     "#..#..#"
     "#...#.#"
     "#...#.#"
     "#....##"
     "#.....#"},
    // 0xD2 latin capital letter o with grave
    {0xD2, 8, 0, 0,
     "...#...."
     "....#..."
     "........"
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     ".#....#."
     "..####.."},
    // 0xD3 latin capital letter o with acute
    {0xD3, 8, 0, 0,
     "....#..."
     "...#...."
     "........"
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     ".#....#."
     "..####.."},
    // 0xD4 latin capital letter o with circumflex
    {0xD4, 8, 0, 0,
     "...#...."
     "..#.#..."
     "........"
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     ".#....#."
     "..####.."},
    // 0xD5 latin capital letter o with tilde
    {0xD5, 8, 0, 0,
     "...#.#.."
     "..#.#..."
     "........"
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     ".#....#."
     "..####.."},
    // 0xD6 latin capital letter o with diaeresis
    {0xD6, 8, 0, 0,
     "........"
     "..#.#..."
     "........"
     "..####.."
     ".#....#."
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     "#......#"
     ".#....#."
     "..####.."},
    // 0xD7 multiplication sign
    {0xD7, 5, 1, 1,
     "#...#"
     ".#.#."
     "..#.."
     ".#.#."
     "#...#"},
    // 0xD8 latin capital letter o with stroke
    {0xD8, 8, 0, 0,
     "..####.#"
     ".#....#."
     "#....#.#"
     "#....#.#"
     "#...#..#"
     "#..#...#"
     "#.#....#"
     ".#....#."
     "#.####.."},
    // 0xD9 latin capital letter u with grave
    {0xD9, 7, 0, 0,
     "..#...."
     "...#..."
     "......."
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     ".#####."},
    // 0xDA latin capital letter u with acute
    {0xDA, 7, 0, 0,
     "...#..."
     "..#...."
     "......."
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     ".#####."},
    // 0xDB latin capital letter u with circumflex
    {0xDB, 7, 0, 0,
     "...#..."
     "..#.#.."
     "......."
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     ".#####."},
    // 0xDC latin capital letter u with diaeresis
    {0xDC, 7, 0, 0,
     "......."
     "..#.#.."
     "......."
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     "#.....#"
     ".#####."},
    // 0xDD latin capital letter y with acute
    {0xDD, 9, 0, 0,
     "....#...."
     "...#....."
     "........."
     "#.......#"
     ".#.....#."
     "..#...#.."
     "...#.#..."
     "....#...."
     "....#...."
     "....#...."
     "....#...."
     "....#...."},
    // 0xDE latin capital letter thorn
    {0xDE, 6, 0, 0,
     "#....."
     "#....."
     "#####."
     "#....#"
     "#....#"
     "#....#"
     "#####."
     "#....."
     "#....."},
    // 0xDF latin small letter sharp s
    {0xDF, 5, 0, 0,
     ".##.."
     "#..#."
     "#..#."
     "#.#.."
     "#..#."
     "#...#"
     "#...#"
     "#...#"
     "#.##."},
    // 0xE0 latin small letter a with grave
    {0xE0, 5, 0, 0,
     ".#..."
     "..#.."
     "....."
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0xE1 latin small letter a with acute
    {0xE1, 5, 0, 0,
     "..#.."
     ".#..."
     "....."
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0xE2 latin small letter a with circumflex
    {0xE2, 5, 0, 0,
     "..#.."
     ".#.#."
     "....."
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0xE3 latin small letter a with tilde
    {0xE3, 5, 0, 0,
     ".#.#."
     "#.#.."
     "....."
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0xE4 latin small letter a with diaeresis
    {0xE4, 5, 0, 0,
     "....."
     ".#.#."
     "....."
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0xE5 latin small letter a with ring above
    {0xE5, 5, 0, 0,
     "..#.."
     ".#.#."
     "..#.."
     ".###."
     "....#"
     ".####"
     "#...#"
     "#...#"
     ".####"},
    // 0xE6 latin small letter ae
    {0xE6, 8, 0, 0,
     ".##.###."
     "...#...#"
     ".#######"
     "#..#...."
     "#..#...#"
     ".##.###."},
    // 0xE7 latin small letter c with cedilla
    {0xE7, 4, 0, -3,
     ".###"
     "#..."
     "#..."
     "#..."
     "#..."
     ".###"
     ".#.."
     "..#."
     ".#.."},
    // 0xE8 latin small letter e with grave
    {0xE8, 5, 0, 0,
     ".#..."
     "..#.."
     "....."
     ".###."
     "#...#"
     "#####"
     "#...."
     "#...#"
     ".###."},
    // 0xE9 latin small letter e with acute
    {0xE9, 5, 0, 0,
     "..#.."
     ".#..."
     "....."
     ".###."
     "#...#"
     "#####"
     "#...."
     "#...#"
     ".###."},
    // 0xEA latin small letter e with circumflex
    {0xEA, 5, 0, 0,
     "..#.."
     ".#.#."
     "....."
     ".###."
     "#...#"
     "#####"
     "#...."
     "#...#"
     ".###."},
    // 0xEB latin small letter e with diaeresis
    {0xEB, 5, 0, 0,
     "....."
     ".#.#."
     "....."
     ".###."
     "#...#"
     "#####"
     "#...."
     "#...#"
     ".###."},
    // 0xEC latin small letter i with grave
    {0xEC, 2, 1, 0,
     "#."
     ".#"
     ".."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."},
    // 0xED latin small letter i with acute
    {0xED, 2, 1, 0,
     ".#"
     "#."
     ".."
     "#."
     "#."
     "#."
     "#."
     "#."
     "#."},
    // 0xEE latin small letter i with circumflex
    {0xEE, 3, 0, 0,
     ".#."
     "#.#"
     "..."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."},
    // 0xEF latin small letter i with diaeresis
    {0xEF, 3, 0, 0,
     "..."
     "#.#"
     "..."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."
     ".#."},
    // 0xF0 latin small letter eth
    {0xF0, 5, 0, 0,
     ".#.#."
     "..#.."
     ".#.#."
     "....#"
     ".####"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0xF1 latin small letter n with tilde
    {0xF1, 5, 0, 0,
     ".#.#."
     "#.#.."
     "....."
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"},
    // 0xF2 latin small letter o with grave
    {0xF2, 5, 0, 0,
     ".#..."
     "..#.."
     "....."
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0xF3 latin small letter o with acute
    {0xF3, 5, 0, 0,
     "..#.."
     ".#..."
     "....."
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0xF4 latin small letter o with circumflex
    {0xF4, 5, 0, 0,
     "..#.."
     ".#.#."
     "....."
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0xF5 latin small letter o with tilde
    {0xF5, 5, 0, 0,
     ".#.#."
     "#.#.."
     "....."
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0xF6 latin small letter o with diaeresis
    {0xF6, 5, 0, 0,
     "....."
     ".#.#."
     "....."
     ".###."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".###."},
    // 0xF7 division sign
    {0xF7, 5, 1, 1,
     "..#.."
     "....."
     "#####"
     "....."
     "..#.."},
    // 0xF8 latin small letter o with stroke
    {0xF8, 5, 0, -1,
     "....#"
     ".###."
     "#..##"
     "#.#.#"
     "#.#.#"
     "##..#"
     ".###."
     "#...."},
    // 0xF9 latin small letter u with grave
    {0xF9, 5, 0, 0,
     ".#..."
     "..#.."
     "....."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"},
    // 0xFA latin small letter u with acute
    {0xFA, 5, 0, 0,
     "..#.."
     ".#..."
     "....."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"},
    // 0xFB latin small letter u with circumflex
    {0xFB, 5, 0, 0,
     "..#.."
     ".#.#."
     "....."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"},
    // 0xFC latin small letter u with diaeresis
    {0xFC, 5, 0, 0,
     "....."
     ".#.#."
     "....."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     ".####"},
    // 0xFD latin small letter y with acute
    {0xFD, 5, 0, -3,
     "..#.."
     ".#..."
     "....."
     "#...#"
     "#...#"
     "#...#"
     ".#.#."
     ".#.#."
     "..#.."
     "..#.."
     ".#..."
     "#...."},
    // 0xFE latin small letter thorn
    {0xFE, 5, 0, -3,
     "#...."
     "#...."
     "#...."
     "####."
     "#...#"
     "#...#"
     "#...#"
     "#...#"
     "####."
     "#...."
     "#...."
     "#...."},
    // 0xFF latin small letter y with diaeresis
    {0xFF, 5, 0, -3,
     "....."
     ".#.#."
     "....."
     "#...#"
     "#...#"
     "#...#"
     ".#.#."
     ".#.#."
     "..#.."
     "..#.."
     ".#..."
     "#...."},
};

constexpr size_t drawn_cells(const char* rows)
{
    size_t n = 0;
    while (rows[n] != '\0') ++n;
    return n;
}

constexpr size_t kFontCells = [] {
    size_t n = 0;
    for (const glyph_drawing& d : kGlyphDrawings) n += drawn_cells(d.rows);
    return n;
}();

// Every glyph's cells, one after another: 1 for '#', 0 for '.'.
constexpr std::array<uint8_t, kFontCells> kGlyphCells = [] {
    std::array<uint8_t, kFontCells> cells{};
    size_t at = 0;
    for (const glyph_drawing& d : kGlyphDrawings)
        for (const char* c = d.rows; *c != '\0'; ++c) cells[at++] = *c == '#' ? 1 : 0;
    return cells;
}();

constexpr bdf_font make_bdffont()
{
    bdf_font font{14, 15, -1, -3, {}};
    size_t at = 0;
    for (const glyph_drawing& d : kGlyphDrawings) {
        const auto cells = int32_t(drawn_cells(d.rows));
        font.glyphs[d.code] = {d.width, cells / d.width, d.x_offset, d.y_offset, int32_t(glyph_advance(d.code)),
                               kGlyphCells.data() + at};
        at += size_t(cells);
    }
    return font;
}

constexpr bdf_font default_bdffont = make_bdffont();

// The drawings are whole rows made of '#' and '.', each code is drawn once
// and in order, the glyphs fill exactly the codes that have an advance, and
// each lies inside the font box.
constexpr bool font_is_sound()
{
    uint32_t previous = 0;
    for (const glyph_drawing& d : kGlyphDrawings) {
        const size_t cells = drawn_cells(d.rows);
        if (d.width <= 0 || cells == 0 || cells % size_t(d.width) != 0 || d.code <= previous) return false;
        for (const char* c = d.rows; *c != '\0'; ++c)
            if (*c != '#' && *c != '.') return false;
        previous = d.code;
    }
    for (uint32_t code = 0; code < 256; ++code) {
        const bdf_glyph& g = default_bdffont.glyphs[code];
        if ((g.bitmap != nullptr) != (glyph_advance(code) != 0)) return false;
        if (g.bitmap == nullptr) continue;
        if (g.x_offset < default_bdffont.x_offset || g.y_offset < default_bdffont.y_offset) return false;
        if (g.x_offset + g.width > default_bdffont.x_offset + default_bdffont.width) return false;
        if (g.y_offset + g.height > default_bdffont.y_offset + default_bdffont.height) return false;
    }
    return true;
}
static_assert(font_is_sound(), "a glyph drawing is malformed, outside the font box, or missing");

} // namespace
