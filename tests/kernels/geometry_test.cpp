// Geometry and filter kernels: the rotation's mapping, offsets, clamping and
// truncation (turntrue, turnindexed), halving and doubling (doublesize,
// halfsize), the sharpen and blur formulas and their margins (crispen,
// soften), and the bounds of every record and buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t E = 0xEE;                  // a byte the kernel must leave alone
constexpr uint32_t kHostError = 0xC0FFEE00;  // what the host put in the error word

// Bytes 0, 1, 2, ... scrambled, so that every pixel of a small picture differs.
Bytes pattern(uint32_t size, uint32_t seed = 1)
{
    Bytes b(size);
    for (uint32_t i = 0; i < size; ++i) b[i] = uint8_t((i + seed) * 97 + (i >> 8) * 13);
    return b;
}

// A picture record of width x height whose buffer holds `pixels` (or, with
// no pixels given, `buffer_size` bytes of E); word 201 gives the buffer's
// length unless `length_word` says otherwise.
uint8_t* record(SharedArena& arena, uint32_t width, uint32_t height, const Bytes& pixels, uint32_t buffer_size = 0,
                std::optional<uint32_t> length_word = std::nullopt)
{
    uint8_t* r = arena.fill(820, 0x5A);
    host_set_word(r, 2, width);
    host_set_word(r, 3, height);
    const uint8_t* buffer = pixels.empty() ? (buffer_size ? arena.fill(buffer_size, E) : nullptr) : arena.copy(pixels);
    const uint32_t length = pixels.empty() ? buffer_size : uint32_t(pixels.size());
    host_set_word(r, 200, buffer ? host_address(buffer) : 0);
    host_set_word(r, 201, length_word.value_or(length));
    return r;
}

uint8_t* pixels_of(const uint8_t* r) { return static_cast<uint8_t*>(shared_pointer(host_word(r, 200))); }

// =============================================================================
// Rotation

struct Turned {
    Bytes pixels;  // the destination after the run
    uint32_t error;
};

// Turns `source` (sw x sh) into a destination of dw x dh filled with E.
Turned turn(const char* module, uint32_t sw, uint32_t sh, const Bytes& source, uint32_t dw, uint32_t dh,
            int32_t millidegrees, int32_t cx, int32_t cy)
{
    const uint32_t bpp = std::string(module) == "turntrue" ? 3 : 1;
    SharedArena arena;
    uint8_t* from = record(arena, sw, sh, source);
    uint8_t* to = record(arena, dw, dh, {}, dw * dh * bpp);
    uint8_t* block = arena.block(32, {{2, host_address(from)}, {3, host_address(to)}, {4, uint32_t(millidegrees)},
                                      {5, uint32_t(cx)}, {6, uint32_t(cy)}, {7, kHostError}});
    EXPECT_EQ(host_call(load_module(module), block, 1), 1u);
    return {bytes_of(pixels_of(to), dw * dh * bpp), host_word(block, 7)};
}

// Source pixel (x, y) of a palette picture holds 1 + x + 16y, so the pixel a
// destination took names where it came from.
Bytes numbered(uint32_t w, uint32_t h)
{
    Bytes b(w * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) b[y * w + x] = uint8_t(1 + x + 16 * y);
    return b;
}

struct Probe {
    const char* what;
    int32_t millidegrees;
    uint32_t sw, sh, dw, dh;
    int32_t cx, cy;
    uint32_t x, y;                           // the destination pixel
    std::optional<std::pair<int, int>> from;  // the source pixel it takes; none: unwritten
};

