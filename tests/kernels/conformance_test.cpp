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

// Targa and WPG

// A Targa picture of 3 x 2 elements: a run across the row end, a raw packet,
// and a last run that reaches past the picture.
void prepare_targa(SharedArena& arena, uint8_t* block, uint32_t element_size, uint32_t width)
{
    std::vector<uint8_t> packets = {0x83};
    for (uint32_t i = 0; i < element_size; ++i) packets.push_back(uint8_t(10 + i));
    packets.push_back(0x00);
    for (uint32_t i = 0; i < element_size; ++i) packets.push_back(uint8_t(20 + i));
    packets.push_back(0xFF);
    for (uint32_t i = 0; i < element_size; ++i) packets.push_back(uint8_t(30 + i));
    host_set_word(block, 2, host_address(arena.copy(packets)));
    host_set_word(block, 3, host_address(arena.alloc(3 * 2 * element_size)));
    host_set_word(block, 4, width);
    host_set_word(block, 5, 2);
}

void prepare_tgaload1(SharedArena& arena, uint8_t* block, Exempt&) { prepare_targa(arena, block, 1, 17); }
void prepare_tgaload8(SharedArena& arena, uint8_t* block, Exempt&) { prepare_targa(arena, block, 1, 3); }
void prepare_tgaload16(SharedArena& arena, uint8_t* block, Exempt&) { prepare_targa(arena, block, 2, 3); }
void prepare_tgaload24(SharedArena& arena, uint8_t* block, Exempt&) { prepare_targa(arena, block, 3, 3); }

// Three WPG rows of two coded bytes: a run, data and an empty record, a
// repeat of the row, and a cut run in the last row.
std::vector<uint8_t> wpg_records() { return {0x81, 0x12, 0x00, 0x01, 0x34, 0x00, 0x01, 0x83, 0x56}; }

void prepare_wpgload1(SharedArena& arena, uint8_t* block, Exempt&)
{
    // Width 16, one plane: the three rows as above.
    host_set_word(block, 2, host_address(arena.copy(wpg_records())));
    host_set_word(block, 3, host_address(arena.alloc(2 * 3)));
    host_set_word(block, 4, 16);
    host_set_word(block, 5, 3);
    host_set_word(block, 6, 1);
}

void prepare_wpgload4(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(arena.copy(wpg_records())));
    host_set_word(block, 3, host_address(arena.alloc(3 * 3)));
    host_set_word(block, 4, 3);
    host_set_word(block, 5, 3);
}

void prepare_wpgload8(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(arena.copy(wpg_records())));
    host_set_word(block, 3, host_address(arena.alloc(2 * 3)));
    host_set_word(block, 4, 2);
    host_set_word(block, 5, 3);
}

// RGB8, Photo-CD, DEEP

void prepare_rgb8load(SharedArena& arena, uint8_t* block, Exempt&)
{
    // Counts with and without bit 7 and of 0; the last record runs past the
    // picture.
    const std::vector<uint8_t> records = {10, 20, 30, 0x82, 40, 50, 60, 0x00, 70, 80, 90, 0x05};
    host_set_word(block, 2, host_address(arena.copy(records)));
    host_set_word(block, 3, host_address(arena.alloc(3 * 3 * 2)));
    host_set_word(block, 4, 3);
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 3 * 3 * 2);
}

void prepare_rgb8store(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::vector<uint8_t> rgb = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    host_set_word(block, 2, host_address(arena.copy(rgb)));
    host_set_word(block, 3, host_address(arena.alloc(4 * 3 * 2)));
    host_set_word(block, 4, 3);
    host_set_word(block, 5, 2);
}

