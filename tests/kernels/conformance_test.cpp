// The conformance suite: one row per kernel module, and the protocol every
// module must keep, checked on each row. A row gives the module's name, the
// words of its block, whether it exports PPCFunction and which other named
// routines, whether it takes working memory, and a small valid run.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "platform/platform.h"

namespace {

using Exempt = std::vector<FlushRange>;
using Prepare = void (*)(SharedArena& arena, uint8_t* block, Exempt& rewritten_in_place);

struct ConformanceRow {
    const char* name;
    uint32_t block_words;
    bool exports_ppc_function;
    std::vector<const char*> named_exports;
    bool allocates;
    // The error word after the small run; nullopt when the run leaves it as
    // the host set it.
    std::optional<uint32_t> error_after_run;
    // Fills the block's arguments and the buffers they name (taken from the
    // arena) for a small valid run, and lists any source the module rewrites
    // in place without a flush.
    Prepare prepare;
    // The name the version string carries, when it is not the module's own.
    const char* version_name = nullptr;
};

// --- planar and chunky: chunkytoplanes, planestochunky, truetoplanes, planestotrue ---

// Source (a byte pattern), destination (cleared), width and height of 9 x
// `height`; then the plane count for the palette modules.
void prepare_planar(SharedArena& arena, uint8_t* block, uint32_t source_size, uint32_t destination_size,
                    uint32_t height, uint32_t planes)
{
    std::vector<uint8_t> source(source_size);
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 37 + 1);
    host_set_word(block, 2, host_address(arena.copy(source)));
    host_set_word(block, 3, host_address(arena.alloc(destination_size)));
    host_set_word(block, 4, 9);
    host_set_word(block, 5, height);
    if (planes != 24) host_set_word(block, 6, planes);
}

void prepare_chunkytoplanes(SharedArena& arena, uint8_t* block, Exempt&)
{
    prepare_planar(arena, block, 9 * 3, 3 * 2 * 3, 3, 3);
}

void prepare_planestochunky(SharedArena& arena, uint8_t* block, Exempt&)
{
    prepare_planar(arena, block, 3 * 2 * 3, 9 * 3, 3, 3);
}

void prepare_truetoplanes(SharedArena& arena, uint8_t* block, Exempt&)
{
    prepare_planar(arena, block, 9 * 2 * 3, 24 * 2 * 2, 2, 24);
}

void prepare_planestotrue(SharedArena& arena, uint8_t* block, Exempt&)
{
    prepare_planar(arena, block, 24 * 2 * 2, 9 * 2 * 3, 2, 24);
}

// --- ByteRun1: rununpack, runpack, pbmload, pbmstore -----------------------------

// The row buffers and PackRow's scratch are the modules' own work space: the
// host never reads them back, and only the destination is flushed.

void prepare_rununpack(SharedArena& arena, uint8_t* block, Exempt&)
{
    // Two rows of two planes and a mask, three bytes kept of four unpacked.
    const std::vector<uint8_t> body = {0x03, 1, 2, 3, 4, 0xFD, 5, 0x80, 0xFB, 6, 0x01, 7, 8, 0xFF, 9,
                                       0xFD, 10, 0x00, 11, 0xFE, 12, 0x03, 13, 14, 15, 16};
    uint8_t* row = arena.alloc(4 + 127);
    host_set_word(block, 2, host_address(row));
    host_set_word(block, 3, host_address(arena.copy(body)));
    host_set_word(block, 4, host_address(arena.alloc(3 * 6)));
    host_set_word(block, 5, 2);
    host_set_word(block, 7, 2);
    host_set_word(block, 8, 1);
    host_set_word(block, 9, 3);
    host_set_word(block, 10, 4);
    host_set_word(block, 11, 6);
}

void prepare_runpack(SharedArena& arena, uint8_t* block, Exempt&)
{
    std::vector<uint8_t> planar(3 * 2 * 3);
    for (size_t i = 0; i < planar.size(); ++i) planar[i] = uint8_t(i < 8 ? 5 : i * 29 + 3);
    uint8_t* scratch = arena.alloc(254);
    host_set_word(block, 2, host_address(arena.copy(planar)));
    host_set_word(block, 3, host_address(arena.alloc(6 * 5)));
    host_set_word(block, 4, host_address(scratch));
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 3);
    host_set_word(block, 7, 3);
}

