// The RGB8, Photo-CD and DEEP kernels: rgb8load, rgb8store, yccconvert,
// deepload.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t E = 0xEE;              // a byte the kernel must leave alone
constexpr uint32_t kHostError = 0xABCD;  // what the host put in the error word
constexpr uint32_t kHuge = 0xFFFFFFFF;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes times(const Bytes& pattern, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i) out = out + pattern;
    return out;
}

// Runs a module on a block of `size` bytes with argument words from word 2
// on; returns the block.
uint8_t* run(const char* name, uint32_t size, SharedArena& arena, std::vector<uint32_t> words)
{
    uint8_t* block = arena.block(size);
    for (size_t i = 0; i < words.size(); ++i) host_set_word(block, uint32_t(2 + i), words[i]);
    host_set_word(block, size / 4 - 1, kHostError);
    host_call(load_module(name), block, 1);
    return block;
}

uint32_t error_of(const uint8_t* block, uint32_t size) { return host_word(block, size / 4 - 1); }

// --- rgb8load ------------------------------------------------------------------

TEST(Rgb8Load, ExpandsRecordsIntoPixels)
{
    const Bytes A = {10, 20, 30}, B = {40, 50, 60}, C = {70, 80, 90}, D = {1, 2, 3};
    struct Case {
        const char* name;
        uint32_t width, height;
        Bytes records;
        Bytes expected;  // 3 x width x height bytes, then 3 bytes past the picture
        uint32_t error = kHostError;
    };
    const std::vector<Case> cases = {
        {"bit 7 is not part of the count: 0x85 and 0x05 give 5, 0x00 and 0x01 give 1", 4, 3,
         A + Bytes{0x85} + B + Bytes{0x05} + C + Bytes{0x00} + D + Bytes{0x01},
         times(A, 5) + times(B, 5) + C + D + Bytes{E, E, E}},
        {"a record runs on from one row into the next", 2, 2, A + Bytes{3} + B + Bytes{1},
         times(A, 3) + B + Bytes{E, E, E}},
        {"pixels past the picture's last are not stored", 2, 2, A + Bytes{2} + B + Bytes{0x7F},
         times(A, 2) + times(B, 2) + Bytes{E, E, E}},
        {"127 pixels from one record", 127, 1, A + Bytes{0xFF}, times(A, 127) + Bytes{E, E, E}},
        {"the source ends inside a record", 3, 1, A + Bytes{2} + B, times(A, 2) + Bytes{E, E, E, E, E, E}, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        const uint32_t size = 3 * c.width * c.height;
        uint8_t* destination = arena.fill(size + 3, E);
        const uint8_t* block = run("rgb8load", 32, arena,
                                   {host_address(arena.copy(c.records)), host_address(destination), c.width,
                                    c.height, size});
        EXPECT_EQ(bytes_of(destination, size + 3), c.expected);
        EXPECT_EQ(error_of(block, 32), c.error);
    }
}

TEST(Rgb8Load, DestinationOneByteShortGivesError14AndNoWrite)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(5, E);
    const uint8_t* block =
        run("rgb8load", 32, arena, {host_address(arena.copy(Bytes{1, 2, 3, 2})), host_address(destination), 2, 1, 6});
    EXPECT_EQ(error_of(block, 32), 14u);
    EXPECT_EQ(bytes_of(destination, 5), Bytes(5, E));
}

TEST(Rgb8Load, FlushesTheLengthTheHostNamesWithinTheDestinationsBlock)
{
    for (uint32_t asked : {6u, 2u, 1000u}) {
        SCOPED_TRACE(asked);
        SharedArena arena;
        uint8_t* destination = arena.alloc(9);
        const uint32_t records = host_address(arena.copy(Bytes{1, 2, 3, 2}));
        uint8_t* block = arena.block(32, {{2, records}, {3, host_address(destination)}, {4, 2}, {5, 1}, {6, asked}});
        FlushLog log;
        host_call(load_module("rgb8load"), block, 1);
        const auto entries = log.entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].start, destination);
        EXPECT_EQ(entries[0].length, std::min(asked, 9u));
    }
}

// --- rgb8store -----------------------------------------------------------------

struct StoreResult {
    Bytes records;  // what the destination holds, up to its whole size
    uint32_t written, error;
};