TEST(Rotation, EachDestinationPixelTakesTheSourcePixelItsPointTruncatesTo)
{
    // 360 degrees makes theta exactly 0 (cos 1, sin 0): a pure shift by the
    // offsets. 306.870 degrees turns by theta = 53.130 degrees, cos 0.6 and
    // sin 0.8 to five places, about (0, 0): destination (X, Y) maps to about
    // (0.6X - 0.8Y, 0.8X + 0.6Y).
    const std::vector<Probe> probes = {
        {"360: same size, a plain copy", 360000, 4, 3, 4, 3, 1, 1, 3, 2, {{3, 2}}},
        {"360: twice as wide, offx = sw / 2", 360000, 3, 2, 6, 2, 0, 0, 1, 0, {{0, 0}}},
        {"360: twice as wide, right of the source", 360000, 3, 2, 6, 2, 0, 0, 4, 1, std::nullopt},
        {"360: X = -1.0 exactly leaves the pixel", 360000, 3, 2, 6, 2, 0, 0, 0, 0, std::nullopt},
        {"360: narrower by 3, offx = -1 (toward zero)", 360000, 5, 2, 2, 2, 0, 0, 0, 1, {{1, 1}}},
        {"360: lower by 1, offy = 0 (toward zero)", 360000, 2, 3, 2, 2, 0, 0, 1, 1, {{1, 1}}},
        {"360: the centre changes nothing", 360000, 4, 3, 4, 3, 3, 0, 2, 1, {{2, 1}}},
        {"53.13: tx = -0.39999 truncates to column 0", 306870, 4, 4, 4, 4, 0, 0, 2, 2, {{0, 2}}},
        {"53.13: tx = -0.99999 still takes column 0", 306870, 4, 4, 4, 4, 0, 0, 1, 2, {{0, 2}}},
        {"53.13: tx = -1.6 leaves the pixel", 306870, 4, 4, 4, 4, 0, 0, 0, 2, std::nullopt},
        {"53.13 about (1, 2): tx = 3.8 (sw - 0.2) takes column 3", 306870, 4, 4, 4, 4, 1, 2, 3, 0, {{3, 2}}},
        {"53.13: ty = 2.9999982 takes row 2", 306870, 4, 4, 4, 4, 0, 0, 3, 1, {{1, 2}}},
        {"53.13: ty = 4.2 lies below the source", 306870, 4, 4, 4, 4, 0, 0, 3, 3, std::nullopt},
        {"90 about (2, 2): offset (0, 1) takes offset (1, 0)", 90000, 5, 5, 5, 5, 2, 2, 2, 3, {{3, 2}}},
        {"90 about (2, 2): offset (-1, 0) takes offset (0, 1)", 90000, 5, 5, 5, 5, 2, 2, 1, 2, {{2, 3}}},
        {"90 about (2, 2): offset (1, 0) gets ty a hair below 1, row 0", 90000, 5, 5, 5, 5, 2, 2, 3, 2, {{2, 0}}},
        {"180 about (3, 1): tx a hair below 4 takes column 3", 180000, 4, 4, 4, 4, 3, 1, 2, 2, {{3, 0}}},
        {"180 about (99, 99): the centre is clamped to (sw, sh), both included", 180000, 4, 4, 8, 8, 99, 99, 7, 7,
         {{2, 3}}},
        {"0 goes through the formula: ty = 0.9999999999999998", 0, 3, 3, 3, 3, 0, 0, 1, 1, {{1, 0}}},
        {"0 goes through the formula: (2, 2) takes (2, 1)", 0, 3, 3, 3, 3, 0, 0, 2, 2, {{2, 1}}},
        {"0: ty = -4.9e-16 truncates to row 0, not -1", 0, 3, 3, 3, 3, 0, 0, 2, 0, {{2, 0}}},
    };
    for (const auto& p : probes) {
        SCOPED_TRACE(p.what);
        const Turned t = turn("turnindexed", p.sw, p.sh, numbered(p.sw, p.sh), p.dw, p.dh, p.millidegrees, p.cx, p.cy);
        const uint8_t expected = p.from ? uint8_t(1 + p.from->first + 16 * p.from->second) : E;
        EXPECT_EQ(t.pixels[p.y * p.dw + p.x], expected);
        EXPECT_EQ(t.error, kHostError);
    }
}

TEST(Rotation, ZeroDegreesIsNotAPlainCopy)
{
    const Turned t = turn("turnindexed", 3, 3, numbered(3, 3), 3, 3, 0, 0, 0);
    // Every row below the first takes the row above it where X > 0: the sine
    // of 2 pi leaves ty a hair below the whole number.
    EXPECT_EQ(t.pixels, (Bytes{1, 2, 3, 17, 2, 3, 33, 18, 19}));
}

