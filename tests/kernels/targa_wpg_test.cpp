// The Targa decoders (tgaload1, tgaload8, tgaload16, tgaload24) and the WPG
// decoders (wpgload1, wpgload4, wpgload8).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t E = 0xEE;              // a byte the kernel must leave alone
constexpr uint32_t kHostError = 0xABCD;  // what the host put in the error word

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Runs a module on a block of `size` bytes with argument words from word 2
// on, the error word preset; returns the block.
uint8_t* run_module(const char* name, uint32_t size, SharedArena& arena, const std::vector<uint32_t>& words)
{
    uint8_t* block = arena.block(size);
    for (size_t i = 0; i < words.size(); ++i) host_set_word(block, uint32_t(2 + i), words[i]);
    host_set_word(block, size / 4 - 1, kHostError);
    host_call(load_module(name), block, 1);
    return block;
}

uint32_t error_of(const uint8_t* block) { return host_word(block, 7); }  // both 8-word blocks

// The source as a buffer of exactly its bytes (address 0 for none).
uint32_t source_address(SharedArena& arena, const Bytes& source)
{
    return source.empty() ? 0 : host_address(arena.copy(source));
}

// --- Targa -------------------------------------------------------------------

struct TargaCase {
    const char* name;
    const char* module;
    uint32_t width, height;
    Bytes source;
    Bytes expected;  // the picture's bytes, E where nothing lands
    uint32_t error = kHostError;
};

