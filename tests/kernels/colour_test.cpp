// Colour-reduction kernels: the palette choice and the mapping of
// diffusedither, mapdither on the host's palette, orderdither's cube
// indices, curvedither's walk along the Hilbert curve, palettetune's packing;
// their refusals of bad blocks and their handling of missing memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;

constexpr uint32_t kHostError = 0xC0FFEE00;
constexpr uint8_t kUntouched = 0x5A;  // what the host left in buffers and palette entries

Bytes rgb_bytes(const std::vector<Rgb>& pixels)
{
    Bytes out;
    for (const Rgb& p : pixels) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A record's palette area holding these entries, the rest as the host left it.
Bytes palette_of_entries(const std::vector<Rgb>& entries, size_t fill_to = 256)
{
    Bytes out = rgb_bytes(entries);
    out.resize(3 * std::max(fill_to, entries.size()), kUntouched);
    return out;
}

Rgb colour_at(const Bytes& palette, uint32_t i) { return {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]}; }

// A picture record; palette entries past `palette` keep kUntouched.
uint8_t* make_record(SharedArena& arena, uint32_t width, uint32_t height, uint32_t depth,
                     const std::vector<Rgb>& palette = {})
{
    uint8_t* record = arena.alloc(820);
    std::memset(record + 24, kUntouched, 768);
    host_set_word(record, 2, width);
    host_set_word(record, 3, height);
    host_set_word(record, 4, depth);
    for (size_t i = 0; i < palette.size(); ++i) std::memcpy(record + 24 + 3 * i, palette[i].data(), 3);
    return record;
}

Bytes palette_of(const uint8_t* record) { return Bytes(record + 24, record + 24 + 768); }

struct Outcome {
    Bytes out;      // the destination after the run
    Bytes palette;  // the record's 768 palette bytes after the run
    uint32_t error;
};

// diffusedither or mapdither on a picture of width x height; the
// destination starts as kUntouched.
Outcome palette_dither(const char* name, const std::vector<Rgb>& pixels, uint32_t width, uint32_t height,
                   uint32_t depth, uint32_t mode, const std::vector<Rgb>& palette = {})
{
    const host_module* module = load_module(name);
    if (module == nullptr) return {};
    SharedArena arena;
    uint8_t* source = arena.copy(rgb_bytes(pixels));
    uint8_t* destination = arena.fill(uint32_t(pixels.size()), kUntouched);
    uint8_t* record = make_record(arena, width, height, depth, palette);
    uint8_t* block = arena.block(28, {{2, host_address(source)}, {3, host_address(destination)},
                                      {4, host_address(record)}, {5, mode}, {6, kHostError}});
    EXPECT_EQ(host_call(module, block, 1), 1u);
    return {bytes_of(destination, uint32_t(pixels.size())), palette_of(record), host_word(block, 6)};
}

// The colour each pixel got: its index looked up in the palette.
std::vector<Rgb> shown(const Outcome& run)
{
    std::vector<Rgb> colours;
    for (uint8_t i : run.out) colours.push_back(colour_at(run.palette, i));
    return colours;
}

// Smooth gradients with a little noise.
std::vector<Rgb> photo(uint32_t width, uint32_t height, uint32_t seed)
{
    std::vector<Rgb> pixels;
    std::mt19937 random(seed);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t noise = random() % 24;
            pixels.push_back({uint8_t(x * 255 / std::max(1u, width - 1) * 3 / 4 + noise),
                              uint8_t((x + y) * 200 / (width + height) + noise),
                              uint8_t(255 - y * 255 / std::max(1u, height - 1) * 3 / 4 - noise)});
        }
    return pixels;
}

std::vector<Rgb> repeat(const std::vector<Rgb>& pattern, size_t n)
{
    std::vector<Rgb> out;
    for (size_t i = 0; i < n; ++i) out.push_back(pattern[i % pattern.size()]);
    return out;
}

// Pixels of the listed colours, each as many times as its count says.
std::vector<Rgb> histogram_picture(const std::vector<std::pair<Rgb, uint32_t>>& counts)
{
    std::vector<Rgb> pixels;
    for (const auto& [colour, count] : counts) pixels.insert(pixels.end(), count, colour);
    return pixels;
}

// ---------------------------------------------------------------------------
// diffusedither: the palette

TEST(DiffuseDither, DepthOneIsBlackAndWhiteWhateverThePicture)
{
    const std::vector<Rgb> pixels = photo(9, 7, 1);
    for (uint32_t mode : {0u, 1u, 2u}) {
        const Outcome run = palette_dither("diffusedither", pixels, 9, 7, 1, mode);
        EXPECT_EQ(run.error, 0u);
        EXPECT_EQ(colour_at(run.palette, 0), (Rgb{0, 0, 0}));
        EXPECT_EQ(colour_at(run.palette, 1), (Rgb{255, 255, 255}));
        EXPECT_TRUE(std::all_of(run.palette.begin() + 6, run.palette.end(), [](uint8_t b) { return b == kUntouched; }))
            << "entries past 2^depth keep what the record held";
        EXPECT_TRUE(std::all_of(run.out.begin(), run.out.end(), [](uint8_t i) { return i <= 1; })) << mode;
        EXPECT_NE(std::count(run.out.begin(), run.out.end(), 0), 0);
        EXPECT_NE(std::count(run.out.begin(), run.out.end(), 1), 0);
    }
}

