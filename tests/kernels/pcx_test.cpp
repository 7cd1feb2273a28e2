// The PCX kernels: pcxload4, pcxload8, pcxload24, pcxstore4, pcxstore8,
// pcxstore24.
#include <gtest/gtest.h>

#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t E = 0xEE;             // a byte the kernel must leave alone
constexpr uint32_t kHostError = 0xABCD;  // what the host put in the error word

// Runs a module on a block of `size` bytes with argument words from word 2
// on; returns the block.
uint8_t* run_pcx(const char* name, uint32_t size, SharedArena& arena, std::vector<uint32_t> words)
{
    uint8_t* block = arena.block(size);
    for (size_t i = 0; i < words.size(); ++i) host_set_word(block, uint32_t(2 + i), words[i]);
    host_set_word(block, size / 4 - 1, kHostError);
    host_call(load_module(name), block, 1);
    return block;
}

uint32_t error_of(const uint8_t* block, uint32_t size) { return host_word(block, size / 4 - 1); }

Bytes repeat(uint8_t v, size_t n) { return Bytes(n, v); }
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// --- decoding ----------------------------------------------------------------

struct Load8Case {
    const char* name;
    uint32_t row_length, height, bytes_per_line;
    Bytes source;
    Bytes expected;       // row_length x height, E where nothing lands
    Bytes source_after;   // the source with its rewritten run bytes
    uint32_t error = kHostError;
};