TEST(Targa, DecodesPacketsIntoOneSequenceOfElements)
{
    const std::vector<TargaCase> cases = {
        {"a run and a raw packet", "tgaload8", 5, 1, {0x82, 5, 0x01, 7, 9}, {5, 5, 5, 7, 9}},
        {"a run repeats three bytes as they stand", "tgaload24", 2, 1, {0x81, 1, 2, 3}, {1, 2, 3, 1, 2, 3}},
        {"a run crosses two row ends", "tgaload8", 2, 3, {0x84, 7, 0x00, 9}, {7, 7, 7, 7, 7, 9}},
        {"a raw packet crosses a row end", "tgaload16", 2, 2, {0x02, 1, 2, 3, 4, 5, 6, 0x80, 7, 8},
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"the last run reaches past the picture", "tgaload24", 1, 2, {0x00, 1, 2, 3, 0xFF, 4, 5, 6},
         {1, 2, 3, 4, 5, 6}},
        {"the last raw packet reaches past the picture and the source's end", "tgaload8", 2, 2,
         {0x81, 1, 0x05, 2, 3}, {1, 1, 2, 3}},
        {"0x00 is one raw element, 0xFF a run of 128", "tgaload8", 128, 2, {0xFF, 3, 0x00, 4, 0xFE, 5},
         Bytes(128, 3) + Bytes{4} + Bytes(127, 5)},
        {"one bit per pixel: elements of eight pixels, width 9 rows of two", "tgaload1", 9, 2, {0x82, 0xAA, 0x00, 0x55},
         {0xAA, 0xAA, 0xAA, 0x55}},
        {"no header where the next packet should be", "tgaload8", 3, 1, {0x81, 6}, {6, 6, E}, 14},
        {"a run without its whole element", "tgaload24", 2, 1, {0x80, 1, 2, 3, 0x80, 4, 5}, {1, 2, 3, E, E, E}, 14},
        {"a raw packet cut short keeps its whole elements", "tgaload16", 3, 1, {0x02, 1, 2, 3, 4, 5},
         {1, 2, 3, 4, E, E}, 14},
        {"no source at all", "tgaload8", 1, 1, {}, {E}, 14},
        {"a raw packet at the source's end, far from the picture's end", "tgaload8", 200, 1,
         Bytes{0x77} + Bytes(120, 9), Bytes(120, 9) + Bytes(80, E), 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        const uint32_t size = uint32_t(c.expected.size());
        uint8_t* destination = arena.fill(size + 4, E);  // four bytes past the picture stay
        const uint8_t* block = run_module(c.module, 32, arena,
                                          {source_address(arena, c.source), host_address(destination), c.width,
                                           c.height});
        EXPECT_EQ(bytes_of(destination, size + 4), c.expected + Bytes(4, E));
        EXPECT_EQ(host_word(block, 6), size) << "bytes of the picture";
        EXPECT_EQ(error_of(block), c.error);
    }
}

TEST(Targa, ReportsTheBytesOfThePicture)
{
    struct Case {
        const char* module;
        uint32_t width, height, bytes;
    };
    for (const Case& c : {Case{"tgaload1", 17, 3, 9}, Case{"tgaload8", 5, 3, 15}, Case{"tgaload16", 5, 3, 30},
                          Case{"tgaload24", 5, 3, 45}}) {
        SCOPED_TRACE(c.module);
        SharedArena arena;
        uint8_t* destination = arena.alloc(c.bytes);
        const uint8_t* block = run_module(c.module, 32, arena,
                                          {host_address(arena.fill(300, 0xFF)), host_address(destination), c.width,
                                           c.height});
        EXPECT_EQ(host_word(block, 6), c.bytes);
        EXPECT_EQ(error_of(block), kHostError);
    }
}

// Sizes that no destination holds give 14 and write nothing; pictures of no
// bytes, however many rows they claim, end at once.
TEST(Targa, SizesPastTheDestinationOrOfNothing)
{
    struct Case {
        const char* name;
        const char* module;
        uint32_t width, height;
        uint32_t error, written;
    };
    std::vector<Case> cases = {
        {"one byte short", "tgaload24", 3, 1, 14, 0x5151},
        {"3 x width x height passes 64 bits", "tgaload24", 0xFFFFFFFF, 0xFFFFFFFF, 14, 0x5151},
        {"width x height past 32 bits", "tgaload8", 65536, 65536, 14, 0x5151},
        {"2 x width x height past 32 bits", "tgaload16", 0x80000000, 1, 14, 0x5151},
    };
    for (const char* module : {"tgaload1", "tgaload8", "tgaload16", "tgaload24"}) {
        cases.push_back({"width 0", module, 0, 0xFFFFFFFF, kHostError, 0});
        cases.push_back({"height 0", module, 0xFFFFFFFF, 0, kHostError, 0});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + ", " + c.name);
        SharedArena arena;
        uint8_t* destination = arena.fill(8, E);
        const uint8_t* block = run_module(c.module, 32, arena,
                                          {host_address(arena.fill(64, 0xFF)), host_address(destination), c.width,
                                           c.height, 0x5151});
        EXPECT_EQ(error_of(block), c.error);
        EXPECT_EQ(host_word(block, 6), c.written);
        EXPECT_EQ(bytes_of(destination, 8), Bytes(8, E));
    }
}

// Random packets of every kind and length, with their expected elements:
// runs and raw packets cross row ends at random, the last one reaches past
// the picture, more bytes follow, and no byte lands past the picture.
TEST(Targa, RandomPacketsDecodeToTheirElements)
{
    std::mt19937 random(10);
    struct Module {
        const char* name;
        uint32_t element;
    };
    for (const Module& m : {Module{"tgaload8", 1}, Module{"tgaload16", 2}, Module{"tgaload24", 3}}) {
        for (int picture = 0; picture < 20; ++picture) {
            const uint32_t width = 1 + random() % 200, height = 1 + random() % 20;
            const uint32_t elements = width * height;
            Bytes source, expected;
            while (expected.size() < size_t(elements) * m.element) {
                const uint32_t count = 1 + random() % 128;
                Bytes element(m.element);
                const bool run = random() % 2;
                source.push_back(uint8_t((run ? 0x80 : 0) | (count - 1)));
                for (uint32_t k = 0; k < (run ? 1 : count); ++k) {
                    for (auto& b : element) b = uint8_t(random());
                    source.insert(source.end(), element.begin(), element.end());
                    for (uint32_t n = 0; n < (run ? count : 1); ++n) expected = expected + element;
                }
            }
            expected.resize(size_t(elements) * m.element);
            for (int i = 0; i < 400; ++i) source.push_back(uint8_t(random()));  // more than the picture needs
            SCOPED_TRACE(std::string(m.name) + " " + std::to_string(width) + " x " + std::to_string(height));
            SharedArena arena;
            const uint32_t size = uint32_t(expected.size());
            uint8_t* destination = arena.fill(size + 400, E);  // nothing lands past the picture
            const uint8_t* block = run_module(m.name, 32, arena,
                                              {host_address(arena.copy(source)), host_address(destination), width,
                                               height});
            ASSERT_EQ(bytes_of(destination, size + 400), expected + Bytes(400, E));
            EXPECT_EQ(error_of(block), kHostError);
        }
    }
}