void prepare_pbmload(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> body = {0xFB, 7, 0x80, 0x02, 1, 2, 3, 0x00, 4, 0xFE, 4, 0x00, 5};
    uint8_t* row = arena.alloc(4 + 127);
    host_set_word(block, 2, host_address(arena.copy(body)));
    host_set_word(block, 3, host_address(arena.alloc(3 * 3)));
    host_set_word(block, 4, host_address(row));
    host_set_word(block, 6, 3);
    host_set_word(block, 7, 3);
    host_set_word(block, 8, 4);
}

void prepare_pbmstore(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> pixels = {7, 7, 7, 8, 1, 2, 9, 9, 9, 9, 9, 9};
    host_set_word(block, 2, host_address(arena.copy(pixels)));
    host_set_word(block, 3, host_address(arena.alloc(2 * 7)));
    host_set_word(block, 4, host_address(arena.alloc(254)));
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 5);
}

// --- HAM: hamexpand, hamsix, hameight, hamsixfast, hameightfast ------------------

// A 5 x 2 true-colour picture with changes in one, two and three components.
std::vector<uint8_t> ham_source()
{
    return {10, 20, 30, 10, 20, 200, 90, 20, 200, 255, 255, 255, 0, 0, 0,
            200, 100, 50, 200, 100, 50, 201, 99, 50, 3, 250, 128, 64, 64, 64};
}

void prepare_hamexpand(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> codes = {0x00, 0x2F, 0x3F, 0x1F, 0x45, 0x0F, 0x21, 0x37, 0x1A, 0x05};
    std::vector<uint8_t> palette(16 * 3);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = uint8_t(i * 11 + 3);
    host_set_word(block, 2, host_address(arena.copy(codes)));
    host_set_word(block, 3, host_address(arena.alloc(5 * 2 * 3)));
    host_set_word(block, 4, host_address(arena.alloc(820)));
    host_set_word(block, 5, 5);
    host_set_word(block, 6, 2);
    host_set_word(block, 7, 6);
    host_set_word(block, 8, host_address(arena.copy(palette)));
}

void prepare_hamsix(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(arena.copy(ham_source())));
    host_set_word(block, 3, host_address(arena.alloc(5 * 2)));
    host_set_word(block, 4, 5);
    host_set_word(block, 5, 2);
    host_set_word(block, 6, host_address(arena.alloc(16384)));
}

void prepare_hameight(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(arena.copy(ham_source())));
    host_set_word(block, 3, host_address(arena.alloc(5 * 2)));
    host_set_word(block, 4, 5);
    host_set_word(block, 5, 2);
    host_set_word(block, 6, host_address(arena.alloc(64 * 3)));
    host_set_word(block, 7, host_address(arena.alloc(4096 * 8)));
}

void prepare_ham_quick(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(arena.copy(ham_source())));
    host_set_word(block, 3, host_address(arena.fill(5 * 2, 0xEE)));
    host_set_word(block, 4, 5);
    host_set_word(block, 5, 2);
}

// --- BMP and PCX: bmpstore, bmpload, bmprunload, pcxload4/8/24, pcxstore4/8/24 ---

void prepare_bmpstore(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    host_set_word(block, 2, host_address(arena.copy(rgb)));
    host_set_word(block, 3, host_address(arena.alloc(8 * 3)));
    host_set_word(block, 4, host_address(arena.alloc(6)));
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 3);
    host_set_word(block, 7, 24);
}

void prepare_bmpload(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> rows = {0x12, 0x30, 0, 0, 0x45, 0x06, 0, 0};
    host_set_word(block, 2, host_address(arena.copy(rows)));
    host_set_word(block, 3, host_address(arena.alloc(3 * 2)));
    host_set_word(block, 4, 3);
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 4);
}

void prepare_bmprunload(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> codes = {2, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 1};
    host_set_word(block, 2, host_address(arena.copy(codes)));
    host_set_word(block, 3, host_address(arena.alloc(5 * 2)));
    host_set_word(block, 4, 5);
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 8);
}

// The PCX decoders rewrite the run byte of a run that crosses a line end in
// their source; each small run has one.
uint8_t* pcx_runs(SharedArena& arena, Exempt& exempt, const std::vector<uint8_t>& runs)
{
    uint8_t* source = arena.copy(runs);
    exempt.push_back({source, uint32_t(runs.size())});
    return source;
}

