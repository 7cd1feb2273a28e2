// ByteRun1 rows: PackRow, the ILBM body kernels rununpack and runpack, the
// chunky body kernels pbmload and pbmstore, and round trips through them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "kernel_test.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kHostError = 0xC0FFEE00;    // what the host put in the error word
constexpr uint32_t kNoBlock = 0x800;           // an address in the first page: no block holds it

struct Range {
    const uint8_t* start;
    uint64_t length;
};

// Changed shared bytes that lie in none of the ranges.
uint32_t changed_outside(const SharedSnapshot& before, std::initializer_list<Range> ranges)
{
    uint32_t count = 0;
    for (uint32_t a : changed_addresses(before, take_snapshot())) {
        const auto* p = static_cast<const uint8_t*>(shared_pointer(a));
        bool inside = false;
        for (const Range& r : ranges) inside = inside || (p >= r.start && p < r.start + r.length);
        if (!inside) ++count;
    }
    return count;
}

uint32_t worst_case(uint32_t length) { return length + (length + 127) / 128; }

using PackRowFn = uint32_t (*)(uint8_t* scratch, const uint8_t** source, uint8_t** destination, uint32_t length);

PackRowFn pack_row_export()
{
    const host_module* module = load_module("runpack");
    return module ? reinterpret_cast<PackRowFn>(host_module_symbol(module, "PackRow")) : nullptr;
}

// PackRow on one row, with a scratch buffer of exactly 254 bytes.
Bytes pack_row(const Bytes& row)
{
    Bytes scratch(254), out(worst_case(uint32_t(row.size())) + 8);
    const uint8_t* from = row.data();
    uint8_t* to = out.data();
    const uint32_t n = pack_row_export()(scratch.data(), &from, &to, uint32_t(row.size()));
    out.resize(n);
    return out;
}

struct UnpackArgs {
    uint32_t planes, rows, mask, kept, length, plane_size;
};

struct UnpackResult {
    Bytes planar, row_buffer;
    uint64_t destination_flushed = 0;  // length of the flush that starts at the destination
    uint32_t error = 0;
    uint32_t changed = 0;            // bytes changed anywhere
    uint32_t changed_elsewhere = 0;  // outside the destination, row buffer and block
};

// rununpack with buffers of the stated sizes, give or take a byte.
UnpackResult run_rununpack(const Bytes& body, const UnpackArgs& a, int row_buffer_delta = 0,
                           int destination_delta = 0, bool source_in_no_block = false)
{
    SharedArena arena;
    const uint32_t planes = a.planes + (a.mask ? 1 : 0);
    const uint32_t row_size = std::max(a.length + 127, a.kept) + row_buffer_delta;
    const uint32_t destination_size =
        std::max(a.plane_size * planes, (a.rows - 1) * a.kept + (planes - 1) * a.plane_size + a.kept) +
        destination_delta;
    uint8_t* source = arena.copy(body);
    uint8_t* row = arena.alloc(row_size);
    uint8_t* planar = arena.alloc(destination_size);
    uint8_t* block = arena.block(52, {{1, 1},
                                      {2, host_address(row)},
                                      {3, source_in_no_block ? kNoBlock : host_address(source)},
                                      {4, host_address(planar)},
                                      {5, a.planes},
                                      {6, 0xDEADBEEF},
                                      {7, a.rows},
                                      {8, a.mask},
                                      {9, a.kept},
                                      {10, a.length},
                                      {11, a.plane_size},
                                      {12, kHostError}});
    const SharedSnapshot before = take_snapshot();
    UnpackResult r;
    {
        FlushLog log;
        EXPECT_EQ(load_module("rununpack")->function(block), 1u);
        for (const FlushRange& f : log.entries())
            if (f.start == planar) r.destination_flushed = f.length;
    }
    r.planar = bytes_of(planar, destination_size);
    r.row_buffer = bytes_of(row, row_size);
    r.error = host_word(block, 12);
    r.changed = changed_outside(before, {{block, 52}});
    r.changed_elsewhere = changed_outside(before, {{block, 52}, {row, row_size}, {planar, destination_size}});
    return r;
}

struct PackResult {
    Bytes packed;      // the bytes the count word counts
    uint32_t count = 0;
    uint32_t error = 0;
    uint32_t changed_elsewhere = 0;  // outside the destination, scratch and block
};