void prepare_yccconvert(SharedArena& arena, uint8_t* block, Exempt&)
{
    // A 4 x 2 picture: two blocks.
    host_set_word(block, 2, host_address(arena.copy(std::vector<uint8_t>{0, 60, 120, 180})));
    host_set_word(block, 3, host_address(arena.copy(std::vector<uint8_t>{30, 90, 150, 210})));
    host_set_word(block, 4, host_address(arena.copy(std::vector<uint8_t>{100, 200})));
    host_set_word(block, 5, host_address(arena.copy(std::vector<uint8_t>{80, 250})));
    host_set_word(block, 6, host_address(arena.alloc(3 * 4 * 2)));
    host_set_word(block, 7, 4);
    host_set_word(block, 8, 2);
}

void prepare_deepload(SharedArena& arena, uint8_t* block, Exempt& exempt)
{
    // Width 1 and one extra byte: two rows of four bytes, a run across the
    // row end, a run of none.
    host_set_word(block, 2, host_address(pcx_runs(arena, exempt, {1, 0xC5, 7, 0xC0, 9, 2, 3})));
    host_set_word(block, 3, host_address(arena.alloc(4 * 2)));
    host_set_word(block, 4, 1);
    host_set_word(block, 5, 2);
    host_set_word(block, 6, 1);
}

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

// A picture record of width x height at the given depth, its palette a
// spread of colours.
uint8_t* colour_record(SharedArena& arena, uint32_t width, uint32_t height, uint32_t depth)
{
    uint8_t* record = arena.alloc(820);
    host_set_word(record, 2, width);
    host_set_word(record, 3, height);
    host_set_word(record, 4, depth);
    for (uint32_t i = 0; i < 768; ++i) record[24 + i] = uint8_t(i * 53 + 11);
    return record;
}

// A 5 x 3 true-colour picture of nine colour keys, more than four colours
// take, so that the median cut runs.
std::vector<uint8_t> colour_source()
{
    std::vector<uint8_t> rgb;
    for (uint32_t i = 0; i < 15; ++i)
        for (uint32_t c = 0; c < 3; ++c) rgb.push_back(uint8_t((i % 9) * (40 + 30 * c) % 256));
    return rgb;
}

void prepare_colour_dither(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(arena.copy(colour_source())));
    host_set_word(block, 3, host_address(arena.fill(5 * 3, 0xEE)));
    host_set_word(block, 4, host_address(colour_record(arena, 5, 3, 2)));
    host_set_word(block, 5, 1);
}

void prepare_orderdither(SharedArena& arena, uint8_t* block, Exempt&)
{
    // A 2 x 2 matrix: an array of row addresses, each row two thresholds.
    uint8_t* rows[2] = {arena.alloc(8), arena.alloc(8)};
    host_set_word(rows[0], 0, 0);
    host_set_word(rows[0], 1, 128);
    host_set_word(rows[1], 0, 192);
    host_set_word(rows[1], 1, 64);
    uint8_t* matrix = arena.alloc(8);
    host_set_word(matrix, 0, host_address(rows[0]));
    host_set_word(matrix, 1, host_address(rows[1]));
    host_set_word(block, 2, host_address(arena.copy(colour_source())));
    host_set_word(block, 3, host_address(arena.fill(5 * 3, 0xEE)));
    host_set_word(block, 4, 5);
    host_set_word(block, 5, 3);
    host_set_word(block, 6, 3);
    host_set_word(block, 7, 3);
    host_set_word(block, 8, 3);
    host_set_word(block, 9, 1);
    host_set_word(block, 10, 2);
    host_set_word(block, 11, host_address(matrix));
}

void prepare_curvedither(SharedArena& arena, uint8_t* block, Exempt&)
{
    // 18 x 5 pixels: two blocks across, one band, padding on both sides.
    std::vector<uint8_t> indices(18 * 5);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(i * 7);
    host_set_word(block, 2, host_address(arena.copy(indices)));
    host_set_word(block, 3, host_address(arena.alloc(32 * 16)));
    host_set_word(block, 4, host_address(colour_record(arena, 18, 5, 8)));
}