TEST(DiffuseDither, FewKeysBecomeTheirOwnColoursThenWhite)
{
    // Three keys for eight colours: each key's colour is its fields times 8,
    // nothing added, sorted; the five white entries stand at the end.
    const std::vector<Rgb> pixels = {{203, 9, 17}, {8, 100, 250}, {67, 64, 70}, {200, 15, 16}, {8, 100, 250}};
    const Outcome run = palette_dither("diffusedither", pixels, 5, 1, 3, 1);
    EXPECT_EQ(run.error, 0u);
    const std::vector<Rgb> expected = {{8, 96, 248},    {64, 64, 64},    {200, 8, 16},    {255, 255, 255},
                                       {255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {255, 255, 255}};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(colour_at(run.palette, i), expected[i]) << i;
    EXPECT_EQ(run.out, (Bytes{2, 0, 1, 2, 0}));
}

TEST(DiffuseDither, AKeyOfMorePixelsThanACounterHoldsStaysInThePalette)
{
    // 65536 pixels of one key: the counter stops at 65534 instead of wrapping
    // to 0 and losing the key.
    const std::vector<Rgb> pixels = histogram_picture({{{40, 80, 120}, 65536}, {{200, 8, 8}, 1}});
    const Outcome run = palette_dither("diffusedither", pixels, 65537, 1, 2, 0);
    EXPECT_EQ(colour_at(run.palette, 0), (Rgb{40, 80, 120}));
    EXPECT_EQ(colour_at(run.palette, 1), (Rgb{200, 8, 8}));
    EXPECT_EQ(run.out[0], 0);
    EXPECT_EQ(run.out[65536], 1);
}

// Median cuts into four colours, worked out by hand from the split rules.
struct MedianCutCase {
    const char* what;
    std::vector<std::pair<Rgb, uint32_t>> histogram;  // colour, pixels
    std::vector<Rgb> palette;                         // after sorting
};

// Five keys along red, 0, 32, ... 128, with the given pixel counts.
std::vector<std::pair<Rgb, uint32_t>> along_red(const std::vector<uint32_t>& counts)
{
    std::vector<std::pair<Rgb, uint32_t>> h;
    for (size_t i = 0; i < counts.size(); ++i) h.push_back({Rgb{uint8_t(32 * i), 0, 0}, counts[i]});
    return h;
}

TEST(DiffuseDither, MedianCutSplitsAsTheRulesSay)
{
    std::vector<std::pair<Rgb, uint32_t>> eleven;
    for (uint32_t i = 0; i <= 10; ++i) eleven.push_back({Rgb{uint8_t(8 * i), 0, 0}, i == 10 ? 100u : 1u});
    const std::vector<MedianCutCase> cases = {
        {"even counts: the cursors meet on key 64, counted on both sides; L > U fails, so the lower part "
         "takes 2 keys; a part of as many keys as colours gets each key + 4",
         along_red({1, 1, 1, 1, 1}),
         {{4, 4, 4}, {36, 4, 4}, {68, 4, 4}, {116, 4, 4}}},
        {"heavy top key: the lower cursor runs up to key 96; a part of one colour is the average of its keys + 4",
         along_red({1, 1, 1, 1, 10}),
         {{4, 4, 4}, {52, 4, 4}, {100, 4, 4}, {132, 4, 4}}},
        {"heavy bottom key: L > U, the lower part takes i + 1 keys and q - h colours",
         along_red({10, 1, 1, 1, 1}),
         {{4, 4, 4}, {36, 4, 4}, {68, 4, 4}, {116, 4, 4}}},
        {"counts stop at 32767: 33000 and 40000 pixels weigh the same, so the cursors meet on key 64 (uncapped, "
         "on key 96); in the upper part L > U takes all three keys, one too many",
         along_red({33000, 1, 1, 1, 40000}),
         {{4, 4, 4}, {36, 4, 4}, {84, 4, 4}, {132, 4, 4}}},
        {"green and blue ranges tie: green is cut first, sorted by green, blue, red; then blue, sorted by blue, "
         "red, green",
         {{{0, 0, 0}, 1}, {{0, 64, 0}, 1}, {{0, 0, 64}, 1}, {{0, 64, 64}, 1}, {{0, 32, 32}, 1}},
         {{4, 4, 4}, {4, 4, 68}, {4, 52, 52}, {4, 68, 4}}},
        {"eleven keys: both cursors first jump (j - i) / 8 = 1 entries, so they meet on key 64, not 72",
         eleven,
         {{12, 4, 4}, {44, 4, 4}, {72, 4, 4}, {84, 4, 4}}},
    };
    for (const MedianCutCase& c : cases) {
        const std::vector<Rgb> pixels = histogram_picture(c.histogram);
        const Outcome run = palette_dither("diffusedither", pixels, uint32_t(pixels.size()), 1, 2, 0);
        EXPECT_EQ(run.error, 0u) << c.what;
        for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(colour_at(run.palette, i), c.palette[i]) << c.what << ", entry " << i;
    }
}

// Pictures of at most 2^depth distinct colours, multiples of 8 with distinct
// keys, come back exactly: every pixel finds its own colour at distance 0, so
// no error is ever carried.
TEST(DiffuseDither, FewMultiplesOfEightComeBackExactlyInEveryMode)
{
    std::mt19937 random(99);
    for (uint32_t depth = 2; depth <= 8; ++depth) {
        const uint32_t colours = 1u << depth;
        std::set<uint32_t> keys;
        while (keys.size() < colours) keys.insert(random() % 32768);
        const std::vector<uint32_t> chosen(keys.begin(), keys.end());
        std::vector<Rgb> pixels;
        const uint32_t width = 13 + depth, height = 11;
        for (uint32_t i = 0; i < width * height; ++i) {
            const uint32_t key = chosen[random() % (depth == 8 ? colours : colours - depth)];
            pixels.push_back({uint8_t((key >> 10) * 8), uint8_t(((key >> 5) & 31) * 8), uint8_t((key & 31) * 8)});
        }
        for (uint32_t mode : {0u, 1u, 2u, 7u}) {
            const Outcome run = palette_dither("diffusedither", pixels, width, height, depth, mode);
            EXPECT_EQ(run.error, 0u);
            EXPECT_EQ(shown(run), pixels) << "depth " << depth << ", mode " << mode;
        }
    }
}

// ---------------------------------------------------------------------------
// The mapping both palette modules share

// Keys 12 and 13 per component give the palette 96, 104, white, white. The
// pixel 97 is nearer 96 and 103 nearer 104, but both have key 12: whichever
// is looked up first decides for both. Without diffusion the last column is
// visited before the inside, so 103 at (2, 1) comes before 97 at (1, 1).
TEST(PaletteMapping, WithoutDiffusionTheColumnsComeBeforeTheInsideAndTheFirstColourOfAKeyDecides)
{
    const Rgb grey104 = {104, 104, 104}, grey103 = {103, 103, 103}, grey97 = {97, 97, 97};
    std::vector<Rgb> pixels(9, grey104);
    pixels[1 * 3 + 2] = grey103;
    pixels[1 * 3 + 1] = grey97;
    const Outcome chosen = palette_dither("diffusedither", pixels, 3, 3, 2, 0);
    EXPECT_EQ(colour_at(chosen.palette, 0), (Rgb{96, 96, 96}));
    EXPECT_EQ(colour_at(chosen.palette, 1), grey104);
    EXPECT_EQ(chosen.out, Bytes(9, 1)) << "97 takes the index found for 103";

    const Outcome given = palette_dither("mapdither", pixels, 3, 3, 2, 0, {{96, 96, 96}, grey104, {255, 255, 255}});
    EXPECT_EQ(given.out, Bytes(9, 1));

    // In row 0 the order is plain left to right: 97 first, 103 follows it.
    const Outcome row = palette_dither("mapdither", {grey97, grey103, grey104}, 3, 1, 2, 0, {{96, 96, 96}, grey104});
    EXPECT_EQ(row.out, (Bytes{0, 0, 1}));
}

// A 4 x 3 picture on a four-entry palette, worked through by hand: Floyd-
// Steinberg in serpentine order (row 1 from the right) against no diffusion.
TEST(PaletteMapping, FloydSteinbergRunsRowsInAlternatingDirections)
{
    const std::vector<Rgb> palette = {{0, 0, 0}, {60, 200, 90}, {180, 40, 220}, {255, 255, 255}};
    const std::vector<Rgb> pixels = {{240, 180, 10}, {90, 240, 0},   {80, 150, 190}, {230, 120, 220},
                                     {250, 130, 120}, {230, 250, 180}, {140, 40, 110}, {30, 10, 40},
                                     {150, 60, 80},  {210, 130, 240}, {200, 90, 130}, {160, 120, 180}};
    const Bytes diffused = {1, 1, 1, 2, 1, 3, 2, 0, 2, 2, 1, 2};
    EXPECT_EQ(palette_dither("mapdither", pixels, 4, 3, 2, 0, palette).out, (Bytes{1, 1, 1, 2, 2, 3, 2, 0, 2, 2, 2, 2}));
    for (uint32_t mode : {1u, 2u, 255u, 0x80000000u})
        EXPECT_EQ(palette_dither("mapdither", pixels, 4, 3, 2, mode, palette).out, diffused)
            << "every mode but 0 is Floyd-Steinberg: " << mode;
}

// diffusedither's palette for this picture is its three keys and white:
// (0, 0, 8), (8, 0, 0), (8, 8, 0). Pixels differ from them in the low bits
// only, so the errors stay small and the weights decide each choice.
TEST(DiffuseDither, FloydSteinbergAndBurkesWeights)
{
    const std::vector<Rgb> pixels = {{7, 6, 8}, {15, 10, 0}, {1, 3, 14}, {7, 6, 8},  {15, 10, 0},
                                     {8, 7, 7}, {4, 5, 11},  {9, 7, 6},  {9, 7, 6},  {15, 10, 0},
                                     {15, 10, 0}, {3, 4, 12}, {0, 3, 15}, {4, 5, 11}, {9, 7, 6}};
    const std::map<uint32_t, Bytes> expected = {
        {0, Bytes(15, 2)},  // every pixel of key (0, 0, 1) takes what (7, 6, 8) found
        {1, {2, 2, 2, 2, 2, 2, 0, 0, 0, 2, 2, 0, 0, 2, 2}},
        {2, {2, 2, 2, 2, 2, 2, 0, 0, 0, 2, 2, 0, 0, 0, 2}},
        {3, {2, 2, 2, 2, 2, 2, 0, 0, 0, 2, 2, 0, 0, 0, 2}},
    };
    for (const auto& [mode, out] : expected) {
        const Outcome run = palette_dither("diffusedither", pixels, 5, 3, 2, mode);
        EXPECT_EQ(colour_at(run.palette, 0), (Rgb{0, 0, 8}));
        EXPECT_EQ(colour_at(run.palette, 2), (Rgb{8, 8, 0}));
        EXPECT_EQ(run.out, out) << "mode " << mode;
    }
}

// One or two pixels wide, every share beside the picture is dropped.
TEST(PaletteMapping, NarrowPicturesDropTheSharesBesideThem)
{
    const std::vector<Rgb> black_white = {{0, 0, 0}, {255, 255, 255}};
    const std::vector<Rgb> column(5, Rgb{100, 100, 100}), grey(10, Rgb{100, 100, 100});
    EXPECT_EQ(palette_dither("mapdither", column, 1, 5, 1, 1, black_white).out, (Bytes{0, 1, 0, 0, 1}));
    EXPECT_EQ(palette_dither("mapdither", grey, 2, 5, 1, 1, black_white).out, (Bytes{0, 1, 1, 0, 0, 1, 0, 0, 1, 0}));
    // Burkes on the same picture, through diffusedither's black and white.
    EXPECT_EQ(palette_dither("diffusedither", column, 1, 5, 1, 2).out, (Bytes{0, 0, 1, 0, 0}));
    EXPECT_EQ(palette_dither("diffusedither", grey, 2, 5, 1, 2).out, (Bytes{0, 0, 0, 1, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(palette_dither("diffusedither", column, 1, 5, 1, 1).out, (Bytes{0, 1, 0, 0, 1}));
    for (uint32_t mode : {0u, 1u, 2u}) {
        EXPECT_EQ(palette_dither("diffusedither", {{250, 250, 250}, {3, 3, 3}}, 1, 2, 1, mode).out, (Bytes{1, 0}));
        EXPECT_EQ(palette_dither("diffusedither", {{250, 250, 250}, {3, 3, 3}}, 2, 1, 1, mode).out, (Bytes{1, 0}));
    }
}

// ---------------------------------------------------------------------------
// mapdither: the search over the host's palette

int32_t distance(const Rgb& a, const Rgb& b)
{
    int32_t d = 0;
    for (int c = 0; c < 3; ++c) d += (a[c] - b[c]) * (a[c] - b[c]);
    return d;
}

uint32_t key_of(const Rgb& p) { return uint32_t((p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3)); }

// Pixel positions in the order mode 0 visits them, first visits only.
std::vector<uint32_t> undiffused_order(uint32_t width, uint32_t height)
{
    std::vector<uint32_t> order;
    std::vector<bool> seen(width * height);
    const auto visit = [&](uint32_t i) {
        if (!seen[i]) order.push_back(i);
        seen[i] = true;
    };
    for (uint32_t x = 0; x < width; ++x) visit(x);
    for (uint32_t y = 0; y < height; ++y) visit(y * width);
    for (uint32_t y = 0; y < height; ++y) visit(y * width + width - 1);
    for (uint32_t y = 1; y < height; ++y)
        for (uint32_t x = 1; x + 1 < width; ++x) visit(y * width + x);
    return order;
}

TEST(MapDither, OnAPaletteSortedByRedTheFirstPixelOfEachKeyGetsTheNearestEntry)
{
    std::mt19937 random(5);
    for (uint32_t depth : {1u, 3u, 5u, 8u}) {
        const uint32_t m = 1u << depth;
        std::vector<Rgb> palette(m);
        for (Rgb& e : palette) e = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
        std::sort(palette.begin(), palette.end(), [](const Rgb& a, const Rgb& b) { return a[0] < b[0]; });
        const uint32_t width = 37, height = 23;
        std::vector<Rgb> pixels(width * height);
        for (Rgb& p : pixels) p = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
        const Outcome run = palette_dither("mapdither", pixels, width, height, depth, 0, palette);
        EXPECT_EQ(run.error, 0u);
        std::map<uint32_t, uint8_t> first_of_key;
        for (uint32_t i : undiffused_order(width, height)) {
            const auto [at, fresh] = first_of_key.emplace(key_of(pixels[i]), run.out[i]);
            if (!fresh) {
                EXPECT_EQ(run.out[i], at->second) << "a later pixel of the key takes the cached index";
                continue;
            }
            int32_t nearest = INT32_MAX;
            for (const Rgb& e : palette) nearest = std::min(nearest, distance(e, pixels[i]));
            ASSERT_LT(run.out[i], m);
            EXPECT_EQ(distance(palette[run.out[i]], pixels[i]), nearest) << "depth " << depth << ", pixel " << i;
        }
        EXPECT_EQ(run.palette, palette_of_entries(palette));
    }
}

TEST(MapDither, TheSearchStepsDecideOnUnsortedPalettesAndTies)
{
    struct Case {
        const char* what;
        std::vector<Rgb> palette;
        Rgb pixel;
        uint8_t index;
    };
    const std::vector<Case> cases = {
        {"not sorted by red: the exact entry 3 lies past where the upward scan stops",
         {{0, 0, 0}, {50, 0, 0}, {100, 0, 0}, {10, 10, 10}}, {10, 10, 10}, 0},
        {"equal entries: the binary search starts at 3, and 2 is reached before 1",
         {{0, 0, 0}, {50, 50, 50}, {50, 50, 50}, {255, 255, 255}}, {60, 60, 60}, 2},
        {"equal distances: the start entry wins over the one below it",
         {{0, 0, 0}, {96, 96, 96}, {104, 104, 104}, {255, 255, 255}}, {100, 100, 100}, 2},
        {"red equal to an entry's ends the binary search there",
         {{0, 0, 0}, {100, 0, 0}, {100, 90, 90}, {200, 0, 0}}, {100, 90, 90}, 2},
        {"a colour equal to an entry takes it at distance 0",
         {{9, 9, 9}, {200, 1, 2}, {40, 40, 40}, {7, 7, 7}}, {40, 40, 40}, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(palette_dither("mapdither", {c.pixel}, 1, 1, 2, 0, c.palette).out, Bytes{c.index}) << c.what;
}

TEST(MapDither, FlushesTheWholeRecordAndLeavesItAsItWas)
{
    const host_module* module = load_module("mapdither");
    ASSERT_NE(module, nullptr);
    SharedArena arena;
    uint8_t* source = arena.copy(rgb_bytes(photo(4, 4, 3)));
    uint8_t* destination = arena.alloc(16);
    uint8_t* record = make_record(arena, 4, 4, 4, {{1, 2, 3}, {200, 100, 50}});
    const Bytes before = bytes_of(record, 820);
    uint8_t* block = arena.block(28, {{2, host_address(source)}, {3, host_address(destination)},
                                      {4, host_address(record)}, {5, 1}});
    FlushLog log;
    host_call(module, block, 1);
    const auto flushed = log.entries();
    EXPECT_TRUE(std::any_of(flushed.begin(), flushed.end(),
                            [&](const FlushRange& f) { return f.start == record && f.length == 820; }));
    EXPECT_TRUE(std::any_of(flushed.begin(), flushed.end(),
                            [&](const FlushRange& f) { return f.start == destination && f.length == 16; }));
    EXPECT_EQ(bytes_of(record, 820), before);
}

// ---------------------------------------------------------------------------
// orderdither

// A threshold matrix in host memory: N row addresses, each row N thresholds.
uint8_t* make_matrix(SharedArena& arena, const std::vector<std::vector<int32_t>>& rows)
{
    uint8_t* table = arena.alloc(uint32_t(4 * rows.size()));
    for (size_t y = 0; y < rows.size(); ++y) {
        uint8_t* row = arena.alloc(uint32_t(4 * rows[y].size()));
        for (size_t x = 0; x < rows[y].size(); ++x) host_set_word(row, uint32_t(x), uint32_t(rows[y][x]));
        host_set_word(table, uint32_t(y), host_address(row));
    }
    return table;
}

struct OrderCall {
    uint32_t width, height;
    std::array<uint32_t, 3> levels;  // red, green, blue
    uint32_t scale, size;
    std::vector<std::vector<int32_t>> matrix;
};

Outcome order_dither(const OrderCall& c, const std::vector<Rgb>& pixels)
{
    const host_module* module = load_module("orderdither");
    if (module == nullptr) return {};
    SharedArena arena;
    const uint32_t n = c.width * c.height;
    uint8_t* destination = arena.fill(n, kUntouched);
    uint8_t* block = arena.block(52, {{2, host_address(arena.copy(rgb_bytes(pixels)))},
                                      {3, host_address(destination)},
                                      {4, c.width},
                                      {5, c.height},
                                      {6, c.levels[0]},
                                      {7, c.levels[1]},
                                      {8, c.levels[2]},
                                      {9, c.scale},
                                      {10, c.size},
                                      {11, host_address(make_matrix(arena, c.matrix))},
                                      {12, kHostError}});
    EXPECT_EQ(host_call(module, block, 1), 1u);
    return {bytes_of(destination, n), {}, host_word(block, 12)};
}

TEST(OrderDither, LevelsThresholdsAndTheMatrixColumnsFromTheRight)
{
    const Rgb black = {0, 0, 0}, white = {255, 255, 255}, grey = {64, 64, 64};
    const std::vector<int32_t> ramp = {0, 64, 128, 192};
    struct Case {
        const char* what;
        OrderCall call;
        std::vector<Rgb> pixels;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"black with threshold 0", {1, 1, {6, 6, 6}, 1, 1, {{0}}}, {black}, {0}},
        {"six levels: white is level 5 in each component, index 215", {1, 1, {6, 6, 6}, 1, 1, {{0}}}, {white}, {215}},
        {"index (r x Lg + g) x Lb + b", {1, 1, {6, 6, 6}, 1, 1, {{0}}}, {{255, 0, 128}}, {5 * 36 + 0 * 6 + 3}},
        {"N = 1: one threshold for every pixel; (t + 2v) / 256",
         {3, 1, {2, 2, 2}, 1, 1, {{200}}}, {{100, 100, 100}, {20, 20, 20}, {100, 20, 100}}, {7, 0, 5}},
        {"width 3: pixel x takes column (3 - x) AND 3", {3, 1, {2, 2, 2}, 1, 4, {ramp, ramp, ramp, ramp}},
         {grey, grey, grey}, {7, 7, 0}},
        {"width 4: the matrix shifts with the width", {4, 1, {2, 2, 2}, 1, 4, {ramp, ramp, ramp, ramp}},
         {grey, grey, grey, grey}, {0, 7, 7, 0}},
        {"row y takes matrix row y AND (N - 1)", {1, 3, {2, 2, 2}, 1, 2, {{0, 200}, {0, 0}}},
         {{100, 100, 100}, {100, 100, 100}, {100, 100, 100}}, {7, 0, 7}},
        {"N = 3 indexes with AND 2: columns and rows 0 and 2 only",
         {3, 3, {2, 2, 2}, 1, 3, {{0, 999999, 200}, {999999, 999999, 999999}, {200, 999999, 0}}},
         std::vector<Rgb>(9, {100, 100, 100}), {7, 7, 0, 7, 7, 0, 0, 0, 7}},
        {"S = 3: M = 7, Q = 768; a negative threshold, and the division drops the fraction towards 0",
         {2, 1, {3, 3, 3}, 3, 1, {{-500}}}, {white, {100, 200, 0}}, {1 * 9 + 1 * 3 + 1, 0 * 9 + 1 * 3 + 0}},
    };
    for (const Case& c : cases) {
        const Outcome run = order_dither(c.call, c.pixels);
        EXPECT_EQ(run.out, c.expected) << c.what;
        EXPECT_EQ(run.error, kHostError) << "a run leaves the error word alone: " << c.what;
    }
}

// Levels, scales and thresholds that pass 2^31 wrap as signed 32-bit
// arithmetic does, without overflowing (the sanitizer build checks that).
TEST(OrderDither, ArithmeticPastTwoToThe31WrapsAs32BitNumbers)
{
    const Rgb black = {0, 0, 0}, white = {255, 255, 255};
    // S = 2^23: Q = 2^31, which is -2^31 in 32 bits; M = 2^23 + 1.
    // Black: t / Q = -2^31 / -2^31 = 1 in each component, index 7.
    // White: (t + 255 M) wraps to -8388353, / -2^31 = 0.
    EXPECT_EQ(order_dither({2, 1, {2, 2, 2}, 1u << 23, 1, {{INT32_MIN}}}, {black, white}).out, (Bytes{7, 0}));
    // Lr = 2^31: M = (2^31 - 1) x 3 + 1 keeps its low 32 bits, 2^31 - 2;
    // red 1 gives (2^31 - 2) / 768 = 2796202, whose low byte is 170.
    EXPECT_EQ(order_dither({1, 1, {0x80000000u, 1, 1}, 3, 1, {{0}}}, {{1, 0, 0}}).out, (Bytes{170}));
    // A large threshold plus M x B passes 2^31 and turns negative: 2^31 - 1
    // + 2 x 255 wraps to -2^31 + 509, / 256 = -8388606, low byte 2.
    EXPECT_EQ(order_dither({1, 1, {2, 2, 2}, 1, 1, {{INT32_MAX}}}, {{255, 0, 0}}).out,
              (Bytes{uint8_t(2 * 4 + 255 * 2 + 255)}));
    // L = 2^30 + 1: M x 255 wraps to -2^30 + 255, / 256 = -4194303, low byte
    // 1 in each component; the index 1 + L (1 + L) passes 2^32, low byte 3.
    EXPECT_EQ(order_dither({1, 1, {0x40000001u, 0x40000001u, 0x40000001u}, 1, 1, {{0}}}, {white}).out, (Bytes{3}));
}

// ---------------------------------------------------------------------------
// curvedither

// Position d along a 16 x 16 Hilbert curve, built by quadrants rather than by
// the module's rewriting rules: from the top-left corner to the top-right.
std::pair<uint32_t, uint32_t> hilbert_point(uint32_t d)
{
    uint32_t x = 0, y = 0;
    for (uint32_t s = 1; s < 16; s *= 2, d /= 4) {
        const uint32_t rx = 1 & (d / 2), ry = 1 & (d ^ rx);
        if (ry == 0) {
            if (rx == 1) {
                x = s - 1 - x;
                y = s - 1 - y;
            }
            std::swap(x, y);
        }
        x += s * rx;
        y += s * ry;
    }
    return {x, y};
}

struct CurveOutcome {
    Bytes out;  // W x Hb
    uint32_t error;
    uint32_t requests;  // working-memory requests made
};

// `source_rows` rows of the source are given (more than the height to show
// they are not read); the destination starts as `fill`.
CurveOutcome curve_dither(const Bytes& source, uint32_t width, uint32_t height, const std::vector<Rgb>& palette,
                      uint8_t fill = 0, uint32_t destination_size = 0)
{
    const host_module* module = load_module("curvedither");
    if (module == nullptr) return {};
    SharedArena arena;
    const uint32_t padded = (width + 15) / 16 * 16 * ((height + 15) / 16 * 16);
    if (destination_size == 0) destination_size = padded;
    uint8_t* destination = arena.fill(destination_size, fill);
    uint8_t* block = arena.block(24, {{2, host_address(arena.copy(source))},
                                      {3, host_address(destination)},
                                      {4, host_address(make_record(arena, width, height, 8, palette))},
                                      {5, kHostError}});
    const uint32_t requests = platform_requests(ALLOCATOR_PPC);
    EXPECT_EQ(host_call(module, block, 1), 1u);
    return {bytes_of(destination, destination_size), host_word(block, 5), platform_requests(ALLOCATOR_PPC) - requests};
}

const std::vector<Rgb> kGreys = {{0, 0, 0}, {255, 255, 255}, {51, 51, 51}};

TEST(CurveDither, BlackStaysDarkAndOnlyTheStartingPixelsAreWritten)
{
    const CurveOutcome run = curve_dither(Bytes(32 * 16, 0), 32, 16, kGreys, 0x77);
    EXPECT_EQ(run.error, 0u);
    for (uint32_t i = 0; i < run.out.size(); ++i)
        EXPECT_EQ(run.out[i], i == 0 || i == 16 ? 0 : 0x77) << "pixel " << i << ": a 0 is written only where a block starts";
    EXPECT_EQ(run.requests, 3u) << "curve string, band tile, rewriting scratch";
}

TEST(CurveDither, WhiteIsBrightEverywhere)
{
    const CurveOutcome run = curve_dither(Bytes(32 * 32, 1), 32, 32, kGreys);
    EXPECT_EQ(run.out, Bytes(32 * 32, 1));
}

// Brightness 51: the start keeps 51, and every fifth pixel after it, the
// 4th, 9th, 14th, ... along the curve, reaches 255.
TEST(CurveDither, TheCarryRunsAlongTheHilbertCurve)
{
    const CurveOutcome run = curve_dither(Bytes(16 * 32, 2), 16, 32, kGreys);
    for (uint32_t band = 0; band < 2; ++band)
        for (uint32_t d = 0; d < 256; ++d) {
            const auto [x, y] = hilbert_point(d);
            const uint8_t expected = d >= 4 && (d - 4) % 5 == 0;
            EXPECT_EQ(run.out[(band * 16 + y) * 16 + x], expected) << "step " << d << " at " << x << ", " << y;
        }
}

// Entry 0 is white and the picture's own index 2 is dark grey (51): padding
// columns and the rows below the picture read as index 0 and light up;
// pixels of the picture light every fifth step. The source buffer holds
// further rows of index 1 (white) below the picture, which must not be read.
TEST(CurveDither, PaddingAndRowsPastThePictureReadAsIndexZero)
{
    const uint32_t width = 5, height = 7;
    Bytes source(width * 16, 1);
    std::fill_n(source.begin(), width * height, 2);
    const std::vector<Rgb> palette = {{255, 255, 255}, {255, 255, 255}, {51, 51, 51}};
    const CurveOutcome run = curve_dither(source, width, height, palette);
    ASSERT_EQ(run.out.size(), 16u * 16u);
    uint32_t carry = 51;
    for (uint32_t d = 1; d < 256; ++d) {
        const auto [x, y] = hilbert_point(d);
        const bool inside = x < width && y < height;
        carry += inside ? 51 : 255;
        const uint8_t expected = carry >= 255;
        if (expected) carry -= 255;
        EXPECT_EQ(run.out[y * 16 + x], expected) << x << ", " << y;
    }
    EXPECT_EQ(run.out[0], 0);
}

// ---------------------------------------------------------------------------
// palettetune

struct TuneOutcome {
    Bytes pixels;
    Bytes palette;
    uint32_t depth;
    uint32_t error;
};

TuneOutcome palette_tune(const Bytes& pixels, uint32_t width, uint32_t height, const std::vector<Rgb>& palette)
{
    const host_module* module = load_module("palettetune");
    if (module == nullptr) return {};
    SharedArena arena;
    uint8_t* record = make_record(arena, width, height, 8, palette);
    uint8_t* buffer = pixels.empty() ? nullptr : arena.copy(pixels);
    host_set_word(record, 200, host_address(buffer));
    host_set_word(record, 201, uint32_t(pixels.size()));
    uint8_t* block = arena.block(16, {{2, host_address(record)}, {3, kHostError}});
    EXPECT_EQ(host_call(module, block, 1), 1u);
    return {buffer ? bytes_of(buffer, uint32_t(pixels.size())) : Bytes{}, palette_of(record), host_word(record, 4),
            host_word(block, 3)};
}

std::vector<Rgb> distinct_palette()
{
    std::vector<Rgb> palette;
    for (uint32_t i = 0; i < 256; ++i) palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    return palette;
}

TEST(PaletteTune, PacksUsedColoursInOrderOfTheirFirstIndex)
{
    const std::vector<Rgb> palette = distinct_palette();
    const TuneOutcome one = palette_tune(Bytes(12, 200), 4, 3, palette);
    EXPECT_EQ(one.pixels, Bytes(12, 0));
    EXPECT_EQ(colour_at(one.palette, 0), palette[200]);
    EXPECT_TRUE(std::all_of(one.palette.begin() + 3, one.palette.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(one.depth, 1u);
    EXPECT_EQ(one.error, kHostError);

    std::vector<Rgb> twins = palette;
    twins[7] = twins[3];
    const TuneOutcome merged = palette_tune({7, 9, 3, 7, 250, 9}, 3, 2, twins);
    EXPECT_EQ(merged.pixels, (Bytes{0, 1, 0, 0, 2, 1}));
    EXPECT_EQ(colour_at(merged.palette, 0), palette[3]);
    EXPECT_EQ(colour_at(merged.palette, 1), palette[9]);
    EXPECT_EQ(colour_at(merged.palette, 2), palette[250]);
    EXPECT_EQ(merged.depth, 2u);

    // Used black entries merge like any other colour.
    std::vector<Rgb> blacks = palette;
    blacks[0] = blacks[5] = {0, 0, 0};
    const TuneOutcome dark = palette_tune({5, 0, 9, 5}, 2, 2, blacks);
    EXPECT_EQ(dark.pixels, (Bytes{0, 0, 1, 0}));
    EXPECT_EQ(colour_at(dark.palette, 1), palette[9]);

    Bytes all(256);
    for (uint32_t i = 0; i < 256; ++i) all[i] = uint8_t(255 - i);
    const TuneOutcome full = palette_tune(all, 16, 16, palette);
    EXPECT_EQ(full.pixels, all);
    EXPECT_EQ(full.palette, rgb_bytes(palette));
    EXPECT_EQ(full.depth, 8u);
}

TEST(PaletteTune, TheDepthIsTheFewestBitsForTheColoursKept)
{
    const std::map<uint32_t, uint32_t> depth_of = {{1, 1},  {2, 1},  {3, 2},  {4, 2},   {5, 3},   {8, 3},
                                                   {9, 4},  {16, 4}, {17, 5}, {32, 5},  {33, 6},  {64, 6},
                                                   {65, 7}, {128, 7}, {129, 8}, {200, 8}, {256, 8}};
    for (const auto& [colours, depth] : depth_of) {
        Bytes pixels(colours);
        for (uint32_t i = 0; i < colours; ++i) pixels[i] = uint8_t(i * 37 % 256);
        EXPECT_EQ(palette_tune(pixels, colours, 1, distinct_palette()).depth, depth) << colours << " colours";
    }
}

TEST(PaletteTune, EveryPixelKeepsItsColour)
{
    std::mt19937 random(17);
    for (uint32_t round = 0; round < 20; ++round) {
        std::vector<Rgb> palette(256);
        for (Rgb& e : palette) e = {uint8_t(random() % 4 * 85), uint8_t(random() % 3 * 127), 0};  // many twins
        const uint32_t width = 1 + random() % 40, height = 1 + random() % 30;
        Bytes pixels(width * height);
        for (uint8_t& p : pixels) p = uint8_t(random() % (1 + round * 13));
        const TuneOutcome run = palette_tune(pixels, width, height, palette);
        std::set<Rgb> used;
        for (uint32_t i = 0; i < pixels.size(); ++i) {
            EXPECT_EQ(colour_at(run.palette, run.pixels[i]), palette[pixels[i]]);
            used.insert(palette[pixels[i]]);
        }
        EXPECT_EQ(*std::max_element(run.pixels.begin(), run.pixels.end()) + 1u, used.size()) << "packed";
    }
}

// ---------------------------------------------------------------------------
// Requests that cannot be served

TEST(ColourReduction, AnEmptyPictureWritesNothing)
{
    for (auto [width, height] : {std::pair{0u, 5u}, {5u, 0u}, {0u, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0u}}) {
        for (const char* name : {"diffusedither", "mapdither", "curvedither"}) {
            const host_module* module = load_module(name);
            ASSERT_NE(module, nullptr);
            SharedArena arena;
            uint8_t* record = make_record(arena, width, height, 4);
            const Bytes before = bytes_of(record, 820);
            const uint32_t words = std::string(name) == "curvedither" ? 6 : 7;
            uint8_t* destination = arena.fill(64, kUntouched);
            uint8_t* block = arena.block(4 * words, {{2, 0}, {3, host_address(destination)}, {4, host_address(record)},
                                                     {words - 1, kHostError}});
            const uint32_t requests = platform_requests(ALLOCATOR_PPC);
            host_call(module, block, 1);
            EXPECT_EQ(host_word(block, words - 1), kHostError) << name << " " << width << " x " << height;
            EXPECT_EQ(bytes_of(destination, 64), Bytes(64, kUntouched)) << name;
            EXPECT_EQ(bytes_of(record, 820), before) << name;
            EXPECT_EQ(platform_requests(ALLOCATOR_PPC), requests) << name << " needs no memory for nothing";
        }
        const Outcome ordered = order_dither({width, height, {2, 2, 2}, 1, 1, {{0}}}, {});
        EXPECT_EQ(ordered.error, kHostError);

        // palettetune keeps no colour: all black, depth 1.
        const TuneOutcome tuned = palette_tune({}, width, height, distinct_palette());
        EXPECT_EQ(tuned.palette, Bytes(768, 0));
        EXPECT_EQ(tuned.depth, 1u);
        EXPECT_EQ(tuned.error, kHostError);
    }
}

// A bad request: error 14, and neither the destination nor the record has
// changed.
TEST(ColourReduction, BadDepthsAndShortBuffersGiveError14AndWriteNothing)
{
    struct Case {
        const char* name;
        uint32_t width, height, depth;
        uint32_t source_size, destination_size, record_size;
    };
    const std::vector<Case> cases = {
        {"diffusedither", 4, 3, 0, 36, 12, 820},      {"diffusedither", 4, 3, 9, 36, 12, 820},
        {"diffusedither", 4, 3, 24, 36, 12, 820},     {"diffusedither", 4, 3, 8, 35, 12, 820},
        {"diffusedither", 4, 3, 8, 36, 11, 820},      {"diffusedither", 4, 3, 8, 36, 12, 819},
        {"diffusedither", 65536, 65537, 8, 64, 64, 820},
        {"mapdither", 4, 3, 0, 36, 12, 820},          {"mapdither", 4, 3, 9, 36, 12, 820},
        {"mapdither", 4, 3, 8, 35, 12, 820},          {"mapdither", 4, 3, 8, 36, 11, 820},
        {"mapdither", 4, 3, 8, 36, 12, 819},          {"mapdither", 65536, 65537, 8, 64, 64, 820},
        {"curvedither", 17, 3, 8, 50, 32 * 16, 820},  {"curvedither", 17, 3, 8, 51, 32 * 16 - 1, 820},
        {"curvedither", 17, 3, 8, 51, 32 * 16, 819},  {"curvedither", 65536, 65537, 8, 64, 64, 820},
        {"curvedither", 0xFFFFFFF1u, 1, 8, 64, 64, 820},
    };
    for (const Case& c : cases) {
        const host_module* module = load_module(c.name);
        ASSERT_NE(module, nullptr);
        SharedArena arena;
        uint8_t* record = arena.fill(c.record_size, kUntouched);
        host_set_word(record, 2, c.width);
        host_set_word(record, 3, c.height);
        host_set_word(record, 4, c.depth);
        const Bytes record_before = bytes_of(record, c.record_size);
        uint8_t* destination = arena.fill(c.destination_size, kUntouched);
        const uint32_t words = std::string(c.name) == "curvedither" ? 6 : 7;
        uint8_t* block = arena.block(4 * words, {{2, host_address(arena.fill(c.source_size, 9))},
                                                 {3, host_address(destination)},
                                                 {4, host_address(record)},
                                                 {words - 1, kHostError}});
        const uint32_t requests = platform_requests(ALLOCATOR_PPC);
        host_call(module, block, 1);
        const std::string what = std::string(c.name) + " " + std::to_string(c.width) + " x " +
                                 std::to_string(c.height) + " depth " + std::to_string(c.depth);
        EXPECT_EQ(host_word(block, words - 1), 14u) << what;
        EXPECT_EQ(bytes_of(destination, c.destination_size), Bytes(c.destination_size, kUntouched)) << what;
        EXPECT_EQ(bytes_of(record, c.record_size), record_before) << what;
        EXPECT_EQ(platform_requests(ALLOCATOR_PPC), requests) << what << ": refused before any request";
    }
}

TEST(OrderDither, BadScalesSizesAndShortBuffersGiveError14AndWriteNothing)
{
    const host_module* module = load_module("orderdither");
    ASSERT_NE(module, nullptr);
    struct Case {
        const char* what;
        uint32_t width, height, scale, size;
        uint32_t source_size, destination_size, table_size, row_size;
    };
    const std::vector<Case> cases = {
        {"scale 0", 4, 2, 0, 2, 24, 8, 8, 8},
        {"scale 2^24: S x 256 is 0 in 32 bits", 4, 2, 1u << 24, 2, 24, 8, 8, 8},
        {"scale 3 x 2^24", 4, 2, 3u << 24, 2, 24, 8, 8, 8},
        {"matrix size 0", 4, 2, 1, 0, 24, 8, 8, 8},
        {"source short", 4, 2, 1, 2, 23, 8, 8, 8},
        {"destination short", 4, 2, 1, 2, 24, 7, 8, 8},
        {"row table short", 4, 2, 1, 2, 24, 8, 7, 8},
        {"matrix row short", 4, 2, 1, 2, 24, 8, 8, 7},
        {"65536 x 65537", 65536, 65537, 1, 2, 64, 64, 8, 8},
        {"huge matrix size", 4, 2, 1, 0x40000000, 24, 8, 8, 8},
    };
    for (const Case& c : cases) {
        SharedArena arena;
        uint8_t* rows[2] = {arena.alloc(c.row_size), arena.alloc(c.row_size)};
        uint8_t* table = arena.alloc(c.table_size);
        for (uint32_t i = 0; i < 2 && 4 * i + 4 <= c.table_size; ++i) host_set_word(table, i, host_address(rows[i]));
        uint8_t* destination = arena.fill(c.destination_size, kUntouched);
        uint8_t* block = arena.block(52, {{2, host_address(arena.fill(c.source_size, 100))},
                                          {3, host_address(destination)},
                                          {4, c.width},
                                          {5, c.height},
                                          {6, 4},
                                          {7, 4},
                                          {8, 4},
                                          {9, c.scale},
                                          {10, c.size},
                                          {11, host_address(table)},
                                          {12, kHostError}});
        host_call(module, block, 1);
        EXPECT_EQ(host_word(block, 12), 14u) << c.what;
        EXPECT_EQ(bytes_of(destination, c.destination_size), Bytes(c.destination_size, kUntouched)) << c.what;
    }
}

TEST(PaletteTune, AShortRecordOrPixelBufferGivesError14AndChangesNothing)
{
    const host_module* module = load_module("palettetune");
    ASSERT_NE(module, nullptr);
    for (auto [record_size, pixels_size] : {std::pair{819u, 12u}, {820u, 11u}, {820u, 0u}}) {
        SharedArena arena;
        uint8_t* record = arena.fill(record_size, kUntouched);
        uint8_t* pixels = pixels_size ? arena.fill(pixels_size, 7) : nullptr;
        host_set_word(record, 2, 4);
        host_set_word(record, 3, 3);
        host_set_word(record, 4, 8);
        if (record_size == 820) host_set_word(record, 200, host_address(pixels));
        const Bytes before = bytes_of(record, record_size);
        uint8_t* block = arena.block(16, {{2, host_address(record)}, {3, kHostError}});
        host_call(module, block, 1);
        EXPECT_EQ(host_word(block, 3), 14u) << record_size << ", " << pixels_size;
        EXPECT_EQ(bytes_of(record, record_size), before);
        if (pixels) {
            EXPECT_EQ(bytes_of(pixels, pixels_size), Bytes(pixels_size, 7));
        }
    }
}

// Every request of working memory failing in turn: error 3, the destination
// and the record as they were, nothing left allocated. A run that is never
// refused makes the requests the storage list names, in that number.
TEST(ColourReduction, EachMissingRequestGivesError3AndLeavesEverythingAsItWas)
{
    struct Case {
        const char* what;
        const char* name;
        uint32_t depth, mode;
        std::vector<Rgb> pixels;
        uint32_t requests;
    };
    const std::vector<Rgb> varied = photo(20, 10, 4);
    const std::vector<Rgb> few = repeat({{8, 16, 24}, {200, 100, 0}}, 200);
    const std::vector<Case> cases = {
        {"depth 1: histogram, palette, cache, six rows", "diffusedither", 1, 0, varied, 9},
        {"median cut: and the box list", "diffusedither", 4, 2, varied, 10},
        {"few keys: the box list all the same", "diffusedither", 6, 1, few, 10},
        {"mode 0", "mapdither", 4, 0, varied, 7},
        {"mode 1", "mapdither", 4, 1, varied, 7},
    };
    for (const Case& c : cases) {
        const host_module* module = load_module(c.name);
        ASSERT_NE(module, nullptr);
        for (uint32_t n = 1;; ++n) {
            SharedArena arena;
            uint8_t* destination = arena.fill(200, kUntouched);
            uint8_t* record = make_record(arena, 20, 10, c.depth, {{1, 2, 3}, {4, 5, 6}});
            const Bytes record_before = bytes_of(record, 820);
            uint8_t* block = arena.block(28, {{2, host_address(arena.copy(rgb_bytes(c.pixels)))},
                                              {3, host_address(destination)},
                                              {4, host_address(record)},
                                              {5, c.mode},
                                              {6, kHostError}});
            const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
            const uint32_t requests = platform_requests(ALLOCATOR_PPC);
            platform_fail_nth_alloc(ALLOCATOR_PPC, n);
            host_call(module, block, 1);
            platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
            const uint32_t made = platform_requests(ALLOCATOR_PPC) - requests;
            EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << c.what << ", request " << n;
            if (made < n) {
                EXPECT_EQ(host_word(block, 6), 0u) << c.what;
                EXPECT_EQ(made, c.requests) << c.what;
                break;
            }
            EXPECT_EQ(host_word(block, 6), 3u) << c.what << ", request " << n;
            EXPECT_EQ(bytes_of(destination, 200), Bytes(200, kUntouched)) << c.what << ", request " << n;
            EXPECT_EQ(bytes_of(record, 820), record_before) << c.what << ", request " << n;
        }
    }

    // curvedither: the string buffer, the band tile, the rewriting scratch.
    for (uint32_t n = 1; n <= 3; ++n) {
        platform_fail_nth_alloc(ALLOCATOR_PPC, n);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        const CurveOutcome run = curve_dither(Bytes(20 * 20, 1), 20, 20, kGreys, kUntouched);
        platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
        EXPECT_EQ(run.error, 3u) << "request " << n;
        EXPECT_EQ(run.out, Bytes(32 * 32, kUntouched)) << "request " << n;
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
    }
}

} // namespace
