// HAM kernels: the code walk of hamexpand, the palette encoders hamsix and
// hameight, the quick encoders, encode-then-expand round trips and the
// bounds of every buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "kernel_test.h"
#include "platform/byteorder.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kHostError = 0xC0FFEE00;

// Where each module's block keeps its dimensions and buffers, for a picture
// of width x height.
struct Layout {
    uint32_t block_words;
    std::map<uint32_t, uint32_t> values;   // word -> value
    std::map<uint32_t, uint32_t> buffers;  // word -> size in bytes
};

Layout layout(const std::string& name, uint32_t w, uint32_t h, uint32_t kind = 8)
{
    const uint32_t n = w * h;
    if (name == "hamexpand")
        return {10, {{5, w}, {6, h}, {7, kind}}, {{2, n}, {3, 3 * n}, {4, 820}, {8, kind == 6 ? 48u : 192u}}};
    if (name == "hamsix") return {8, {{4, w}, {5, h}}, {{2, 3 * n}, {3, n}, {6, 16384}}};
    if (name == "hameight") return {9, {{4, w}, {5, h}}, {{2, 3 * n}, {3, n}, {6, 192}, {7, 32768}}};
    return {7, {{4, w}, {5, h}}, {{2, 3 * n}, {3, n}}};  // hamsixfast, hameightfast
}

struct Result {
    std::map<uint32_t, Bytes> buffers;  // word -> contents after the run
    uint32_t error;
};

// One run: buffers given in `inputs` start with those bytes, the rest with
// zeros, as the host clears them.
Result run(const std::string& name, uint32_t w, uint32_t h, const std::map<uint32_t, Bytes>& inputs,
           uint32_t kind = 8)
{
    const host_module* module = load_module(name.c_str());
    if (module == nullptr) return {{}, 0};
    const Layout l = layout(name, w, h, kind);
    SharedArena arena;
    uint8_t* block = arena.block(4 * l.block_words);
    for (auto [word, value] : l.values) host_set_word(block, word, value);
    std::map<uint32_t, uint8_t*> at;
    for (auto [word, size] : l.buffers) {
        at[word] = arena.alloc(size ? size : 1);
        if (auto in = inputs.find(word); in != inputs.end()) {
            EXPECT_LE(in->second.size(), size) << name << " word " << word;
            std::copy_n(in->second.begin(), std::min<size_t>(in->second.size(), size), at[word]);
        }
        host_set_word(block, word, host_address(at[word]));
    }
    host_set_word(block, l.block_words - 1, kHostError);
    EXPECT_EQ(host_call(module, block, 1), 1u);
    Result r{{}, host_word(block, l.block_words - 1)};
    for (auto [word, size] : l.buffers) r.buffers[word] = bytes_of(at[word], size);
    return r;
}

Bytes expand(uint32_t kind, const Bytes& codes, uint32_t w, const Bytes& palette)
{
    const Result r = run("hamexpand", w, uint32_t(codes.size() / w), {{2, codes}, {8, palette}}, kind);
    EXPECT_EQ(r.error, kHostError) << "a run leaves the error word alone";
    return r.buffers.at(3);
}

struct Encoded {
    Bytes codes;
    Bytes palette;  // what the host gives the decoder
    Result run;
};

uint32_t kind_of(const std::string& name) { return name.find("six") != std::string::npos ? 6 : 8; }

// Encodes with any of the four encoders; the palette is the one the host
// would pass to the decoder (hamsix: keys x 17; quick encoders: black).
Encoded encode(const std::string& name, const Bytes& rgb, uint32_t w, uint32_t h)
{
    Encoded e{{}, Bytes(kind_of(name) == 6 ? 48 : 192, 0), run(name, w, h, {{2, rgb}})};
    EXPECT_EQ(e.run.error, kHostError) << name;
    e.codes = e.run.buffers[3];
    if (name == "hameight") e.palette = e.run.buffers[6];
    if (name == "hamsix") {
        for (uint32_t i = 0; i < 16; ++i) {
            const uint16_t key = load_be16(e.run.buffers[6].data() + 2 * i);
            e.palette[3 * i] = uint8_t((key >> 8) * 17);
            e.palette[3 * i + 1] = uint8_t(((key >> 4) & 15) * 17);
            e.palette[3 * i + 2] = uint8_t((key & 15) * 17);
        }
    }
    return e;
}