StoreResult run_rgb8store(const Bytes& source, uint32_t width, uint32_t height, uint32_t room)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(room, E);
    const uint8_t* block =
        run("rgb8store", 32, arena, {host_address(arena.copy(source)), host_address(destination), width, height});
    return {bytes_of(destination, room), host_word(block, 6), error_of(block, 32)};
}

TEST(Rgb8Store, PacksRunsOfEqualPixelsUpTo127)
{
    const Bytes A = {10, 20, 30}, B = {10, 20, 31};
    struct Case {
        const char* name;
        uint32_t width, height;
        Bytes pixels;  // may go on past the picture
        Bytes records;
    };
    const std::vector<Case> cases = {
        {"A A A B", 4, 1, times(A, 3) + B, A + Bytes{3} + B + Bytes{1}},
        {"200 equal pixels", 200, 1, times(A, 200), A + Bytes{127} + A + Bytes{73}},
        {"a run goes on across row ends", 2, 3, times(A, 5) + B, A + Bytes{5} + B + Bytes{1}},
        {"the last run stops at the picture's last pixel", 2, 1, times(A, 4), A + Bytes{2}},
        {"pixels differing in one byte are not equal", 3, 1, A + B + A, A + Bytes{1} + B + Bytes{1} + A + Bytes{1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t room = 4 * c.width * c.height;
        const StoreResult got = run_rgb8store(c.pixels, c.width, c.height, room);
        EXPECT_EQ(got.written, c.records.size());
        EXPECT_EQ(got.records, c.records + Bytes(room - c.records.size(), E));
        EXPECT_EQ(got.error, kHostError);
    }
}

// Below the worst case of a record per pixel only a wrong host passes: the
// records that fit whole are written and reported, and the run says 14.
TEST(Rgb8Store, ADestinationBelowTheWorstCaseTakesTheWholeRecordsThatFitAndGivesError14)
{
    const Bytes distinct = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    struct Case {
        const char* name;
        Bytes pixels;
        uint32_t room;
        Bytes records;
    };
    const std::vector<Case> cases = {
        {"two records and half of one", distinct, 10, {1, 1, 1, 1, 2, 2, 2, 1, E, E}},
        {"every record fits, yet the room is short of the worst case", times({9, 9, 9}, 4), 4, {9, 9, 9, 4}},
        {"no room at all", distinct, 3, {E, E, E}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const StoreResult got = run_rgb8store(c.pixels, 4, 1, c.room);
        EXPECT_EQ(got.records, c.records);
        EXPECT_EQ(got.written, (c.records.size() - std::count(c.records.begin(), c.records.end(), E)) / 4 * 4);
        EXPECT_EQ(got.error, 14u);
    }
}

TEST(Rgb8Store, SourceOneByteShortGivesError14AndNoWrite)
{
    const StoreResult got = run_rgb8store(Bytes(11, 5), 2, 2, 16);
    EXPECT_EQ(got.error, 14u);
    EXPECT_EQ(got.records, Bytes(16, E));
}

TEST(Rgb8, StoredRecordsLoadBackToThePicture)
{
    std::mt19937 random(5);
    for (auto [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {7, 3}, {130, 4}, {300, 2}}) {
        SCOPED_TRACE(width);
        // Stretches of 1 to 300 equal pixels.
        Bytes pixels;
        while (pixels.size() < 3 * width * height) {
            const Bytes colour = {uint8_t(random()), uint8_t(random()), uint8_t(random() % 2)};
            pixels = pixels + times(colour, 1 + random() % (random() % 4 ? 4 : 300));
        }
        pixels.resize(3 * width * height);
        const StoreResult stored = run_rgb8store(pixels, width, height, 4 * width * height);
        ASSERT_EQ(stored.error, kHostError);
        SharedArena arena;
        uint8_t* back = arena.alloc(3 * width * height);
        run("rgb8load", 32, arena,
            {host_address(arena.copy({stored.records.data(), stored.written})), host_address(back), width, height,
             3 * width * height});
        EXPECT_EQ(bytes_of(back, 3 * width * height), pixels);
    }
}

// --- yccconvert ----------------------------------------------------------------

struct Ycc {
    uint32_t width, height;
    Bytes even_luma, odd_luma, first_chroma, second_chroma;
};

struct YccResult {
    Bytes pixels;  // the destination, 3 x width x height bytes and 3 past them
    uint32_t error;
};

YccResult run_yccconvert(const Ycc& in)
{
    SharedArena arena;
    const uint32_t size = 3 * in.width * in.height;
    uint8_t* destination = arena.fill(size + 3, E);
    const uint8_t* block = run("yccconvert", 40, arena,
                               {host_address(arena.copy(in.even_luma)), host_address(arena.copy(in.odd_luma)),
                                host_address(arena.copy(in.first_chroma)), host_address(arena.copy(in.second_chroma)),
                                host_address(destination), in.width, in.height});
    return {bytes_of(destination, size + 3), error_of(block, 40)};
}

// The formula with its constants as fractions; the fractions are exact in
// binary, so a double gives the fixed-point sum to the last bit and the clamp
// sees the same value.
uint8_t reference_byte(double value) { return uint8_t(std::clamp(std::floor(value), 0.0, 255.0)); }

Bytes reference_pixel(uint8_t luma, uint8_t first, uint8_t second)
{
    const double y = 1.3583984375 * luma, a = double(first) - 156, b = double(second) - 137;
    return {reference_byte(y + 1.8214874267578125 * b),
            reference_byte(y - 0.4302978515625 * a - 0.927093505859375 * b), reference_byte(y + 2.2178955078125 * a)};
}

TEST(YccConvert, ConstantsAndClamps)
{
    struct Case {
        const char* name;
        uint8_t luma, first, second;
        Bytes rgb;
    };
    const std::vector<Case> cases = {
        {"luma 0, neutral chroma: black", 0, 156, 137, {0, 0, 0}},
        {"luma 100, neutral chroma", 100, 156, 137, {135, 135, 135}},
        {"luma 188: 255 by the shift", 188, 156, 137, {255, 255, 255}},
        {"luma 189: 255 by the upper limit", 189, 156, 137, {255, 255, 255}},
        {"second chroma 255: red 214, green negative", 0, 156, 255, {214, 0, 0}},
        {"first chroma 255: blue 219, green negative", 0, 255, 137, {0, 0, 219}},
        {"second chroma 0, luma 255: red brought down, green and blue over the limit", 255, 156, 0, {96, 255, 255}},
        {"first chroma 0, luma 255", 255, 0, 137, {255, 255, 0}},
        {"green from both chromas", 100, 100, 200, {250, 101, 11}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const YccResult got = run_yccconvert({2, 2, Bytes(2, c.luma), Bytes(2, c.luma), {c.first}, {c.second}});
        EXPECT_EQ(got.pixels, (times(c.rgb, 4) + Bytes{E, E, E}));
        EXPECT_EQ(reference_pixel(c.luma, c.first, c.second), c.rgb) << "the reference agrees";
        EXPECT_EQ(got.error, kHostError);
    }
}

// Every pair of chroma samples once, in a 512 x 512 picture whose lumas run
// through every value with each chroma: each pixel against the formula
// evaluated in floating point from its own samples.
TEST(YccConvert, EveryChromaPairAgainstAFloatingPointEvaluation)
{
    constexpr uint32_t kSide = 512, kBlocks = kSide / 2;
    Ycc in{kSide, kSide, Bytes(kSide * kSide / 2), Bytes(kSide * kSide / 2), Bytes(kBlocks * kBlocks),
           Bytes(kBlocks * kBlocks)};
    const auto luma_at = [&](uint32_t y, uint32_t x) -> uint8_t& {
        return (y % 2 ? in.odd_luma : in.even_luma)[y / 2 * kSide + x];
    };
    for (uint32_t by = 0; by < kBlocks; ++by)
        for (uint32_t bx = 0; bx < kBlocks; ++bx) {
            in.first_chroma[by * kBlocks + bx] = uint8_t(bx);
            in.second_chroma[by * kBlocks + bx] = uint8_t(by);
            for (uint32_t k = 0; k < 4; ++k) luma_at(2 * by + k / 2, 2 * bx + k % 2) = uint8_t(4 * (bx + by) + k);
        }
    const YccResult got = run_yccconvert(in);
    ASSERT_EQ(got.error, kHostError);
    int wrong = 0;
    for (uint32_t y = 0; y < kSide && wrong < 5; ++y)
        for (uint32_t x = 0; x < kSide && wrong < 5; ++x) {
            const uint32_t block = y / 2 * kBlocks + x / 2;
            const Bytes expected = reference_pixel(luma_at(y, x), in.first_chroma[block], in.second_chroma[block]);
            const Bytes pixel(got.pixels.begin() + 3 * (y * kSide + x), got.pixels.begin() + 3 * (y * kSide + x + 1));
            if (pixel != expected) {
                ++wrong;
                ADD_FAILURE() << "pixel (" << x << ", " << y << ")";
            }
        }
    EXPECT_EQ(got.pixels[3 * kSide * kSide], E);
}

TEST(YccConvert, OddSizesAndShortBuffersGiveError14AndNoWrite)
{
    const Bytes four(4, 100), two(2, 156);
    struct Case {
        const char* name;
        Ycc in;
    };
    const std::vector<Case> cases = {
        {"odd width", {3, 2, four, four, two, two}},
        {"odd height", {2, 3, four, four, two, two}},
        {"width 0, height 2^32 - 1", {0, kHuge, four, four, two, two}},
        {"an even-row luma one byte short", {4, 2, {1, 2, 3}, four, two, two}},
        {"a second chroma one byte short", {4, 2, four, four, two, {1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* destination = arena.fill(36, E);
        const uint8_t* block = run("yccconvert", 40, arena,
                                   {host_address(arena.copy(c.in.even_luma)), host_address(arena.copy(c.in.odd_luma)),
                                    host_address(arena.copy(c.in.first_chroma)),
                                    host_address(arena.copy(c.in.second_chroma)), host_address(destination),
                                    c.in.width, c.in.height});
        EXPECT_EQ(error_of(block, 40), 14u);
        EXPECT_EQ(bytes_of(destination, 36), Bytes(36, E));
    }
}

TEST(YccConvert, TheExportedRoutineConvertsAndLeavesOddSizesAlone)
{
    using ConvertFn = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, uint32_t,
                               uint32_t);
    const auto convert =
        reinterpret_cast<ConvertFn>(host_module_symbol(load_module("yccconvert"), "KQLI_YUVToRGB_Convert"));
    ASSERT_NE(convert, nullptr);
    const Bytes even = {0, 100}, odd = {188, 189}, first = {156}, second = {137};
    Bytes out(12, E);
    convert(even.data(), odd.data(), first.data(), second.data(), out.data(), 2, 2);
    EXPECT_EQ(out, (Bytes{0, 0, 0, 135, 135, 135, 255, 255, 255, 255, 255, 255}));
    Bytes untouched(18, E);
    convert(even.data(), odd.data(), first.data(), second.data(), untouched.data(), 3, 2);
    EXPECT_EQ(untouched, Bytes(18, E));
}

// --- deepload ------------------------------------------------------------------

TEST(DeepLoad, DecodesRowsAndCarriesRunsAcrossRowEndsInTheSource)
{
    struct Case {
        const char* name;
        uint32_t width, height, extra;
        Bytes source;
        Bytes expected;      // row length x height bytes, then one past them
        Bytes source_after;  // the source with its rewritten run bytes
        uint32_t error = kHostError;
    };
    const std::vector<Case> cases = {
        {"a run fills both rows and is left in the source for the second", 1, 2, 0, {0xC6, 0x05},
         {5, 5, 5, 5, 5, 5, E}, {0xC3, 0x05}},
        {"one extra byte: rows of four bytes a pixel", 2, 1, 1, {1, 2, 0xC3, 3, 4, 0xC2, 0xBF},
         {1, 2, 3, 3, 3, 4, 0xBF, 0xBF, E}, {1, 2, 0xC3, 3, 4, 0xC2, 0xBF}},
        {"0xC0 produces nothing and skips its byte", 1, 1, 0, {0xC0, 9, 7, 0xC0, 9, 0xC2, 8},
         {7, 8, 8, E}, {0xC0, 9, 7, 0xC0, 9, 0xC2, 8}},
        {"a long run over three rows, its rest left at the end", 2, 3, 0, {0xFF, 0x44, 0xC5, 1}, Bytes(18, 0x44) + Bytes{E},
         {0xED, 0x44, 0xC5, 1}},
        {"the source ends before the last row", 1, 3, 0, {0xC4, 2, 9, 9}, {2, 2, 2, 2, 9, 9, E, E, E, E},
         {0xC1, 2, 9, 9}, 14},
        {"a run byte without its value", 1, 1, 0, {1, 0xC2}, {1, E, E, E}, {1, 0xC2}, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* source = arena.copy(c.source);
        const uint32_t size = c.width * (3 + c.extra) * c.height;
        uint8_t* destination = arena.fill(size + 1, E);
        const uint8_t* block = run("deepload", 36, arena,
                                   {host_address(source), host_address(destination), c.width, c.height, c.extra});
        EXPECT_EQ(bytes_of(destination, uint32_t(c.expected.size())), c.expected);
        EXPECT_EQ(bytes_of(source, uint32_t(c.source.size())), c.source_after);
        EXPECT_EQ(host_word(block, 7), size);
        EXPECT_EQ(error_of(block, 36), c.error);
    }
}

TEST(DeepLoad, DestinationOneByteShortGivesError14AndNoWrite)
{
    SharedArena arena;
    const Bytes runs = {0xC6, 0x05};
    uint8_t* source = arena.copy(runs);
    uint8_t* destination = arena.fill(5, E);
    const uint8_t* block = run("deepload", 36, arena, {host_address(source), host_address(destination), 1, 2, 0});
    EXPECT_EQ(error_of(block, 36), 14u);
    EXPECT_EQ(bytes_of(destination, 5), Bytes(5, E));
    EXPECT_EQ(bytes_of(source, 2), runs) << "the source is not rewritten either";
    EXPECT_EQ(host_word(block, 7), 0u) << "nothing reported";
}

TEST(DeepLoad, UnPackRLE24DecodesLikeTheBlockAndReturnsTheBytesWritten)
{
    using UnpackFn = uint32_t (*)(uint8_t*, uint8_t*, uint32_t, uint32_t, uint32_t);
    const auto unpack = reinterpret_cast<UnpackFn>(host_module_symbol(load_module("deepload"), "UnPackRLE_24"));
    ASSERT_NE(unpack, nullptr);
    // The caller's own memory, and a shared source that ends early: the reads
    // stop at the end of its block.
    Bytes source = {0xC6, 0x05}, rows(8, E);
    EXPECT_EQ(unpack(source.data(), rows.data(), 1, 2, 0), 6u);
    EXPECT_EQ(rows, (Bytes{5, 5, 5, 5, 5, 5, E, E}));
    EXPECT_EQ(source, (Bytes{0xC3, 0x05}));

    SharedArena arena;
    uint8_t* shared = arena.copy(Bytes{0xC4, 7});
    Bytes more(8, E);
    EXPECT_EQ(unpack(shared, more.data(), 2, 1, 1), 8u);
    EXPECT_EQ(more, (Bytes{7, 7, 7, 7, E, E, E, E}));
}

// Counts no buffer could hold, or with nothing to do per row: each module
// ends at once.
TEST(Rgb8YccDeep, HugeCountsEndAtOnce)
{
    SharedArena arena;
    const auto some = [&] { return host_address(arena.alloc(16)); };
    struct Case {
        const char* name;
        uint32_t size;
        std::vector<uint32_t> words;
        uint32_t error;
    };
    const Case cases[] = {
        {"rgb8load", 32, {some(), some(), 0, kHuge, kHuge}, kHostError},
        {"rgb8load", 32, {some(), some(), kHuge, kHuge, 16}, 14},
        {"rgb8store", 32, {some(), some(), 0, kHuge}, kHostError},
        {"rgb8store", 32, {some(), some(), 65536, 65536}, 14},
        {"yccconvert", 40, {some(), some(), some(), some(), some(), 0, kHuge - 1}, kHostError},
        {"yccconvert", 40, {some(), some(), some(), some(), some(), kHuge - 1, 0}, kHostError},
        {"yccconvert", 40, {some(), some(), some(), some(), some(), 1u << 31, 1u << 31}, 14},
        {"deepload", 36, {some(), some(), 0, kHuge, 0}, kHostError},
        {"deepload", 36, {some(), some(), kHuge, 2, kHuge}, 14},
        {"deepload", 36, {some(), some(), 65536, 65536, 32}, 14},
    };
    for (const auto& c : cases) {
        const uint8_t* block = run(c.name, c.size, arena, c.words);
        EXPECT_EQ(error_of(block, c.size), c.error) << c.name << " " << c.words[2] << " " << c.words[3];
    }
}

} // namespace