TEST(Rotation, CentresOutsideTheSourceAreClamped)
{
    const Bytes source = numbered(40, 30);
    for (int32_t angle : {37500, -123456, 90000}) {
        SCOPED_TRACE(angle);
        EXPECT_EQ(turn("turnindexed", 40, 30, source, 40, 30, angle, -5, 99999).pixels,
                  turn("turnindexed", 40, 30, source, 40, 30, angle, 0, 30).pixels);
        EXPECT_EQ(turn("turnindexed", 40, 30, source, 40, 30, angle, 99999, -5).pixels,
                  turn("turnindexed", 40, 30, source, 40, 30, angle, 40, 0).pixels);
    }
}

TEST(Rotation, TrueColourMovesWholePixelsLikeThePaletteModule)
{
    const uint32_t sw = 7, sh = 5, dw = 9, dh = 6;
    const Bytes indices = numbered(sw, sh);
    Bytes rgb;
    for (uint8_t v : indices) rgb.insert(rgb.end(), {v, uint8_t(255 - v), uint8_t(v ^ 0xA5)});
    for (int32_t angle : {0, 33333, 90000, 180000, -45000, 1000000}) {
        SCOPED_TRACE(angle);
        const Turned palette = turn("turnindexed", sw, sh, indices, dw, dh, angle, 3, 2);
        const Turned truecolour = turn("turntrue", sw, sh, rgb, dw, dh, angle, 3, 2);
        Bytes expected;
        for (uint8_t v : palette.pixels) {
            const Bytes pixel = v == E ? Bytes{E, E, E} : Bytes{v, uint8_t(255 - v), uint8_t(v ^ 0xA5)};
            expected.insert(expected.end(), pixel.begin(), pixel.end());
        }
        EXPECT_EQ(truecolour.pixels, expected);
        EXPECT_EQ(truecolour.error, kHostError);
    }
}

struct RotationBounds {
    const char* what;
    uint32_t sw, sh, source_size, dw, dh, destination_size;
    bool source_record, destination_record;
    uint32_t error;
};

TEST(Rotation, RecordsAndBuffersAreCheckedBeforeAnyWrite)
{
    const std::vector<RotationBounds> cases = {
        {"source buffer one byte short", 4, 4, 15, 4, 4, 16, true, true, 14},
        {"destination buffer one byte short", 4, 4, 16, 4, 4, 15, true, true, 14},
        {"no source record", 4, 4, 16, 4, 4, 16, false, true, 14},
        {"no destination record", 4, 4, 16, 4, 4, 16, true, false, 14},
        {"destination 2^31 x 2^31 over a small buffer", 4, 4, 16, 0x80000000u, 0x80000000u, 16, true, true, 14},
        {"source 2^32-1 x 2^32-1 over a small buffer", 0xFFFFFFFFu, 0xFFFFFFFFu, 16, 4, 4, 16, true, true, 14},
        {"destination width 0, height 2^32-1: nothing to do", 4, 4, 16, 0, 0xFFFFFFFFu, 0, true, true, kHostError},
        {"source width 0, height 2^32-1: nothing lands", 0, 0xFFFFFFFFu, 0, 4, 4, 16, true, true, kHostError},
    };
    for (const char* module : {"turntrue", "turnindexed"}) {
        const uint32_t bpp = std::string(module) == "turntrue" ? 3 : 1;
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(module) + ": " + c.what);
            SharedArena arena;
            uint8_t* from = record(arena, c.sw, c.sh, c.source_size ? pattern(c.source_size * bpp) : Bytes{});
            uint8_t* to = record(arena, c.dw, c.dh, {}, c.destination_size * bpp);
            uint8_t* short_record = arena.alloc(819);
            std::memcpy(short_record, c.source_record ? to : from, 819);
            uint8_t* block = arena.block(32, {{2, host_address(c.source_record ? from : short_record)},
                                              {3, host_address(c.destination_record ? to : short_record)},
                                              {4, 45000}, {7, kHostError}});
            host_call(load_module(module), block, 1);
            EXPECT_EQ(host_word(block, 7), c.error);
            if (c.destination_size) {
                EXPECT_EQ(bytes_of(pixels_of(to), c.destination_size * bpp), Bytes(c.destination_size * bpp, E));
            }
        }
    }
}

// =============================================================================
// Halving and doubling

struct Scaled {
    Bytes destination;
    uint32_t error;
};

