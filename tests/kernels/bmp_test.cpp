// The BMP kernels: bmpstore, bmpload and bmprunload.
#include <gtest/gtest.h>

#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t E = 0xEE;             // a byte the kernel must leave alone
constexpr uint32_t kHostError = 0xABCD;  // what the host put in the error word

// Runs a module on a 9-word block with the given argument words (2 to 7).
uint32_t run_bmp(const char* name, SharedArena& arena, std::vector<uint32_t> words, uint8_t** block_out = nullptr)
{
    uint8_t* block = arena.block(36);
    for (size_t i = 0; i < words.size(); ++i) host_set_word(block, uint32_t(2 + i), words[i]);
    host_set_word(block, 8, kHostError);
    host_call(load_module(name), block, 1);
    if (block_out) *block_out = block;
    return host_word(block, 8);
}

Bytes flip_rows(const Bytes& pixels, size_t row_bytes)
{
    Bytes out;
    for (size_t y = pixels.size() / row_bytes; y-- > 0;)
        out.insert(out.end(), pixels.begin() + y * row_bytes, pixels.begin() + (y + 1) * row_bytes);
    return out;
}

// --- bmpstore ----------------------------------------------------------------

struct StoreCase {
    const char* name;
    uint32_t width, height, depth;
    Bytes source;       // host layout
    Bytes destination;  // before the call
    Bytes expected;     // after the call
};

