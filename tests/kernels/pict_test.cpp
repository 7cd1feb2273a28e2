// pictrender: the entry and its result codes, the picture record it hands
// over, the opcode loop of both versions, pixel images and transfer modes,
// and every allocation failing in turn. Pictures are written with the small
// writer of pict_writer.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
using pict::Rgb16;

constexpr Rgb kWhite8 = {0xFF, 0xFF, 0xFF};
constexpr Rgb kBlack8 = {0, 0, 0};

// The rows of a delivered picture, a pixel as "rrggbb" each, for readable
// comparisons.
std::vector<std::string> rows_of(const Rendered& r)
{
    std::vector<std::string> rows;
    for (uint32_t y = 0; y < r.height; ++y) {
        std::string row;
        for (uint32_t x = 0; x < r.width; ++x) {
            char hex[8];
            const Rgb c = r.at(x, y);
            std::snprintf(hex, sizeof hex, "%s%02x%02x%02x", x ? " " : "", c[0], c[1], c[2]);
            row += hex;
        }
        rows.push_back(row);
    }
    return rows;
}

// A picture of w x h pixels, white but for the pixels given.
struct Expected {
    uint32_t width, height;
    Bytes rgb;
    Expected(uint32_t w, uint32_t h) : width(w), height(h), rgb(size_t(w) * h * 3, 0xFF) {}
    Expected& set(uint32_t x, uint32_t y, Rgb c)
    {
        for (int k = 0; k < 3; ++k) rgb[(size_t(y) * width + x) * 3 + k] = c[k];
        return *this;
    }
    std::vector<std::string> rows() const
    {
        Rendered r;
        r.width = width;
        r.height = height;
        r.rgb = rgb;
        return rows_of(r);
    }
};

// A one-pixel indexed image of any 16-bit colour at (x, y), drawn with
// `mode`.
void pixel(Picture& p, uint16_t x, uint16_t y, Rgb16 colour, uint16_t mode = 0)
{
    pict::indexed(p, 0x98, {0, 0, 1, 1}, 8, {0}, {colour}, {0, 0, 1, 1},
                  {y, x, uint16_t(y + 1), uint16_t(x + 1)}, mode);
}

Rgb high_bytes(Rgb16 c) { return {uint8_t(c.red >> 8), uint8_t(c.green >> 8), uint8_t(c.blue >> 8)}; }

// --- the entry, the record and the header ---------------------------------------

// The exported support routines, called as a host might call them.
TEST(PictRender, TheMemoryListHoldsAtMost255Entries)
{
    using GetList = void* (*)();
    using AllocEntry = void* (*)(void*, uint32_t, uint32_t);
    using FreeList = void (*)(void*);
    const host_module* module = load_module("pictrender");
    const auto get_list = reinterpret_cast<GetList>(host_module_symbol(module, "KQSUP_GetMemList"));
    const auto alloc_entry = reinterpret_cast<AllocEntry>(host_module_symbol(module, "KQSUP_AllocMemEntry"));
    const auto free_list = reinterpret_cast<FreeList>(host_module_symbol(module, "KQSUP_FreeMemList"));
    ASSERT_TRUE(get_list && alloc_entry && free_list);

    const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
    auto* list = static_cast<uint8_t*>(get_list());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(shared_room(list), 1028u);
    EXPECT_EQ(bytes_of(list, 1028), Bytes(1028, 0));
    EXPECT_EQ(alloc_entry(nullptr, 16, MEMF_CLEAR), nullptr) << "no list";
    EXPECT_EQ(alloc_entry(list, 0, MEMF_CLEAR), nullptr) << "size 0";
    for (uint32_t i = 1; i <= 255; ++i) {
        void* entry = alloc_entry(list, 8, MEMF_CLEAR);
        ASSERT_NE(entry, nullptr) << i;
        EXPECT_EQ(host_word(list, i), host_address(entry));
        EXPECT_EQ(host_word(list, 0), i);
    }
    const uint32_t requests = platform_requests(ALLOCATOR_PPC);
    EXPECT_EQ(alloc_entry(list, 8, MEMF_CLEAR), nullptr) << "the 256th entry";
    EXPECT_EQ(platform_requests(ALLOCATOR_PPC), requests) << "refused without asking";
    EXPECT_EQ(host_word(list, 256), 0u);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live + 256);
    free_list(list);
    free_list(nullptr);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
}

TEST(PictRender, ConvertReturnsItsCodeAndLeavesTheErrorWordToFunction)
{
    using Convert = uint32_t (*)(void*, const char*);
    const auto convert =
        reinterpret_cast<Convert>(host_module_symbol(load_module("pictrender"), "KQLI_ConvertPICT"));
    ASSERT_NE(convert, nullptr);
    Picture p = pict::begin(2, {0, 0, 2, 2});
    pict::op(p, 0x12);
    pict::put16(p.bytes, 9);  // a pattern type of no kind: 15
    const std::string path = pict::scratch_path("pict_convert");
    ASSERT_TRUE(pict::write_file(path, pict::end(p)));
    SharedArena arena;
    uint8_t* block = arena.block(52, {{12, 0xABCD}});
    EXPECT_EQ(convert(block, path.c_str()), 15u);
    std::remove(path.c_str());
    EXPECT_EQ(host_word(block, 12), 0xABCDu);
    EXPECT_EQ(host_word(block, 4), 0u);
    EXPECT_EQ(host_word(block, 5), 0u);
    uint8_t* record = static_cast<uint8_t*>(shared_pointer(host_word(block, 2)));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(host_word(record, 201), 12u);
    host_free_picture(record);
    EXPECT_EQ(convert(block, path.c_str()), 2u) << "the file is gone";
}


TEST(PictRender, AFileThatCannotBeOpenedGivesError2AndFlushesOnlyTheBlock)
{
    struct Case {
        const char* name;
        bool terminated;
    };
    for (const Case& c : {Case{"a name that does not exist", true}, Case{"a name with no NUL in its buffer", false}}) {
        SCOPED_TRACE(c.name);
        SharedArena arena;
        const std::string missing = pict::scratch_path("pict_missing");
        uint8_t* name = c.terminated ? arena.copy({reinterpret_cast<const uint8_t*>(missing.c_str()), missing.size() + 1})
                                     : arena.fill(64, 'a');
        uint8_t* block = arena.block(52, {{3, host_address(name)}});
        const uint32_t host_blocks = platform_live_blocks(ALLOCATOR_HOST);
        const uint32_t requests = platform_requests(ALLOCATOR_PPC);
        FlushLog log;
        EXPECT_EQ(host_call(load_module("pictrender"), block, 1), 1u);
        EXPECT_EQ(host_word(block, 12), 2u);
        EXPECT_EQ(host_word(block, 2), 0u);
        EXPECT_EQ(host_word(block, 5), 0u);
        EXPECT_EQ(platform_requests(ALLOCATOR_PPC), requests) << "no memory list made";
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), host_blocks);
        const auto flushed = log.entries();
        ASSERT_EQ(flushed.size(), 1u);
        EXPECT_EQ(flushed[0].start, block);
        EXPECT_EQ(flushed[0].length, 52u);
    }
}