// Runs doublesize or halfsize on `source` into a destination of
// `destination_size` bytes filled with E.
Scaled scale(const char* module, uint32_t w, uint32_t h, uint32_t depth, const Bytes& source,
             uint32_t destination_size)
{
    SharedArena arena;
    uint8_t* in = source.empty() ? nullptr : arena.copy(source);
    uint8_t* out = destination_size ? arena.fill(destination_size, E) : nullptr;
    uint8_t* block = arena.block(32, {{2, host_address(in)}, {3, host_address(out)}, {4, w}, {5, h}, {6, depth},
                                      {7, kHostError}});
    EXPECT_EQ(host_call(load_module(module), block, 1), 1u);
    return {out ? bytes_of(out, destination_size) : Bytes{}, host_word(block, 7)};
}

struct ScaleCase {
    const char* what;
    const char* module;
    uint32_t w, h, depth;
    Bytes source;
    Bytes expected;  // the whole destination buffer, E where nothing lands
};

TEST(Scaling, CopiesPixelsByTheirSize)
{
    const uint8_t A = 'A', B = 'B';
    const Bytes p = pattern(48);
    const std::vector<ScaleCase> cases = {
        {"2 x 1 doubled", "doublesize", 2, 1, 8, {A, B}, {A, A, B, B, A, A, B, B}},
        {"depth 1 is one byte a pixel", "doublesize", 2, 1, 1, {A, B}, {A, A, B, B, A, A, B, B}},
        {"depth 4 is one byte a pixel", "doublesize", 1, 2, 4, {A, B}, {A, A, A, A, B, B, B, B}},
        {"three-byte pixels repeat whole", "doublesize", 2, 1, 24, {1, 2, 3, 4, 5, 6},
         {1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6, 1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6}},
        {"depth 16 writes nothing", "doublesize", 2, 1, 16, {A, B, A, B}, Bytes(24, E)},
        {"depth 25 writes nothing", "doublesize", 1, 1, 25, {A, B, A}, Bytes(12, E)},
        {"5 x 3 halved keeps (0, 0) and (2, 0)", "halfsize", 5, 3, 8,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, {0, 2}},
        {"4 x 4 halved at depth 24", "halfsize", 4, 4, 24, p,
         {p[0], p[1], p[2], p[6], p[7], p[8], p[24], p[25], p[26], p[30], p[31], p[32]}},
        {"1 pixel wide: nothing", "halfsize", 1, 5, 8, {1, 2, 3, 4, 5}, {E, E}},
        {"1 pixel high: nothing", "halfsize", 5, 1, 24, pattern(15), {E, E, E}},
        {"depth 16 writes nothing", "halfsize", 2, 2, 16, pattern(12), {E, E, E}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + ": " + c.what);
        const Scaled s = scale(c.module, c.w, c.h, c.depth, c.source, uint32_t(c.expected.size()));
        EXPECT_EQ(s.destination, c.expected);
        EXPECT_EQ(s.error, kHostError);
    }
}

TEST(Scaling, DoublingThenHalvingGivesThePictureBack)
{
    for (uint32_t depth : {8u, 24u})
        for (uint32_t w = 1; w <= 9; ++w)
            for (uint32_t h = 1; h <= 5; ++h) {
                SCOPED_TRACE("depth " + std::to_string(depth) + ", " + std::to_string(w) + " x " + std::to_string(h));
                const uint32_t bpp = depth == 24 ? 3 : 1;
                const Bytes picture = pattern(w * h * bpp, w * 7 + h);
                const Scaled doubled = scale("doublesize", w, h, depth, picture, 4 * w * h * bpp);
                EXPECT_EQ(scale("halfsize", 2 * w, 2 * h, depth, doubled.destination, w * h * bpp).destination,
                          picture);
            }
}