void prepare_pcxload4(SharedArena& arena, uint8_t* block, Exempt& exempt)
{
    // Width 12, bytes per line 2, two planes, two rows.
    host_set_word(block, 2, host_address(pcx_runs(arena, exempt, {0xC3, 0xAA, 0x0F, 0xC5, 0x55})));
    host_set_word(block, 3, host_address(arena.alloc(2 * 2 * 2)));
    host_set_word(block, 4, host_address(arena.alloc(2)));
    host_set_word(block, 5, 12);
    host_set_word(block, 6, 2);
    host_set_word(block, 7, 2);
    host_set_word(block, 8, 2);
}

void prepare_pcxload8(SharedArena& arena, uint8_t* block, Exempt& exempt)
{
    host_set_word(block, 2, host_address(pcx_runs(arena, exempt, {0xC5, 0x07, 0xC1, 0xC8})));
    host_set_word(block, 3, host_address(arena.alloc(3 * 2)));
    host_set_word(block, 4, 3);
    host_set_word(block, 5, 2);
    host_set_word(block, 7, 3);
}

void prepare_pcxload24(SharedArena& arena, uint8_t* block, Exempt& exempt)
{
    host_set_word(block, 2, host_address(pcx_runs(arena, exempt, {10, 0xC3, 20, 30, 40, 0xC3, 50})));
    host_set_word(block, 3, host_address(arena.alloc(2 * 3 * 1)));
    host_set_word(block, 4, 2);
    host_set_word(block, 5, 1);
    host_set_word(block, 6, 24);
    host_set_word(block, 7, 2);
}

void prepare_pcxstore4(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> planar = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
    host_set_word(block, 2, host_address(arena.copy(planar)));
    host_set_word(block, 3, host_address(arena.alloc(4 * 4 * 4)));
    host_set_word(block, 4, host_address(arena.fill(4, 9)));
    host_set_word(block, 5, 4);
    host_set_word(block, 6, 4);
    host_set_word(block, 7, 1);
}

void prepare_pcxstore8(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> rows = {5, 5, 5, 5, 6, 6, 6, 6, 0xC9, 7, 7, 7};
    host_set_word(block, 2, host_address(arena.copy(rows)));
    host_set_word(block, 3, host_address(arena.alloc(4 * 4)));
    host_set_word(block, 4, 4);
    host_set_word(block, 5, 3);
}

void prepare_pcxstore24(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    host_set_word(block, 2, host_address(arena.copy(rgb)));
    host_set_word(block, 3, host_address(arena.alloc(12)));
    host_set_word(block, 4, 2);
    host_set_word(block, 5, 2);
}

// --- Targa, WPG, RGB8, Photo-CD, DEEP --------------------------------------------

// (the small runs of this group come here)

// --- LZW -------------------------------------------------------------------------

void prepare_lzwpack(SharedArena& arena, uint8_t* block, Exempt&)
{
    // Five rows of three pixels, interlaced, at code size 4.
    const std::vector<uint8_t> pixels = {1, 1, 1, 2, 2, 2, 3, 4, 5, 1, 1, 1, 15, 0, 15};
    uint8_t* position = arena.alloc(4);
    host_set_word(position, 0, host_address(arena.alloc(64)));
    host_set_word(block, 2, host_address(position));
    host_set_word(block, 3, host_address(arena.copy(pixels)));
    host_set_word(block, 4, 3);
    host_set_word(block, 5, 5);
    host_set_word(block, 6, 4);
    host_set_word(block, 7, 64);
}

void prepare_lzwunpack(SharedArena& arena, uint8_t* block, Exempt& exempt)
{
    // Pixels 0, 1, 2, 3, 0 at code size 2, in sub-blocks of two bytes and
    // one: joining them moves two bytes over the second count byte.
    const std::vector<uint8_t> stream = {0x02, 0x02, 0x44, 0x34, 0x01, 0x50, 0x00};
    uint8_t* source = arena.copy(stream);
    exempt.push_back({source, uint32_t(stream.size())});
    uint8_t* destination = arena.alloc(5);
    host_set_word(block, 2, host_address(source));
    host_set_word(block, 3, host_address(source) + uint32_t(stream.size()));
    host_set_word(block, 4, 5);
    host_set_word(block, 5, 1);
    host_set_word(block, 6, host_address(destination));
    host_set_word(block, 7, host_address(destination) + 5);
}