// A packer whose block has the source in word 2, the destination in word 3, a
// 254-byte scratch in word 4, its dimensions from word 5 on and the packed
// count just before the error word. The source block holds `source` exactly.
PackResult run_packer(const char* name, uint32_t words, const Bytes& source_bytes, uint32_t room,
                      std::initializer_list<uint32_t> dimensions)
{
    SharedArena arena;
    uint8_t* source = arena.copy(source_bytes);
    uint8_t* out = arena.alloc(room);
    uint8_t* scratch = arena.alloc(254);
    uint8_t* block = arena.block(words * 4, {{1, 1},
                                             {2, host_address(source)},
                                             {3, host_address(out)},
                                             {4, host_address(scratch)},
                                             {words - 2, 0xFFFFFFFF},
                                             {words - 1, kHostError}});
    uint32_t index = 5;
    for (uint32_t value : dimensions) host_set_word(block, index++, value);
    const SharedSnapshot before = take_snapshot();
    EXPECT_EQ(load_module(name)->function(block), 1u);
    PackResult r;
    r.count = host_word(block, words - 2);
    r.error = host_word(block, words - 1);
    if (r.error == kHostError) r.packed = bytes_of(out, std::min(r.count, room));
    r.changed_elsewhere = changed_outside(before, {{block, words * 4}, {out, room}, {scratch, 254}});
    return r;
}

// runpack on a bitmap of rows x planes x row_bytes bytes, in a block that
// ends with it unless `after` adds bytes. The destination has room for the
// worst case unless its size is given.
PackResult run_runpack(const Bytes& bitmap, uint32_t rows, uint32_t planes, uint32_t row_bytes,
                       std::optional<uint32_t> destination_size = std::nullopt, const Bytes& after = {})
{
    const uint32_t even = row_bytes + (row_bytes & 1);
    Bytes source = bitmap;
    source.insert(source.end(), after.begin(), after.end());
    return run_packer("runpack", 10, source, destination_size.value_or(rows * planes * worst_case(even) + 16),
                      {rows, planes, row_bytes});
}

struct PbmLoadResult {
    Bytes picture, row_buffer;
    uint32_t produced = 0;  // word 9
    uint32_t error = 0;
    uint32_t changed_elsewhere = 0;
};

PbmLoadResult run_pbmload(const Bytes& packed, uint32_t height, uint32_t kept, uint32_t length)
{
    SharedArena arena;
    const uint32_t row_size = std::max(length + 127, kept);
    const uint32_t picture_size = std::max(kept * height, 1u);
    uint8_t* source = arena.copy(packed);
    uint8_t* picture = arena.alloc(picture_size);
    uint8_t* row = arena.alloc(row_size);
    uint8_t* block = arena.block(44, {{1, 1},
                                      {2, host_address(source)},
                                      {3, host_address(picture)},
                                      {4, host_address(row)},
                                      {5, 0xDEADBEEF},
                                      {6, height},
                                      {7, kept},
                                      {8, length},
                                      {9, 0xFFFFFFFF},
                                      {10, kHostError}});
    const SharedSnapshot before = take_snapshot();
    EXPECT_EQ(load_module("pbmload")->function(block), 1u);
    PbmLoadResult r;
    r.picture = bytes_of(picture, kept * height);
    r.row_buffer = bytes_of(row, row_size);
    r.produced = host_word(block, 9);
    r.error = host_word(block, 10);
    r.changed_elsewhere = changed_outside(before, {{block, 44}, {row, row_size}, {picture, picture_size}});
    return r;
}

// pbmstore on `height` rows of the even width; the destination has room for
// the worst case unless its size is given.
PackResult run_pbmstore(const Bytes& pixels, uint32_t height, uint32_t width,
                        std::optional<uint32_t> destination_size = std::nullopt)
{
    const uint32_t even = width + (width & 1);
    return run_packer("pbmstore", 9, pixels, destination_size.value_or(height * worst_case(even) + 16),
                      {height, width});
}

// ---------------------------------------------------------------------------
// PackRow

struct PackCase {
    const char* what;
    Bytes row;
    Bytes packed;
};