TEST(BmpStore, PacksRowsBottomUpAndRestoresTheSource)
{
    const std::vector<StoreCase> cases = {
        {"8 bits, width 5: rows reversed, padding untouched", 5, 3, 8,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
         Bytes(24, E),
         {11, 12, 13, 14, 15, E, E, E, 6, 7, 8, 9, 10, E, E, E, 1, 2, 3, 4, 5, E, E, E}},
        {"8 bits, width 4: no padding", 4, 2, 8, {1, 2, 3, 4, 5, 6, 7, 8}, Bytes(8, E), {5, 6, 7, 8, 1, 2, 3, 4}},
        {"1 bit, width 10: only bit 0 counts, OR-ed in", 10, 1, 1, {1, 0, 2, 3, 1, 1, 0, 0, 1, 3},
         {0x01, 0x00, E, E}, {0x9D, 0xC0, E, E}},
        {"4 bits, odd width: last byte holds its left pixel", 3, 2, 4, {1, 2, 3, 4, 5, 6},
         {0, 0, E, E, 0, 0, E, E}, {0x45, 0x60, E, E, 0x12, 0x30, E, E}},
        {"24 bits: red, green, blue become blue, green, red", 1, 2, 24, {10, 20, 30, 1, 2, 3},
         {E, E, E, E, E, E, E, E}, {3, 2, 1, E, 30, 20, 10, E}},
        {"height 1 swaps nothing", 3, 1, 8, {7, 8, 9}, Bytes(4, E), {7, 8, 9, E}},
        {"any other depth writes nothing", 2, 2, 16, Bytes(12, 5), Bytes(8, E), Bytes(8, E)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* source = arena.copy(c.source);
        uint8_t* destination = arena.copy(c.destination);
        const uint32_t row = c.depth <= 8 ? c.width : 3 * c.width;
        uint8_t* row_buffer = arena.alloc(row);
        EXPECT_EQ(run_bmp("bmpstore", arena,
                          {host_address(source), host_address(destination), host_address(row_buffer), c.width,
                           c.height, c.depth}),
                  kHostError);
        EXPECT_EQ(bytes_of(destination, uint32_t(c.expected.size())), c.expected);
        EXPECT_EQ(bytes_of(source, uint32_t(c.source.size())), c.source) << "the source is as it was";
    }
}

TEST(BmpStore, RowBufferEndsAsTurningTheRowsBackLeavesIt)
{
    SharedArena arena;
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // five rows of two
    uint8_t* row_buffer = arena.alloc(2);
    run_bmp("bmpstore", arena,
            {host_address(arena.copy(pixels)), host_address(arena.alloc(20)), host_address(row_buffer), 2, 5, 8});
    EXPECT_EQ(bytes_of(row_buffer, 2), (Bytes{7, 8}));
}

TEST(BmpStore, BuffersTooSmallGiveError14AndNoWrite)
{
    // 3 x 3 at 8 bits: a destination of 3 rows of 4 bytes, a row buffer of 3.
    struct Fault {
        const char* name;
        uint32_t destination_size, row_buffer_size;
        bool source_in_a_block;
    };
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (const Fault& f : {Fault{"destination one byte short", 11, 3, true},
                           Fault{"row buffer one byte short", 12, 2, true}, Fault{"source in no block", 12, 3, false}}) {
        SCOPED_TRACE(f.name);
        SharedArena arena;
        uint8_t* source = arena.copy(pixels);
        uint8_t* destination = arena.fill(f.destination_size, E);
        uint8_t* row_buffer = arena.fill(f.row_buffer_size, E);
        const uint32_t source_address = f.source_in_a_block ? host_address(source) : 0x10;
        EXPECT_EQ(run_bmp("bmpstore", arena,
                          {source_address, host_address(destination), host_address(row_buffer), 3, 3, 8}),
                  14u);
        EXPECT_EQ(bytes_of(source, 9), pixels);
        EXPECT_EQ(bytes_of(destination, f.destination_size), Bytes(f.destination_size, E));
        EXPECT_EQ(bytes_of(row_buffer, f.row_buffer_size), Bytes(f.row_buffer_size, E));
    }
}

// --- bmpload -----------------------------------------------------------------

struct LoadCase {
    const char* name;
    uint32_t width, height, depth;
    Bytes source;
    Bytes destination;  // before
    Bytes expected;     // after
    uint32_t byte_count;
};

TEST(BmpLoad, UnpacksRowsInTheirOrderAndCountsBytes)
{
    const std::vector<LoadCase> cases = {
        {"4 bits, width 3: a zero byte leaves both pixels", 3, 2, 4, {0x12, 0x30, 0xAA, 0xAA, 0x00, 0x45, 0xBB, 0xBB},
         Bytes(6, 9), {1, 2, 3, 9, 9, 4}, 4 * 4 * 2},
        {"1 bit, width 10: set bits store 1, clear bits leave the pixel", 10, 1, 1, {0x9C, 0xC0, 0xFF, 0xFF},
         Bytes(10, 7), {1, 7, 7, 1, 1, 1, 7, 7, 1, 1}, 4},
        {"8 bits, width 5: padding skipped", 5, 2, 8, {1, 2, 3, 4, 5, E, E, E, 6, 7, 8, 9, 10, E, E, E}, Bytes(10, 0),
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 16},
        {"8 bits, width 4: one run", 4, 2, 8, {1, 2, 3, 4, 5, 6, 7, 8}, Bytes(8, 0), {1, 2, 3, 4, 5, 6, 7, 8}, 8},
        {"24 bits, width 1: blue, green, red become red, green, blue", 1, 1, 24, {30, 20, 10, E}, Bytes(3, 0),
         {10, 20, 30}, 12},
        {"any other depth writes nothing and counts 0", 2, 2, 2, Bytes(8, 0x55), Bytes(4, E), Bytes(4, E), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* destination = arena.copy(c.destination);
        uint8_t* block;
        EXPECT_EQ(run_bmp("bmpload", arena,
                          {host_address(arena.copy(c.source)), host_address(destination), c.width, c.height, c.depth},
                          &block),
                  kHostError);
        EXPECT_EQ(bytes_of(destination, uint32_t(c.expected.size())), c.expected);
        EXPECT_EQ(host_word(block, 7), c.byte_count);
    }
}

TEST(BmpLoad, SourceOneByteShortGivesError14AndNoWrite)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(6, E);
    uint8_t* block;
    EXPECT_EQ(run_bmp("bmpload", arena, {host_address(arena.fill(7, 1)), host_address(destination), 3, 2, 8}, &block),
              14u);
    EXPECT_EQ(bytes_of(destination, 6), Bytes(6, E));
    EXPECT_EQ(host_word(block, 7), 0u);
}

TEST(BmpStoreAndLoad, RoundTripTurnsThePictureUpsideDown)
{
    for (uint32_t depth : {1u, 4u, 8u, 24u})
        for (uint32_t width = 1; width <= 9; ++width) {
            SCOPED_TRACE(testing::Message() << "depth " << depth << " width " << width);
            const uint32_t height = 3;
            const uint32_t row = depth == 24 ? 3 * width : width;
            const uint8_t mask = depth == 1 ? 0x01 : depth == 4 ? 0x0F : 0xFF;
            Bytes pixels(row * height);
            for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 37 + 11) & mask);
            const uint32_t packed = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : row;
            const uint32_t padded = (packed + 3) / 4 * 4;

            SharedArena arena;
            uint8_t* bmp = arena.alloc(padded * height);
            uint8_t* back = arena.alloc(row * height);
            run_bmp("bmpstore", arena,
                    {host_address(arena.copy(pixels)), host_address(bmp), host_address(arena.alloc(row)), width,
                     height, depth});
            run_bmp("bmpload", arena, {host_address(bmp), host_address(back), width, height, depth});
            EXPECT_EQ(bytes_of(back, row * height), flip_rows(pixels, row));
        }
}