// --- colour reduction ------------------------------------------------------------

// (the small runs of this group come here)

// --- PICT ------------------------------------------------------------------------

// (the small runs of this group come here)

// --- geometry and filters --------------------------------------------------------

// (the small runs of this group come here)

const std::vector<ConformanceRow>& rows()
{
    static const std::vector<ConformanceRow> table = {
        // name, words, PPCFunction, named exports, allocates, error after run, small run
        // planar and chunky
        {"chunkytoplanes", 8, false, {}, false, std::nullopt, prepare_chunkytoplanes},
        {"planestochunky", 8, false, {}, false, std::nullopt, prepare_planestochunky},
        {"truetoplanes", 7, true, {}, false, std::nullopt, prepare_truetoplanes},
        {"planestotrue", 7, true, {}, false, std::nullopt, prepare_planestotrue},
        // ByteRun1: rununpack, runpack, pbmload, pbmstore
        {"rununpack", 13, true, {"copymem"}, false, std::nullopt, prepare_rununpack},
        {"runpack", 10, true, {"PackRow"}, false, std::nullopt, prepare_runpack},
        {"pbmload", 11, true, {"copymem"}, false, std::nullopt, prepare_pbmload},
        {"pbmstore", 9, true, {"DoPack"}, false, std::nullopt, prepare_pbmstore},

        // HAM: hamexpand, hamsix, hameight, hamsixfast, hameightfast
        {"hamexpand", 10, false, {}, false, std::nullopt, prepare_hamexpand},
        {"hamsix", 8, false, {}, false, std::nullopt, prepare_hamsix},
        {"hameight", 9, false, {}, false, std::nullopt, prepare_hameight},
        {"hamsixfast", 7, false, {}, false, std::nullopt, prepare_ham_quick},
        {"hameightfast", 7, false, {}, false, std::nullopt, prepare_ham_quick},

        // BMP and PCX: bmpstore, bmpload, bmprunload, pcxload4/8/24, pcxstore4/8/24
        {"bmpstore", 9, false, {}, false, std::nullopt, prepare_bmpstore},
        {"bmpload", 9, false, {}, false, std::nullopt, prepare_bmpload},
        {"bmprunload", 9, false, {}, false, std::nullopt, prepare_bmprunload},
        {"pcxload4", 11, true, {}, false, std::nullopt, prepare_pcxload4},
        {"pcxload8", 10, true, {}, false, std::nullopt, prepare_pcxload8},
        {"pcxload24", 10, true, {}, false, std::nullopt, prepare_pcxload24},
        {"pcxstore4", 10, true, {}, false, std::nullopt, prepare_pcxstore4},
        {"pcxstore8", 8, true, {}, false, std::nullopt, prepare_pcxstore8},
        {"pcxstore24", 8, true, {}, false, std::nullopt, prepare_pcxstore24},

        // Targa, WPG, RGB8, Photo-CD, DEEP

        // LZW
        {"lzwpack", 9, false, {}, true, 0u, prepare_lzwpack, "maxqbdl"},
        {"lzwunpack", 10, false, {}, true, 0u, prepare_lzwunpack, "maxvoqbdl"},

        // colour reduction

        // PICT

        // geometry and filters

    };
    return table;
}

// Test names and messages show a row by its module's name.
void PrintTo(const ConformanceRow& row, std::ostream* out) { *out << row.name; }

constexpr uint32_t kHostError = 0xC0FFEE00;  // what the host put in the error word

class Conformance : public ::testing::TestWithParam<ConformanceRow> {
protected:
    uint32_t size() const { return GetParam().block_words * 4; }
    uint32_t last() const { return GetParam().block_words - 1; }

    // A block laid out for the row's small run, error word preset.
    uint8_t* prepared(SharedArena& arena, Exempt& exempt) const
    {
        uint8_t* block = arena.block(size());
        GetParam().prepare(arena, block, exempt);
        host_set_word(block, last(), kHostError);
        return block;
    }

    void expect_block_flushed_last(const FlushLog& log, const uint8_t* block) const
    {
        const auto entries = log.entries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back().start, block);
        EXPECT_EQ(entries.back().length, size());
    }
};