TEST(PictRender, APictureThatDrawsNothingIsWhiteAndItsRecordAndPixelsAreFlushed)
{
    for (int version : {1, 2}) {
        SCOPED_TRACE(version);
        Picture p = pict::begin(version, {0, 0, 50, 100});
        const Bytes file = pict::end(p);
        std::vector<FlushRange> flushed;
        uint32_t record_address = 0, pixels_address = 0, block_address = 0;
        const Rendered r = pict::render(file, [&](const host_module* module, uint8_t* block) {
            FlushLog log;
            module->function(block);
            flushed = log.entries();
            block_address = host_address(block);
            record_address = host_word(block, 2);
            if (record_address != 0) pixels_address = host_word(shared_pointer(record_address), 200);
        });
        EXPECT_EQ(r.error, 0u);
        ASSERT_TRUE(r.has_pixels);
        std::vector<uint32_t> words(205, 0);
        words[0] = 1;
        words[1] = 2;
        words[2] = 100;
        words[3] = 50;
        words[4] = 24;
        words[199] = 24;
        words[200] = r.record[200];
        words[201] = 15000;
        EXPECT_EQ(r.record, words);
        EXPECT_EQ(r.rgb, Bytes(15000, 0xFF));
        EXPECT_EQ(r.memlist_word, 0u);
        EXPECT_EQ(r.stream_word, 0u);
        ASSERT_EQ(flushed.size(), 3u);
        EXPECT_EQ(host_address(flushed[0].start), pixels_address);
        EXPECT_EQ(flushed[0].length, 15000u);
        EXPECT_EQ(host_address(flushed[1].start), record_address);
        EXPECT_EQ(flushed[1].length, 820u);
        EXPECT_EQ(host_address(flushed[2].start), block_address);
        EXPECT_EQ(flushed[2].length, 52u);
    }
}

TEST(PictRender, AFrameAwayFromTheOriginGivesItsOwnSize)
{
    Picture p = pict::begin(2, {100, 200, 103, 205});
    pict::dot(p, 201, 102);
    const Rendered r = pict::render(pict::end(p));
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(rows_of(r), Expected(5, 3).set(1, 2, kBlack8).rows());
}

// Errors met before the first opcode end the run at once: no record.
TEST(PictRender, HeaderErrorsEndTheRunWithoutARecord)
{
    const auto header = [](Rect frame) {
        Bytes b(512, 0);
        pict::put16(b, 0);
        pict::put_rect(b, frame);
        return b;
    };
    const auto with = [](Bytes b, std::initializer_list<uint8_t> more) {
        b.insert(b.end(), more);
        return b;
    };
    const auto empty = [](int version, Rect frame) {
        Picture p = pict::begin(version, frame);
        return pict::end(p);
    };
    const Rect frame = {0, 0, 4, 4};
    Bytes cut_frame = header(frame);
    cut_frame.resize(512 + 2 + 5);
    struct Case {
        const char* name;
        Bytes file;
        uint32_t error;
        uint32_t ppc_requests;  // the memory list, then the planes
    };
    const std::vector<Case> cases = {
        {"zero width", empty(2, {0, 5, 4, 5}), 3, 1},
        {"zero height", empty(1, {7, 0, 7, 4}), 3, 1},
        {"planes beyond 32 bits", empty(2, {0, 0, 65535, 65535}), 3, 1},
        {"a pixel buffer beyond 32 bits", empty(2, {0, 0, 30000, 65535}), 3, 1},
        {"no version opcode", with(header(frame), {0x00, 0x00, 0x12, 0x02, 0xFF}), 14, 4},
        {"version 3", with(header(frame), {0x00, 0x11, 0x03, 0xFF}), 15, 4},
        {"version 0", with(header(frame), {0x11, 0x00}), 15, 4},
        {"cut inside the 512-byte header", Bytes(300, 0), 14, 1},
        {"cut inside the frame", cut_frame, 14, 1},
        {"cut after the frame", header(frame), 14, 4},
        {"cut after the version opcode", with(header(frame), {0x00, 0x11}), 14, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        const uint32_t requests = platform_requests(ALLOCATOR_PPC);
        const uint32_t host_blocks = platform_live_blocks(ALLOCATOR_HOST);
        const Rendered r = pict::render(c.file);
        EXPECT_EQ(r.error, c.error);
        EXPECT_FALSE(r.has_record);
        EXPECT_EQ(platform_requests(ALLOCATOR_PPC) - requests, c.ppc_requests);
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), host_blocks);
    }
}

// --- the opcode loop ------------------------------------------------------------------

struct StepCase {
    const char* name;
    void (*write)(Picture& p);
};

// Each case writes one opcode with its data; a dot after it shows that the
// stream is still in step.
void expect_in_step(int version, const std::vector<StepCase>& cases)
{
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(version, {0, 0, 3, 4});
        c.write(p);
        pict::dot(p, 2, 1);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(rows_of(r), Expected(4, 3).set(2, 1, kBlack8).rows());
    }
}

void put_n(Picture& p, size_t n) { p.bytes.insert(p.bytes.end(), n, 0x5A); }