// --- bmprunload --------------------------------------------------------------

struct RunCase {
    const char* name;
    uint32_t width, height, compression;
    Bytes codes;
    Bytes expected;  // width x height bytes; E where no code reaches
    uint32_t error = kHostError;
};

// Decodes into a destination with four guard bytes behind its width x height,
// all preset to E, and checks that the guard is never touched.
void check_run(const RunCase& c)
{
    SCOPED_TRACE(c.name);
    SharedArena arena;
    const uint32_t size = c.width * c.height;
    uint8_t* destination = arena.fill(size + 4, E);
    uint8_t* block;
    EXPECT_EQ(run_bmp("bmprunload", arena,
                      {host_address(arena.copy(c.codes)), host_address(destination), c.width, c.height,
                       c.compression},
                      &block),
              c.error);
    EXPECT_EQ(bytes_of(destination, size), c.expected);
    EXPECT_EQ(bytes_of(destination + size, 4), Bytes(4, E)) << "nothing past width x height";
    EXPECT_EQ(host_word(block, 7), size);
}

TEST(BmpRunLoad, Rle8Codes)
{
    const std::vector<RunCase> cases = {
        {"encoded run, end of line after the full row is absorbed", 3, 2, 8, {3, 7, 0, 0, 0, 1},
         {7, 7, 7, E, E, E}},
        {"absolute run of 3 skips one byte after it", 4, 1, 8, {0, 3, 1, 2, 3, 0x55, 1, 4}, {1, 2, 3, 4}},
        {"absolute run of 4 skips none", 5, 1, 8, {0, 4, 1, 2, 3, 4, 1, 5}, {1, 2, 3, 4, 5}},
        {"delta moves right and down", 4, 3, 8, {1, 1, 0, 2, 2, 1, 1, 2, 0, 1},
         {1, E, E, E, E, E, E, 2, E, E, E, E}},
        {"delta past the row end starts the next row", 4, 2, 8, {0, 2, 5, 0, 1, 3, 0, 1},
         {E, E, E, E, 3, E, E, E}},
        {"delta after a full row counts from the next row", 4, 3, 8, {4, 1, 0, 2, 2, 1, 1, 5, 0, 1},
         {1, 1, 1, 1, E, E, E, E, E, E, 5, E}},
        {"a run across the row end wraps; the next row's codes overwrite it", 3, 2, 8, {5, 7, 0, 0, 1, 8, 0, 1},
         {7, 7, 7, 8, 7, E}},
        {"end of bitmap leaves the rest", 3, 2, 8, {1, 4, 0, 1, 9, 9}, {4, E, E, E, E, E}},
        {"decoding stops when the last row is complete", 2, 1, 8, {2, 6}, {6, 6}},
        {"compression 2 decodes nothing", 2, 2, 2, {2, 6, 2, 6}, {E, E, E, E}},
    };
    for (const auto& c : cases) check_run(c);
}

TEST(BmpRunLoad, Rle4Codes)
{
    const std::vector<RunCase> cases = {
        {"encoded run alternates nibbles, high first", 4, 1, 4, {4, 0x12}, {1, 2, 1, 2}},
        {"absolute run of 4 takes two bytes, no padding", 5, 1, 4, {0, 4, 0x12, 0x34, 1, 0x50}, {1, 2, 3, 4, 5}},
        {"absolute run of 5 takes three bytes and one of padding", 8, 1, 4,
         {0, 5, 0x12, 0x34, 0x50, 0x99, 1, 0x70, 0, 1}, {1, 2, 3, 4, 5, 7, E, E}},
        {"the next code starts at x + n", 8, 1, 4, {5, 0x12, 3, 0x34}, {1, 2, 1, 2, 1, 3, 4, 3}},
    };
    for (const auto& c : cases) check_run(c);
}