TEST(Scaling, FlushLengthsAreTheWholeDoubledPictureAndTheSourceSizeFromTheHalfDestination)
{
    struct Flush {
        const char* module;
        uint32_t w, h, depth, destination, flushed;
    };
    for (const Flush& c : {Flush{"doublesize", 3, 2, 24, 72, 72}, Flush{"doublesize", 3, 2, 4, 24, 24},
                           Flush{"halfsize", 5, 3, 8, 2, 15}, Flush{"halfsize", 4, 4, 24, 12, 48},
                           Flush{"halfsize", 4, 4, 16, 12, 48}}) {
        SCOPED_TRACE(c.module);
        SharedArena arena;
        uint8_t* out = arena.alloc(c.destination);
        uint8_t* block = arena.block(32, {{2, host_address(arena.copy(pattern(c.w * c.h * 3)))},
                                          {3, host_address(out)}, {4, c.w}, {5, c.h}, {6, c.depth}});
        FlushLog log;
        host_call(load_module(c.module), block, 1);
        const auto f = log.entries();
        ASSERT_EQ(f.size(), 2u);
        EXPECT_EQ(f[0].start, out);
        EXPECT_EQ(f[0].length, c.flushed);
        EXPECT_EQ(f[1].start, block);
    }
}

struct ScaleBounds {
    const char* what;
    const char* module;
    uint32_t w, h, depth, source_size, destination_size, error;
};

TEST(Scaling, BuffersAreCheckedBeforeAnyWrite)
{
    const std::vector<ScaleBounds> cases = {
        {"halfsize needs only the half-size destination", "halfsize", 5, 5, 24, 75, 12, kHostError},
        {"halfsize: destination one byte short", "halfsize", 5, 5, 24, 75, 11, 14},
        {"halfsize: source one byte short", "halfsize", 5, 5, 8, 24, 4, 14},
        {"doublesize: destination one byte short", "doublesize", 3, 2, 8, 6, 23, 14},
        {"doublesize: source one byte short", "doublesize", 3, 2, 24, 17, 72, 14},
        {"doublesize: 4 x 2^31 x 2^31 is 2^64", "doublesize", 0x80000000u, 0x80000000u, 8, 16, 16, 14},
        {"doublesize: w x h x 3 passes 64 bits", "doublesize", 0xFFFFFFFFu, 0xFFFFFFFFu, 24, 16, 16, 14},
        {"halfsize: w x h x 3 passes 64 bits", "halfsize", 0xFFFFFFFFu, 0xFFFFFFFFu, 24, 16, 16, 14},
        {"doublesize: width 0, height 2^32-1 ends at once", "doublesize", 0, 0xFFFFFFFFu, 8, 0, 0, kHostError},
        {"halfsize: width 1, height 2^32-1 makes nothing", "halfsize", 1, 0xFFFFFFFFu, 24, 0, 0, kHostError},
        {"halfsize: width 2^32-1, height 1 makes nothing", "halfsize", 0xFFFFFFFFu, 1, 8, 0, 0, kHostError},
        {"depth 16 takes no buffers", "doublesize", 0x80000000u, 0x80000000u, 16, 0, 0, kHostError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Scaled s = scale(c.module, c.w, c.h, c.depth, pattern(c.source_size), c.destination_size);
        EXPECT_EQ(s.error, c.error);
        if (c.error != kHostError) {
            EXPECT_EQ(s.destination, Bytes(c.destination_size, E)) << "nothing written";
        }
    }
}

// =============================================================================
// Sharpen and blur

struct Filtered {
    Bytes pixels;
    uint32_t error;
};

// Filters a w x h true-colour `source` into a destination filled with E.
Filtered filter(const char* module, uint32_t w, uint32_t h, const Bytes& source)
{
    SharedArena arena;
    uint8_t* from = record(arena, w, h, source);
    uint8_t* to = record(arena, 0, 0, {}, 3 * w * h);  // its own width and height are not read
    uint8_t* block = arena.block(20, {{2, host_address(from)}, {3, host_address(to)}, {4, kHostError}});
    EXPECT_EQ(host_call(load_module(module), block, 1), 1u);
    return {bytes_of(pixels_of(to), 3 * w * h), host_word(block, 4)};
}

struct SampleCase {
    const char* what;
    const char* module;
    uint8_t centre;
    std::vector<uint8_t> neighbours;  // eight, row by row around the centre
    uint8_t expected;
};

TEST(Filters, OneSampleFromItsNeighbourhood)
{
    const std::vector<SampleCase> cases = {
        {"values 0 to 8 blur to 4", "soften", 4, {0, 1, 2, 3, 5, 6, 7, 8}, 4},
        {"a sum of 17 blurs to 1 (truncated)", "soften", 9, {1, 1, 1, 1, 1, 1, 1, 1}, 1},
        {"all 255 blur to 255", "soften", 255, {255, 255, 255, 255, 255, 255, 255, 255}, 255},
        {"a flat 120 stays", "crispen", 120, {120, 120, 120, 120, 120, 120, 120, 120}, 120},
        {"200 among 100s: L = 800, q = 156", "crispen", 200, {100, 100, 100, 100, 100, 100, 100, 100}, 44},
        {"100 among 90s: L = 80, q = 7", "crispen", 100, {90, 90, 90, 90, 90, 90, 90, 90}, 93},
        {"10 among 255s: the wrapped product gives 0", "crispen", 10, {255, 255, 255, 255, 255, 255, 255, 255}, 0},
        {"1 a hair darker than its neighbours gives 0", "crispen", 1, {1, 1, 1, 1, 1, 1, 1, 2}, 0},
        {"255 among 0s: L = 2040, q = 510", "crispen", 255, {0, 0, 0, 0, 0, 0, 0, 0}, 0},
        {"0 stays 0", "crispen", 0, {255, 0, 255, 0, 255, 0, 255, 0}, 0},
        {"uneven neighbours: L = 8 x 50 - 280 = 120, q = 5", "crispen", 50, {10, 20, 30, 40, 40, 40, 50, 50}, 45},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + ": " + c.what);
        // A 4 x 4 picture: only pixel (1, 1) lies inside the margins. Each
        // channel holds the case, offset so that channels cannot mix.
        Bytes source(48, 0);
        const uint8_t hood[9] = {c.neighbours[0], c.neighbours[1], c.neighbours[2], c.neighbours[3], c.centre,
                                 c.neighbours[4], c.neighbours[5], c.neighbours[6], c.neighbours[7]};
        for (uint32_t k = 0; k < 9; ++k)
            for (uint32_t ch = 0; ch < 3; ++ch) source[3 * ((k / 3) * 4 + k % 3) + ch] = ch == 1 ? hood[k] : 0;
        const Filtered f = filter(c.module, 4, 4, source);
        EXPECT_EQ(f.pixels[3 * 5 + 1], c.expected);
        EXPECT_EQ(f.pixels[3 * 5 + 0], 0) << "red is its own channel";
        EXPECT_EQ(f.pixels[3 * 5 + 2], 0) << "blue is its own channel";
        EXPECT_EQ(f.error, kHostError);
    }
}