Bytes distinct(uint32_t n, uint8_t first = 0)
{
    Bytes b(n);
    for (uint32_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(PackRow, PacksByTheRules)
{
    const std::vector<PackCase> cases = {
        {"a run of three, then a literal", {0x41, 0x41, 0x41, 0x42}, {0xFE, 0x41, 0x00, 0x42}},
        {"a pair after another byte stays literal", {0x41, 0x42, 0x42, 0x43}, {0x03, 0x41, 0x42, 0x42, 0x43}},
        {"the literal before a run goes first", {0x41, 0x42, 0x42, 0x42}, {0x00, 0x41, 0xFE, 0x42}},
        {"a pair at the start is a run", {0x41, 0x41, 0x42}, {0xFF, 0x41, 0x00, 0x42}},
        {"one byte", {0x99}, {0x00, 0x99}},
        {"129 distinct bytes", distinct(129), cat({{0x7F}, distinct(128), {0x00, 128}})},
        {"128 distinct bytes", distinct(128), cat({{0x7F}, distinct(128)})},
        {"130 equal bytes", Bytes(130, 7), {0x81, 7, 0xFF, 7}},
        {"128 equal bytes", Bytes(128, 7), {0x81, 7}},
        {"129 equal bytes", Bytes(129, 7), {0x81, 7, 0x00, 7}},
        // 127 distinct bytes fill the buffer to 128 with a pair; the next
        // byte overflows it before the pair can become a run.
        {"a pair at the literal's limit", cat({distinct(127), {126, 126}}), cat({{0x7F}, distinct(127), {126, 0x00, 126}})},
        // A run from scratch position 125 reaches position 253, the last of
        // the 254-byte scratch buffer.
        {"a run filling the scratch", cat({distinct(126), Bytes(128, 125)}),
         cat({{0x7C}, distinct(125), {0x81, 125, 0x00, 125}})},
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(pack_row(c.row), c.packed);
    }
}

TEST(PackRow, MovesBothPointersPastWhatItUsed)
{
    const Bytes row = {1, 1, 1, 1, 2, 3};
    Bytes scratch(254), out(16);
    const uint8_t* from = row.data();
    uint8_t* to = out.data();
    EXPECT_EQ(pack_row_export()(scratch.data(), &from, &to, 6), 5u);
    EXPECT_EQ(from, row.data() + 6);
    EXPECT_EQ(to, out.data() + 5);
}

TEST(PackRow, AnEmptyRowPacksToNothing)
{
    Bytes scratch(254), out(4, 0xEE);
    const uint8_t* from = out.data();
    uint8_t* to = out.data();
    EXPECT_EQ(pack_row_export()(scratch.data(), &from, &to, 0), 0u);
    EXPECT_EQ(from, out.data());
    EXPECT_EQ(to, out.data());
    EXPECT_EQ(out, Bytes(4, 0xEE));
}

// Rows of lengths 1 to 300 in several kinds: noise, runs, runs broken by
// noise, pairs, and one value throughout.
std::vector<Bytes> sample_rows()
{
    std::mt19937 rng(4);
    std::vector<Bytes> rows;
    for (uint32_t length = 1; length <= 300; ++length) {
        for (int kind = 0; kind < 5; ++kind) {
            Bytes row(length);
            uint32_t i = 0;
            while (i < length) {
                const uint8_t value = uint8_t(rng() % (kind == 2 ? 3 : 256));
                uint32_t stretch = 1;
                switch (kind) {
                case 0: stretch = 1; break;                        // noise
                case 1: stretch = 1 + rng() % 200; break;          // long runs
                case 2: stretch = 1 + rng() % 4; break;            // short stretches of few values
                case 3: stretch = 2; break;                        // pairs
                case 4: stretch = length; break;                   // flat
                }
                for (uint32_t k = 0; k < stretch && i < length; ++k) row[i++] = value;
            }
            rows.push_back(row);
        }
    }
    return rows;
}

TEST(PackRow, RoundTripsAndStaysWithinTheBound)
{
    for (const Bytes& row : sample_rows()) {
        const Bytes packed = pack_row(row);
        const uint32_t length = uint32_t(row.size());
        ASSERT_LE(packed.size(), length + (length + 127) / 128) << "length " << length;
        // Unpacked to exactly the row length: no code crosses the row end.
        const PbmLoadResult back = run_pbmload(packed, 1, length, length);
        ASSERT_EQ(back.error, kHostError);
        EXPECT_EQ(back.produced, length);
        ASSERT_EQ(back.picture, row) << "length " << length;
        for (size_t i = 0; i < packed.size();) {
            ASSERT_NE(packed[i], 0x80) << "no code 128";
            i += packed[i] < 128 ? packed[i] + 2u : 2u;
        }
    }
}

// ---------------------------------------------------------------------------
// rununpack

TEST(RunUnpack, SkipsCode128AndDropsTheSurplusOfACodeThatCrossesTheRowEnd)
{
    const Bytes body = {
        0x80, 0x01, 0x0A, 0x0B, 0x80, 0xFF, 0x0C,  // row 0: 0A 0B 0C 0C
        0xFB, 0x0D,                                // row 1: a run of 6
        0x03, 0x01, 0x02, 0x03, 0x04,              // row 2 starts with the next code
    };
    UnpackArgs args{.planes = 1, .rows = 3, .mask = 0, .kept = 3, .length = 4, .plane_size = 9};
    const UnpackResult got = run_rununpack(body, args);
    EXPECT_EQ(got.error, kHostError);
    EXPECT_EQ(got.planar, (Bytes{0x0A, 0x0B, 0x0C, 0x0D, 0x0D, 0x0D, 0x01, 0x02, 0x03}));
    // The run was written whole into the row buffer: row 2 left its bytes 4, 5.
    EXPECT_EQ(Bytes(got.row_buffer.begin(), got.row_buffer.begin() + 6), (Bytes{1, 2, 3, 4, 0x0D, 0x0D}));
}

TEST(RunUnpack, TheMaskFlagAddsAPlaneAfterThePicturesPlanes)
{
    // Two rows of four planes and a mask, two bytes a plane row; byte v of
    // the body rows is (row, plane).
    Bytes body;
    for (uint8_t r = 0; r < 2; ++r)
        for (uint8_t p = 0; p < 5; ++p) body.insert(body.end(), {0x01, uint8_t(16 * r + p), uint8_t(0x80 | p)});
    UnpackArgs args{.planes = 4, .rows = 2, .mask = 1, .kept = 2, .length = 2, .plane_size = 4};
    const UnpackResult got = run_rununpack(body, args);
    EXPECT_EQ(got.error, kHostError);
    ASSERT_EQ(got.planar.size(), 20u);
    EXPECT_EQ(got.destination_flushed, 20u) << "five planes flushed";
    for (uint8_t p = 0; p < 5; ++p) {
        const Bytes plane(got.planar.begin() + 4 * p, got.planar.begin() + 4 * p + 4);
        EXPECT_EQ(plane, (Bytes{p, uint8_t(0x80 | p), uint8_t(16 + p), uint8_t(0x80 | p)})) << "plane " << int(p);
    }
}

// A body that ends early: the rows before it are unpacked, the error word
// says 14, and nothing outside the destination and the row buffer changes.
TEST(RunUnpack, ASourceThatEndsEarlyGivesError14)
{
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"ends before a code", {0x01, 5, 6, 0xFF, 7}},
        {"ends inside a literal", {0x01, 5, 6, 0xFF, 7, 0x01, 8}},
        {"ends before a run's byte", {0x01, 5, 6, 0xFF, 7, 0xFF}},
        {"only code 128 left", {0x01, 5, 6, 0xFF, 7, 0x80, 0x80}},
    };
    for (const auto& [what, body] : cases) {
        SCOPED_TRACE(what);
        UnpackArgs args{.planes = 1, .rows = 3, .mask = 0, .kept = 2, .length = 2, .plane_size = 6};
        const UnpackResult got = run_rununpack(body, args);
        EXPECT_EQ(got.error, 14u);
        EXPECT_EQ(Bytes(got.planar.begin(), got.planar.begin() + 4), (Bytes{5, 6, 7, 7}));
        EXPECT_EQ(got.changed_elsewhere, 0u);
    }
}