void prepare_palettetune(SharedArena& arena, uint8_t* block, Exempt&)
{
    uint8_t* record = colour_record(arena, 4, 2, 8);
    std::memcpy(record + 24 + 3 * 9, record + 24 + 3 * 4, 3);  // entries 4 and 9 alike
    host_set_word(record, 200, host_address(arena.copy(std::vector<uint8_t>{9, 4, 200, 4, 17, 9, 9, 0})));
    host_set_word(record, 201, 8);
    host_set_word(block, 2, host_address(record));
}

// --- PICT ------------------------------------------------------------------------

// pictrender reads a picture file by name. Its small run is one version-2
// picture of 3 x 2 pixels, written once per process to a file of its own: a
// bitmap, an indexed map with its colour table and a direct map, one column
// each, then every pen, text and comment opcode drawn over them. The picture record and pixel buffer the run hands over are new host
// blocks, outside the buffers the suite compares, and belong to the host; the
// suite leaves them allocated.
const std::string& pict_conformance_file()
{
    static const std::string* path = [] {
        std::vector<uint8_t> b(512, 0);
        const auto word = [&b](uint32_t v) {
            b.push_back(uint8_t(v >> 8));
            b.push_back(uint8_t(v));
        };
        const auto words = [&word](std::initializer_list<uint32_t> vs) {
            for (uint32_t v : vs) word(v);
        };
        // Bounds (0, 0, 2, 1), the rest of a pixel map's header: type, size,
        // components, component size and the packing.
        const auto pixmap = [&words](uint32_t type, uint32_t size, uint32_t components, uint32_t pack) {
            words({0, 0, 2, 1, 0, pack, 0, 0, 0x48, 0, 0x48, 0, type, size, components, 8, 0, 0, 0, 0, 0, 0});
        };
        words({0, 0, 0, 2, 3, 0x0011, 0x02FF, 0x0C00});
        b.insert(b.end(), 24, 0);
        words({0x0090, 2, 0, 0, 2, 1, 0, 0, 2, 1, 0, 0, 2, 1, 0, 0x8000, 0x0000});  // column 0: black, white
        words({0x0098, 0x8002});
        pixmap(0, 8, 1, 0);
        words({0, 0, 0, 1, 0, 0x1000, 0x2000, 0x3000, 1, 0xA000, 0xB000, 0xC000});  // two colours
        words({0, 0, 2, 1, 0, 1, 2, 2, 0, 0x0100, 0x0000});
        words({0x009A, 0, 0xFF, 0x8004});
        pixmap(16, 32, 3, 4);
        words({0, 0, 2, 1, 0, 2, 2, 3, 0x40, 0x0011, 0x2233, 0x0044, 0x5566});  // whole pixels
        // The pen: its size, the four lines, the four rectangles, a polygon.
        words({0x0007, 1, 1, 0x0020, 0, 0, 1, 2, 0x0021, 1, 0, 0x0022, 0, 1, 0x0101, 0x0023, 0xFF00});
        words({0x0030, 0, 0, 2, 3, 0x0031, 1, 1, 2, 2, 0x0038, 0x0039});
        words({0x0071, 22, 0, 0, 2, 3, 0, 0, 0, 2, 1, 1});
        // A turned text block: begin (90 degrees), centre, a string, end;
        // then the three relative text opcodes, and the end of the picture.
        words({0x00A1, 150, 6, 0x0100, 90, 0x0200, 0x00A1, 154, 8, 1, 0, 0xFFFF, 0});
        words({0x0028, 1, 0, 0x0141, 0x00A0, 151});                     // "A"
        words({0x0029, 0x0102, 0x4869, 0x002A, 0x0102, 0x6779});        // "Hi", "gy"
        words({0x002B, 0x0101, 0x0178, 0x00FF});                        // "x"; the end
        auto* made = new std::string(testing::TempDir() + "pictrender_conformance_" +
                                     std::to_string(std::random_device{}()) + ".pict");
        std::ofstream(*made, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        std::atexit([] { std::remove(path->c_str()); });
        return made;
    }();
    return *path;
}

void prepare_pictrender(SharedArena& arena, uint8_t* block, Exempt&)
{
    const std::string& path = pict_conformance_file();
    host_set_word(block, 3, host_address(arena.copy({reinterpret_cast<const uint8_t*>(path.c_str()), path.size() + 1})));
}

// --- geometry and filters --------------------------------------------------------

// A picture record of width x height with a pixel buffer of `pixel_bytes` a
// pixel, filled with a byte pattern (`pattern`) or cleared.
uint8_t* geometry_record(SharedArena& arena, uint32_t width, uint32_t height, uint32_t pixel_bytes, bool pattern)
{
    const uint32_t length = width * height * pixel_bytes;
    std::vector<uint8_t> pixels(length);
    for (uint32_t i = 0; pattern && i < length; ++i) pixels[i] = uint8_t(i * 53 + 11);
    uint8_t* record = arena.alloc(820);
    host_set_word(record, 2, width);
    host_set_word(record, 3, height);
    host_set_word(record, 4, pixel_bytes == 3 ? 24 : 8);
    host_set_word(record, 200, host_address(arena.copy(pixels)));
    host_set_word(record, 201, length);
    return record;
}

// A 4 x 3 source turned by 30 degrees about (1, 1) into a 5 x 4 destination.
void prepare_rotation(SharedArena& arena, uint8_t* block, uint32_t pixel_bytes)
{
    host_set_word(block, 2, host_address(geometry_record(arena, 4, 3, pixel_bytes, true)));
    host_set_word(block, 3, host_address(geometry_record(arena, 5, 4, pixel_bytes, false)));
    host_set_word(block, 4, 30000);
    host_set_word(block, 5, 1);
    host_set_word(block, 6, 1);
}

void prepare_turntrue(SharedArena& arena, uint8_t* block, Exempt&) { prepare_rotation(arena, block, 3); }
void prepare_turnindexed(SharedArena& arena, uint8_t* block, Exempt&) { prepare_rotation(arena, block, 1); }

// Source `width` x `height` at `depth` and a cleared destination of
// `destination_size` bytes.
void prepare_scaling(SharedArena& arena, uint8_t* block, uint32_t width, uint32_t height, uint32_t depth,
                     uint32_t destination_size)
{
    std::vector<uint8_t> source(width * height * (depth == 24 ? 3 : 1));
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 41 + 5);
    host_set_word(block, 2, host_address(arena.copy(source)));
    host_set_word(block, 3, host_address(arena.alloc(destination_size)));
    host_set_word(block, 4, width);
    host_set_word(block, 5, height);
    host_set_word(block, 6, depth);
}