Bytes encode_expand(const std::string& name, const Bytes& rgb, uint32_t w, uint32_t h)
{
    const Encoded e = encode(name, rgb, w, h);
    return expand(kind_of(name), e.codes, w, e.palette);
}

// Smooth gradients with a little noise, like a photograph.
Bytes photo(uint32_t w, uint32_t h)
{
    Bytes rgb(3 * w * h);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                rgb[3 * (y * w + x) + c] = uint8_t((x * (2 + c) + y * (4 - c)) + ((seed >> 24) & 15));
            }
    return rgb;
}

double mean_error(const Bytes& a, const Bytes& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

Bytes repeat(const Bytes& pixel, uint32_t n)
{
    Bytes out;
    for (uint32_t i = 0; i < n; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
    return out;
}

// ---------------------------------------------------------------------------
// hamexpand

struct ExpandCase {
    const char* what;
    uint32_t kind;
    uint32_t width;
    Bytes codes;
    Bytes expected;
};

TEST(HamExpand, WalksTheCodes)
{
    // Palette entry i is (i, 2i, 3i) + 100, so loads are easy to tell apart.
    Bytes palette(192);
    for (uint32_t i = 0; i < 64; ++i)
        for (uint32_t c = 0; c < 3; ++c) palette[3 * i + c] = uint8_t(100 + i * (c + 1));
    Bytes black_first = palette;
    black_first[0] = black_first[1] = black_first[2] = 0;

    const std::vector<ExpandCase> cases = {
        {"HAM6 red, green, blue to white", 6, 4, {0x00, 0x2F, 0x3F, 0x1F}, {0, 0, 0, 255, 0, 0, 255, 255, 0, 255, 255, 255}},
        {"HAM6 modify value v gives v x 17", 6, 3, {0x21, 0x37, 0x1A}, {17, 0, 0, 17, 119, 0, 17, 119, 170}},
        {"HAM6 index loads the entry", 6, 2, {0x05, 0x0F}, {105, 110, 115, 115, 130, 145}},
        {"HAM6 bytes above 63: only the low six bits count", 6, 2, {0x45, 0xEF}, {105, 110, 115, 255, 110, 115}},
        {"HAM8 red 63 first gives 252", 8, 1, {0xBF}, {252, 0, 0}},
        {"HAM8 modify value v gives v x 4", 8, 3, {0x41, 0xC2, 0x83}, {0, 0, 4, 0, 8, 4, 12, 8, 4}},
        {"HAM8 index 63 loads the last entry", 8, 2, {0x3F, 0x10}, {163, 226, 33, 116, 132, 148}},
        {"held colour carries into the next row", 8, 2, {0x01, 0x81, 0xC2, 0x43},
         {101, 102, 103, 4, 102, 103, 4, 8, 103, 4, 8, 12}},
        {"first row's modify codes start from black", 6, 2, {0x3F, 0x10}, {0, 255, 0, 0, 255, 0}},
    };
    for (const auto& c : cases) {
        const Bytes& pal = c.codes[0] == 0x00 ? black_first : palette;
        const Bytes p = c.kind == 6 ? Bytes(pal.begin(), pal.begin() + 48) : pal;
        EXPECT_EQ(expand(c.kind, c.codes, c.width, p), c.expected) << c.what;
    }
}

TEST(HamExpand, WordSevenSixSelectsHam6AndAnyOtherHam8)
{
    Bytes palette(192, 9);
    const Bytes codes = {0xBF, 0x14};
    const Bytes ham6 = {0, 255, 0, 0, 255, 68};  // 0xBF as HAM6: green 15; 0x14: blue 4
    const Bytes ham8 = {252, 0, 0, 9, 9, 9};    // 0xBF: red 63; 0x14: entry 20
    EXPECT_EQ(expand(6, codes, 2, Bytes(palette.begin(), palette.begin() + 48)), ham6);
    for (uint32_t kind : {8u, 7u, 0u, 24u}) EXPECT_EQ(expand(kind, codes, 2, palette), ham8) << kind;
}

// ---------------------------------------------------------------------------
// Quick encoders

struct QuickCase {
    const char* what;
    const char* module;
    uint32_t width;
    Bytes rgb;
    Bytes codes;
};

TEST(HamQuick, CodesOfEachRow)
{
    const Bytes white = repeat({255, 255, 255}, 3);
    // From black: green and blue tie above red (green wins), then blue, then
    // red; then a pixel equal to the held colour gets the red code.
    const Bytes ties = repeat({10, 50, 50}, 5);
    const std::vector<QuickCase> cases = {
        {"three white pixels", "hameightfast", 3, white, {0x00, 0xBF, 0xFF}},
        {"three white pixels", "hamsixfast", 3, white, {0x00, 0x2F, 0x3F}},
        {"ties and the held colour", "hameightfast", 5, ties, {0x00, 0xCC, 0x4C, 0x82, 0x82}},
        {"ties and the held colour", "hamsixfast", 5, ties, {0x00, 0x33, 0x13, 0x20, 0x20}},
        {"width 1: every code is 0", "hameightfast", 1, {9, 9, 9, 200, 1, 1, 7, 7, 7}, {0, 0, 0}},
        {"width 1: every code is 0", "hamsixfast", 1, {9, 9, 9, 200, 1, 1}, {0, 0}},
        {"each row starts again from black", "hameightfast", 2, {1, 1, 1, 0, 0, 200, 1, 1, 1, 0, 0, 200},
         {0x00, 0x72, 0x00, 0x72}},
    };
    for (const auto& c : cases) {
        const uint32_t h = uint32_t(c.rgb.size() / 3 / c.width);
        EXPECT_EQ(encode(c.module, c.rgb, c.width, h).codes, c.codes) << c.module << ": " << c.what;
    }
}

TEST(HamQuick, EveryModifiedComponentIsTheSourcesWithinTheStep)
{
    const uint32_t w = 96, h = 64;
    const Bytes rgb = photo(w, h);
    for (const char* name : {"hamsixfast", "hameightfast"}) {
        const Encoded e = encode(name, rgb, w, h);
        const Bytes out = expand(kind_of(name), e.codes, w, e.palette);
        const int step = kind_of(name) == 6 ? 16 : 4;
        const uint32_t value_bits = kind_of(name) == 6 ? 4 : 6;
        for (uint32_t i = 0; i < w * h; ++i) {
            if (i % w == 0) {
                EXPECT_EQ(e.codes[i], 0) << name << " row start " << i / w;
                continue;
            }
            const uint32_t control = e.codes[i] >> value_bits;
            ASSERT_NE(control, 0u) << name << " pixel " << i;
            const uint32_t c = control == 2 ? 0 : control == 3 ? 1 : 2;
            const int diff = std::abs(int(rgb[3 * i + c]) - int(out[3 * i + c]));
            EXPECT_LT(diff, step) << name << " pixel " << i << " component " << c;
        }
    }
}

TEST(HamQuick, WidthOrHeightZeroWritesNothing)
{
    for (const char* name : {"hamsixfast", "hameightfast"}) {
        for (auto [w, h] : {std::pair{0u, 3u}, std::pair{5u, 0u}}) {
            const host_module* module = load_module(name);
            ASSERT_NE(module, nullptr);
            SharedArena arena;
            uint8_t* rgb = arena.fill(12, 0x77);
            uint8_t* codes = arena.fill(4, 0xAA);
            uint8_t* block = arena.block(28, {{2, host_address(rgb)}, {3, host_address(codes)}, {4, w}, {5, h},
                                              {6, kHostError}});
            host_call(module, block, 1);
            EXPECT_EQ(bytes_of(codes, 4), Bytes(4, 0xAA)) << name << " " << w << "x" << h;
            EXPECT_EQ(host_word(block, 6), kHostError) << name;
        }
    }
}

// ---------------------------------------------------------------------------
// hameight

TEST(HamEight, OneColourIsInThePaletteAndRepeats)
{
    const Encoded e = encode("hameight", repeat({200, 100, 50}, 4 * 3), 4, 3);
    const Bytes fixed = {0, 0, 0, 0, 0, 255, 0, 255, 0, 255, 0, 0, 200, 100, 50};
    EXPECT_EQ(Bytes(e.palette.begin(), e.palette.begin() + 15), fixed);
    EXPECT_EQ(e.codes, Bytes(12, 4));
}

TEST(HamEight, OneComponentChangeIsAModifyCode)
{
    // (10, 20, 30) is in the palette; the next pixel differs in blue only.
    const Encoded e = encode("hameight", {10, 20, 30, 10, 20, 200}, 2, 1);
    EXPECT_EQ(e.codes, (Bytes{4, 0x72}));
}

TEST(HamEight, ModifiesOnlyWhenStrictlyNearerThanTheNearestEntry)
{
    // Rows A P / Q A: entry 4 is A, entry 5 is Q (the last colour of P's
    // key). At P the red modify leaves a distance of 100; Q lies 100 or 101
    // from P.
    const Bytes a = {100, 100, 100}, p = {120, 110, 100};
    const std::vector<std::pair<Bytes, Bytes>> cases = {
        {{120, 110, 110}, {4, 5, 5, 4}},     // equal distances: the entry
        {{120, 111, 110}, {4, 0x9E, 5, 4}},  // the entry is farther: red 120 / 4
    };
    for (const auto& [q, codes] : cases) {
        Bytes rgb = a;
        for (const Bytes* pixel : {&p, &q, &a}) rgb.insert(rgb.end(), pixel->begin(), pixel->end());
        EXPECT_EQ(encode("hameight", rgb, 2, 2).codes, codes) << int(q[1]);
    }
}

TEST(HamEight, NearBlackReplacesAFixedColour)
{
    // Every component below 16: key 0, whose entry keeps its lead place but
    // takes the colour of the last such pixel.
    const Encoded e = encode("hameight", {5, 6, 7, 8, 9, 10, 8, 9, 10}, 3, 1);
    EXPECT_EQ(Bytes(e.palette.begin(), e.palette.begin() + 6), (Bytes{8, 9, 10, 0, 0, 255}));
    EXPECT_EQ(e.codes, (Bytes{0, 0, 0}));
    const Bytes& table = e.run.buffers.at(7);
    EXPECT_EQ(load_be32(&table[0]), 4294967294u);
    EXPECT_EQ(load_be32(&table[4]), 0x08090Au);
}

TEST(HamEight, TableIsSortedByCountThenKeyInBigEndianWords)
{
    // Counts 1, 3, 1 for keys 0x9AB, 0x468, 0x135 (left to right).
    const Bytes rgb = {0x90, 0xA0, 0xB1, 0x45, 0x67, 0x89, 0x45, 0x66, 0x88,
                       0x12, 0x34, 0x56, 0x44, 0x66, 0x88};
    const Encoded e = encode("hameight", rgb, 5, 1);
    const Bytes& table = e.run.buffers.at(7);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {4294967294u, 0x000000}, {4294967294u, 0x0000FF}, {4294967294u, 0x00FF00}, {4294967294u, 0xFF0000},
        {3, 0x446688}, {1, 0x123456}, {1, 0x90A0B1}, {0, 0}};
    for (uint32_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(load_be32(&table[8 * i]), expected[i].first) << i;
        EXPECT_EQ(load_be32(&table[8 * i + 4]), expected[i].second) << i;
    }
    for (uint32_t i = 8; i < 4096; ++i) ASSERT_EQ(load_be32(&table[8 * i]), 0u) << i;
    EXPECT_EQ(Bytes(e.palette.begin() + 12, e.palette.begin() + 21),
              (Bytes{0x44, 0x66, 0x88, 0x12, 0x34, 0x56, 0x90, 0xA0, 0xB1}));
}

// ---------------------------------------------------------------------------
// hamsix

TEST(HamSix, OneKeyTakesEveryCountAndEveryCodeIsZero)
{
    // More pixels than a count holds: it stops at 32767.
    const uint32_t w = 200, h = 170;
    const Encoded e = encode("hamsix", repeat({0xA3, 0x5C, 0x11}, w * h), w, h);
    const Bytes& work = e.run.buffers.at(6);
    EXPECT_EQ(load_be16(&work[0]), 0xA51);
    EXPECT_EQ(load_be16(&work[8192]), 32767);
    EXPECT_EQ(load_be16(&work[8194]), 0);
    EXPECT_EQ(e.codes, Bytes(w * h, 0));
}

TEST(HamSix, EqualCountsKeepTheShellSortsOrder)
{
    // Keys 0x111, 0x222, 0x333 twice each: the sort leaves them 0x222, 0x111,
    // 0x333, then key 0 first of the empty keys.
    const Bytes rgb = {34, 34, 34, 34, 34, 34, 17, 17, 17, 17, 17, 17, 51, 51, 51, 51, 51, 51};
    const Encoded e = encode("hamsix", rgb, 6, 1);
    const Bytes& work = e.run.buffers.at(6);
    const uint16_t keys[] = {0x222, 0x111, 0x333, 0x000, 0x004, 0x005};
    const uint16_t counts[] = {2, 2, 2, 0, 0, 0};
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(load_be16(&work[2 * i]), keys[i]) << i;
        EXPECT_EQ(load_be16(&work[8192 + 2 * i]), counts[i]) << i;
    }
    EXPECT_EQ(e.codes, (Bytes{0, 0, 1, 1, 2, 2}));
    EXPECT_EQ(expand(6, e.codes, 6, e.palette), rgb);
}