std::vector<uint32_t> outside(const std::vector<uint32_t>& changed, const uint8_t* block, uint32_t first_word,
                              uint32_t words)
{
    std::vector<uint32_t> rest;
    const uint32_t from = host_address(block) + 4 * first_word;
    for (uint32_t a : changed)
        if (a < from || a >= from + 4 * words) rest.push_back(a);
    return rest;
}

TEST_P(Conformance, QuerySetsStatusOnlyAndFlushesTheBlock)
{
    const host_module* module = load_module(GetParam().name);
    ASSERT_NE(module, nullptr);
    SharedArena arena;
    Exempt exempt;
    uint8_t* block = prepared(arena, exempt);
    host_set_word(block, 1, 0);
    const SharedSnapshot before = take_snapshot();
    FlushLog log;
    EXPECT_EQ(module->function(block), 1u);
    EXPECT_EQ(host_word(block, 0), 1u);
    EXPECT_EQ(host_word(block, last()), kHostError);
    EXPECT_TRUE(outside(changed_addresses(before, take_snapshot()), block, 0, 1).empty()) << "nothing else is touched";
    expect_block_flushed_last(log, block);
}

TEST_P(Conformance, UnknownCommandsGiveError17AndTouchNoBuffer)
{
    const host_module* module = load_module(GetParam().name);
    ASSERT_NE(module, nullptr);
    for (uint32_t command : {2u, 0xFFFFFFFFu}) {
        SharedArena arena;
        Exempt exempt;
        uint8_t* block = prepared(arena, exempt);
        host_set_word(block, 0, 0x51);
        host_set_word(block, 1, command);
        const SharedSnapshot before = take_snapshot();
        FlushLog log;
        EXPECT_EQ(module->function(block), 1u);
        EXPECT_EQ(host_word(block, last()), 17u) << command;
        EXPECT_EQ(host_word(block, 0), 0x51u) << "status word unchanged";
        EXPECT_TRUE(outside(changed_addresses(before, take_snapshot()), block, last(), 1).empty());
        expect_block_flushed_last(log, block);
    }
}

TEST_P(Conformance, RunFlushesWhatItWroteAndTheBlockLast)
{
    const ConformanceRow& row = GetParam();
    const host_module* module = load_module(row.name);
    ASSERT_NE(module, nullptr);
    SharedArena arena;
    Exempt exempt;
    uint8_t* block = prepared(arena, exempt);
    host_set_word(block, 1, 1);
    const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
    const uint32_t requests = platform_requests(ALLOCATOR_PPC);
    const SharedSnapshot before = take_snapshot();
    FlushLog log;

    EXPECT_EQ(module->function(block), 1u);

    EXPECT_EQ(host_word(block, last()), row.error_after_run.value_or(kHostError));
    expect_block_flushed_last(log, block);
    EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << "working memory is freed before the run returns";
    if (!row.allocates) {
        EXPECT_EQ(platform_requests(ALLOCATOR_PPC), requests) << "takes no working memory";
    }

    const auto flushed = log.entries();
    const auto changed = changed_addresses(before, take_snapshot());
    EXPECT_FALSE(changed.empty()) << "the small run writes something";
    int unflushed = 0;
    for (uint32_t a : changed) {
        const auto* p = static_cast<const uint8_t*>(shared_pointer(a));
        if (!covered_by(flushed, p) && !covered_by(exempt, p)) ++unflushed;
    }
    EXPECT_EQ(unflushed, 0) << "bytes changed outside every flushed range";
}

TEST_P(Conformance, ABlockThatDoesNotFitIsNeverTouched)
{
    const host_module* module = load_module(GetParam().name);
    ASSERT_NE(module, nullptr);
    SharedArena arena;
    Exempt exempt;
    const uint8_t* whole = prepared(arena, exempt);
    for (uint32_t command : {0u, 1u, 2u}) {
        uint8_t* short_block = arena.copy({whole, size() - 4});
        host_set_word(short_block, 1, command);
        const SharedSnapshot before = take_snapshot();
        EXPECT_EQ(module->function(short_block), 1u);
        EXPECT_TRUE(changed_addresses(before, take_snapshot()).empty()) << "command " << command;
    }
}