void prepare_doublesize(SharedArena& arena, uint8_t* block, Exempt&)
{
    prepare_scaling(arena, block, 3, 2, 24, 6 * 4 * 3);
}

void prepare_halfsize(SharedArena& arena, uint8_t* block, Exempt&)
{
    prepare_scaling(arena, block, 5, 3, 8, 2 * 1);
}

// A 5 x 5 true-colour source into a cleared destination of its size.
void prepare_filter(SharedArena& arena, uint8_t* block, Exempt&)
{
    host_set_word(block, 2, host_address(geometry_record(arena, 5, 5, 3, true)));
    host_set_word(block, 3, host_address(geometry_record(arena, 5, 5, 3, false)));
}

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
        {"tgaload1", 8, false, {}, false, std::nullopt, prepare_tgaload1},
        {"tgaload8", 8, false, {}, false, std::nullopt, prepare_tgaload8},
        {"tgaload16", 8, false, {}, false, std::nullopt, prepare_tgaload16},
        {"tgaload24", 8, false, {}, false, std::nullopt, prepare_tgaload24},
        {"wpgload1", 9, false, {}, false, std::nullopt, prepare_wpgload1},
        {"wpgload4", 8, false, {}, false, std::nullopt, prepare_wpgload4},
        {"wpgload8", 8, false, {}, false, std::nullopt, prepare_wpgload8},
        {"rgb8load", 8, true, {}, false, std::nullopt, prepare_rgb8load},
        {"rgb8store", 8, true, {}, false, std::nullopt, prepare_rgb8store},
        {"yccconvert", 10, true, {"KQLI_YUVToRGB_Convert"}, false, std::nullopt, prepare_yccconvert},
        {"deepload", 9, true, {"UnPackRLE_24"}, false, std::nullopt, prepare_deepload},

        // LZW
        {"lzwpack", 9, false, {}, true, 0u, prepare_lzwpack, "maxqbdl"},
        {"lzwunpack", 10, false, {}, true, 0u, prepare_lzwunpack, "maxvoqbdl"},

        // colour reduction
        {"diffusedither", 7, false, {}, true, 0u, prepare_colour_dither},
        {"mapdither", 7, false, {}, true, 0u, prepare_colour_dither},
        {"orderdither", 13, false, {}, false, std::nullopt, prepare_orderdither},
        {"curvedither", 6, false, {}, true, 0u, prepare_curvedither},
        {"palettetune", 4, false, {}, false, std::nullopt, prepare_palettetune},

        // PICT
        {"pictrender", 13, false, {"KQLI_ConvertPICT", "KQSUP_GetMemList", "KQSUP_AllocMemEntry", "KQSUP_FreeMemList"},
         true, 0u, prepare_pictrender},

        // geometry and filters
        {"turntrue", 8, false, {}, false, std::nullopt, prepare_turntrue},
        {"turnindexed", 8, false, {}, false, std::nullopt, prepare_turnindexed},
        {"doublesize", 8, false, {}, false, std::nullopt, prepare_doublesize},
        {"halfsize", 8, false, {}, false, std::nullopt, prepare_halfsize},
        {"crispen", 5, true, {"KQLI_crispen"}, false, std::nullopt, prepare_filter},
        {"soften", 5, true, {"KQLI_soften"}, false, std::nullopt, prepare_filter},

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
        const std::vector<uint8_t> words = bytes_of(block, size());
        ASSERT_TRUE(run_within_work_budget(module, block, words)) << "round " << round << ": work out of proportion";
        ASSERT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << "round " << round;
    }
}