TEST(RunUnpack, BuffersTooSmallGiveError14AndNoWrite)
{
    const Bytes body = {0x01, 5, 6, 0xFF, 7};
    const UnpackArgs args{.planes = 1, .rows = 2, .mask = 0, .kept = 2, .length = 2, .plane_size = 4};
    struct Case {
        const char* what;
        int row_buffer_delta;
        int destination_delta;
        bool source_in_no_block;
    };
    for (const Case& c : {Case{"row buffer one byte short", -1, 0, false},
                          Case{"destination one byte short", 0, -1, false},
                          Case{"source in no block", 0, 0, true}}) {
        SCOPED_TRACE(c.what);
        const UnpackResult got = run_rununpack(body, args, c.row_buffer_delta, c.destination_delta, c.source_in_no_block);
        EXPECT_EQ(got.error, 14u);
        EXPECT_EQ(got.changed, 0u) << "nothing written";
    }
}

// ---------------------------------------------------------------------------
// runpack

TEST(RunPack, PacksRowByRowAcrossThePlanes)
{
    // Two rows, two planes, two bytes a row: plane 0 rows "1 1", "2 3";
    // plane 1 rows "4 4", "5 5".
    const Bytes bitmap = {1, 1, 2, 3, 4, 4, 5, 5};
    const PackResult got = run_runpack(bitmap, 2, 2, 2);
    EXPECT_EQ(got.error, kHostError);
    EXPECT_EQ(got.packed, (Bytes{0xFF, 1, 0xFF, 4, 0x01, 2, 3, 0xFF, 5}));
    EXPECT_EQ(got.count, 9u);
}

