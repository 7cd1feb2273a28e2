// The LZW kernels: lzwpack (pictures into code streams) and lzwunpack (code
// streams back into pictures).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "kernel_test.h"
#include "platform/platform.h"

using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t E = 0xEE;  // a byte the kernel must leave alone

// A run of lzwpack: the output space (filled with E) and the output-position
// variable in blocks of their own.
struct PackRun {
    SharedArena arena;
    uint8_t* output;
    uint8_t* position;
    uint8_t* block;

    PackRun(const Bytes& pixels, uint32_t room, uint32_t width, uint32_t height, uint32_t code_size = 8,
            bool interlaced = false)
    {
        output = arena.fill(room, E);
        position = arena.alloc(4);
        host_set_word(position, 0, host_address(output));
        block = arena.block(36, {{2, host_address(position)},
                                 {3, host_address(arena.copy(pixels))},
                                 {4, width},
                                 {5, height},
                                 {6, code_size},
                                 {7, interlaced ? 64u : 0u},
                                 {8, 0xABCD}});
    }
    void run() const { host_call(load_module("lzwpack"), block, 1); }
    uint32_t advance() const { return host_word(position, 0) - host_address(output); }
    uint32_t error() const { return host_word(block, 8); }
};

// A run of lzwunpack: the destination block of `room` bytes (filled with E),
// word 7 at `end_offset` bytes from its start.
struct UnpackRun {
    SharedArena arena;
    uint8_t* source;
    uint8_t* destination;
    uint8_t* block;

    UnpackRun(const Bytes& stream, uint32_t width, uint32_t height, bool interlaced, uint32_t room, uint32_t end_offset)
    {
        source = arena.copy(stream);
        destination = arena.fill(room, E);
        block = arena.block(40, {{2, host_address(source)},
                                 {3, host_address(source) + uint32_t(stream.size())},
                                 {4, width},
                                 {5, height},
                                 {6, host_address(destination)},
                                 {7, host_address(destination) + end_offset},
                                 {8, interlaced ? 1u : 0u},
                                 {9, 0xABCD}});
    }
    void run() const { host_call(load_module("lzwunpack"), block, 1); }
    uint32_t error() const { return host_word(block, 9); }
};

} // namespace

// Running the modules as the host does, with ample room; the interop tests
// use these too.
namespace lzw_run {

struct Packed {
    Bytes stream;
    uint32_t error;
    uint32_t advance;  // how far the output position moved
};

struct Unpacked {
    Bytes pixels;
    uint32_t error;
};

Packed pack(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t code_size, bool interlaced)
{
    const uint32_t room = uint32_t(pixels.size()) * 2 + 64;
    PackRun run(pixels, room, width, height, code_size, interlaced);
    run.run();
    return {bytes_of(run.output, std::min(run.advance(), room)), run.error(), run.advance()};
}

Unpacked unpack(const Bytes& stream, uint32_t width, uint32_t height, bool interlaced)
{
    const uint32_t size = width * height;
    UnpackRun run(stream, width, height, interlaced, std::max(size, 1u), size);
    run.run();
    return {bytes_of(run.destination, size), run.error()};
}

} // namespace lzw_run

namespace {

using Code = std::pair<uint32_t, uint32_t>;  // a code and its width in bits

// A stream built by hand: the code-size byte, the codes packed least
// significant bit first and cut into sub-blocks of `sub_block` bytes, and the
// terminator.
Bytes stream_of(uint32_t code_size, const std::vector<Code>& codes, uint32_t sub_block = 254, bool terminated = true)
{
    Bytes data;
    uint64_t bits = 0;
    uint32_t waiting = 0;
    for (auto [code, width] : codes) {
        bits |= uint64_t(code) << waiting;
        for (waiting += width; waiting >= 8; waiting -= 8, bits >>= 8) data.push_back(uint8_t(bits));
    }
    if (waiting > 0) data.push_back(uint8_t(bits));
    Bytes stream = {uint8_t(code_size)};
    for (size_t at = 0; at < data.size(); at += sub_block) {
        const size_t n = std::min<size_t>(sub_block, data.size() - at);
        stream.push_back(uint8_t(n));
        stream.insert(stream.end(), data.begin() + at, data.begin() + at + n);
    }
    if (terminated) stream.push_back(0);
    return stream;
}

// The data bytes of a stream, sub-blocks joined; checks the stream's frame.
Bytes data_of(const Bytes& stream)
{
    Bytes data;
    size_t at = 1;
    while (at < stream.size() && stream[at] != 0) {
        data.insert(data.end(), stream.begin() + at + 1, stream.begin() + at + 1 + stream[at]);
        at += 1 + stream[at];
    }
    EXPECT_EQ(at + 1, stream.size()) << "one zero byte ends the stream";
    return data;
}

// The same data in sub-blocks of the given sizes, taken in turn.
Bytes reblocked(const Bytes& stream, const std::vector<uint32_t>& sizes)
{
    const Bytes data = data_of(stream);
    Bytes out = {stream[0]};
    size_t at = 0;
    for (size_t i = 0; at < data.size(); ++i) {
        const size_t n = std::min<size_t>(sizes[i % sizes.size()], data.size() - at);
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + at, data.begin() + at + n);
        at += n;
    }
    out.push_back(0);
    return out;
}