TEST(PictOpcodes, Version2StepsOverEveryKindOfOpcode)
{
    expect_in_step(2, {
        {"NOP", [](Picture& p) { pict::op(p, 0x00); }},
        {"TxFace, one byte: the next opcode follows a pad byte", [](Picture& p) { pict::op(p, 0x04); put_n(p, 1); }},
        {"TxFont, TxSize, TxMode, PnMode, PnSize",
         [](Picture& p) {
             for (uint16_t o : {0x03, 0x0D, 0x05, 0x08}) {
                 pict::op(p, o);
                 pict::put16(p.bytes, 10);
             }
             pict::op(p, 0x07);
             pict::put32(p.bytes, 0x00030003);
         }},
        {"patterns BkPat, PnPat, FillPat", [](Picture& p) { for (uint16_t o : {0x02, 0x09, 0x0A}) { pict::op(p, o); put_n(p, 8); } }},
        {"SpExtra, OvSize, Origin, FgColor, BkColor, TxRatio, Version, ChExtra",
         [](Picture& p) {
             const std::pair<uint16_t, size_t> ops[] = {{0x06, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4},
                                                        {0x0F, 4}, {0x10, 8}, {0x11, 1}, {0x16, 2}};
             for (auto [o, n] : ops) {
                 pict::op(p, o);
                 put_n(p, n);
             }
         }},
        {"colours RGBFgCol, RGBBkCol, HiliteColor, OpColor, PnLocHFrac",
         [](Picture& p) {
             for (uint16_t o : {0x1A, 0x1B, 0x1D, 0x1F}) {
                 pict::op(p, o);
                 pict::put_rgb(p.bytes, {1, 2, 3});
             }
             pict::op(p, 0x15);
             pict::put16(p.bytes, 7);
         }},
        {"reserved 0x17 to 0x19, HiliteMode, DefHilite: no data",
         [](Picture& p) { for (uint16_t o : {0x17, 0x18, 0x19, 0x1C, 0x1E}) pict::op(p, o); }},
        {"Clip of a rectangle", [](Picture& p) { pict::op(p, 0x01); pict::put16(p.bytes, 10); pict::put_rect(p.bytes, {0, 0, 1, 1}); }},
        {"Clip of a region", [](Picture& p) { pict::op(p, 0x01); pict::put16(p.bytes, 15); put_n(p, 13); }},
        {"lines", [](Picture& p) {
             pict::op(p, 0x20); put_n(p, 8);
             pict::op(p, 0x21); put_n(p, 4);
             pict::op(p, 0x22); put_n(p, 6);
             pict::op(p, 0x23); put_n(p, 2);
         }},
        {"reserved with a length word: 0x24, 0x2F, 0x92, 0x9B", [](Picture& p) {
             for (uint16_t o : {0x24, 0x2F, 0x92, 0x9B}) { pict::op(p, o); pict::put16(p.bytes, 3); put_n(p, 3); }
         }},
        {"LongText, below the frame", [](Picture& p) { pict::op(p, 0x28); pict::put_point(p.bytes, 1, 40); pict::put_string(p.bytes, "Hello"); }},
        {"DHText, DVText", [](Picture& p) {
             pict::op(p, 0x29); pict::put8(p.bytes, 9); pict::put_string(p.bytes, "ab");
             pict::op(p, 0x2A); pict::put8(p.bytes, 9); pict::put_string(p.bytes, "abc");
         }},
        {"DHDVText", [](Picture& p) { pict::op(p, 0x2B); pict::put16(p.bytes, 0x0909); pict::put_string(p.bytes, "Hi"); }},
        {"rectangles, rounded rectangles, ovals, arcs", [](Picture& p) {
             for (uint16_t o : {0x30, 0x31, 0x32, 0x37, 0x40, 0x44, 0x50, 0x57}) { pict::op(p, o); put_n(p, 8); }
             for (uint16_t o : {0x38, 0x39, 0x3A, 0x48, 0x58, 0x5F}) pict::op(p, o);
             for (uint16_t o : {0x60, 0x67}) { pict::op(p, o); put_n(p, 12); }
             for (uint16_t o : {0x68, 0x6F}) { pict::op(p, o); put_n(p, 4); }
         }},
        {"polygons framed, painted, filled; regions", [](Picture& p) {
             for (uint16_t o : {0x70, 0x71, 0x74, 0x77, 0x80, 0x81, 0x87}) {
                 pict::op(p, o);
                 pict::put16(p.bytes, 22);
                 put_n(p, 20);
             }
             for (uint16_t o : {0x78, 0x79, 0x7F, 0x88, 0x8F}) pict::op(p, o);
         }},
        {"ShortComment", [](Picture& p) { pict::op(p, 0xA0); pict::put16(p.bytes, 100); }},
        {"LongComment of odd size", [](Picture& p) { pict::op(p, 0xA1); pict::put16(p.bytes, 100); pict::put16(p.bytes, 3); put_n(p, 3); }},
        {"pixel pattern, dithered", [](Picture& p) { pict::op(p, 0x12); pict::put16(p.bytes, 2); put_n(p, 13); }},
        {"pixel pattern, full, with packed rows", [](Picture& p) {
             pict::op(p, 0x13);
             pict::put16(p.bytes, 1);
             put_n(p, 8);
             pict::put16(p.bytes, 0x8008);
             pict::PixMap m{{0, 0, 8, 8}};
             pict::put_pixmap(p.bytes, m);
             pict::put_colour_table(p.bytes, {{0, 0, 0}, {1, 1, 1}});
             const Bytes rows(64, 1);
             pict::put_bytes(p.bytes, pict::row_data(rows, 8, 8, true));
         }},
        {"0x00A2 to 0x00AF: a length word", [](Picture& p) { pict::op(p, 0xA2); pict::put16(p.bytes, 5); put_n(p, 5); }},
        {"0x00B5: no data", [](Picture& p) { pict::op(p, 0xB5); }},
        {"0x00D0 to 0x00FE: a 32-bit length", [](Picture& p) { pict::op(p, 0xFE); pict::put32(p.bytes, 7); put_n(p, 7); }},
        {"0x0200: 4 bytes", [](Picture& p) { pict::op(p, 0x0200); put_n(p, 4); }},
        {"0x7F00: 254 bytes", [](Picture& p) { pict::op(p, 0x7F00); put_n(p, 254); }},
        {"0x0C00 again: 24 bytes", [](Picture& p) { pict::op(p, 0x0C00); put_n(p, 24); }},
        {"0x8000 to 0x80FF: no data", [](Picture& p) { pict::op(p, 0x8000); pict::op(p, 0x80FF); }},
        {"0x8200: a 32-bit length", [](Picture& p) { pict::op(p, 0x8200); pict::put32(p.bytes, 5); put_n(p, 5); }},
        {"0xFFFF: a 32-bit length", [](Picture& p) { pict::op(p, 0xFFFF); pict::put32(p.bytes, 2); put_n(p, 2); }},
    });
}

TEST(PictOpcodes, Version1ReadsByteOpcodes)
{
    expect_in_step(1, {
        {"NOP", [](Picture& p) { pict::op(p, 0x00); }},
        {"TxFace: no pad byte in version 1", [](Picture& p) { pict::op(p, 0x04); put_n(p, 1); }},
        {"PnSize, ShortComment", [](Picture& p) {
             pict::op(p, 0x07); put_n(p, 4);
             pict::op(p, 0xA0); pict::put16(p.bytes, 100);
         }},
        {"0xA2 to 0xAF: a length word", [](Picture& p) { pict::op(p, 0xAF); pict::put16(p.bytes, 3); put_n(p, 3); }},
        {"0xB0 to 0xCF: no data", [](Picture& p) { pict::op(p, 0xB0); pict::op(p, 0xCF); }},
        {"0xD0 to 0xFE: a 32-bit length", [](Picture& p) { pict::op(p, 0xD0); pict::put32(p.bytes, 3); put_n(p, 3); }},
    });
}