TEST(RunPack, AnOddRowTakesTheByteAfterIt)
{
    // Row 0 takes the first byte of row 1; the last row's extra byte lies
    // past the bitmap, and reads as 0 where the bitmap's block ends.
    const Bytes bitmap = {1, 2, 3, 4, 5, 6};
    const PackResult got = run_runpack(bitmap, 2, 1, 3);
    EXPECT_EQ(got.packed, (Bytes{0x03, 1, 2, 3, 4, 0x03, 4, 5, 6, 0}));
    EXPECT_EQ(got.count, 10u);

    // Where the block goes on, the byte there is taken.
    const PackResult longer = run_runpack(bitmap, 2, 1, 3, std::nullopt, {0x77});
    EXPECT_EQ(longer.packed, (Bytes{0x03, 1, 2, 3, 4, 0x03, 4, 5, 6, 0x77}));
}

TEST(RunPack, ADestinationTooSmallGivesError14AndNoWriteOutsideIt)
{
    const Bytes bitmap = distinct(8);  // one literal of 8: 9 packed bytes
    const PackResult fits = run_runpack(bitmap, 1, 1, 8, 9);
    EXPECT_EQ(fits.error, kHostError);
    EXPECT_EQ(fits.count, 9u);

    const PackResult short_by_one = run_runpack(bitmap, 1, 1, 8, 8);
    EXPECT_EQ(short_by_one.error, 14u);
    EXPECT_EQ(short_by_one.changed_elsewhere, 0u);
}

// Counts no buffer could hold, with nothing to read or write: each module
// ends at once, having done nothing and reported nothing.
TEST(ByteRun1Modules, HugeCountsWithNothingToDoEndAtOnce)
{
    constexpr uint32_t kHuge = 0xFFFFFFFF;
    for (const UnpackArgs& args : {UnpackArgs{.planes = 0, .rows = kHuge, .mask = 0, .kept = 0, .length = 1, .plane_size = 0},
                                   UnpackArgs{.planes = 1, .rows = kHuge, .mask = 0, .kept = 0, .length = 0, .plane_size = 0}}) {
        const UnpackResult got = run_rununpack({}, args, 0, 1);
        EXPECT_EQ(got.error, kHostError);
        EXPECT_EQ(got.changed, 0u);
    }
    const PackResult no_planes = run_runpack({1}, kHuge, 0, 1);
    EXPECT_EQ(no_planes.error, kHostError);
    EXPECT_EQ(no_planes.count, 0u);
    const PackResult empty_rows = run_pbmstore({1}, kHuge, 0);
    EXPECT_EQ(empty_rows.error, kHostError);
    EXPECT_EQ(empty_rows.count, 0u);
    const PbmLoadResult nothing_kept = run_pbmload({}, kHuge, 0, 0);
    EXPECT_EQ(nothing_kept.error, kHostError);
    EXPECT_EQ(nothing_kept.produced, 0u);
}

// ---------------------------------------------------------------------------
// runpack then rununpack