TEST(PcxLoad8, DecodesLinesIntoRows)
{
    const std::vector<Load8Case> cases = {
        {"a run across the line end is left in the source for the next line", 3, 2, 3, {0xC5, 0x07, 0x01},
         {7, 7, 7, 7, 7, 1}, {0xC2, 0x07, 0x01}},
        {"0xBF stands for itself; 0xC0 stores nothing", 3, 1, 3, {0xBF, 0xC0, 0x55, 0xC2, 0x03},
         {0xBF, 3, 3}, {0xBF, 0xC0, 0x55, 0xC2, 0x03}},
        {"lines longer than the row are cut", 2, 2, 3, {1, 2, 3, 4, 5, 6}, {1, 2, 4, 5}, {1, 2, 3, 4, 5, 6}},
        {"a run past the row is cut but counts in its line", 2, 2, 3, {0xC3, 9, 4, 5, 6}, {9, 9, 4, 5},
         {0xC3, 9, 4, 5, 6}},
        {"lines shorter than the row leave the rest", 4, 2, 2, {1, 2, 0xC2, 3}, {1, 2, E, E, 3, 3, E, E},
         {1, 2, 0xC2, 3}},
        {"the source ends before the last line", 3, 2, 3, {0xC5, 0x07}, {7, 7, 7, 7, 7, E}, {0xC2, 0x07}, 14},
        {"a run byte without its value", 2, 1, 2, {1, 0xC3}, {1, E}, {1, 0xC3}, 14},
        {"a run across the end of a line of 63 bytes", 63, 2, 63, {0x01, 0xFF, 0x07, 0xFE, 0x09},
         Bytes{1} + repeat(7, 62) + Bytes{7} + repeat(9, 62), {0x01, 0xC1, 0x07, 0xFE, 0x09}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* source = arena.copy(c.source);
        const uint32_t size = c.row_length * c.height;
        uint8_t* destination = arena.fill(size, E);
        const uint8_t* block =
            run_pcx("pcxload8", 40, arena,
                    {host_address(source), host_address(destination), c.row_length, c.height, 0, c.bytes_per_line});
        EXPECT_EQ(bytes_of(destination, size), c.expected);
        EXPECT_EQ(bytes_of(source, uint32_t(c.source.size())), c.source_after);
        EXPECT_EQ(host_word(block, 8), size);
        EXPECT_EQ(error_of(block, 40), c.error);
    }
}

TEST(PcxLoad8, DestinationOneByteShortGivesError14AndNoWrite)
{
    SharedArena arena;
    const Bytes runs = {0xC5, 0x07, 0x01};
    uint8_t* source = arena.copy(runs);
    uint8_t* destination = arena.fill(5, E);
    const uint8_t* block = run_pcx("pcxload8", 40, arena, {host_address(source), host_address(destination), 3, 2, 0, 3});
    EXPECT_EQ(error_of(block, 40), 14u);
    EXPECT_EQ(bytes_of(destination, 5), Bytes(5, E));
    EXPECT_EQ(bytes_of(source, 3), runs) << "the source is not rewritten either";
}

TEST(PcxLoad24, InterleavesPlanesIntoPixels)
{
    struct Case {
        const char* name;
        uint32_t width, depth, bytes_per_line;
        Bytes source, expected;
    };
    const std::vector<Case> cases = {
        {"depth 24, width 2", 2, 24, 2, {10, 20, 30, 40, 50, 60}, {10, 30, 50, 20, 40, 60}},
        {"a run carried from red into green; bytes past the width dropped", 2, 24, 3,
         {10, 20, 0xC2, 99, 30, 40, 50, 60, 7}, {10, 99, 50, 20, 30, 60}},
        {"depth 32: four bytes per pixel", 1, 32, 1, {1, 2, 3, 4}, {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* destination = arena.fill(uint32_t(c.expected.size()), E);
        const uint8_t* block = run_pcx("pcxload24", 40, arena,
                                       {host_address(arena.copy(c.source)), host_address(destination), c.width, 1,
                                        c.depth, c.bytes_per_line});
        EXPECT_EQ(bytes_of(destination, uint32_t(c.expected.size())), c.expected);
        EXPECT_EQ(host_word(block, 8), c.expected.size());
        EXPECT_EQ(error_of(block, 40), kHostError);
    }
}

TEST(PcxLoad4, CopiesTheFirstRowBytesOfEachLineIntoItsPlane)
{
    // Width 12: plane rows of 2 bytes from lines of 3; two planes, two rows.
    SharedArena arena;
    const Bytes lines = {0x11, 0x12, 0x13, 0x21, 0x22, 0x23, 0x31, 0xC4, 0x32, 0x42, 0x43};
    uint8_t* destination = arena.fill(8, E);
    uint8_t* line_buffer = arena.alloc(3);
    const uint8_t* block = run_pcx("pcxload4", 44, arena,
                                   {host_address(arena.copy(lines)), host_address(destination),
                                    host_address(line_buffer), 12, 2, 2, 3});
    EXPECT_EQ(bytes_of(destination, 8), (Bytes{0x11, 0x12, 0x31, 0x32, 0x21, 0x22, 0x32, 0x32}));
    EXPECT_EQ(host_word(block, 9), 8u);
    EXPECT_EQ(error_of(block, 44), kHostError);
}

TEST(PcxLoad4, LinesShorterThanAPlaneRowGiveError14)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(4, E);
    const uint8_t* block = run_pcx("pcxload4", 44, arena,
                                   {host_address(arena.fill(8, 1)), host_address(destination),
                                    host_address(arena.alloc(1)), 12, 2, 1, 1});
    EXPECT_EQ(error_of(block, 44), 14u);
    EXPECT_EQ(bytes_of(destination, 4), Bytes(4, E));
}

// --- encoding ----------------------------------------------------------------

struct Store8Case {
    const char* name;
    uint32_t bytes_per_line, height;
    Bytes source, expected;
};


TEST(PcxStore8, CodesRowsOrStoresThemPlainly)
{
    const std::vector<Store8Case> cases = {
        {"runs leave the last equal byte single; 0xC0 and up as runs of one", 6, 3,
         {1, 1, 1, 1, 1, 2, 0xC8, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4},
         {0xC4, 1, 1, 2, 0xC1, 0xC8, 0xC4, 3, 3, 0xC5, 4, 4}},
        {"70 equal bytes", 70, 2, repeat(5, 70) + repeat(6, 70), {0xFF, 5, 0xC6, 5, 5, 0xFF, 6, 0xC6, 6, 6}},
        {"height 1 is always plain", 4, 1, {1, 1, 1, 1}, {1, 1, 1, 1}},
        {"a lone 0xC0 takes a run-of-one prefix", 8, 2, Bytes{0xC0} + repeat(5, 7) + repeat(6, 8),
         {0xC1, 0xC0, 0xC6, 5, 5, 0xC7, 6, 6}},
        {"passing the limit on the first row gives plain rows", 4, 2, {0xC0, 0xC1, 0xC2, 0xC3, 5, 5, 5, 5},
         {0xC0, 0xC1, 0xC2, 0xC3, 5, 5, 5, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        const uint32_t room = (c.height + 1) * c.bytes_per_line;
        uint8_t* destination = arena.fill(room, E);
        const uint8_t* block = run_pcx("pcxstore8", 32, arena,
                                       {host_address(arena.copy(c.source)), host_address(destination),
                                        c.bytes_per_line, c.height});
        EXPECT_EQ(host_word(block, 6), c.expected.size());
        EXPECT_EQ(bytes_of(destination, uint32_t(c.expected.size())), c.expected);
        EXPECT_EQ(error_of(block, 32), kHostError);
    }
}

TEST(PcxStore8, DestinationOneByteShortGivesError14AndNoWrite)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(11, E);
    const uint8_t* block =
        run_pcx("pcxstore8", 32, arena, {host_address(arena.fill(8, 1)), host_address(destination), 4, 2});
    EXPECT_EQ(error_of(block, 32), 14u);
    EXPECT_EQ(bytes_of(destination, 11), Bytes(11, E));
}

TEST(PcxStore8, CodedRowsDecodeBackWithPcxload8)
{
    // Stretches of up to 70 equal bytes, across line ends, and bytes of 0xC0
    // and up among them.
    for (uint32_t bytes_per_line : {5u, 63u, 64u, 65u, 130u}) {
        SCOPED_TRACE(bytes_per_line);
        const uint32_t height = 8;
        Bytes rows(bytes_per_line * height);
        for (size_t i = 0; i < rows.size(); ++i) rows[i] = i % 37 == 5 ? uint8_t(0xC0 + i % 64) : uint8_t(i / 70 * 3);
        SharedArena arena;
        uint8_t* coded = arena.alloc((height + 1) * bytes_per_line);
        const uint8_t* block = run_pcx("pcxstore8", 32, arena,
                                       {host_address(arena.copy(rows)), host_address(coded), bytes_per_line, height});
        const uint32_t length = host_word(block, 6);
        ASSERT_LT(length, bytes_per_line * height) << "coded";
        uint8_t* back = arena.alloc(bytes_per_line * height);
        run_pcx("pcxload8", 40, arena,
                {host_address(arena.copy({coded, length})), host_address(back), bytes_per_line, height, 0,
                 bytes_per_line});
        EXPECT_EQ(bytes_of(back, bytes_per_line * height), rows);
    }
}

TEST(PcxStore4, FillerLineStandsForMissingPlanes)
{
    // Two planes of two rows of 64 equal bytes each: coded well under the limit.
    SharedArena arena;
    const Bytes planar = repeat(1, 64) + repeat(2, 64) + repeat(3, 64) + repeat(4, 64);
    uint8_t* destination = arena.fill(4 * 64 * 2, E);
    const uint8_t* block = run_pcx("pcxstore4", 40, arena,
                                   {host_address(arena.copy(planar)), host_address(destination),
                                    host_address(arena.fill(64, 9)), 64, 2, 2});
    const Bytes expected = {0xFF, 1, 1, 0xFF, 3, 3, 0xFF, 9, 9, 0xFF, 9, 9,
                            0xFF, 2, 2, 0xFF, 4, 4, 0xFF, 9, 9, 0xFF, 9, 9};
    EXPECT_EQ(host_word(block, 8), expected.size());
    EXPECT_EQ(bytes_of(destination, uint32_t(expected.size())), expected);
    EXPECT_EQ(error_of(block, 40), kHostError);
}

TEST(PcxStore4, PassingTheLimitGivesPlainScanLines)
{
    // Every line codes to 3 of its 8 bytes, yet four lines a row pass
    // (height - 1) x bytes per line.
    constexpr uint32_t kLine = 8, kHeight = 4;
    Bytes planar;
    for (uint32_t p = 0; p < 4; ++p)
        for (uint32_t y = 0; y < kHeight; ++y) planar = planar + repeat(uint8_t(16 * p + y), kLine);
    SharedArena arena;
    uint8_t* destination = arena.alloc(4 * kLine * kHeight);
    const uint8_t* block = run_pcx("pcxstore4", 40, arena,
                                   {host_address(arena.copy(planar)), host_address(destination),
                                    host_address(arena.alloc(kLine)), kLine, kHeight, 4});
    Bytes expected;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t p = 0; p < 4; ++p) expected = expected + repeat(uint8_t(16 * p + y), kLine);
    EXPECT_EQ(host_word(block, 8), 4 * kLine * kHeight);
    EXPECT_EQ(bytes_of(destination, 4 * kLine * kHeight), expected);
}

TEST(PcxStore4, CodedScanLinesDecodeBackWithPcxload4)
{
    // One source plane and a filler; lines long enough to code well.
    constexpr uint32_t kLine = 40, kHeight = 6;
    Bytes plane(kLine * kHeight);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = uint8_t(i / 13 * 0x31);
    SharedArena arena;
    uint8_t* coded = arena.alloc(4 * kLine * kHeight);
    const uint8_t* block = run_pcx("pcxstore4", 40, arena,
                                   {host_address(arena.copy(plane)), host_address(coded),
                                    host_address(arena.fill(kLine, 0xF0)), kLine, kHeight, 1});
    const uint32_t length = host_word(block, 8);
    ASSERT_LT(length, 4 * kLine * kHeight) << "coded";
    uint8_t* back = arena.alloc(4 * kLine * kHeight);
    run_pcx("pcxload4", 44, arena,
            {host_address(arena.copy({coded, length})), host_address(back), host_address(arena.alloc(kLine)),
             8 * kLine, kHeight, 4, kLine});
    EXPECT_EQ(bytes_of(back, kLine * kHeight), plane);
    EXPECT_EQ(bytes_of(back + kLine * kHeight, 3 * kLine * kHeight), Bytes(3 * kLine * kHeight, 0xF0)) << "filler";
}

TEST(PcxStore4, MoreThan65535RowsEnd)
{
    SharedArena arena;
    const uint8_t* block = run_pcx("pcxstore4", 40, arena,
                                   {host_address(arena.alloc(1)), host_address(arena.alloc(1)),
                                    host_address(arena.alloc(1)), 0, 70000, 4});
    EXPECT_EQ(host_word(block, 8), 0u);
    EXPECT_EQ(error_of(block, 40), kHostError);
}

TEST(PcxStore4, MissingFillerGivesError14AndNoWrite)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(16, E);
    const uint8_t* block = run_pcx("pcxstore4", 40, arena,
                                   {host_address(arena.fill(4, 1)), host_address(destination), 0, 4, 1, 1});
    EXPECT_EQ(error_of(block, 40), 14u);
    EXPECT_EQ(bytes_of(destination, 16), Bytes(16, E));
}

TEST(PcxStore24, SplitsPixelsIntoRedGreenAndBlueLines)
{
    SharedArena arena;
    const Bytes rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    uint8_t* destination = arena.alloc(12);
    const uint8_t* block =
        run_pcx("pcxstore24", 32, arena, {host_address(arena.copy(rgb)), host_address(destination), 2, 2});
    EXPECT_EQ(bytes_of(destination, 12), (Bytes{1, 4, 2, 5, 3, 6, 7, 10, 8, 11, 9, 12}));
    EXPECT_EQ(host_word(block, 6), 12u);
    EXPECT_EQ(error_of(block, 32), kHostError);

    // Plain lines of bytes below 0xC0 read back with pcxload24.
    uint8_t* back = arena.alloc(12);
    run_pcx("pcxload24", 40, arena, {host_address(destination), host_address(back), 2, 2, 24, 2});
    EXPECT_EQ(bytes_of(back, 12), rgb);
}

} // namespace

// Counts that leave nothing to do per line end the walk at once, however many
// lines they name (a careless host must not make a module spin).
TEST(Pcx, FourBillionEmptyLinesEndAtOnce)
{
    SharedArena arena;
    const auto some = [&] { return host_address(arena.alloc(16)); };
    struct Case {
        const char* name;
        uint32_t size;
        std::vector<uint32_t> words;
    };
    const Case cases[] = {
        {"pcxload8", 40, {some(), some(), 0, 0xFFFFFFFFu, 0, 0}},           // no bytes per line
        {"pcxload24", 40, {some(), some(), 0, 0xFFFFFFFFu, 0, 5}},          // no planes
        {"pcxstore8", 32, {some(), some(), 0, 0xFFFFFFFFu}},                // no bytes per line
        {"pcxstore24", 32, {some(), some(), 0, 0xFFFFFFFFu}},               // no pixels
        {"pcxstore4", 40, {some(), some(), some(), 0, 0xFFFFFFFFu, 4}},     // no bytes per line
    };
    for (const auto& c : cases) {
        const uint8_t* block = run_pcx(c.name, c.size, arena, c.words);
        EXPECT_EQ(error_of(block, c.size), kHostError) << c.name;
    }
}