// The codes of a stream as any decoder reads them, with their widths: a
// string is added with each code but the first after a clear code, and the
// width grows when the next string's code reaches 2^width.
std::vector<Code> codes_of(const Bytes& stream)
{
    const Bytes data = data_of(stream);
    const uint32_t code_size = stream[0];
    const uint32_t clear = 1u << code_size;
    std::vector<Code> codes;
    uint32_t width = code_size + 1, next = clear + 2;
    bool first = true;
    for (uint64_t bit = 0; bit + width <= data.size() * 8;) {
        uint32_t code = 0;
        for (uint32_t b = 0; b < width; ++b, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1u) << b;
        codes.push_back({code, width});
        if (code == clear) {
            width = code_size + 1;
            next = clear + 2;
            first = true;
            continue;
        }
        if (code == clear + 1) break;
        if (!first && next < 4096 && ++next == (1u << width) && width < 12) ++width;
        first = false;
    }
    return codes;
}

Bytes random_pixels(uint32_t count, uint32_t values, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes pixels(count);
    for (auto& p : pixels) p = uint8_t(random() % values);
    return pixels;
}

// Rows of a picture taken in the four-pass interlaced order.
Bytes in_pass_order(const Bytes& pixels, uint32_t width, uint32_t height)
{
    Bytes out;
    for (auto [first, step] : {std::pair{0u, 8u}, {4u, 8u}, {2u, 4u}, {1u, 2u}})
        for (uint32_t r = first; r < height; r += step)
            out.insert(out.end(), pixels.begin() + r * width, pixels.begin() + (r + 1) * width);
    return out;
}

// --- lzwpack -------------------------------------------------------------------