TEST(PictOpcodes, DataLeadingBackwardsEndsTheLoopWithError14AndTheOutputStageRuns)
{
    const std::vector<StepCase> cases = {
        {"0x8200 with a length whose top bit is set", [](Picture& p) { pict::op(p, 0x8200); pict::put32(p.bytes, 0x80000000); }},
        {"0x00D0 with length 0xFFFFFFFE", [](Picture& p) { pict::op(p, 0xD0); pict::put32(p.bytes, 0xFFFFFFFE); }},
        {"a Clip region of size 0", [](Picture& p) { pict::op(p, 0x01); pict::put16(p.bytes, 0); }},
        {"a polygon of size 1", [](Picture& p) { pict::op(p, 0x70); pict::put16(p.bytes, 1); }},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 2, 3});
        pict::dot(p, 0, 0);
        c.write(p);
        pict::dot(p, 2, 1);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 14u);
        EXPECT_EQ(rows_of(r), Expected(3, 2).set(0, 0, kBlack8).rows()) << "drawn up to there";
    }
}

TEST(PictOpcodes, ATruncatedFileDeliversWhatWasDrawnWithError14)
{
    const Bytes bits = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};  // 4 x 4
    struct Case {
        const char* name;
        size_t cut;  // bytes cut off the end of the image opcode
        Expected expected;
    };
    Expected two_rows(4, 4);
    for (uint32_t y = 0; y < 2; ++y) two_rows.set(0, y, kBlack8).set(2, y, kBlack8);
    Expected all(4, 4);
    for (uint32_t y = 0; y < 4; ++y) all.set(0, y, kBlack8).set(2, y, kBlack8);
    for (const Case& c : {Case{"between opcodes", 0, all}, Case{"inside the third row", 3, two_rows}}) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 4, 4});
        pict::bitmap(p, 0x90, {0, 0, 4, 4}, bits, {0, 0, 4, 4}, {0, 0, 4, 4}, 0);  // 2 bytes per row
        Bytes file = p.bytes;
        file.resize(file.size() - c.cut);
        const Rendered r = pict::render(file);
        EXPECT_EQ(r.error, 14u);
        EXPECT_EQ(rows_of(r), c.expected.rows());
    }
}

TEST(PictOpcodes, TheLastErrorRecordedIsReported)
{
    const auto bad_pattern = [](Picture& p) {
        pict::op(p, 0x12);
        pict::put16(p.bytes, 3);  // 15; nothing more is read
    };
    const auto bad_index = [](Picture& p) {
        pict::op(p, 0x98);
        pict::put16(p.bytes, 0x8002);
        pict::PixMap m{{0, 0, 1, 1}};
        pict::put_pixmap(p.bytes, m);
        pict::put32(p.bytes, 0);
        pict::put16(p.bytes, 0);
        pict::put16(p.bytes, 0);  // one entry...
        pict::put16(p.bytes, 4);  // ... given index 4: 14
        pict::put_rgb(p.bytes, {0, 0, 0});
        pict::put_placement(p, 0x98, {0, 0, 1, 1}, {0, 0, 1, 1}, 0);
        pict::put16(p.bytes, 0);
    };
    Picture first = pict::begin(2, {0, 0, 1, 1});
    bad_pattern(first);
    bad_index(first);
    EXPECT_EQ(pict::render(pict::end(first)).error, 14u);
    Picture second = pict::begin(2, {0, 0, 1, 1});
    bad_index(second);
    bad_pattern(second);
    EXPECT_EQ(pict::render(pict::end(second)).error, 15u);
}

// --- pixel images ---------------------------------------------------------------------

