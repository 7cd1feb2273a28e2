// Planar and chunky conversions: the layout cases, round trips, and the
// safety rule on short or missing buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs a planar module on the given source; the destination is `out_size`
// bytes, pre-set to `out_fill`. Returns the destination's bytes.
Bytes run(const char* name, uint32_t block_size, const Bytes& source, uint32_t out_size, uint32_t width,
          uint32_t height, uint32_t planes, uint8_t out_fill = 0)
{
    SharedArena arena;
    const host_module* module = load_module(name);
    if (module == nullptr) return {};
    uint8_t* src = arena.copy(source);
    uint8_t* dst = arena.fill(out_size, out_fill);
    uint8_t* block = arena.block(block_size, {{2, host_address(src)}, {3, host_address(dst)}, {4, width}, {5, height}});
    if (block_size == 32) host_set_word(block, 6, planes);
    host_set_word(block, block_size / 4 - 1, 0x77);
    host_call(module, block, 1);
    EXPECT_EQ(host_word(block, block_size / 4 - 1), 0x77u) << name << ": a run leaves the error word alone";
    return bytes_of(dst, out_size);
}

Bytes to_planes(const Bytes& chunky, uint32_t width, uint32_t height, uint32_t planes, uint8_t fill = 0)
{
    return run("chunkytoplanes", 32, chunky, planes * height * ((width + 7) / 8), width, height, planes, fill);
}

Bytes to_chunky(const Bytes& planar, uint32_t width, uint32_t height, uint32_t planes)
{
    return run("planestochunky", 32, planar, width * height, width, height, planes);
}

struct LayoutCase {
    const char* what;
    uint32_t width, height, planes;
    Bytes chunky;
    Bytes planar;  // planes one after another
};