// --- WPG ---------------------------------------------------------------------

struct WpgCase {
    const char* name;
    uint32_t width, height;
    Bytes source;
    Bytes expected;  // width x height, E where nothing lands
    uint32_t error = kHostError;
};

// Runs a WPG module on the source and destination with the size words
// (width, height and, for wpgload1, planes), the word of the bytes written
// preset to 0x5151; returns the block.
constexpr uint32_t kWrittenBefore = 0x5151;

uint32_t wpg_block_size(const std::vector<uint32_t>& sizes) { return sizes.size() == 3 ? 36 : 32; }
uint32_t written_of(const uint8_t* block, const std::vector<uint32_t>& sizes)
{
    return host_word(block, wpg_block_size(sizes) / 4 - 2);
}
uint32_t error_of(const uint8_t* block, const std::vector<uint32_t>& sizes)
{
    return host_word(block, wpg_block_size(sizes) / 4 - 1);
}

const uint8_t* run_wpg(SharedArena& arena, const char* module, uint32_t source, uint8_t* destination,
                       const std::vector<uint32_t>& sizes)
{
    std::vector<uint32_t> words = {source, host_address(destination)};
    words.insert(words.end(), sizes.begin(), sizes.end());
    words.push_back(kWrittenBefore);
    return run_module(module, wpg_block_size(sizes), arena, words);
}

void expect_wpg(const char* module, const std::vector<WpgCase>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        const uint32_t size = c.width * c.height;
        uint8_t* destination = arena.fill(size + 4, E);
        const uint8_t* block = run_wpg(arena, module, source_address(arena, c.source), destination, {c.width, c.height});
        EXPECT_EQ(bytes_of(destination, size + 4), c.expected + Bytes(4, E));
        EXPECT_EQ(host_word(block, 6), size);
        EXPECT_EQ(error_of(block), c.error);
    }
}

TEST(Wpg, Load8DecodesRecordsAndRepeats)
{
    expect_wpg("wpgload8", {
        {"a run, data and a repeat of the row", 4, 2, {0x83, 9, 0x01, 5, 0x00, 0x01}, {9, 9, 9, 5, 9, 9, 9, 5}},
        {"0x80 counts bytes of 0xFF", 3, 1, {0x80, 0x03}, {255, 255, 255}},
        {"0x80 with a count of 0 gives nothing", 2, 1, {0x80, 0x00, 0x82, 4}, {4, 4}},
        {"255 bytes of 0xFF in a long row are cut at its end", 130, 1, Bytes{0x80, 0xFF} + Bytes(200, 0x81),
         Bytes(130, 0xFF)},
        {"0x00 inside a row is skipped", 3, 1, {0x01, 1, 0x00, 0x82, 2}, {1, 2, 2}},
        {"0x00 at the start of row 0 is skipped, not a repeat", 2, 2, {0x00, 0x82, 4, 0x82, 5}, {4, 4, 5, 5}},
        {"0x00 right after a repeat record is skipped in the next row", 2, 4,
         {0x82, 1, 0x00, 0x01, 0x00, 0x82, 2, 0x82, 3}, {1, 1, 1, 1, 2, 2, 3, 3}},
        {"a repeat past the last row stops there; decoding ends", 2, 3, {0x82, 1, 0x82, 2, 0x00, 0x09, 0x99},
         {1, 1, 2, 2, 2, 2}},
        {"a repeat count of 0 repeats nothing", 1, 2, {0x81, 1, 0x00, 0x00, 0x81, 2}, {1, 2}},
        {"a run past the row end is dropped, not carried", 2, 2, {0x83, 7, 0x82, 8}, {7, 7, 8, 8}},
        {"data past the row end is dropped", 2, 2, {0x03, 1, 2, 3, 0x02, 4, 5}, {1, 2, 4, 5}},
        {"a source that ends right after the last row is complete", 1, 1, {0x81, 6}, {6}},
        {"so is a lone 0x00 after the last row", 1, 1, {0x81, 6, 0x00}, {6}},
        {"and data the last row does not need", 2, 1, {0x05, 1, 2}, {1, 2}},
        {"the source ends before the last row", 2, 2, {0x82, 1}, {1, 1, E, E}, 14},
        {"a lone 0x00 after a row that is not the last", 1, 2, {0x81, 6, 0x00}, {6, E}, 14},
        {"data cut short inside a row", 3, 1, {0x03, 1, 2}, {1, 2, E}, 14},
        {"a run without its value", 2, 1, {0x81, 1, 0x81}, {1, E}, 14},
        {"0x80 without its count", 2, 1, {0x81, 1, 0x80}, {1, E}, 14},
        {"data at the source's end, far from the row's end", 300, 1, Bytes{0x78} + Bytes(120, 9),
         Bytes(120, 9) + Bytes(180, E), 14},
    });
}