TEST(LzwPack, WritesTheStreamsWorkedOutByHand)
{
    struct Case {
        const char* name;
        Bytes pixels;
        uint32_t width, height, code_size;
        Bytes stream;
    };
    const std::vector<Case> cases = {
        {"one pixel at code size 2: codes 4, 0, 5 at 3 bits", {0}, 1, 1, 2, {0x02, 0x02, 0x44, 0x01, 0x00}},
        {"code size 0 is raised to 2", {0}, 1, 1, 0, {0x02, 0x02, 0x44, 0x01, 0x00}},
        {"code size 1 is raised to 2", {0}, 1, 1, 1, {0x02, 0x02, 0x44, 0x01, 0x00}},
        {"code size 8: codes 256, 0, 257 at 9 bits", {0}, 1, 1, 8, {0x08, 0x04, 0x00, 0x01, 0x04, 0x04, 0x00}},
        // The code emitted once code 9 is the next string's is the first of
        // 4 bits.
        {"4, 0, 1, 2 at 3 bits, then 3, 0, 5 at 4", {0, 1, 2, 3, 0}, 5, 1, 2, {0x02, 0x03, 0x44, 0x34, 0x50, 0x00}},
        {"a run finds its strings: 4, 1, 6, 7 at 3 bits, then 5 at 4", {1, 1, 1, 1, 1, 1}, 3, 2, 2,
         {0x02, 0x02, 0x8C, 0x5F, 0x00}},
        {"no pixels: the clear and end codes in one sub-block", {}, 0, 7, 2, {0x02, 0x01, 0x2C, 0x00}},
        {"no rows at code size 8", {}, 9, 0, 8, {0x08, 0x03, 0x00, 0x03, 0x02, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto packed = lzw_run::pack(c.pixels, c.width, c.height, c.code_size, false);
        EXPECT_EQ(packed.stream, c.stream);
        EXPECT_EQ(packed.advance, c.stream.size());
        EXPECT_EQ(packed.error, 0u);
    }
}

TEST(LzwPack, AProbeEndsAtTheSlotOfKeyZeroAndTakesIt)
{
    // At code size 8: string (16, 1) takes slot 0, so string (0, 0), key 0,
    // goes to slot 5002. Strings (21, 157) and (5, 156) both start at slot
    // 2501; the second one's probe reaches slot 5002, stops at key 0 as at an
    // empty slot and stores itself there, so the last (0, 0) is new again.
    const Bytes pixels = {16, 1, 0, 0, 21, 157, 5, 156, 0, 0};
    const auto packed = lzw_run::pack(pixels, 10, 1, 8, false);
    std::vector<uint32_t> codes;
    for (auto [code, width] : codes_of(packed.stream)) codes.push_back(code);
    EXPECT_EQ(codes, (std::vector<uint32_t>{256, 16, 1, 0, 0, 21, 157, 5, 156, 0, 0, 257}));
    EXPECT_EQ(lzw_run::unpack(packed.stream, 10, 1, false).pixels, pixels);
}

// The encoder's rules in their plainest form, as an oracle: the codes with
// their widths, one pixel at a time through the hash table and its probe.
Bytes reference_pack(const Bytes& pixels, uint32_t code_size)
{
    const uint32_t clear = 1u << code_size;
    std::vector<int32_t> keys(5003, -1);
    std::vector<uint32_t> codes(5003);
    std::vector<Code> emitted;
    uint32_t width = code_size + 1, next = clear + 2;
    bool clearing = false;
    const auto emit = [&](uint32_t x) {
        emitted.push_back({x, width});
        const uint32_t limit = width >= 12 ? 4096 : (1u << width) - 1;
        if (clearing) {
            width = code_size + 1;
            clearing = false;
        } else if (next > limit) {
            ++width;
        }
    };
    emit(clear);
    if (!pixels.empty()) {
        uint32_t prefix = pixels[0];
        for (size_t n = 1; n < pixels.size(); ++n) {
            const uint32_t k = pixels[n];
            const int32_t key = int32_t((k << 12) + prefix);
            int32_t slot = int32_t((k << 4) ^ prefix);
            bool found = keys[slot] == key;
            if (!found && keys[slot] >= 0) {
                const int32_t step = slot == 0 ? 1 : 5003 - slot;
                do {
                    slot -= step;
                    if (slot < 0) slot += 5003;
                    found = keys[slot] == key;
                } while (!found && keys[slot] > 0);
            }
            if (found) {
                prefix = codes[slot];
                continue;
            }
            emit(prefix);
            prefix = k;
            if (next < 4096) {
                codes[slot] = next++;
                keys[slot] = key;
            } else {
                std::fill(keys.begin(), keys.end(), -1);
                next = clear + 2;
                clearing = true;
                emit(clear);
            }
        }
        emit(prefix);
    }
    emit(clear + 1);
    return stream_of(code_size, emitted, 254);
}

TEST(LzwPack, StreamsAreTheRulesTakenOnePixelAtATime)
{
    // Runs of random lengths over few or many values, long enough to clear
    // the table again and again.
    std::mt19937 random(8);
    for (int round = 0; round < 60; ++round) {
        const uint32_t code_size = round % 10 == 9 ? 11 : 2 + round % 7;
        const uint32_t values = std::min(1u << code_size, 1u + uint32_t(random() % 256));
        const uint32_t count = round < 10 ? uint32_t(random() % 40) : 1 + uint32_t(random() % 60000);
        Bytes pixels;
        while (pixels.size() < count) {
            const uint8_t value = uint8_t(random() % values);
            for (uint32_t run = 1 + random() % (round % 3 == 0 ? 2 : 60); run > 0 && pixels.size() < count; --run)
                pixels.push_back(value);
        }
        SCOPED_TRACE(testing::Message() << "round " << round << ", " << count << " pixels");
        ASSERT_EQ(lzw_run::pack(pixels, count, 1, code_size, false).stream, reference_pack(pixels, code_size));
    }
}

TEST(LzwPack, CutsTheDataIntoSubBlocksOf254Bytes)
{
    for (uint32_t count : {200u, 230u, 260u, 600u, 5000u}) {
        SCOPED_TRACE(count);
        const auto packed = lzw_run::pack(random_pixels(count, 256, count), count, 1, 8, false);
        const Bytes data = data_of(packed.stream);
        size_t at = 1, left = data.size();
        while (left > 0) {
            EXPECT_EQ(packed.stream[at], std::min<size_t>(left, 254));
            left -= packed.stream[at];
            at += 1 + packed.stream[at];
        }
    }
}

TEST(LzwPack, ClearsTheTableWhenItsLastCodeIsTaken)
{
    // After the first clear code every code but the last adds a string, up to
    // code 4095; the code after that is followed by a clear code, both at 12
    // bits, and the codes are again code size + 1 bits wide.
    for (uint32_t code_size : {2u, 5u, 8u, 11u}) {
        SCOPED_TRACE(code_size);
        const uint32_t clear = 1u << code_size;
        const uint32_t values = std::min(clear, 256u);
        const Bytes pixels = random_pixels(400 * 400, values, code_size);
        const auto packed = lzw_run::pack(pixels, 400, 400, code_size, false);
        ASSERT_EQ(packed.error, 0u);
        const auto codes = codes_of(packed.stream);
        const size_t period = 4096 - clear;
        ASSERT_GT(codes.size(), 2 * period + 2);
        for (size_t i = 0; i + 1 < codes.size(); ++i) {
            EXPECT_EQ(codes[i].first == clear, i % period == 0) << i;
            EXPECT_LE(codes[i].second, 12u);
        }
        EXPECT_EQ(codes[period], (Code{clear, 12}));
        EXPECT_EQ(codes[period - 1].second, 12u);
        EXPECT_EQ(codes[period + 1].second, code_size + 1);
        EXPECT_EQ(codes.back().first, clear + 1);
        EXPECT_EQ(lzw_run::unpack(packed.stream, 400, 400, false).pixels, pixels);
    }
}

TEST(LzwPack, InterlacedOrderCodesTheRowsPassByPass)
{
    for (uint32_t height : {1u, 2u, 3u, 5u, 8u, 9u, 17u}) {
        SCOPED_TRACE(height);
        const Bytes pixels = random_pixels(4 * height, 16, height);
        const auto interlaced = lzw_run::pack(pixels, 4, height, 4, true);
        const auto plain = lzw_run::pack(in_pass_order(pixels, 4, height), 4, height, 4, false);
        EXPECT_EQ(interlaced.stream, plain.stream);
    }
    // Height 3: rows 0, 2, 1.
    EXPECT_EQ(in_pass_order({0, 1, 2}, 1, 3), (Bytes{0, 2, 1}));
}

TEST(LzwPack, PixelsAboveTheCodeSizeAndCodeSizesAbove11GiveOnlyTheFrame)
{
    struct Case {
        const char* name;
        Bytes pixels;
        uint32_t code_size;
        Bytes stream;
    };
    const std::vector<Case> cases = {
        {"pixel 4 at code size 2", {0, 1, 4, 2}, 2, {0x02, 0x00}},
        {"pixel 128 at code size 7", {5, 128}, 7, {0x07, 0x00}},
        {"code size 12", {0, 1, 2, 3}, 12, {0x0C, 0x00}},
        {"code size 300 writes its low byte", {0, 1, 2, 3}, 300, {0x2C, 0x00}},
        {"code size 2^32 - 1", {0, 1, 2, 3}, 0xFFFFFFFF, {0xFF, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto packed = lzw_run::pack(c.pixels, uint32_t(c.pixels.size()), 1, c.code_size, false);
        EXPECT_EQ(packed.stream, c.stream);
        EXPECT_EQ(packed.advance, 2u);
        EXPECT_EQ(packed.error, 14u);
    }
}

TEST(LzwPack, StopsWhereTheOutputSpaceEnds)
{
    const Bytes pixels = random_pixels(3000, 256, 7);
    const Bytes whole = lzw_run::pack(pixels, 3000, 1, 8, false).stream;
    for (uint32_t room : {1u, 2u, 3u, 254u, 256u, 257u, 1000u, uint32_t(whole.size()) - 1, uint32_t(whole.size())}) {
        SCOPED_TRACE(room);
        PackRun run(pixels, room, 3000, 1);
        run.run();
        const uint32_t written = std::min(room, uint32_t(whole.size()));
        EXPECT_EQ(run.advance(), written);
        EXPECT_EQ(bytes_of(run.output, written), Bytes(whole.begin(), whole.begin() + written));
        EXPECT_EQ(run.error(), room < whole.size() ? 14u : 0u);
    }
}

TEST(LzwPack, AnOutputPositionNamingNoMemoryWritesNothing)
{
    PackRun run({1, 2, 3}, 4, 3, 1);
    host_set_word(run.position, 0, 0x10);
    run.run();
    EXPECT_EQ(host_word(run.position, 0), 0x10u);
    EXPECT_EQ(run.error(), 14u);
}

TEST(LzwPack, FlushesTheCodedBytesAndTheOutputPosition)
{
    PackRun run(random_pixels(900, 256, 3), 2000, 30, 30);
    FlushLog log;
    run.run();
    ASSERT_EQ(run.error(), 0u);
    const auto flushed = log.entries();
    for (uint32_t i = 0; i < run.advance(); ++i) EXPECT_TRUE(covered_by(flushed, run.output + i)) << i;
    for (uint32_t i = 0; i < 4; ++i) EXPECT_TRUE(covered_by(flushed, run.position + i));
}

TEST(LzwPack, WithoutItsTablesWritesTheFrameAndError3)
{
    for (uint32_t failing = 1; failing <= 2; ++failing) {
        SCOPED_TRACE(failing);
        PackRun run({1, 2, 3, 4}, 64, 2, 2);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        platform_fail_nth_alloc(ALLOCATOR_PPC, failing);
        run.run();
        platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
        EXPECT_EQ(run.error(), 3u);
        EXPECT_EQ(run.advance(), 2u);
        EXPECT_EQ(bytes_of(run.output, 3), (Bytes{0x08, 0x00, E}));
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
    }
}

// --- lzwunpack -----------------------------------------------------------------

TEST(LzwUnpack, DecodesStreamsBuiltByHand)
{
    struct Case {
        const char* name;
        Bytes stream;
        Bytes pixels;
    };
    const std::vector<Case> cases = {
        {"the one-pixel stream", {0x02, 0x02, 0x44, 0x01, 0x00}, {0}},
        {"widths at code size 2: the fourth code after the clear code has 4 bits",
         {0x02, 0x03, 0x44, 0x34, 0x50, 0x00}, {0, 1, 2, 3, 0}},
        {"two clear codes first", stream_of(2, {{4, 3}, {4, 3}, {1, 3}, {2, 3}, {5, 3}}), {1, 2}},
        {"a second clear code after a clear code is the first code",
         stream_of(2, {{4, 3}, {1, 3}, {4, 3}, {4, 3}, {2, 3}}), {1, 4, 2}},
        {"... and is cut to 8 bits", stream_of(8, {{256, 9}, {7, 9}, {256, 9}, {256, 9}, {3, 9}}), {7, 0, 3}},
        {"a code equal to the next free code", stream_of(2, {{4, 3}, {1, 3}, {6, 3}, {5, 3}}), {1, 1, 1}},
        {"code size 1: the width grows once the next code passes 2^width",
         stream_of(1, {{2, 2}, {1, 2}, {0, 2}, {4, 3}, {3, 3}}), {1, 0, 1, 0}},
        {"a code that is its own prefix gives 0xFF, then the rest of its string",
         stream_of(2, {{4, 3}, {6, 3}, {1, 3}, {6, 3}, {5, 3}}), {6, 1, 0xFF, 1}},
        {"the end code before the picture is full gives 0xFE, then 0xFF",
         stream_of(2, {{4, 3}, {1, 3}, {5, 3}}), {1, 0xFE, 0xFF, 0xFF}},
        {"the end code with more sub-blocks after it",
         stream_of(2, {{4, 3}, {1, 3}, {5, 3}, {7, 3}, {7, 3}, {7, 3}, {7, 3}, {7, 3}}, 1), {1, 0xFE, 0xFF}},
        {"data that ends without an end code gives 0xFF", stream_of(2, {{4, 3}, {1, 3}}), {1, 0xFF, 0xFF}},
        {"a code of which only some bits are left is no code", stream_of(8, {{256, 9}, {1, 9}, {2, 5}}), {1, 0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto unpacked = lzw_run::unpack(c.stream, uint32_t(c.pixels.size()), 1, false);
        EXPECT_EQ(unpacked.pixels, c.pixels);
        EXPECT_EQ(unpacked.error, 0u);
    }
}

TEST(LzwUnpack, MarksTheEndOfTheSourceBeforeTheZeroCount)
{
    // The end code arrives, and the sub-block after it would pass the source end.
    Bytes stream = stream_of(2, {{4, 3}, {1, 3}, {5, 3}}, 254, false);
    stream.insert(stream.end(), {3, 9, 9});
    EXPECT_EQ(lzw_run::unpack(stream, 3, 1, false).pixels, (Bytes{1, 0xFD, 0xFF}));
    // A code needs the next sub-block, which reaches the source end.
    stream = stream_of(2, {{4, 3}, {1, 3}}, 254, false);
    stream.insert(stream.end(), {1, 0x02});
    EXPECT_EQ(lzw_run::unpack(stream, 2, 1, false).pixels, (Bytes{1, 0xFF}));
}

TEST(LzwUnpack, PrefixChainsThatLoopStopTheWorkWith14)
{
    // Codes 6 and 7 become each other's prefixes: 7 is taken as the first
    // code, 6 then gets prefix 7, and 7 prefix 6.
    const Bytes stream = stream_of(2, {{4, 3}, {7, 3}, {6, 3}, {1, 3}, {6, 4}, {5, 4}});
    UnpackRun run(stream, 10, 1, false, 10, 10);
    run.run();
    EXPECT_EQ(run.error(), 14u);
    EXPECT_EQ(bytes_of(run.destination, 5), (Bytes{7, 0, 0, 7, 1}));
}

TEST(LzwUnpack, ReadsSubBlocksOfAnySizeAndJoinsThemInPlace)
{
    const Bytes pixels = random_pixels(6000, 64, 11);
    const Bytes stream = lzw_run::pack(pixels, 100, 60, 6, false).stream;
    for (const auto& sizes : std::vector<std::vector<uint32_t>>{{255}, {1}, {2}, {3}, {1, 255, 2, 254, 1, 1, 7}}) {
        SCOPED_TRACE(sizes.size() == 1 ? sizes[0] : 0);
        EXPECT_EQ(lzw_run::unpack(reblocked(stream, sizes), 100, 60, false).pixels, pixels);
    }

    // The last two data bytes of a sub-block move one byte on, over the next
    // count byte; a sub-block that is never needed is not touched.
    const Bytes split = {0x02, 0x01, 0x44, 0x01, 0x01, 0x00};
    for (auto [count, after, decoded] : {std::tuple{1u, split, Bytes{0}},
                                         {2u, Bytes{0x02, 0x01, 0x01, 0x44, 0x01, 0x00}, Bytes{0, 0xFE}}}) {
        UnpackRun run(split, count, 1, false, count, count);
        run.run();
        EXPECT_EQ(bytes_of(run.source, 6), after);
        EXPECT_EQ(bytes_of(run.destination, count), decoded);
    }
    const Bytes three = {0x02, 0x03, 0x44, 0x34, 0x50, 0x02, 0x11, 0x22, 0x00};
    UnpackRun run(three, 6, 1, false, 6, 6);
    run.run();
    EXPECT_EQ(bytes_of(run.source, 9), (Bytes{0x02, 0x03, 0x44, 0x34, 0x34, 0x50, 0x11, 0x22, 0x00}));
}

TEST(LzwUnpack, StoresInterlacedRowsPassByPass)
{
    for (uint32_t height : {1u, 3u, 4u, 9u, 13u}) {
        SCOPED_TRACE(height);
        const Bytes pixels = random_pixels(5 * height, 8, height);
        const Bytes stream = lzw_run::pack(in_pass_order(pixels, 5, height), 5, height, 3, false).stream;
        EXPECT_EQ(lzw_run::unpack(stream, 5, height, true).pixels, pixels);
    }
}

TEST(LzwUnpack, RowsEndAtTheDestinationEnd)
{
    const Bytes pixels = random_pixels(40, 4, 5);
    const Bytes stream = lzw_run::pack(pixels, 4, 10, 2, false).stream;
    struct Case {
        const char* name;
        bool interlaced;
        uint32_t height, end_offset, room;
        Bytes expected;
        uint32_t error;
    };
    auto rows = [&](std::initializer_list<uint32_t> sequence_rows, uint32_t room) {
        // The destination after storing the stream's first rows at these rows.
        Bytes out(room, E);
        uint32_t n = 0;
        for (uint32_t r : sequence_rows) std::copy_n(pixels.begin() + 4 * n++, 4, out.begin() + 4 * r);
        return out;
    };
    const std::vector<Case> cases = {
        {"plain: a row that starts before the end is whole; the height is not used", false, 1, 10, 16,
         rows({0, 1, 2}, 16), 0},
        {"plain: the end at the destination start", false, 10, 0, 8, Bytes(8, E), 0},
        {"interlaced: the first row at or past the end ends the work", true, 10, 20, 24, rows({0}, 24), 0},
        {"interlaced: rows below the height and the end", true, 3, 40, 16, rows({0, 2, 1}, 16), 0},
        {"plain: the destination's block ends before the rows", false, 10, 40, 39, Bytes(39, E), 14},
        {"interlaced: the block ends before the rows", true, 3, 12, 11, Bytes(11, E), 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnpackRun run(stream, 4, c.height, c.interlaced, c.room, c.end_offset);
        FlushLog log;
        run.run();
        EXPECT_EQ(bytes_of(run.destination, c.room), c.expected);
        EXPECT_EQ(run.error(), c.error);
        const auto flushed = log.entries();
        for (uint32_t i = 0; i < c.room; ++i)
            EXPECT_TRUE(run.destination[i] == E || covered_by(flushed, run.destination + i)) << i;
    }
}

TEST(LzwUnpack, WidthZeroEndsAtOnce)
{
    for (bool interlaced : {false, true}) {
        UnpackRun run({0x02, 0x02, 0x44, 0x01, 0x00}, 0, 0xFFFFFFFF, interlaced, 8, 0xFFFF);
        run.run();
        EXPECT_EQ(run.error(), 0u);
        EXPECT_EQ(bytes_of(run.destination, 8), Bytes(8, E));
    }
}

TEST(LzwUnpack, RefusesAnEmptySourceAndCodeSizesAbove11)
{
    struct Case {
        const char* name;
        Bytes stream;
        int32_t end_offset;  // of word 3 from the source start
    };
    const std::vector<Case> cases = {
        {"a source of zero length", {0x02, 0x02, 0x44, 0x01, 0x00}, 0},
        {"a source end before its start", {0x02, 0x02, 0x44, 0x01, 0x00}, -3},
        {"code size 12", {0x0C, 0x02, 0x44, 0x01, 0x00}, 5},
        {"code size 255", {0xFF, 0x02, 0x44, 0x01, 0x00}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UnpackRun run(c.stream, 2, 2, false, 4, 4);
        host_set_word(run.block, 3, uint32_t(host_address(run.source) + c.end_offset));
        run.run();
        EXPECT_EQ(run.error(), 14u);
        EXPECT_EQ(bytes_of(run.destination, 4), Bytes(4, E));
    }
}

TEST(LzwUnpack, ASourceWhoseBlockEndsBeforeItsEndWordStopsWith14)
{
    // Cut in the middle of its data, the stream ends at its end word with
    // 0xFF pixels; ending at its block instead, the work stops.
    const Bytes pixels = random_pixels(400, 16, 9);
    const Bytes whole = reblocked(lzw_run::pack(pixels, 20, 20, 4, false).stream, {10});
    const Bytes cut(whole.begin(), whole.begin() + 100);
    UnpackRun at_end_word(cut, 20, 20, false, 400, 400);
    at_end_word.run();
    EXPECT_EQ(at_end_word.error(), 0u);
    EXPECT_EQ(at_end_word.destination[399], 0xFF);

    UnpackRun at_block_end(cut, 20, 20, false, 400, 400);
    host_set_word(at_block_end.block, 3, host_address(at_block_end.source) + 5000);
    at_block_end.run();
    EXPECT_EQ(at_block_end.error(), 14u);
    EXPECT_EQ(at_block_end.destination[399], E);
    EXPECT_EQ(bytes_of(at_end_word.destination, 40), Bytes(pixels.begin(), pixels.begin() + 40));
    EXPECT_EQ(bytes_of(at_block_end.destination, 40), Bytes(pixels.begin(), pixels.begin() + 40));
}

// The decoder's rules in their plainest form, one pixel at a time, as an
// oracle for corrupt streams: the pixels, the error and the source as the
// joining of sub-blocks leaves it. The source ends at its last byte.
struct Reference {
    Bytes pixels;
    uint32_t error = 0;
    Bytes source;
    std::vector<uint32_t> decoded;  // where the pixels decoded before a stop went
};

Reference reference_unpack(Bytes source, uint32_t width, uint32_t height, bool interlaced)
{
    Reference result;
    result.pixels.assign(width * height, E);
    const uint32_t size = uint32_t(source.size());
    if (size == 0 || source[0] > 11) {
        result.error = 14;
        result.source = source;
        return result;
    }
    const uint32_t code_size = source[0], clear = 1u << code_size, none = 0xFFFF;
    uint32_t data_start = 0, data_end = 1, position = 0, data_bits = 0;
    bool joined = false, over = false;
    uint32_t width_bits = code_size + 1, limit = 2 * clear, next = clear + 2, first = 0, old = 0;
    std::vector<uint32_t> prefix(4096, 0), suffix(4096, 0), stack;
    for (uint32_t i = 0; i < clear; ++i) suffix[i] = i;
    const auto read = [&]() -> uint32_t {
        while (position + width_bits >= data_bits && !over) {
            const uint32_t at = data_end;
            if (at >= size) return none;
            const uint32_t count = source[at];
            if (count == 0) {
                over = true;
                break;
            }
            if (at + 1 + count >= size) return none;
            if (joined) {
                source[at] = source[at - 1];
                source[at - 1] = source[at - 2];
                position = position + 16 - data_bits;
                data_start = at - 1;
            } else {
                data_start = at + 1;
                joined = true;
            }
            data_end = at + 1 + count;
            data_bits = (data_end - data_start) * 8;
        }
        if (position + width_bits > data_bits) return none;
        uint32_t code = 0;
        for (uint32_t b = 0; b < width_bits; ++b, ++position)
            code |= ((source[data_start + position / 8] >> (position % 8)) & 1u) << b;
        return code;
    };
    bool fresh = true, finished = false;
    const auto next_pixel = [&]() -> int {  // -1 stops the work with 14
        if (!stack.empty()) {
            const uint32_t top = stack.back();
            stack.pop_back();
            return int(top & 0xFF);
        }
        if (finished) return 0xFF;
        uint32_t code = read();
        if (fresh) {
            while (code == clear) code = read();
        } else if (code == clear) {
            std::fill(prefix.begin(), prefix.end(), 0);
            for (uint32_t i = clear; i < 4096; ++i) suffix[i] = 0;
            width_bits = code_size + 1, limit = 2 * clear, next = clear + 2;
            code = read();
            fresh = true;
        }
        if (code == none) {
            finished = true;
            return 0xFF;
        }
        if (fresh) {
            fresh = false;
            first = old = code;
            return int(code & 0xFF);
        }
        if (code == clear + 1) {
            finished = true;
            for (uint32_t at = data_end;; at += 1 + source[at]) {
                if (over || (at < size && source[at] == 0)) return 0xFE;
                if (at >= size || at + 1 + source[at] >= size) return 0xFD;
            }
        }
        uint32_t k = code;
        if (k >= next) {
            stack.push_back(first);
            k = old;
        }
        while (k >= clear) {
            stack.push_back(suffix[k]);
            if (stack.size() > 8192) return -1;
            if (prefix[k] == k) return 0xFF;
            k = prefix[k];
        }
        first = suffix[k];
        stack.push_back(first);
        if (next < 4096) {
            prefix[next] = old;
            suffix[next] = first;
            if (++next >= limit && limit < 4096) limit *= 2, ++width_bits;
        }
        old = code;
        const uint32_t top = stack.back();
        stack.pop_back();
        return int(top & 0xFF);
    };
    std::vector<uint32_t> rows;
    if (interlaced) {
        for (auto [start, step] : {std::pair{0u, 8u}, {4u, 8u}, {2u, 4u}, {1u, 2u}})
            for (uint32_t r = start; r < height; r += step) rows.push_back(r);
    } else {
        for (uint32_t r = 0; r < height; ++r) rows.push_back(r);
    }
    for (uint32_t r : rows) {
        for (uint32_t x = 0; x < width; ++x) {
            const int pixel = next_pixel();
            if (pixel < 0) {
                result.error = 14;
                result.source = source;
                return result;
            }
            result.pixels[r * width + x] = uint8_t(pixel);
            result.decoded.push_back(r * width + x);
        }
    }
    result.source = source;
    return result;
}

TEST(LzwUnpack, CorruptStreamsDecodeAsTheRulesSay)
{
    // Streams of random codes around the next free one, clear and end codes
    // among them, and valid streams with bytes changed, in sub-blocks of
    // random sizes, some cut short. Where the work stops with 14, the pixels
    // decoded before the stop are compared.
    std::mt19937 random(12);
    for (int round = 0; round < 3000; ++round) {
        const uint32_t code_size = 2 + random() % 7, clear = 1u << code_size;
        const uint32_t width = 1 + random() % 60, height = 1 + random() % 12;
        const bool interlaced = round % 4 == 3;
        Bytes stream;
        if (round % 2 == 0) {
            std::vector<Code> codes = {{clear, code_size + 1}};
            uint32_t next = clear + 2, bits = code_size + 1;
            for (int i = 0; i < 200; ++i) {
                const uint32_t pick = random() % 100, near_next = next - random() % std::min(next, 40u);
                uint32_t code = pick < 40   ? random() % clear
                                : pick < 85 ? std::min<uint32_t>(near_next, (1u << bits) - 1)
                                : pick < 90 ? clear
                                : pick < 92 ? clear + 1
                                            : random() % (1u << bits);
                codes.push_back({code, bits});
                if (code == clear) {
                    next = clear + 2, bits = code_size + 1;
                } else if (next < 4096 && ++next == (1u << bits) && bits < 12) {
                    ++bits;
                }
            }
            stream = stream_of(code_size, codes, 1 + random() % 255);
        } else {
            const Bytes pixels = random_pixels(width * height, random() % 2 ? clear : 3, round);
            const std::vector<uint32_t> sizes = {uint32_t(1 + random() % 255), uint32_t(1 + random() % 9)};
            stream = reblocked(lzw_run::pack(pixels, width, height, code_size, false).stream, sizes);
            for (int changes = random() % 4; changes >= 0; --changes)
                stream[1 + random() % (stream.size() - 1)] ^= uint8_t(1u << (random() % 8));
        }
        if (random() % 5 == 0) stream.resize(1 + random() % stream.size());
        SCOPED_TRACE(testing::Message() << "round " << round);
        const Reference expected = reference_unpack(stream, width, height, interlaced);
        UnpackRun run(stream, width, height, interlaced, width * height, width * height);
        run.run();
        ASSERT_EQ(run.error(), expected.error);
        for (uint32_t at : expected.decoded) ASSERT_EQ(run.destination[at], expected.pixels[at]) << at;
        if (expected.error == 0) {
            ASSERT_EQ(bytes_of(run.source, uint32_t(stream.size())), expected.source);
        }
    }
}

TEST(LzwUnpack, TruncatedAndNoisyStreamsStayInsideTheSource)
{
    // Every cut of a valid stream, and streams of noise (the sanitizer build
    // reports any read outside the given memory).
    const Bytes pixels = random_pixels(600, 32, 4);
    const Bytes whole = reblocked(lzw_run::pack(pixels, 30, 20, 5, false).stream, {7, 1, 255});
    for (size_t length = 1; length <= whole.size(); ++length) {
        const auto unpacked = lzw_run::unpack(Bytes(whole.begin(), whole.begin() + length), 30, 20, length % 2 == 0);
        EXPECT_EQ(unpacked.error, 0u) << length;
    }
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        Bytes noise = random_pixels(1 + random() % 600, 256, round);
        noise[0] = uint8_t(random() % 12);
        const auto unpacked = lzw_run::unpack(noise, 1 + random() % 40, 1 + random() % 40, round % 2 == 1);
        EXPECT_TRUE(unpacked.error == 0 || unpacked.error == 14) << round;
    }
}

TEST(LzwUnpack, WithoutItsTablesGivesError3AndLeavesTheDestination)
{
    for (uint32_t failing = 1; failing <= 5; ++failing) {
        SCOPED_TRACE(failing);
        UnpackRun run({0x02, 0x02, 0x44, 0x01, 0x00}, 1, 1, false, 1, 1);
        const uint32_t live = platform_live_blocks(ALLOCATOR_PPC);
        platform_fail_nth_alloc(ALLOCATOR_PPC, failing);
        run.run();
        platform_fail_nth_alloc(ALLOCATOR_PPC, 0);
        EXPECT_EQ(run.error(), 3u);
        EXPECT_EQ(run.destination[0], E);
        EXPECT_EQ(platform_live_blocks(ALLOCATOR_PPC), live);
    }
}

// --- round trips ---------------------------------------------------------------

TEST(LzwRoundTrip, PicturesComeBackAsTheyWent)
{
    struct Look {
        const char* name;
        uint8_t (*pixel)(uint32_t x, uint32_t y, uint32_t values, uint32_t noise);
    };
    const std::vector<Look> looks = {
        {"noise", [](uint32_t, uint32_t, uint32_t values, uint32_t noise) { return uint8_t(noise % values); }},
        {"flat", [](uint32_t, uint32_t, uint32_t values, uint32_t) { return uint8_t(values - 1); }},
        {"stripes", [](uint32_t x, uint32_t y, uint32_t values, uint32_t) { return uint8_t((x / 3 + y) % values); }},
        {"gradient with noise",
         [](uint32_t x, uint32_t y, uint32_t values, uint32_t noise) {
             return uint8_t((x + y + noise % 3) / 4 % values);
         }},
    };
    std::mt19937 random(1);
    for (const auto& look : looks) {
        for (uint32_t bits = 1; bits <= 8; ++bits) {
            for (uint32_t width : {1u, 2u, 7u, 64u, 255u, 300u}) {
                const uint32_t height = 1 + random() % 40;
                const uint32_t values = 1u << bits;
                Bytes pixels(width * height);
                for (uint32_t y = 0; y < height; ++y)
                    for (uint32_t x = 0; x < width; ++x) pixels[y * width + x] = look.pixel(x, y, values, random());
                for (bool interlaced : {false, true}) {
                    SCOPED_TRACE(testing::Message() << look.name << ", " << bits << " bits, " << width << " x "
                                                    << height << (interlaced ? ", interlaced" : ""));
                    const auto packed = lzw_run::pack(pixels, width, height, bits, interlaced);
                    ASSERT_EQ(packed.error, 0u);
                    const auto unpacked = lzw_run::unpack(packed.stream, width, height, interlaced);
                    EXPECT_EQ(unpacked.error, 0u);
                    EXPECT_EQ(unpacked.pixels, pixels);
                }
            }
        }
    }
}

TEST(LzwRoundTrip, LongPicturesFillTheTableManyTimes)
{
    for (uint32_t values : {2u, 16u, 256u}) {
        SCOPED_TRACE(values);
        const Bytes pixels = random_pixels(300 * 400, values, values);
        for (bool interlaced : {false, true}) {
            const auto packed = lzw_run::pack(pixels, 300, 400, values == 256 ? 8 : values == 16 ? 4 : 1, interlaced);
            EXPECT_EQ(lzw_run::unpack(packed.stream, 300, 400, interlaced).pixels, pixels);
        }
    }
}

} // namespace