// One row of an 8-bit indexed image written by the case itself (row bytes
// `row_bytes`, with its packed length), over a grey scale table: index i is
// (i, i, i) in the high bytes. A dot under it shows the stream in step.
Rendered indexed_row(uint16_t width, uint16_t row_bytes, const Bytes& row)
{
    Picture p = pict::begin(2, {0, 0, 2, width});
    pict::op(p, 0x98);
    pict::put16(p.bytes, 0x8000 | row_bytes);
    pict::PixMap m{{0, 0, 1, width}};
    pict::put_pixmap(p.bytes, m);
    std::vector<Rgb16> grey;
    for (uint32_t i = 0; i < 256; ++i) grey.push_back({uint16_t(i * 0x101), uint16_t(i * 0x101), uint16_t(i * 0x101)});
    pict::put_colour_table(p.bytes, grey);
    pict::put_placement(p, 0x98, {0, 0, 1, width}, {0, 0, 1, width}, 0);
    pict::put_bytes(p.bytes, row);
    pict::dot(p, 0, 1);
    return pict::render(pict::end(p));
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes repeat(uint8_t v, size_t n) { return Bytes(n, v); }

TEST(PictImages, PackBitsRowsUnpack)
{
    struct Case {
        const char* name;
        uint16_t width, row_bytes;
        Bytes row;       // with its packed length
        Bytes expected;  // the indices
    };
    const std::vector<Case> cases = {
        {"0xFE 0xAA repeats three times; 0x02 copies three", 8, 8, {6, 0xFE, 0xAA, 0x02, 1, 2, 3},
         {0xAA, 0xAA, 0xAA, 1, 2, 3, 0, 0}},
        {"0x80 repeats 129 times", 130, 130, {2, 0x80, 0x55}, repeat(0x55, 129) + Bytes{0}},
        {"what passes the width is dropped", 9, 10, {2, 0xF6, 7}, repeat(7, 9)},
        {"a row of length 0 stays 0", 8, 8, {0}, repeat(0, 8)},
        {"a literal cut by the packed length ends the row", 8, 8, {3, 0x05, 9, 8}, {9, 8, 0, 0, 0, 0, 0, 0}},
        {"a repeat without its value ends the row", 8, 8, {3, 0x00, 4, 0xFD}, {4, 0, 0, 0, 0, 0, 0, 0}},
        {"a packed length beyond the line buffer is read past", 8, 8, Bytes{120, 0xFB, 6} + repeat(0x01, 118),
         {6, 6, 6, 6, 6, 6, 1, 1}},
        {"a length word above 250 row bytes", 260, 260, {0, 4, 0x01, 3, 4, 0x00}, Bytes{3, 4} + repeat(0, 258)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Rendered r = indexed_row(c.width, c.row_bytes, c.row);
        EXPECT_EQ(r.error, 0u);
        Bytes indices;
        for (uint32_t x = 0; x < c.width; ++x) indices.push_back(r.at(x, 0)[0]);
        EXPECT_EQ(indices, c.expected);
        EXPECT_EQ(r.at(0, 1), kBlack8) << "in step after the row";
    }
}

TEST(PictImages, BitmapsStoredOrPackedByRowBytes)
{
    struct Case {
        const char* name;
        uint16_t opcode, width, row_bytes;
    };
    const std::vector<Case> cases = {
        {"width 16, row bytes 2: stored even in 0x98", 0x98, 16, 2},
        {"row bytes 8: packed rows with a length byte", 0x98, 16, 8},
        {"row bytes above 250: a length word", 0x98, 16, 260},
        {"width 49, row bytes 8: 49 of the 64 pixels kept", 0x98, 49, 8},
        {"0x90 stores rows at any row bytes", 0x90, 40, 10},
        {"0x90 with rows longer than the expansion scratch", 0x90, 300, 300},
        {"0x91 with its mask region", 0x91, 20, 4},
        {"0x99 with its mask region", 0x99, 20, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t height = 3;
        Bytes bits;
        Expected expected(c.width, height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < c.width; ++x) {
                const bool set = (x * 7 + y * 3) % 5 < 2;
                bits.push_back(set);
                if (set) expected.set(x, y, kBlack8);
            }
        Picture p = pict::begin(2, {0, 0, height, c.width});
        const Rect whole = {0, 0, height, c.width};
        pict::bitmap(p, c.opcode, whole, bits, whole, whole, 0, c.row_bytes);
        pict::dot(p, 0, 0);
        expected.set(0, 0, kBlack8);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(rows_of(r), expected.rows());
    }
}

TEST(PictImages, BitmapBitsBecomeBlackAndWhiteBeforeTheTransferMode)
{
    // Row byte 0xA0: pixels 1, 0, 1, 0, 0, 0, 0, 0 over a yellow picture,
    // with a red foreground.
    const Rgb yellow = {0xFF, 0xFF, 0}, red8 = {0xFF, 0, 0};
    struct Case {
        const char* name;
        uint16_t mode;
        std::vector<Rgb> row;
    };
    const std::vector<Case> cases = {
        {"mode 0 copies black and white", 0, {kBlack8, kWhite8, kBlack8, kWhite8, kWhite8, kWhite8, kWhite8, kWhite8}},
        {"mode 64 (dither) copies too", 64, {kBlack8, kWhite8, kBlack8, kWhite8, kWhite8, kWhite8, kWhite8, kWhite8}},
        {"mode 1: set bits take the foreground, clear bits leave the planes", 1,
         {red8, yellow, red8, yellow, yellow, yellow, yellow, yellow}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 1, 8});
        pict::op(p, 0x1A);
        pict::put_rgb(p.bytes, {0xFFFF, 0, 0});
        Bytes yellow_row;
        for (int i = 0; i < 8; ++i) yellow_row.insert(yellow_row.end(), {0xFF, 0xFF, 0});
        pict::direct32(p, {0, 0, 1, 8}, yellow_row, {0, 0, 1, 8}, {0, 0, 1, 8}, 0);
        pict::op(p, 0x90);
        pict::put16(p.bytes, 2);
        pict::put_rect(p.bytes, {0, 0, 1, 8});
        pict::put_rect(p.bytes, {0, 0, 1, 8});
        pict::put_rect(p.bytes, {0, 0, 1, 8});
        pict::put16(p.bytes, c.mode);
        pict::put16(p.bytes, 0xA000);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        Expected expected(8, 1);
        for (uint32_t x = 0; x < 8; ++x) expected.set(x, 0, c.row[x]);
        EXPECT_EQ(rows_of(r), expected.rows());
    }
}

TEST(PictImages, IndexedPixelsOfEveryDepth)
{
    for (uint16_t bits : {1, 2, 4, 8}) {
        SCOPED_TRACE(bits);
        const uint16_t width = 19, height = 2;
        const uint32_t colours = 1u << bits;
        std::vector<Rgb16> table;
        for (uint32_t i = 0; i < colours; ++i) table.push_back({uint16_t(i * 0x0F00), uint16_t(0xFFFF - i * 0x100), 0x1234});
        Bytes pixels;
        Expected expected(width, height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t v = uint8_t((x * 5 + y) % colours);
                pixels.push_back(v);
                expected.set(x, y, high_bytes(table[v]));
            }
        for (uint16_t opcode : {0x90, 0x98}) {
            SCOPED_TRACE(opcode);
            Picture p = pict::begin(2, {0, 0, height, width});
            const Rect whole = {0, 0, height, width};
            const uint16_t row_bytes = std::max<uint16_t>(pict::even_row_bytes(width, bits), 8);
            pict::indexed(p, opcode, whole, bits, pixels, table, whole, whole, 0, row_bytes);
            const Rendered r = pict::render(pict::end(p));
            EXPECT_EQ(r.error, 0u);
            EXPECT_EQ(rows_of(r), expected.rows());
        }
    }
}

TEST(PictImages, DirectColourPixels)
{
    struct Case {
        const char* name;
        uint16_t bits, width, components, row_bytes;
    };
    const std::vector<Case> cases = {
        {"32 bits, width 1: a stored row of one whole pixel", 32, 1, 3, 4},
        {"32 bits, width 2: row bytes 8, packed with a length byte", 32, 2, 3, 8},
        {"32 bits, width 62: the last width with a length byte", 32, 62, 3, 0},
        {"32 bits, width 63: row bytes 252 take a length word", 32, 63, 3, 0},
        {"32 bits, four components: the alpha plane is skipped", 32, 20, 4, 0},
        {"16 bits, width 3: a stored row", 16, 3, 3, 6},
        {"16 bits, width 4: packed in words with a length byte", 16, 4, 3, 0},
        {"16 bits, width 130: a length word", 16, 130, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint16_t height = 3;
        const Rect whole = {0, 0, height, c.width};
        Expected expected(c.width, height);
        Picture p = pict::begin(2, whole);
        if (c.bits == 32) {
            Bytes rgb;
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < c.width; ++x) {
                    const Rgb v = {uint8_t(x * 7 + y), uint8_t(x / 4 * 40), uint8_t(200 - y * 50)};
                    rgb.insert(rgb.end(), v.begin(), v.end());
                    expected.set(x, y, v);
                }
            pict::direct32(p, whole, rgb, whole, whole, 64, c.components, c.row_bytes);
        } else {
            std::vector<uint16_t> pixels;
            for (uint32_t y = 0; y < height; ++y)
                for (uint32_t x = 0; x < c.width; ++x) {
                    const uint16_t r5 = uint16_t(x % 32), g5 = uint16_t((x / 3 + y) % 32), b5 = uint16_t(31 - y);
                    pixels.push_back(uint16_t(r5 << 10 | g5 << 5 | b5));
                    expected.set(x, y, {uint8_t(r5 << 3), uint8_t(g5 << 3), uint8_t(b5 << 3)});
                }
            pict::direct16(p, whole, pixels, whole, whole, 0, c.row_bytes);
        }
        pict::dot(p, 0, 0);
        expected.set(0, 0, kBlack8);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(rows_of(r), expected.rows());
    }
}

TEST(PictImages, SixteenBitPixelsLandInTheTopFiveBits)
{
    Picture p = pict::begin(2, {0, 0, 1, 2});
    pict::direct16(p, {0, 0, 1, 2}, {0x7FFF, 0x4210}, {0, 0, 1, 2}, {0, 0, 1, 2}, 0);
    const Rendered r = pict::render(pict::end(p));
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(rows_of(r), (std::vector<std::string>{"f8f8f8 808080"}));
}

TEST(PictImages, DirectMapsOfEightBitsOrLessDrawNothing)
{
    for (uint16_t bits : {1, 8}) {
        SCOPED_TRACE(bits);
        Picture p = pict::begin(2, {0, 0, 1, 4});
        pict::op(p, 0x9A);
        pict::put32(p.bytes, 0xFF);
        pict::put16(p.bytes, 0x8002);
        pict::PixMap m{{0, 0, 1, 4}};
        m.pixel_size = bits;
        m.cmp_size = bits;
        pict::put_pixmap(p.bytes, m);
        pict::put_placement(p, 0x9A, {0, 0, 1, 4}, {0, 0, 1, 4}, 0);
        pict::put16(p.bytes, 0x0102);  // one stored row
        pict::dot(p, 3, 0);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(rows_of(r), Expected(4, 1).set(3, 0, kBlack8).rows());
    }
}

TEST(PictImages, PlaneValuesDeliverTheirHighByte)
{
    Picture p = pict::begin(2, {0, 0, 1, 1});
    pixel(p, 0, 0, {0x12FF, 0x00FF, 0xFF00});
    const Rendered r = pict::render(pict::end(p));
    EXPECT_EQ(r.at(0, 0), (Rgb{0x12, 0x00, 0xFF}));
}

TEST(PictImages, ColourTables)
{
    // A 1 x 2 map of the pixels 0 and 1 over a table of two colours given
    // with the flags and index words of the case.
    struct Case {
        const char* name;
        uint16_t flags, first_index, second_index;
        uint32_t error;
        std::string row;
    };
    const std::vector<Case> cases = {
        {"flags bit 15: entries in order, whatever their index words", 0x8000, 1, 7, 0, "102030 405060"},
        {"index words place the entries", 0, 1, 0, 0, "405060 102030"},
        {"an index beyond the table: 14, that entry stays black, the picture is delivered", 0, 0, 2, 14,
         "102030 000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 1, 2});
        pict::op(p, 0x98);
        pict::put16(p.bytes, 0x8002);
        pict::put_pixmap(p.bytes, pict::PixMap{{0, 0, 1, 2}});
        pict::put32(p.bytes, 0);
        pict::put16(p.bytes, c.flags);
        pict::put16(p.bytes, 1);
        pict::put16(p.bytes, c.first_index);
        pict::put_rgb(p.bytes, {0x1000, 0x2000, 0x3000});
        pict::put16(p.bytes, c.second_index);
        pict::put_rgb(p.bytes, {0x4000, 0x5000, 0x6000});
        pict::put_placement(p, 0x98, {0, 0, 1, 2}, {0, 0, 1, 2}, 0);
        pict::put16(p.bytes, 0x0001);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(rows_of(r), std::vector<std::string>{c.row});
    }
    {
        SCOPED_TRACE("a pixel beyond the table is black");
        Picture p = pict::begin(2, {0, 0, 1, 2});
        pict::indexed(p, 0x98, {0, 0, 1, 2}, 8, {0, 5}, {{0x1000, 0x2000, 0x3000}}, {0, 0, 1, 2}, {0, 0, 1, 2}, 0);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(rows_of(r), (std::vector<std::string>{"102030 000000"}));
    }
}

TEST(PictImages, UnsupportedMapsRecordTheirErrorAndTheRestIsDrawn)
{
    struct Case {
        const char* name;
        void (*change)(pict::PixMap& m);
        uint32_t error;
        bool drawn;
    };
    const std::vector<Case> cases = {
        {"pixel type 16 in an indexed map: 15, still drawn", [](pict::PixMap& m) { m.pixel_type = 16; }, 15, true},
        {"three components: 15, still drawn", [](pict::PixMap& m) { m.cmp_count = 3; }, 15, true},
        {"component size apart from the pixel size: 15, still drawn", [](pict::PixMap& m) { m.cmp_size = 4; }, 15,
         true},
        {"pixel size 3: 14", [](pict::PixMap& m) { m.pixel_size = m.cmp_size = 3; }, 14, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 1, 2});
        pict::op(p, 0x98);
        pict::put16(p.bytes, 0x8002);
        pict::PixMap m{{0, 0, 1, 2}};
        c.change(m);
        pict::put_pixmap(p.bytes, m);
        pict::put_colour_table(p.bytes, {{0x1000, 0x2000, 0x3000}, {0x4000, 0x5000, 0x6000}});
        pict::put_placement(p, 0x98, {0, 0, 1, 2}, {0, 0, 1, 2}, 0);
        pict::put16(p.bytes, 0x0100);
        pict::dot(p, 1, 0);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, c.error);
        if (c.drawn) {
            EXPECT_EQ(r.at(0, 0), (Rgb{0x40, 0x50, 0x60}));
        }
        EXPECT_EQ(r.at(1, 0), kBlack8) << "the stream is in step after the image";
    }
}

TEST(PictImages, ClippingToTheFrameAndTheBounds)
{
    // A 3 x 3 image, its pixel (x, y) of colour index 1 + x + 3y.
    std::vector<Rgb16> table = {{0, 0, 0}};
    for (uint16_t i = 1; i <= 9; ++i) table.push_back({uint16_t(i << 8), uint16_t(i << 12), 0});
    const Bytes pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const auto colour = [&](uint32_t x, uint32_t y) { return high_bytes(table[1 + x + 3 * y]); };
    struct Case {
        const char* name;
        Rect frame, src, dst;
        std::vector<std::pair<uint32_t, uint32_t>> from;  // per covered pixel: (source x, y), row by row
        Rect covered;                                     // where they land, frame-relative
    };
    const std::vector<Case> cases = {
        {"partly past the right and bottom of the frame", {0, 0, 4, 4}, {0, 0, 3, 3}, {2, 2, 5, 5},
         {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, {2, 2, 4, 4}},
        {"a source rectangle partly outside the bounds", {0, 0, 4, 4}, {1, 1, 5, 5}, {0, 0, 4, 4},
         {{1, 1}, {2, 1}, {1, 2}, {2, 2}}, {0, 0, 2, 2}},
        {"a destination smaller than the source: the rows and columns both hold", {0, 0, 4, 4}, {0, 0, 3, 3},
         {1, 1, 2, 3}, {{0, 0}, {1, 0}}, {1, 1, 2, 3}},
        {"partly before a frame away from the origin: lands at the frame's corner", {10, 10, 13, 13},
         {0, 0, 3, 3}, {8, 9, 11, 12}, {{0, 0}, {1, 0}}, {0, 0, 1, 2}},
        {"entirely outside", {0, 0, 4, 4}, {0, 0, 3, 3}, {5, 5, 8, 8}, {}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, c.frame);
        pict::indexed(p, 0x98, {0, 0, 3, 3}, 8, pixels, table, c.src, c.dst, 0);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        Expected expected(pict::width_of(c.frame), pict::height_of(c.frame));
        size_t k = 0;
        for (uint32_t y = c.covered.top; y < c.covered.bottom; ++y)
            for (uint32_t x = c.covered.left; x < c.covered.right; ++x, ++k)
                expected.set(x, y, colour(c.from[k].first, c.from[k].second));
        EXPECT_EQ(k, c.from.size());
        EXPECT_EQ(rows_of(r), expected.rows());
    }
}

// --- transfer modes -------------------------------------------------------------------

TEST(PictImages, TransferModes)
{
    constexpr Rgb16 black = {0, 0, 0}, white = {0xFFFF, 0xFFFF, 0xFFFF};
    constexpr Rgb16 fg = {0x1100, 0x2200, 0x3300}, bg = {0xAA00, 0xBB00, 0xCC00};
    struct Case {
        const char* name;
        uint16_t mode;
        Rgb16 destination, source, op_colour, result;
    };
    const std::vector<Case> cases = {
        {"0 copies", 0, white, {0x1234, 0x5678, 0x9ABC}, black, {0x1234, 0x5678, 0x9ABC}},
        {"64 (dither) copies", 64, white, {0x1234, 0x5678, 0x9ABC}, black, {0x1234, 0x5678, 0x9ABC}},
        {"srcOr: black takes the foreground", 1, {0x4000, 0x4000, 0x4000}, black, black, fg},
        {"srcOr: any other colour leaves the planes", 1, {0x4000, 0x4000, 0x4000}, {0, 0, 1}, black,
         {0x4000, 0x4000, 0x4000}},
        {"srcXor", 2, {0x1200, 0x0000, 0xFFFF}, {0x3400, 0xFFFF, 0x0000}, black, {0xD9FF, 0x0000, 0x0000}},
        {"srcBic: black takes the background", 3, {0x4000, 0x4000, 0x4000}, black, black, bg},
        {"notSrcCopy: white takes the foreground", 4, {0x4000, 0x4000, 0x4000}, white, black, fg},
        {"notSrcCopy: black takes the background", 4, {0x4000, 0x4000, 0x4000}, black, black, bg},
        {"notSrcCopy: other colours leave the planes", 4, {0x4000, 0x4000, 0x4000}, {0x8000, 0, 0}, black,
         {0x4000, 0x4000, 0x4000}},
        {"notSrcOr", 5, {0x4000, 0x4000, 0x4000}, white, black, fg},
        {"notSrcXor", 6, {0x1200, 0x0000, 0xFFFF}, {0x3400, 0xFFFF, 0x0000}, black, {0x2600, 0xFFFF, 0xFFFF}},
        {"notSrcBic", 7, {0x4000, 0x4000, 0x4000}, white, black, bg},
        {"blend by half: both quotients truncated", 32, {0x4001, 0x0000, 0xFFFF}, {0x8001, 0x2000, 0x0000},
         {0x8000, 0x8000, 0x8000}, {0x6000, 0x1000, 0x7FFF}},
        {"blend by 0 leaves the planes", 32, {0x4000, 0x5000, 0x6000}, {0x8000, 0x2000, 0x0000}, black,
         {0x4000, 0x5000, 0x6000}},
        {"blend to 0x12FF delivers 0x12", 32, white, black, {0xED00, 0xED00, 0xED00}, {0x12FF, 0x12FF, 0x12FF}},
        {"addPin", 33, {0xC000, 0xC000, 0x1000}, {0x8000, 0x8000, 0x1000}, {0xFFFF, 0xA000, 0xFFFF},
         {0xFFFF, 0xA000, 0x2000}},
        {"addOver", 34, {0xC000, 0x1000, 0x0000}, {0x8000, 0x1000, 0x0000}, black, {0x4000, 0x2000, 0x0000}},
        {"subPin", 35, {0x4000, 0x8000, 0x8000}, {0x8000, 0x2000, 0x7800}, {0x1000, 0x1000, 0x1000},
         {0x1000, 0x6000, 0x1000}},
        {"transparent: the background colour leaves the planes", 36, {0x4000, 0x4000, 0x4000}, bg, black,
         {0x4000, 0x4000, 0x4000}},
        {"transparent: other colours are copied", 36, {0x4000, 0x4000, 0x4000}, {0xAA00, 0xBB00, 0xCC01}, black,
         {0xAA00, 0xBB00, 0xCC01}},
        {"adMax", 37, {0x4000, 0x9000, 0x0000}, {0x8000, 0x2000, 0x0000}, black, {0x8000, 0x9000, 0x0000}},
        {"subOver", 38, {0x4000, 0x9000, 0x0000}, {0x8000, 0x2000, 0x0000}, black, {0xC000, 0x7000, 0x0000}},
        {"adMin", 39, {0x4000, 0x9000, 0x0000}, {0x8000, 0x2000, 0x0000}, black, {0x4000, 0x2000, 0x0000}},
        {"8, a pattern mode, draws as srcCopy: black takes the foreground", 8, white, black, black, fg},
        {"17, unknown, draws as srcCopy: other colours take the background", 17, white, {1, 2, 3}, black, bg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture p = pict::begin(2, {0, 0, 1, 1});
        pict::op(p, 0x1A);
        pict::put_rgb(p.bytes, fg);
        pict::op(p, 0x1B);
        pict::put_rgb(p.bytes, bg);
        pict::op(p, 0x1F);
        pict::put_rgb(p.bytes, c.op_colour);
        pixel(p, 0, 0, c.destination);
        pixel(p, 0, 0, c.source, c.mode);
        const Rendered r = pict::render(pict::end(p));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.at(0, 0), high_bytes(c.result));
    }
}

// The colours and the other state opcodes carry from one picture to the next
// start afresh with each run.
TEST(PictRender, EveryRunStartsFromTheSameDrawingState)
{
    Picture first = pict::begin(2, {0, 0, 1, 1});
    for (uint16_t o : {0x1A, 0x1B, 0x1F}) {
        pict::op(first, o);
        pict::put_rgb(first.bytes, {0x4000, 0x5000, 0x6000});
    }
    EXPECT_EQ(pict::render(pict::end(first)).error, 0u);

    Picture second = pict::begin(2, {0, 0, 1, 3});
    pixel(second, 0, 0, {0, 0, 0}, 1);              // srcOr: the foreground, black
    pixel(second, 1, 0, {0, 0, 0}, 3);              // srcBic: the background, white
    pixel(second, 2, 0, {0x8000, 0x8000, 0}, 32);   // blend by op colour 0: unchanged
    const Rendered r = pict::render(pict::end(second));
    EXPECT_EQ(rows_of(r), (std::vector<std::string>{"000000 ffffff ffffff"}));
}

// --- memory ------------------------------------------------------------------------------

// A picture with a bitmap, an indexed map and a direct map, each at its own
// place, so that a refused buffer shows as the image missing.
Bytes three_images()
{
    Picture p = pict::begin(2, {0, 0, 1, 3});
    pict::bitmap(p, 0x98, {0, 0, 1, 1}, {1}, {0, 0, 1, 1}, {0, 0, 1, 1}, 0);
    pixel(p, 1, 0, {0x1000, 0x2000, 0x3000});
    pict::direct32(p, {0, 0, 1, 1}, {0x40, 0x50, 0x60}, {0, 0, 1, 1}, {0, 2, 1, 3}, 0);
    return pict::end(p);
}

TEST(PictMemory, EveryWorkingAllocationFailingInTurn)
{
    // The requests in order: memory list; red, green, blue; bitmap image and
    // line; colour table, image and line of the indexed map; image and line
    // of the direct map.
    const std::vector<std::string> drawn = {"000000 102030 405060"};
    const std::vector<std::vector<std::string>> missing = {
        {"ffffff 102030 405060"}, {"ffffff 102030 405060"}, {"000000 ffffff 405060"}, {"000000 ffffff 405060"},
        {"000000 ffffff 405060"}, {"000000 102030 ffffff"}, {"000000 102030 ffffff"},
    };
    const Bytes file = three_images();
    uint32_t n = 1;
    for (;; ++n) {
        SCOPED_TRACE(n);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        const uint32_t host_blocks = platform_live_blocks(ALLOCATOR_HOST);
        uint32_t requests = 0;
        const Rendered r = pict::render(file, [&](const host_module* module, uint8_t* block) {
            const uint32_t before = platform_requests(ALLOCATOR_PPC);
            platform_fail_nth_alloc(ALLOCATOR_PPC, n);
            module->function(block);
            platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
            requests = platform_requests(ALLOCATOR_PPC) - before;
        });
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << "the memory list is released";
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_HOST), host_blocks);
        if (requests < n) {
            EXPECT_EQ(r.error, 0u);
            EXPECT_EQ(rows_of(r), drawn);
            break;
        }
        EXPECT_EQ(r.error, 3u);
        if (n <= 4) {
            EXPECT_FALSE(r.has_record) << "the list or a plane: no output stage";
        } else {
            ASSERT_TRUE(r.has_pixels);
            ASSERT_LE(n - 5, missing.size() - 1);
            EXPECT_EQ(rows_of(r), missing[n - 5]);
        }
    }
    EXPECT_EQ(n, 12u) << "eleven requests";
}