TEST(Wpg, Load4SplitsEachByteIntoTwoPixels)
{
    expect_wpg("wpgload4", {
        {"a run gives pairs of nibbles", 4, 1, {0x82, 0x3A}, {3, 10, 3, 10}},
        {"an odd width drops the last low nibble", 3, 1, {0x02, 0x12, 0x30}, {1, 2, 3}},
        {"0x80 gives pairs of 15", 2, 1, {0x80, 0x01}, {15, 15}},
        {"a run over an odd row end is cut inside its pair", 3, 2, {0x82, 0x3A, 0x81, 0x45, 0x01, 0x60},
         {3, 10, 3, 4, 5, 6}},
        {"a repeat", 2, 3, {0x81, 0x12, 0x00, 0x02}, {1, 2, 1, 2, 1, 2}},
        {"the source ends inside a row", 4, 1, {0x01, 0x12}, {1, 2, E, E}, 14},
    });
}

TEST(Wpg, Load1DecodesEachRowPlaneAfterPlane)
{
    // Width 12: plane rows of two bytes; two planes of three rows. Row 0
    // plane 0 has a run cut at its end; row 0 plane 1 starts with an empty
    // record (inside the row: not a repeat); row 1 repeats once, for both
    // planes.
    const Bytes source = {0x83, 0xA1,                // row 0, plane 0
                          0x00, 0x01, 0xB1, 0x81, 0xB2,  // row 0, plane 1
                          0x02, 0xA3, 0xA4,          // row 1, plane 0
                          0x82, 0xB3,                // row 1, plane 1
                          0x00, 0x01};               // row 2 = row 1
    SharedArena arena;
    uint8_t* destination = arena.fill(12 + 4, E);
    const uint8_t* block =
        run_module("wpgload1", 36, arena, {host_address(arena.copy(source)), host_address(destination), 12, 3, 2});
    EXPECT_EQ(bytes_of(destination, 16),
              (Bytes{0xA1, 0xA1, 0xA3, 0xA4, 0xA3, 0xA4, 0xB1, 0xB2, 0xB3, 0xB3, 0xB3, 0xB3, E, E, E, E}));
    EXPECT_EQ(host_word(block, 7), 12u);
    EXPECT_EQ(host_word(block, 8), kHostError);
}