// ---------------------------------------------------------------------------
// Encode, then expand

TEST(HamRoundTrip, FewColoursComeBackExact)
{
    // hameight: 60 colours whose keys are distinct and avoid 0 to 3, with
    // components on multiples of 4 so that modify codes are exact too.
    // hamsix: 16 colours whose components are multiples of 17.
    const uint32_t w = 40, h = 30;
    Bytes eight(3 * w * h), six(3 * w * h);
    for (uint32_t i = 0; i < w * h; ++i) {
        const uint32_t k = (i * 7 + i / w) % 60 + 4;
        const uint32_t key = k * 61;
        const uint8_t c8[3] = {uint8_t((key >> 8) * 16 + 4 * (k % 4)), uint8_t(((key >> 4) & 15) * 16 + 8),
                               uint8_t((key & 15) * 16 + 12)};
        const uint32_t j = (i * 5 + i / 3) % 16;
        const uint8_t c6[3] = {uint8_t(17 * j), uint8_t(17 * ((j * 7) % 16)), uint8_t(17 * ((j * 11 + 3) % 16))};
        for (uint32_t c = 0; c < 3; ++c) {
            eight[3 * i + c] = c8[c];
            six[3 * i + c] = c6[c];
        }
    }
    EXPECT_EQ(encode_expand("hameight", eight, w, h), eight);
    EXPECT_EQ(encode_expand("hamsix", six, w, h), six);
}