TEST(Filters, OnlyRowsOneToHMinus3AndPixelsOneToWMinus3AreWritten)
{
    for (const char* module : {"crispen", "soften"})
        for (uint32_t w = 1; w <= 7; ++w)
            for (uint32_t h = 1; h <= 6; ++h) {
                SCOPED_TRACE(std::string(module) + " " + std::to_string(w) + " x " + std::to_string(h));
                Bytes source(3 * w * h);
                for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(40 + i * 7 % 100);
                const Filtered f = filter(module, w, h, source);
                EXPECT_EQ(f.error, kHostError);
                for (uint32_t y = 0; y < h; ++y)
                    for (uint32_t x = 0; x < w; ++x) {
                        const bool inside = y >= 1 && y + 3 <= h && x >= 1 && x + 3 <= w;
                        for (uint32_t ch = 0; ch < 3; ++ch)
                            EXPECT_EQ(f.pixels[3 * (y * w + x) + ch] != E, inside) << x << ", " << y;
                    }
            }
}

TEST(Filters, TheOutputLandsInTheRowAndColumnOfItsCentre)
{
    // One bright sample at pixel (2, 3) of a 6 x 7 picture spreads by the blur
    // over the 3 x 3 block around it, and nowhere else.
    const uint32_t w = 6, h = 7;
    Bytes source(3 * w * h, 0);
    source[3 * (3 * w + 2) + 2] = 90;
    const Filtered f = filter("soften", w, h, source);
    for (uint32_t y = 1; y + 2 < h; ++y)
        for (uint32_t x = 1; x + 2 < w; ++x) {
            const bool near = y >= 2 && y <= 4 && x >= 1 && x <= 3;
            EXPECT_EQ(f.pixels[3 * (y * w + x) + 2], near ? 10 : 0) << x << ", " << y;
            EXPECT_EQ(f.pixels[3 * (y * w + x)], 0);
        }
}