// End of line ends the current row and goes on at column 0 of the next; after
// a code that filled the row it goes to the next row, not past it.
TEST(BmpRunLoad, EndOfLineGoesToTheNextRow)
{
    const std::vector<RunCase> cases = {
        {"after part of a row", 4, 2, 8, {2, 7, 0, 0, 2, 9, 0, 1}, {7, 7, E, E, 9, 9, E, E}},
        {"at the very start: row 0 untouched", 2, 2, 8, {0, 0, 2, 5, 0, 1}, {E, E, 5, 5}},
        {"twice after a full row: one empty row", 2, 3, 8, {2, 1, 0, 0, 0, 0, 2, 3, 0, 1}, {1, 1, E, E, 3, 3}},
        {"every full row ended by it", 2, 3, 8, {2, 1, 0, 0, 2, 2, 0, 0, 2, 3, 0, 0, 0, 1}, {1, 1, 2, 2, 3, 3}},
        {"after an absolute run that filled the row", 3, 2, 8, {0, 3, 1, 2, 3, 0, 0, 0, 0, 3, 4, 5, 6, 0},
         {1, 2, 3, 4, 5, 6}},
        {"codes past a full row are its padding, overwritten by the next row", 2, 2, 8,
         {2, 1, 2, 0, 0, 0, 2, 3, 2, 0, 0, 0, 0, 1}, {1, 1, 3, 3}},
        {"rows without end-of-line codes follow on in memory", 2, 2, 8, {2, 1, 2, 3, 0, 1}, {1, 1, 3, 3}},
        {"without end of line a run across the row end wraps, the next row starts at column 0", 4, 2, 8,
         {6, 1, 2, 2, 2, 3}, {1, 1, 1, 1, 2, 2, 3, 3}},
        {"without end of line rows end at the width, not the padded width", 3, 3, 8, {3, 7, 3, 8, 3, 9},
         {7, 7, 7, 8, 8, 8, 9, 9, 9}},
        {"padding coded on its own after a row narrower than it", 1, 3, 8,
         {1, 4, 3, 0, 0, 0, 1, 3, 3, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 1}, {4, 3, 2}},
    };
    for (const auto& c : cases) check_run(c);
}

TEST(BmpRunLoad, Rle4OddCountsStoreExactlyNPixels)
{
    const std::vector<RunCase> cases = {
        {"encoded run of 5", 8, 1, 4, {5, 0x12, 0, 1}, {1, 2, 1, 2, 1, E, E, E}},
        {"absolute run of 3", 8, 1, 4, {0, 3, 0x12, 0x34, 0, 1}, {1, 2, 3, E, E, E, E, E}},
        {"odd run ending the last row", 3, 1, 4, {3, 0x12}, {1, 2, 1}},
    };
    for (const auto& c : cases) check_run(c);
}

TEST(BmpRunLoad, CodesPastThePictureOrTheSourceAreCut)
{
    const std::vector<RunCase> cases = {
        {"encoded run past the last row", 3, 1, 8, {9, 7}, {7, 7, 7}},
        {"RLE4 run past the last row", 3, 1, 4, {9, 0x12}, {1, 2, 1}},
        {"absolute run past the last row", 2, 1, 8, {0, 4, 1, 2, 3, 4}, {1, 2}},
        {"delta below the last row ends the picture", 2, 2, 8, {1, 1, 0, 2, 0, 5, 1, 2}, {1, E, E, E}},
        {"no end of bitmap: the source ends first", 4, 2, 8, {2, 7}, {7, 7, E, E, E, E, E, E}, 14},
        {"absolute run cut by the source end", 4, 1, 8, {0, 4, 1, 2}, {1, 2, E, E}, 14},
        {"RLE4 absolute run cut by the source end", 4, 1, 4, {0, 4, 0x12}, {1, 2, E, E}, 14},
        {"delta cut by the source end", 4, 1, 8, {1, 1, 0, 2, 1}, {1, E, E, E}, 14},
        {"half a code", 4, 1, 8, {1, 1, 3}, {1, E, E, E}, 14},
    };
    for (const auto& c : cases) check_run(c);
}

TEST(BmpRunLoad, DestinationOneByteShortGivesError14AndNoWrite)
{
    SharedArena arena;
    uint8_t* destination = arena.fill(5, E);
    uint8_t* block;
    EXPECT_EQ(run_bmp("bmprunload", arena,
                      {host_address(arena.copy(Bytes{6, 1, 0, 1})), host_address(destination), 3, 2, 8}, &block),
              14u);
    EXPECT_EQ(bytes_of(destination, 5), Bytes(5, E));
}

} // namespace