TEST(Planar, LayoutCases)
{
    const LayoutCase cases[] = {
        {"width 1: one byte per row, moved on at each row's end", 1, 3, 1, {1, 0, 1}, {0x80, 0x00, 0x80}},
        {"width 8: one byte per row", 8, 2, 1, {1, 0, 1, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {0xAB, 0x01}},
        {"width 9: the ninth pixel is bit 7 of the second byte", 9, 1, 1, {0, 0, 0, 0, 0, 0, 0, 0, 1}, {0x00, 0x80}},
        {"three planes on 5: planes 0 and 2", 1, 1, 3, {5}, {0x80, 0x00, 0x80}},
        {"two planes, two rows, width 10", 10, 2, 2,
         {3, 2, 1, 0, 0, 0, 0, 0, 1, 2, /**/ 0, 0, 0, 0, 0, 0, 0, 3, 3, 0},
         {0xA0, 0x80, 0x01, 0x80, /**/ 0xC0, 0x40, 0x01, 0x80}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(to_planes(c.chunky, c.width, c.height, c.planes), c.planar) << c.what;
        EXPECT_EQ(to_chunky(c.planar, c.width, c.height, c.planes), c.chunky) << c.what;
    }
}

TEST(Planar, BitsAtAndAboveThePlaneCountAreNotLookedAt)
{
    // 0xFD has bits 0 and 2 set among the first three, like 5.
    EXPECT_EQ(to_planes({0xFD}, 1, 1, 3), (Bytes{0x80, 0x00, 0x80}));

    // Planes 4 to 7 exist in memory but a 4-plane run does not read them.
    Bytes planar(8, 0x80);
    const Bytes chunky = run("planestochunky", 32, planar, 1, 1, 1, 4);
    EXPECT_EQ(chunky, Bytes{0x0F});
}

TEST(Planar, RowPaddingBitsAreNeverPixels)
{
    // Width 3: the last five bits of each plane row byte pad it. Were they
    // taken for pixels, row 0 would reach into row 1.
    EXPECT_EQ(to_chunky({0xFF, 0x00}, 3, 2, 1), (Bytes{1, 1, 1, 0, 0, 0}));
}

TEST(Planar, NoPixelsWritesNothingHoweverManyRows)
{
    // Width 0 with four billion rows: nothing to convert, and no long walk.
    for (const char* name : {"chunkytoplanes", "planestochunky", "truetoplanes", "planestotrue"}) {
        const uint32_t size = std::string(name).find("true") != std::string::npos ? 28 : 32;
        EXPECT_EQ(run(name, size, {1}, 1, 0, 0xFFFFFFFFu, 8, 0x5A), Bytes{0x5A}) << name;
    }
}

TEST(Planar, OutputBitsAreOnlyEverSet)
{
    // The host clears the output; what it left there is kept, never cleared.
    EXPECT_EQ(to_planes({0, 0}, 2, 1, 1, 0x11), Bytes{0x11});
    EXPECT_EQ(to_planes({1, 0}, 2, 1, 1, 0x11), Bytes{0x91});
    const Bytes chunky = run("planestochunky", 32, {0x80, 0x00}, 2, 2, 1, 2, 0x40);
    EXPECT_EQ(chunky, (Bytes{0x41, 0x40}));
}

TEST(Planar, ChunkyThroughPlanesComesBackForEveryWidthAndDepth)
{
    std::mt19937 random(7);
    for (uint32_t planes = 1; planes <= 8; ++planes) {
        for (uint32_t width = 1; width <= 17; ++width) {
            const uint32_t height = 3;
            Bytes chunky(width * height);
            for (auto& b : chunky) b = uint8_t(random() & ((1u << planes) - 1));
            const Bytes planar = to_planes(chunky, width, height, planes);
            ASSERT_EQ(to_chunky(planar, width, height, planes), chunky) << width << " x " << planes;
        }
    }
}

TEST(Planar, TrueColourThroughTwentyFourPlanesComesBack)
{
    std::mt19937 random(11);
    for (uint32_t width = 1; width <= 17; ++width) {
        const uint32_t height = 2;
        const uint32_t row_bytes = (width + 7) / 8;
        Bytes rgb(width * height * 3);
        for (auto& b : rgb) b = uint8_t(random());
        const Bytes planar = run("truetoplanes", 28, rgb, 24 * row_bytes * height, width, height, 24);
        const Bytes back = run("planestotrue", 28, planar, width * height * 3, width, height, 24);
        ASSERT_EQ(back, rgb) << width;
    }
}

TEST(Planar, TrueColourPlanesCarryRedGreenBlueBitsInOrder)
{
    // One pixel: red 0x01, green 0x80, blue 0x03.
    const Bytes planar = run("truetoplanes", 28, {0x01, 0x80, 0x03}, 24, 1, 1, 24);
    Bytes expected(24, 0);
    expected[0] = 0x80;       // red bit 0
    expected[8 + 7] = 0x80;   // green bit 7
    expected[16] = 0x80;      // blue bit 0
    expected[17] = 0x80;      // blue bit 1
    EXPECT_EQ(planar, expected);
}

struct Module {
    const char* name;
    uint32_t block_size;
    uint32_t source_size;       // for width 9, height 2 (3 planes for the palette modules)
    uint32_t destination_size;
};

const Module kModules[] = {
    {"chunkytoplanes", 32, 18, 12},
    {"planestochunky", 32, 12, 18},
    {"truetoplanes", 28, 54, 96},
    {"planestotrue", 28, 96, 54},
};

// Runs with the given buffers and checks the safety rule: error 14 and the
// destination untouched.
void expect_refused(const Module& m, uint32_t source, uint32_t destination, uint8_t* dst, uint32_t dst_size,
                    uint32_t width = 9, uint32_t height = 2)
{
    SharedArena arena;
    const host_module* module = load_module(m.name);
    ASSERT_NE(module, nullptr);
    const Bytes before = dst ? bytes_of(dst, dst_size) : Bytes{};
    uint8_t* block = arena.block(m.block_size, {{2, source}, {3, destination}, {4, width}, {5, height}});
    if (m.block_size == 32) host_set_word(block, 6, 3);
    FlushLog log;
    host_call(module, block, 1);
    EXPECT_EQ(host_word(block, m.block_size / 4 - 1), 14u) << m.name;
    if (dst) {
        EXPECT_EQ(bytes_of(dst, dst_size), before) << m.name << ": nothing written";
    }
    EXPECT_EQ(log.entries().size(), 1u) << m.name << ": only the block is flushed";
}

TEST(PlanarSafety, ADestinationOneByteShortIsRefused)
{
    for (const auto& m : kModules) {
        SharedArena arena;
        uint8_t* src = arena.fill(m.source_size, 0xFF);
        uint8_t* dst = arena.alloc(m.destination_size - 1);
        expect_refused(m, host_address(src), host_address(dst), dst, m.destination_size - 1);
    }
}

TEST(PlanarSafety, ASourceOneByteShortOrAnAddressInNoBlockIsRefused)
{
    for (const auto& m : kModules) {
        SharedArena arena;
        uint8_t* short_src = arena.fill(m.source_size - 1, 0xFF);
        uint8_t* dst = arena.alloc(m.destination_size);
        expect_refused(m, host_address(short_src), host_address(dst), dst, m.destination_size);
        expect_refused(m, 0, host_address(dst), dst, m.destination_size);
        expect_refused(m, 0xFFFFFF00u, host_address(dst), dst, m.destination_size);

        uint8_t* src = arena.fill(m.source_size, 0xFF);
        // Inside a block the host has freed (away from its start, which the
        // next allocation may take again).
        uint8_t* gone = host_alloc(8192);
        const uint32_t freed = host_address(gone) + 4096;
        host_free(gone);
        expect_refused(m, host_address(src), freed, nullptr, 0);
    }
}

TEST(PlanarSafety, SizesThatWouldWrapIn32BitsAreRefused)
{
    // 0x80000000 x 2 pixels is 2^32 bytes: a 32-bit product would be 0.
    for (const auto& m : kModules) {
        SharedArena arena;
        uint8_t* src = arena.fill(64, 0xFF);
        uint8_t* dst = arena.alloc(64);
        expect_refused(m, host_address(src), host_address(dst), dst, 64, 0x80000000u, 2);
        expect_refused(m, host_address(src), host_address(dst), dst, 64, 0xFFFFFFFFu, 0xFFFFFFFFu);
    }
}

} // namespace