TEST(IlbmBody, PackedByRunpackUnpacksToTheSameBitmap)
{
    std::mt19937 rng(11);
    for (uint32_t row_bytes : {1u, 2u, 3u, 5u, 40u, 129u}) {
        for (uint32_t planes : {1u, 3u, 8u}) {
            for (uint32_t mask : {0u, 1u}) {
                const uint32_t rows = 1 + rng() % 6;
                const uint32_t stored = planes + mask;  // runpack sees the mask as one more plane
                Bytes bitmap(size_t(stored) * rows * row_bytes);
                for (size_t i = 0; i < bitmap.size(); ++i) bitmap[i] = uint8_t(rng() % 4 == 0 ? rng() : i / 7);
                const PackResult packed = run_runpack(bitmap, rows, stored, row_bytes);
                ASSERT_EQ(packed.error, kHostError);
                const uint32_t even = row_bytes + (row_bytes & 1);
                EXPECT_LE(packed.packed.size(), size_t(rows) * stored * (even + (even + 127) / 128));

                UnpackArgs args{.planes = planes, .rows = rows, .mask = mask, .kept = row_bytes, .length = even,
                                .plane_size = rows * row_bytes};
                const UnpackResult back = run_rununpack(packed.packed, args);
                ASSERT_EQ(back.error, kHostError);
                EXPECT_EQ(back.planar, bitmap) << row_bytes << " bytes, " << planes << " planes, mask " << mask;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// pbmload, pbmstore

TEST(PbmStore, PacksRowsOfTheWidthRoundedUpToEven)
{
    // Width 5: six bytes a row, each row six bytes after the last.
    const PackResult odd = run_pbmstore({1, 2, 3, 4, 5, 9, 6, 6, 6, 6, 6, 6}, 2, 5);
    EXPECT_EQ(odd.error, kHostError);
    EXPECT_EQ(odd.packed, (Bytes{0x05, 1, 2, 3, 4, 5, 9, 0xFB, 6}));
    EXPECT_EQ(odd.count, 9u);

    const PackResult one_row = run_pbmstore({7, 7, 7, 8}, 1, 4);
    EXPECT_EQ(one_row.packed, (Bytes{0xFE, 7, 0x00, 8}));
    EXPECT_EQ(one_row.count, 4u);
}

TEST(PbmStore, FlushesThePackedBytesThenTheScratchWithinItsBlock)
{
    SharedArena arena;
    uint8_t* source = arena.copy(Bytes{7, 7, 7, 8});
    uint8_t* out = arena.alloc(16);
    uint8_t* scratch = arena.alloc(300);
    uint8_t* small_scratch = arena.alloc(254);
    for (auto [buffer, flushed] : {std::pair{scratch, 260u}, std::pair{small_scratch, 254u}}) {
        uint8_t* block = arena.block(36, {{1, 1},
                                          {2, host_address(source)},
                                          {3, host_address(out)},
                                          {4, host_address(buffer)},
                                          {5, 1},
                                          {6, 4}});
        FlushLog log;
        load_module("pbmstore")->function(block);
        const auto entries = log.entries();
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].start, out);
        EXPECT_EQ(entries[0].length, 4u);
        EXPECT_EQ(entries[1].start, buffer);
        EXPECT_EQ(entries[1].length, flushed) << "the row plus 256, up to the end of the scratch block";
    }
}

// The routines the modules export for direct calls work on plain pointers.
TEST(PbmExports, DoPackPacksLikePbmstoreAndCopymemCopiesForward)
{
    using DoPackFn = uint32_t (*)(const uint8_t*, uint8_t*, uint8_t*, uint32_t, uint32_t);
    using CopymemFn = void (*)(const uint8_t*, uint8_t*, uint32_t);
    const auto do_pack = reinterpret_cast<DoPackFn>(host_module_symbol(load_module("pbmstore"), "DoPack"));
    ASSERT_NE(do_pack, nullptr);
    const Bytes pixels = {1, 2, 3, 4, 5, 9, 6, 6, 6, 6, 6, 6};
    Bytes scratch(254), out(16);
    EXPECT_EQ(do_pack(pixels.data(), out.data(), scratch.data(), 2, 5), 9u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 9), run_pbmstore(pixels, 2, 5).packed);

    for (const char* module : {"pbmload", "rununpack"}) {
        SCOPED_TRACE(module);
        const auto copymem = reinterpret_cast<CopymemFn>(host_module_symbol(load_module(module), "copymem"));
        ASSERT_NE(copymem, nullptr);
        Bytes apart = {1, 2, 3, 4, 0, 0, 0, 0};
        copymem(apart.data(), apart.data() + 4, 4);
        EXPECT_EQ(apart, (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
        // One byte at a time: a copy one byte ahead of its source repeats it.
        Bytes overlapping = {7, 2, 3, 4, 5};
        copymem(overlapping.data(), overlapping.data() + 1, 4);
        EXPECT_EQ(overlapping, (Bytes{7, 7, 7, 7, 7}));
    }
}

TEST(PbmLoad, KeepsTheDestinationRowLengthOfEachRow)
{
    struct Case {
        const char* what;
        Bytes packed;
        uint32_t height, kept, length;
        Bytes picture;
        uint32_t produced;
    };
    const std::vector<Case> cases = {
        {"three of four bytes kept", {0xFE, 7, 0x00, 8}, 1, 3, 4, {7, 7, 7}, 4},
        {"code 128 skipped", {0x00, 1, 0x80, 0xFF, 2, 0x80, 0x00, 3}, 1, 4, 4, {1, 2, 2, 3}, 4},
        // The run of 6 gives a row of 4; the next row starts with the next code.
        {"a run crossing the row end", {0xFB, 5, 0x03, 1, 2, 3, 4}, 2, 4, 4, {5, 5, 5, 5, 1, 2, 3, 4}, 4},
        {"the last row's count", {0x03, 1, 2, 3, 4, 0xFB, 5}, 2, 3, 4, {1, 2, 3, 5, 5, 5}, 6},
        {"no rows", {}, 0, 4, 4, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PbmLoadResult got = run_pbmload(c.packed, c.height, c.kept, c.length);
        EXPECT_EQ(got.error, kHostError);
        EXPECT_EQ(got.picture, c.picture);
        EXPECT_EQ(got.produced, c.produced);
    }
}

TEST(PbmLoad, ASourceThatEndsEarlyGivesError14)
{
    // Row 0 is whole, row 1 breaks off inside its literal.
    const PbmLoadResult got = run_pbmload({0xFD, 9, 0x03, 1, 2}, 2, 4, 4);
    EXPECT_EQ(got.error, 14u);
    EXPECT_EQ(Bytes(got.picture.begin(), got.picture.begin() + 4), (Bytes{9, 9, 9, 9}));
    EXPECT_EQ(Bytes(got.picture.begin() + 4, got.picture.end()), Bytes(4, 0)) << "the broken row is not copied";
    EXPECT_EQ(got.changed_elsewhere, 0u);
}

TEST(PbmStore, ADestinationTooSmallGivesError14AndNoWriteOutsideIt)
{
    const Bytes pixels = cat({distinct(6), Bytes(6, 1)});  // 7 + 2 packed bytes
    EXPECT_EQ(run_pbmstore(pixels, 2, 6, 9).count, 9u);
    const PackResult short_by_one = run_pbmstore(pixels, 2, 6, 8);
    EXPECT_EQ(short_by_one.error, 14u);
    EXPECT_EQ(short_by_one.changed_elsewhere, 0u);
    const PackResult short_source = run_pbmstore(Bytes(pixels.begin(), pixels.end() - 1), 2, 6);
    EXPECT_EQ(short_source.error, 14u);
    EXPECT_EQ(short_source.changed_elsewhere, 0u);
}

TEST(PbmBody, PackedByPbmstoreUnpacksToThePicture)
{
    std::mt19937 rng(5);
    for (uint32_t width : {1u, 2u, 5u, 127u, 128u, 129u, 300u}) {
        const uint32_t height = 1 + rng() % 5;
        const uint32_t even = width + (width & 1);
        Bytes pixels(size_t(even) * height);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(rng() % 3 == 0 ? rng() : i / 9);
        const PackResult packed = run_pbmstore(pixels, height, width);
        ASSERT_EQ(packed.error, kHostError);
        EXPECT_LE(packed.count, height * worst_case(even));
        const PbmLoadResult back = run_pbmload(packed.packed, height, even, even);
        ASSERT_EQ(back.error, kHostError);
        EXPECT_EQ(back.picture, pixels) << "width " << width;
    }
}

} // namespace