TEST(PictMemory, TheRecordAndThePixelBufferRefused)
{
    for (uint32_t n : {1u, 2u}) {
        SCOPED_TRACE(n == 1 ? "the record" : "the pixel buffer");
        uint32_t owned = 0, record_word = 0, pixels_word = 0;
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        const Rendered r = pict::render(three_images(), [&](const host_module* module, uint8_t* block) {
            const uint32_t host_blocks = platform_live_blocks(ALLOCATOR_HOST);
            platform_fail_nth_alloc(ALLOCATOR_HOST, n);
            module->function(block);
            platform_fail_nth_alloc(ALLOCATOR_HOST, 0);
            owned = platform_live_blocks(ALLOCATOR_HOST) - host_blocks;
            record_word = host_word(block, 2);
            if (record_word) pixels_word = host_word(shared_pointer(record_word), 200);
        });
        EXPECT_EQ(r.error, 3u);
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
        if (n == 1) {
            EXPECT_EQ(record_word, 0u);
            EXPECT_EQ(owned, 0u);
        } else {
            ASSERT_TRUE(r.has_record);
            EXPECT_EQ(owned, 1u) << "the host owns exactly the record";
            EXPECT_EQ(pixels_word, 0u);
            EXPECT_EQ(r.record[2], 3u);
            EXPECT_EQ(r.record[201], 9u);
        }
    }
}

TEST(PictMemory, AFullMemoryListRefusesFurtherImages)
{
    // The planes take 3 of the 255 entries and each bitmap 2: bitmap 126 is
    // the last that finds room.
    Picture p = pict::begin(2, {0, 0, 1, 130});
    for (uint16_t x = 0; x < 130; ++x)
        pict::bitmap(p, 0x98, {0, 0, 1, 1}, {1}, {0, 0, 1, 1}, {0, x, 1, uint16_t(x + 1)}, 0);
    const Rendered r = pict::render(pict::end(p));
    EXPECT_EQ(r.error, 3u);
    Expected expected(130, 1);
    for (uint32_t x = 0; x < 126; ++x) expected.set(x, 0, kBlack8);
    EXPECT_EQ(rows_of(r), expected.rows());
}

} // namespace