// Two or three size words large at once: products of three 32-bit factors,
// or of two with a small third, pass 64 bits, and a size computed without a
// check wraps to a small number that a small buffer passes. Large counts
// over empty rows or overlapping planes must not keep a module busy either.
// Every pair and every triple of argument words gets every combination of
// these values, the other words staying those of the small run.
TEST_P(Conformance, LargeWordsTogetherNeitherWrapNorSpin)
{
    const ConformanceRow& row = GetParam();
    const host_module* module = load_module(row.name);
    ASSERT_NE(module, nullptr);
    const uint32_t values[] = {0, 32, 65536, 0x80000000, 0xFFFFFFFF};
    SharedArena arena;
    Exempt exempt;
    uint8_t* block = prepared(arena, exempt);
    host_set_word(block, 1, 1);
    const std::vector<uint8_t> sane = bytes_of(block, size());
    const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);

    const uint32_t first = 2, end = last();
    auto run = [&](std::initializer_list<std::pair<uint32_t, uint32_t>> changes) {
        std::vector<uint8_t> words = sane;
        std::string what;
        for (auto [word, value] : changes) {
            host_set_word(words.data(), word, value);
            what += " word " + std::to_string(word) + " = " + std::to_string(value);
        }
        EXPECT_TRUE(run_within_work_budget(module, block, words)) << "work out of proportion with" << what;
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live) << what;
        return !HasFailure();
    };
    for (uint32_t i = first; i < end; ++i)
        for (uint32_t j = i + 1; j < end; ++j)
            for (uint32_t a : values)
                for (uint32_t b : values) {
                    if (!run({{i, a}, {j, b}})) return;
                    for (uint32_t k = j + 1; k < end; ++k)
                        for (uint32_t c : values)
                            if (!run({{i, a}, {j, b}, {k, c}})) return;
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