TEST(HamRoundTrip, PhotoLikeMeanErrorStaysPinned)
{
    // Mean absolute error per component, measured on this 160 x 120 picture:
    // hameight 4.138, hamsix 7.128, hameightfast 5.482, hamsixfast 7.860.
    const uint32_t w = 160, h = 120;
    const Bytes rgb = photo(w, h);
    const std::vector<std::pair<const char*, double>> pinned = {
        {"hameight", 4.14}, {"hamsix", 7.13}, {"hameightfast", 5.49}, {"hamsixfast", 7.87}};
    for (auto [name, limit] : pinned) {
        const double error = mean_error(encode_expand(name, rgb, w, h), rgb);
        EXPECT_LE(error, limit) << name << " mean error " << error;
    }
}

// ---------------------------------------------------------------------------
// Bounds: a buffer one byte short, or an address in no block, means error 14
// and nothing written.

TEST(HamBounds, ShortOrMissingBufferWritesNothingAndReports14)
{
    const uint32_t w = 4, h = 3;
    for (const char* name : {"hamexpand", "hamsix", "hameight", "hamsixfast", "hameightfast"}) {
        const host_module* module = load_module(name);
        ASSERT_NE(module, nullptr);
        const Layout l = layout(name, w, h);
        for (const auto& [victim, victim_size] : l.buffers) {
            for (bool missing : {false, true}) {
                SharedArena arena;
                uint8_t* block = arena.block(4 * l.block_words);
                for (auto [word, value] : l.values) host_set_word(block, word, value);
                for (auto [word, size] : l.buffers) {
                    const uint32_t room = word == victim ? size - 1 : size;
                    const uint32_t address = word == victim && missing ? 0 : host_address(arena.fill(room, 0x5A));
                    host_set_word(block, word, address);
                }
                host_set_word(block, l.block_words - 1, kHostError);
                host_set_word(block, 1, 1);
                const SharedSnapshot before = take_snapshot();
                host_call(module, block, 1);
                const auto changed = changed_addresses(before, take_snapshot());
                const uint32_t error_word = host_address(block) + 4 * (l.block_words - 1);
                EXPECT_EQ(host_word(block, l.block_words - 1), 14u) << name << " word " << victim;
                for (uint32_t a : changed)
                    EXPECT_TRUE(a >= error_word && a < error_word + 4) << name << " word " << victim << " wrote " << a;
            }
        }
    }
}

} // namespace