// Sizes that no destination holds give 14 and write nothing; pictures of no
// bytes, however many rows or planes they claim, end at once.
TEST(Wpg, SizesPastTheDestinationOrOfNothing)
{
    struct Case {
        const char* name;
        const char* module;
        std::vector<uint32_t> sizes;  // width, height (and planes)
        uint32_t error, written;
    };
    const std::vector<Case> cases = {
        {"wpgload8 one byte short", "wpgload8", {3, 3}, 14, kWrittenBefore},
        {"wpgload4 width x height past 32 bits", "wpgload4", {65536, 65536}, 14, kWrittenBefore},
        {"wpgload1 one plane too many", "wpgload1", {16, 2, 3}, 14, kWrittenBefore},
        {"wpgload1 rows x height x planes passes 64 bits", "wpgload1", {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 14,
         kWrittenBefore},
        {"wpgload1 without planes", "wpgload1", {0xFFFFFFFF, 0xFFFFFFFF, 0}, kHostError, 0},
        {"wpgload1 of width 0", "wpgload1", {0, 0xFFFFFFFF, 255}, kHostError, 0},
        {"wpgload4 of width 0", "wpgload4", {0, 0xFFFFFFFF}, kHostError, 0},
        {"wpgload8 of width 0", "wpgload8", {0, 0xFFFFFFFF}, kHostError, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        uint8_t* destination = arena.fill(8, E);
        const uint8_t* block = run_wpg(arena, c.module, host_address(arena.fill(64, 0x00)), destination, c.sizes);
        EXPECT_EQ(error_of(block, c.sizes), c.error);
        EXPECT_EQ(written_of(block, c.sizes), c.written);
        EXPECT_EQ(bytes_of(destination, 8), Bytes(8, E));
    }
}

// A writer of WPG records for pictures of coded rows: each row (each plane
// row) is coded by runs, 0x80 records for runs of 0xFF, data records and
// empty records inside it, chosen at random; the last record of a row may
// run past its end with bytes that must be dropped; rows equal to the one
// coded before them follow as a repeat record, which may count rows past the
// last one.
struct WpgWriter {
    std::mt19937& random;
    Bytes out;

    void row(const uint8_t* bytes, size_t length, bool may_start_empty)
    {
        size_t i = 0;
        if (may_start_empty && random() % 4 == 0) out.push_back(0x00);
        while (i < length) {
            if (i > 0 && random() % 8 == 0) out.push_back(0x00);
            size_t same = 1;
            while (i + same < length && bytes[i + same] == bytes[i]) ++same;
            const bool last = random() % 3 == 0;  // may run past the row end
            if (same >= 2 || random() % 3 == 0) {
                const size_t extra = last ? random() % 5 : 0;
                if (bytes[i] == 0xFF && random() % 2) {
                    const size_t n = std::min<size_t>(same + (i + same == length ? extra : 0), 255);
                    out.insert(out.end(), {0x80, uint8_t(n)});
                    i += std::min(n, same);
                } else {
                    const size_t n = std::min<size_t>(same + (i + same == length ? extra : 0), 127);
                    out.insert(out.end(), {uint8_t(0x80 | n), bytes[i]});
                    i += std::min(n, same);
                }
            } else {
                const size_t n = std::min<size_t>(1 + random() % 124, length - i);  // room for 3 more
                out.push_back(uint8_t(n + (i + n == length && last ? 3 : 0)));
                out.insert(out.end(), bytes + i, bytes + i + n);
                if (i + n == length && last) out.insert(out.end(), {0x5A, 0xA5, 0x00});
                i += n;
            }
        }
    }
};

// A picture of `height` rows of `planes` plane rows of `length` coded bytes,
// with stretches of equal bytes (0xFF among them) and of equal rows.
Bytes wpg_picture(std::mt19937& random, size_t length, uint32_t height, uint32_t planes)
{
    Bytes rows(length * height * planes);  // row after row, planes of a row together
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = rows.data() + r * length * planes;
        if (r > 0 && random() % 3 == 0) {
            std::copy(row - length * planes, row, row);
            continue;
        }
        for (size_t i = 0; i < length * planes; ++i)
            row[i] = i > 0 && random() % 2 ? row[i - 1] : random() % 4 == 0 ? 0xFF : uint8_t(random() % 8 * 37);
    }
    return rows;
}

// Codes the picture with the writer: repeat records for runs of equal rows.
Bytes wpg_code(std::mt19937& random, const Bytes& rows, size_t length, uint32_t height, uint32_t planes)
{
    WpgWriter writer{random, {}};
    const size_t row_size = length * planes;
    for (uint32_t r = 0; r < height;) {
        const uint8_t* row = rows.data() + r * row_size;
        for (uint32_t p = 0; p < planes; ++p) writer.row(row + p * length, length, r == 0 || p > 0);
        uint32_t same = 0;
        while (r + 1 + same < height && same < 255 &&
               std::equal(row, row + row_size, rows.data() + (r + 1 + same) * row_size))
            ++same;
        // A repeat that reaches the last row may count rows past it.
        const uint32_t past = r + 1 + same == height ? random() % 4 : 0;
        if (same > 0 || random() % 8 == 0)
            writer.out.insert(writer.out.end(), {0x00, uint8_t(std::min<uint32_t>(same + past, 255))});
        r += 1 + same;
    }
    return writer.out;
}

// Decodes the coded picture, followed by bytes it does not need, into a
// destination of `size` bytes and some more; gives them all.
Bytes decode_coded(const char* module, Bytes coded, const std::vector<uint32_t>& sizes, uint32_t size,
                   std::mt19937& random)
{
    constexpr uint32_t kMore = 200;
    for (uint32_t i = 0; i < kMore; ++i) coded.push_back(uint8_t(random()));
    SharedArena arena;
    uint8_t* destination = arena.fill(size + kMore, E);
    const uint8_t* block = run_wpg(arena, module, host_address(arena.copy(coded)), destination, sizes);
    EXPECT_EQ(written_of(block, sizes), size);
    EXPECT_EQ(error_of(block, sizes), kHostError);
    return bytes_of(destination, size + kMore);
}

TEST(Wpg, PicturesFromOurWriterDecodeToTheirPixels)
{
    std::mt19937 random(4);
    const Bytes untouched(200, E);
    for (int picture = 0; picture < 30; ++picture) {
        // Narrow pictures and wide ones, whose rows pass 128 bytes even in
        // wpgload1's planes.
        const bool wide = picture % 3 == 0;
        const uint32_t width = wide ? 1024 + random() % 600 : 1 + random() % 90;
        const uint32_t height = wide ? 1 + random() % 6 : 1 + random() % 40;
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + ", picture " + std::to_string(picture));

        // wpgload8: the coded bytes are the pixels.
        {
            const Bytes rows = wpg_picture(random, width, height, 1);
            const Bytes coded = wpg_code(random, rows, width, height, 1);
            EXPECT_EQ(decode_coded("wpgload8", coded, {width, height}, width * height, random), rows + untouched);
        }
        // wpgload4: two pixels a coded byte, the left one high.
        {
            const uint32_t length = (width + 1) / 2;
            const Bytes rows = wpg_picture(random, length, height, 1);
            Bytes pixels;
            for (uint32_t r = 0; r < height; ++r)
                for (uint32_t x = 0; x < width; ++x) {
                    const uint8_t b = rows[r * length + x / 2];
                    pixels.push_back(x % 2 ? b & 0x0F : b >> 4);
                }
            const Bytes coded = wpg_code(random, rows, length, height, 1);
            EXPECT_EQ(decode_coded("wpgload4", coded, {width, height}, width * height, random), pixels + untouched);
        }
        // wpgload1: the planes of each row follow each other in the source,
        // and each other whole in the destination.
        {
            const uint32_t length = (width + 7) / 8, planes = 1 + random() % 5;
            const Bytes rows = wpg_picture(random, length, height, planes);
            Bytes planar;
            for (uint32_t p = 0; p < planes; ++p)
                for (uint32_t r = 0; r < height; ++r) {
                    const auto* row = rows.data() + (r * planes + p) * length;
                    planar.insert(planar.end(), row, row + length);
                }
            const Bytes coded = wpg_code(random, rows, length, height, planes);
            EXPECT_EQ(decode_coded("wpgload1", coded, {width, height, planes}, length * height * planes, random),
                      planar + untouched);
        }
    }
}

} // namespace