// Blocks and buffers as a careless or hostile host might pass them: words
// replaced by odd sizes, huge counts and addresses of the wrong buffers,
// buffers filled with noise. Whatever happens, the module stays inside the
// live blocks (the sanitizer build poisons everything else), returns 1, and
// keeps no working memory.
TEST_P(Conformance, WrongWordsAndNoiseStayInsideTheGivenMemory)
{
    const ConformanceRow& row = GetParam();
    const host_module* module = load_module(row.name);
    ASSERT_NE(module, nullptr);
    std::mt19937 random(std::hash<std::string>{}(row.name));
    const uint32_t odd_values[] = {0, 1, 2, 3, 7, 8, 9, 16, 17, 24, 255, 256, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (int round = 0; round < 200; ++round) {
        SharedArena arena;
        Exempt exempt;
        uint8_t* block = prepared(arena, exempt);
        std::vector<uint8_t*> buffers;
        for (void* p : arena.owned)
            if (p != block) buffers.push_back(static_cast<uint8_t*>(p));
        for (uint8_t* buffer : buffers) {
            if (random() % 2) continue;
            const uint32_t n = shared_room(buffer);
            for (uint32_t i = 0; i < n; ++i) buffer[i] = uint8_t(random());
        }
        for (uint32_t word = 2; word < last(); ++word) {
            switch (random() % 6) {
            case 0:
                host_set_word(block, word, odd_values[random() % std::size(odd_values)]);
                break;
            case 1:
                host_set_word(block, word, random() % 300);
                break;
            case 2:
                if (!buffers.empty()) {
                    host_set_word(block, word, host_address(buffers[random() % buffers.size()]) + random() % 8);
                }
                break;
            default:
                break;  // keep the sane value
            }
        }
        host_set_word(block, 1, 1);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        ASSERT_EQ(module->function(block), 1u) << "round " << round;
        ASSERT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << "round " << round;
    }
}

TEST_P(Conformance, ExportsAndVersionString)
{
    const ConformanceRow& row = GetParam();
    const host_module* module = load_module(row.name);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(host_module_symbol(module, "PPCFunction") != nullptr, row.exports_ppc_function);
    for (const char* symbol : row.named_exports) EXPECT_NE(host_module_symbol(module, symbol), nullptr) << symbol;

    std::ifstream file(module->path, std::ios::binary);
    const std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string tag = std::string("$VER: ") + (row.version_name ? row.version_name : row.name) + " ";
    const size_t at = contents.find(tag);
    ASSERT_NE(at, std::string::npos) << "no version string naming the module";
    const size_t end = contents.find('\0', at);
    const std::string version = contents.substr(at, end - at);
    EXPECT_EQ(version.back(), ')') << version;
    EXPECT_NE(version.find(" ("), std::string::npos) << version;
}

// The rows whose modules take working memory, checked with each request in
// turn failing.
class ConformanceWorkingMemory : public Conformance {};

std::vector<ConformanceRow> allocating_rows()
{
    std::vector<ConformanceRow> allocating;
    for (const auto& row : rows())
        if (row.allocates) allocating.push_back(row);
    return allocating;
}

TEST_P(ConformanceWorkingMemory, OutOfMemoryAtAnyRequestLeavesNoWorkingMemory)
{
    const ConformanceRow& row = GetParam();
    const host_module* module = load_module(row.name);
    ASSERT_NE(module, nullptr);
    for (uint32_t n = 1; n < 256; ++n) {
        SharedArena arena;
        Exempt exempt;
        uint8_t* block = prepared(arena, exempt);
        host_set_word(block, 1, 1);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        const uint32_t requests = platform_requests(ALLOCATOR_PPC);
        platform_fail_nth_alloc(ALLOCATOR_PPC, n);
        EXPECT_EQ(module->function(block), 1u);
        platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << "request " << n << " failed";
        if (platform_requests(ALLOCATOR_PPC) - requests < n) break;  // the run never reached that request
        EXPECT_NE(host_word(block, last()), kHostError) << "request " << n << " failed unreported";
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, Conformance, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<ConformanceRow>& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Modules, ConformanceWorkingMemory, ::testing::ValuesIn(allocating_rows()),
                         [](const ::testing::TestParamInfo<ConformanceRow>& info) { return info.param.name; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ConformanceWorkingMemory);

} // namespace