TEST(Filters, RecordsAndBuffersAreCheckedBeforeAnyWrite)
{
    struct Case {
        const char* what;
        uint32_t w, h, source_size, destination_size;
        bool records;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"source one byte short", 5, 5, 74, 75, true, 14},
        {"destination one byte short", 5, 5, 75, 74, true, 14},
        {"records of 819 bytes", 5, 5, 75, 75, false, 14},
        {"2^31 x 2^31 over small buffers", 0x80000000u, 0x80000000u, 75, 75, true, 14},
        {"width 3, height 2^32-1: nothing inside, no buffer needed", 3, 0xFFFFFFFFu, 0, 0, true, kHostError},
        {"width 2^32-1, height 2: nothing inside", 0xFFFFFFFFu, 2, 0, 0, true, kHostError},
    };
    for (const char* module : {"crispen", "soften"})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(module) + ": " + c.what);
            SharedArena arena;
            uint8_t* from = record(arena, c.w, c.h, c.source_size ? pattern(c.source_size) : Bytes{});
            uint8_t* to = record(arena, c.w, c.h, {}, c.destination_size);
            if (!c.records) {
                from = arena.copy({from, 819});
                to = arena.copy({to, 819});
            }
            uint8_t* block = arena.block(20, {{2, host_address(from)}, {3, host_address(to)}, {4, kHostError}});
            host_call(load_module(module), block, 1);
            EXPECT_EQ(host_word(block, 4), c.error);
            if (c.destination_size && c.records) {
                EXPECT_EQ(bytes_of(pixels_of(to), c.destination_size), Bytes(c.destination_size, E));
            }
        }
}

TEST(Filters, TheExportedFiltersTakeRecordsAndCheckThemToo)
{
    using Filter = void (*)(const void* source, void* destination);
    for (const char* module : {"crispen", "soften"}) {
        SCOPED_TRACE(module);
        const std::string name = std::string("KQLI_") + module;
        const auto routine = reinterpret_cast<Filter>(host_module_symbol(load_module(module), name.c_str()));
        ASSERT_NE(routine, nullptr);
        const Bytes source = pattern(3 * 6 * 5);
        const Filtered by_block = filter(module, 6, 5, source);

        SharedArena arena;
        uint8_t* from = record(arena, 6, 5, source);
        uint8_t* to = record(arena, 6, 5, {}, 90);
        routine(from, to);
        EXPECT_EQ(bytes_of(pixels_of(to), 90), by_block.pixels);

        uint8_t* short_to = record(arena, 6, 5, {}, 89);
        routine(from, short_to);
        EXPECT_EQ(bytes_of(pixels_of(short_to), 89), Bytes(89, E));
    }
}

// =============================================================================
// The modules that take picture records

TEST(PictureModules, FlushTheDestinationBufferByItsLengthWord)
{
    // The rotations flush the destination record too; the filters do not.
    struct Case {
        const char* module;
        uint32_t block_size, pixel_bytes;
        bool flushes_record;
    };
    using Range = std::pair<const uint8_t*, uint32_t>;
    for (const Case& c : {Case{"turntrue", 32, 3, true}, Case{"turnindexed", 32, 1, true},
                          Case{"crispen", 20, 3, false}, Case{"soften", 20, 3, false}}) {
        SCOPED_TRACE(c.module);
        SharedArena arena;
        uint8_t* from = record(arena, 5, 5, pattern(25 * c.pixel_bytes));
        uint8_t* to = record(arena, 5, 5, {}, 25 * c.pixel_bytes, 20);  // what the host's length word says
        uint8_t* block = arena.block(c.block_size, {{2, host_address(from)}, {3, host_address(to)}});
        FlushLog log;
        host_call(load_module(c.module), block, 1);
        std::vector<Range> expected = {{pixels_of(to), 20}};
        if (c.flushes_record) expected.push_back({to, 820});
        expected.push_back({block, c.block_size});
        std::vector<Range> flushed;
        for (const FlushRange& f : log.entries()) flushed.push_back({f.start, f.length});
        EXPECT_EQ(flushed, expected);
    }
}

} // namespace
