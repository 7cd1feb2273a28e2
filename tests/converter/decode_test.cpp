// ILBM decoding seen through the BMP that comes out: plain and ByteRun1
// bodies, every depth, true colour, HAM, extra half-brite, masks, damaged
// bodies, and the pictures the loader refuses.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace harness;
using ilbm::Bytes;
using ilbm::Rgb;

// One plane's rows given as bytes, as pixel values 0 and 1.
std::vector<std::uint32_t> Bits(const std::vector<Bytes>& rows, std::uint32_t width)
{
    std::vector<std::uint32_t> pixels;
    for (const Bytes& row : rows)
        for (std::uint32_t x = 0; x < width; ++x)
            pixels.push_back((row[x / 8] >> (7 - x % 8)) & 1);
    return pixels;
}

Rgb24 Colours(std::uint32_t width, std::uint32_t height, const std::vector<Rgb>& pixels)
{
    Rgb24 p{width, height, {}};
    for (const Rgb& c : pixels)
        p.rgb.insert(p.rgb.end(), c.begin(), c.end());
    return p;
}

Bytes Form(std::initializer_list<Bytes> chunks)
{
    return ilbm::Form("ILBM", chunks);
}

// Overwrites a size word: a chunk's (at 4 of the chunk) or the FORM's.
void PutBE32At(Bytes& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

struct Planes {
    std::uint32_t planes;
    std::uint32_t compression;
    std::uint32_t masking;
    std::uint32_t width;
};

void PrintTo(const Planes& c, std::ostream* os)
{
    *os << c.planes << " planes, compression " << c.compression << ", masking " << c.masking << ", width " << c.width;
}

class DecodePlanes : public ScratchTest, public ::testing::WithParamInterface<Planes> {};

TEST_P(DecodePlanes, GivesThePalettePicture)
{
    const Planes& c = GetParam();
    ilbm::Header h;
    h.width = c.width;
    h.height = 5;
    h.planes = c.planes;
    h.compression = c.compression;
    h.masking = c.masking;
    const auto pixels = Pattern(h.width, h.height, h.planes);
    const auto colours = Ramp(1u << c.planes);
    const Outcome run = Convert(ilbm::Picture(h, pixels, colours));
    ASSERT_EQ(run.status, 0) << run.out;
    ExpectPixels(Path("out.bmp"), FromPalette(pixels, h.width, h.height, colours));
}

std::vector<Planes> PlaneCases()
{
    std::vector<Planes> cases;
    for (std::uint32_t planes = 1; planes <= 8; ++planes)
        for (std::uint32_t compression : {0u, 1u})
            cases.push_back({planes, compression, 0, 20});
    cases.push_back({4, 0, 0, 13});
    cases.push_back({5, 1, 0, 16});
    cases.push_back({8, 1, 0, 300});     // rows longer than one ByteRun1 code
    cases.push_back({4, 0, 1, 20});      // a mask plane follows each row
    cases.push_back({4, 1, 1, 21});
    cases.push_back({8, 1, 1, 7});
    cases.push_back({4, 0, 2, 20});      // other masking values bring no plane
    cases.push_back({4, 1, 3, 20});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Depths, DecodePlanes, ::testing::ValuesIn(PlaneCases()), [](const auto& info) {
    const Planes& c = info.param;
    return std::to_string(c.planes) + "Planes_Compression" + std::to_string(c.compression) + "_Masking" +
           std::to_string(c.masking) + "_Width" + std::to_string(c.width);
});

using Decode = ScratchTest;

// Width 20: 3 bytes per plane row, unpacked to 4.
TEST_F(Decode, ByteRun1CodesAndSurplus)
{
    ilbm::Header h;
    h.width = 20;
    h.height = 3;
    h.compression = 1;
    const Bytes body = {
        0x80, 0x00, 0xAA, 0xF7, 0x55,         // nothing; one literal; a run of 10 where 3 were missing
        0x02, 0x0F, 0xF0, 0x3C, 0x80, 0xFF, 0x99,   // three literals; nothing; a run of 2
        0xFD, 0xC3, 0x80, 0x00, 0x11,         // a run of 4 exactly, then codes that belong to no row
    };
    const Outcome run = Convert(Form({ilbm::Bmhd(h), ilbm::Cmap({{1, 1, 1}, {250, 0, 5}}), ilbm::Chunk("BODY", body)}));
    ASSERT_EQ(run.status, 0) << run.out;
    ExpectPixels(Path("out.bmp"),
                 FromPalette(Bits({{0xAA, 0x55, 0x55}, {0x0F, 0xF0, 0x3C}, {0xC3, 0xC3, 0xC3}}, 20), 20, 3,
                             {{1, 1, 1}, {250, 0, 5}}));
}

class DecodeTrueColour : public ScratchTest, public ::testing::WithParamInterface<std::uint32_t> {};

// A HAM bit on a 24-plane picture changes nothing.
TEST_P(DecodeTrueColour, TwentyFourPlanes)
{
    ilbm::Header h;
    h.width = 11;
    h.height = 3;
    h.planes = 24;
    h.compression = GetParam() & 1;
    std::vector<std::uint32_t> pixels;
    std::vector<Rgb> expected;
    for (std::uint32_t i = 0; i < h.width * h.height; ++i) {
        const Rgb c = {static_cast<std::uint8_t>(i * 23), static_cast<std::uint8_t>(255 - i * 7),
                       static_cast<std::uint8_t>(i < 11 ? 0x80 : i)};
        expected.push_back(c);
        pixels.push_back(c[0] | c[1] << 8 | c[2] << 16);
    }
    const Outcome run = Convert(ilbm::Picture(h, pixels, {}, GetParam() & 0x800));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("Bitmap type"), std::string::npos) << run.out;
    ExpectPixels(Path("out.bmp"), Colours(h.width, h.height, expected));
}

INSTANTIATE_TEST_SUITE_P(Bodies, DecodeTrueColour, ::testing::Values(0u, 1u, 0x801u));

struct Ham {
    const char* name;
    std::uint32_t planes;
    std::vector<std::uint32_t> codes;   // 4 × 2
    std::vector<Rgb> expected;
    const char* message;
};

void PrintTo(const Ham& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeHam : public ScratchTest, public ::testing::WithParamInterface<Ham> {};

// The held colour starts black and runs on from one row into the next.
TEST_P(DecodeHam, ExpandsToTrueColour)
{
    const Ham& c = GetParam();
    ilbm::Header h;
    h.width = 4;
    h.height = 2;
    h.planes = c.planes;
    h.compression = 1;
    std::vector<Rgb> colours(64, Rgb{0, 0, 0});
    colours[0] = {1, 2, 3};
    colours[3] = {40, 50, 60};
    colours[5] = {7, 8, 9};
    colours[63] = {100, 110, 120};
    const Outcome run = Convert(ilbm::Picture(h, c.codes, colours, 0x800));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nBMP Filesize:   78\nBMP Bitmapsize: 24\n"), std::string::npos) << run.out;
    ExpectPixels(Path("out.bmp"), Colours(4, 2, c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DecodeHam,
    ::testing::Values(
        Ham{"Ham6", 6, {0x2F, 0x35, 0x03, 0x1A, 0x31, 0x00, 0x2F, 0x1F},
            {{255, 0, 0}, {255, 85, 0}, {40, 50, 60}, {40, 50, 170},
             {40, 17, 170}, {1, 2, 3}, {255, 2, 3}, {255, 2, 255}},
            "\nBitmap type: HAM6 (-> 24 Bit)"},
        Ham{"Ham8", 8, {0xBF, 0xC1, 0x05, 0x7F, 0x81, 0x40, 0x3F, 0xC0},
            {{252, 0, 0}, {252, 4, 0}, {7, 8, 9}, {7, 8, 252},
             {4, 8, 252}, {4, 8, 0}, {100, 110, 120}, {100, 0, 120}},
            "\nBitmap type: HAM8 (-> 24 Bit)"},
        Ham{"SevenPlanesAreHam8", 7, {0x3F, 0x45, 0x05, 0x7F, 0x00, 0x00, 0x00, 0x40},
            {{100, 110, 120}, {100, 110, 20}, {7, 8, 9}, {7, 8, 252},
             {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 0}},
            "\nBitmap type: HAM8 (-> 24 Bit)"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Halfbrite {
    const char* name;
    std::uint32_t planes;
    std::uint32_t camg;
    bool halved;
};

void PrintTo(const Halfbrite& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeHalfbrite : public ScratchTest, public ::testing::WithParamInterface<Halfbrite> {};

// Colours 32 to 63 of an extra-half-brite picture are 0 to 31 at half brightness.
TEST_P(DecodeHalfbrite, UpperColours)
{
    const Halfbrite& c = GetParam();
    ilbm::Header h;
    h.width = 5;
    h.height = 1;
    h.planes = c.planes;
    const std::vector<std::uint32_t> pixels = {0, 31, 32, 63, 40};
    const std::vector<Rgb> colours = Ramp(32);
    const Outcome run = Convert(ilbm::Picture(h, pixels, colours, c.camg));
    ASSERT_EQ(run.status, 0) << run.out;
    auto half = [&](std::uint32_t i) {
        const Rgb& k = colours[i];
        return c.halved ? Rgb{static_cast<std::uint8_t>(k[0] >> 1), static_cast<std::uint8_t>(k[1] >> 1),
                              static_cast<std::uint8_t>(k[2] >> 1)}
                        : Rgb{0, 0, 0};
    };
    ExpectPixels(Path("out.bmp"), Colours(5, 1, {colours[0], colours[31], half(0), half(31), half(8)}));
}

INSTANTIATE_TEST_SUITE_P(Modes, DecodeHalfbrite,
                         ::testing::Values(Halfbrite{"ExtraHalfbrite", 6, 0x80, true},
                                           Halfbrite{"OtherBitsDoNotCount", 6, 0x00800000, false},
                                           Halfbrite{"PlainSixPlanes", 6, 0, false},
                                           Halfbrite{"EightPlanesKeepTheirColours", 8, 0x80, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Decode, ColourMapShorterOrLongerThanThePalette)
{
    ilbm::Header h;
    h.width = 4;
    h.height = 1;
    h.planes = 8;
    const std::vector<std::uint32_t> pixels = {3, 15, 16, 255};

    Outcome run = Convert(ilbm::Picture(h, pixels, Ramp(16)));
    ASSERT_EQ(run.status, 0) << run.out;
    ExpectPixels(Path("out.bmp"), FromPalette(pixels, 4, 1, Ramp(16)));

    // 300 entries: the first 256 count, and the walk still finds the BODY.
    std::vector<Rgb> many = Ramp(256);
    many.resize(300, Rgb{9, 9, 9});
    run = Convert(ilbm::Picture(h, pixels, many));
    ASSERT_EQ(run.status, 0) << run.out;
    ExpectPixels(Path("out.bmp"), FromPalette(pixels, 4, 1, Ramp(256)));
}

// Nothing after BODY is looked at.
TEST_F(Decode, ChunksAfterTheBodyAreIgnored)
{
    ilbm::Header h;
    h.width = 4;
    h.height = 2;
    h.planes = 6;
    const std::vector<std::uint32_t> codes = {0x2F, 0x35, 0x03, 0x1A, 0x31, 0x00, 0x2F, 0x1F};
    const Outcome run =
        Convert(Form({ilbm::Bmhd(h), ilbm::Body(codes, h), ilbm::Camg(0x800), ilbm::Cmap(Ramp(64))}));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("Bitmap type"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("CAMG"), std::string::npos) << run.out;
    ExpectPixels(Path("out.bmp"), Colours(4, 2, std::vector<Rgb>(8, Rgb{0, 0, 0})));
}

TEST_F(Decode, SecondHeaderReplacesTheFirst)
{
    ilbm::Header first;
    first.width = 100;
    first.height = 100;
    first.planes = 8;
    ilbm::Header second;
    second.width = 3;
    second.height = 2;
    second.planes = 2;
    const std::vector<std::uint32_t> pixels = {0, 1, 2, 3, 2, 1};
    const Outcome run = Convert(Form({ilbm::Bmhd(first), ilbm::Bmhd(second), ilbm::Cmap(Ramp(4)),
                                      ilbm::Body(pixels, second)}));
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\nWidth:       100\nHeight:      100\nPageWidth:   320\nPageHeight:  200"
                           "\nDepth:       8\nColors:      256\nCompression: 0\nBPL:         13"
                           "\nParseIFF: BMHD chunk of size: 20 at position 48"
                           "\nWidth:       3\nHeight:      2\nPageWidth:   320\nPageHeight:  200"
                           "\nDepth:       2\nColors:      4\nCompression: 0\nBPL:         1"),
              std::string::npos)
        << run.out;
    ExpectPixels(Path("out.bmp"), FromPalette(pixels, 3, 2, Ramp(4)));
}

struct Damaged {
    const char* name;
    std::uint32_t width;
    std::uint32_t compression;
    std::uint32_t masking;
    Bytes body;                  // one plane, 3 rows
    std::uint32_t claimedSize;   // 0: the body's own size
    std::vector<Bytes> rows;     // the plane rows that must come out
    bool warned;                 // pixels were missing
};

void PrintTo(const Damaged& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeDamaged : public ScratchTest, public ::testing::WithParamInterface<Damaged> {};

// A body that ends early is never read past; what it does not hold is 0, and
// the report says so when a pixel lost its bits.
TEST_P(DecodeDamaged, MissingPixelsAreZero)
{
    const Damaged& c = GetParam();
    ilbm::Header h;
    h.width = c.width;
    h.height = 3;
    h.compression = c.compression;
    h.masking = c.masking;
    Bytes body = ilbm::Chunk("BODY", c.body);
    if (c.claimedSize) {
        body.resize(8 + c.body.size());   // the file ends inside the chunk
        PutBE32At(body, 4, c.claimedSize);
    }
    const Outcome run = Convert(Form({ilbm::Bmhd(h), ilbm::Cmap({{0, 0, 0}, {255, 255, 255}}), body}));
    ASSERT_EQ(run.status, 0) << run.out;
    const std::string bitmap = "\nBitmap:      " + std::to_string(c.claimedSize ? c.claimedSize : c.body.size()) +
                               " Bytes";
    const std::string warning = "\nWARNING: BODY ends early, missing pixels are black";
    EXPECT_NE(run.out.find(bitmap + (c.warned ? warning : "") + "\nSaving as BMP file..."), std::string::npos)
        << run.out;
    ExpectPixels(Path("out.bmp"), FromPalette(Bits(c.rows, c.width), c.width, 3, {{0, 0, 0}, {255, 255, 255}}));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, DecodeDamaged,
    ::testing::Values(
        Damaged{"PlainHalfARow", 16, 0, 0, {0xAB, 0xCD, 0xEF}, 0, {{0xAB, 0xCD}, {0xEF, 0}, {0, 0}}, true},
        Damaged{"LiteralRunsPastTheEnd", 16, 1, 0, {0x00, 0x12, 0x05, 0x34}, 0, {{0x12, 0x34}, {0, 0}, {0, 0}}, true},
        Damaged{"RepeatWithoutItsByte", 16, 1, 0, {0xFF, 0x77, 0xFF}, 0, {{0x77, 0x77}, {0, 0}, {0, 0}}, true},
        Damaged{"FileEndsInsideTheBody", 16, 1, 0, {0xFF, 0x66, 0xFF, 0x01}, 1000,
                {{0x66, 0x66}, {0x01, 0x01}, {0, 0}}, true},
        Damaged{"FileEndsInsideAHugeBody", 16, 0, 0, {0x5A, 0xA5}, 0x01000000u, {{0x5A, 0xA5}, {0, 0}, {0, 0}}, true},
        // Nothing the picture shows is missing: no warning.
        Damaged{"PlainLacksOnlyTheLastPadByte", 8, 0, 0, {0xAA, 0, 0x55, 0, 0xC3}, 0, {{0xAA}, {0x55}, {0xC3}}, false},
        Damaged{"OnlyTheLastMaskRowIsMissing", 16, 1, 1, {0xFF, 0x12, 0xFF, 0xFF, 0xFF, 0x34, 0xFF, 0xFF, 0xFF, 0x56}, 0,
                {{0x12, 0x12}, {0x34, 0x34}, {0x56, 0x56}}, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct Fit {
    const char* name;
    std::uint32_t height;
    std::uint32_t masking;
    std::uint32_t claimedSize;   // 0: the body's own size
    bool fits;
};

void PrintTo(const Fit& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeBodyFit : public ScratchTest, public ::testing::WithParamInterface<Fit> {};

// Two body bytes yield at most 128 bytes of plane rows. Four such codes fill
// four plane rows of 128 bytes (mask rows included), and not one row more,
// however large the chunk's size word says the body is.
TEST_P(DecodeBodyFit, BodyMustBeAbleToHoldThePicture)
{
    const Fit& c = GetParam();
    ilbm::Header h;
    h.width = 1024;
    h.height = c.height;
    h.compression = 1;
    h.masking = c.masking;
    Bytes body = ilbm::Chunk("BODY", {0x81, 0xAA, 0x81, 0x55, 0x81, 0xF0, 0x81, 0x0F});
    const std::uint32_t size = c.claimedSize ? c.claimedSize : 8;
    PutBE32At(body, 4, size);
    const Outcome run = Convert(Form({ilbm::Bmhd(h), ilbm::Cmap({{0, 0, 0}, {255, 255, 255}}), body}));
    const std::string bitmap = "\nBitmap:      " + std::to_string(static_cast<std::int32_t>(size)) + " Bytes";
    if (!c.fits) {
        EXPECT_TRUE(run.out.ends_with(bitmap + "\nERROR: BODY too short for the picture"
                                               "\nERROR: Could not import file !\n"))
            << run.out;
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(fs::exists(Path("out.bmp")));
        return;
    }
    EXPECT_NE(run.out.find(bitmap + "\nSaving as BMP file..."), std::string::npos) << run.out;
    ASSERT_EQ(run.status, 0) << run.out;
    std::vector<Bytes> rows;
    const Bytes values = c.masking == 1 ? Bytes{0xAA, 0xF0} : Bytes{0xAA, 0x55, 0xF0, 0x0F};
    for (std::uint32_t y = 0; y < c.height; ++y)
        rows.push_back(Bytes(128, values[y]));
    ExpectPixels(Path("out.bmp"), FromPalette(Bits(rows, 1024), 1024, c.height, {{0, 0, 0}, {255, 255, 255}}));
}

INSTANTIATE_TEST_SUITE_P(Bodies, DecodeBodyFit,
                         ::testing::Values(Fit{"FillsItExactly", 4, 0, 0, true},
                                           Fit{"OneRowMore", 5, 0, 0, false},
                                           Fit{"MaskRowsFillItExactly", 2, 1, 0, true},
                                           Fit{"MaskRowsCount", 3, 1, 0, false},
                                           Fit{"SizeWordPromisesMore", 5, 0, 0x7FFFFFF0u, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refused {
    const char* name;
    Bytes picture;
    std::string message;   // the loader's or the writer's
};

void PrintTo(const Refused& c, std::ostream* os)
{
    *os << c.name;
}

class DecodeRefused : public ScratchTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(DecodeRefused, FailsWithItsMessageAndNoFile)
{
    const Outcome run = Convert(GetParam().picture);
    EXPECT_NE(run.out.find(GetParam().message + "\n"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("\n")) << run.out;
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

Bytes WithBody(std::uint32_t width, std::uint32_t height, std::uint32_t planes, const Bytes& body,
               std::uint32_t compression = 0)
{
    ilbm::Header h;
    h.width = width;
    h.height = height;
    h.planes = planes;
    h.compression = compression;
    return Form({ilbm::Bmhd(h), ilbm::Chunk("BODY", body)});
}

Bytes WithHeader(std::uint32_t width, std::uint32_t height, std::uint32_t planes, std::uint32_t camg = 0)
{
    ilbm::Header h;
    h.width = width;
    h.height = height;
    h.planes = planes;
    Bytes body = {1, 2, 3, 4};
    return camg ? Form({ilbm::Bmhd(h), ilbm::Camg(camg), ilbm::Chunk("BODY", body)})
                : Form({ilbm::Bmhd(h), ilbm::Chunk("BODY", body)});
}

const std::string kImportFailed = "\nERROR: Could not import file !";
const std::string kUnsupported = "\nSaving as BMP file...\nERROR: Encountered unsupported bitdepth combination (1)!";
const std::string kTooShort = "\nERROR: BODY too short for the picture" + kImportFailed;

// Compression bytes other than 0 and 1 are refused as soon as the BODY is
// found, before anything of it is read.
std::string UnsupportedCompression(int n)
{
    return "\nParseIFF: BODY chunk of size: 4 at position 48\nERROR: Unsupported compression " + std::to_string(n) +
           kImportFailed;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, DecodeRefused,
    ::testing::Values(
        Refused{"NoWidth", WithHeader(0, 4, 1), "\nERROR: Picture has no pixels (width 0, height 4)" + kImportFailed},
        Refused{"NoHeight", WithHeader(4, 0, 1), "\nERROR: Picture has no pixels (width 4, height 0)" + kImportFailed},
        Refused{"NoHeaderBeforeTheBody", Form({ilbm::Chunk("BODY", {1, 2})}),
                "\nParseIFF: BODY chunk of size: 2 at position 20\nERROR: Picture has no pixels (width 0, height 0)" +
                    kImportFailed},
        Refused{"NinePlanes", WithHeader(4, 2, 9), kUnsupported},
        Refused{"TwentyThreePlanes", WithHeader(4, 2, 23), kUnsupported},
        Refused{"TwentyFivePlanes", WithHeader(4, 2, 25), kUnsupported},
        Refused{"TwelvePlanesWithHam", WithHeader(4, 2, 12, 0x800), kUnsupported},
        Refused{"Compression2", WithBody(16, 3, 1, {0x81, 0, 0x81, 0}, 2), UnsupportedCompression(2)},
        Refused{"Compression3", WithBody(16, 3, 1, {0x81, 0, 0x81, 0}, 3), UnsupportedCompression(3)},
        Refused{"Compression255", WithBody(16, 3, 1, {0x81, 0, 0x81, 0}, 255), UnsupportedCompression(255)},
        Refused{"PlainEmptyBody", WithBody(16, 3, 1, {}), "\nBitmap:      0 Bytes" + kTooShort},
        // A 7.9 kB file that declares 65535 x 65535 pixels in 3 planes.
        Refused{"HugePictureSmallBody", WithBody(65535, 65535, 3, Bytes(7900, 0x81), 1),
                "\nBitmap:      7900 Bytes" + kTooShort},
        Refused{"PlanesPast32BitsSmallBody", WithHeader(65535, 65535, 24), "\nBitmap:      4 Bytes" + kTooShort},
        Refused{"ManyPlanesSmallBody", WithHeader(65535, 65535, 255), "\nBitmap:      4 Bytes" + kTooShort}),
    [](const auto& info) { return std::string(info.param.name); });

// A body that could hold its picture, for planes that need more than 32 bits
// of buffer: the buffer is never asked for, whatever the build's word size.
TEST_F(Decode, PlanesPast32BitsAreNeverRequested)
{
    // 65535 pixels make plane rows of 8192 bytes: 24 x 21846 of them pass 2^32.
    // The body, repeat codes of 128 bytes for each of them, is written in pieces.
    const std::uint32_t height = 21846;
    const std::uint32_t bodySize = 128 * 24 * height;
    Bytes head = WithBody(65535, height, 24, {}, 1);
    PutBE32At(head, 4, static_cast<std::uint32_t>(head.size() - 8) + bodySize);
    PutBE32At(head, head.size() - 4, bodySize);
    {
        std::ofstream f(Path("in.iff"), std::ios::binary);
        f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        Bytes piece(1u << 16);
        for (std::size_t i = 0; i < piece.size(); i += 2)
            piece[i] = 0x81, piece[i + 1] = 0x3C;
        for (std::uint32_t done = 0; done < bodySize; done += static_cast<std::uint32_t>(piece.size()))
            f.write(reinterpret_cast<const char*>(piece.data()),
                    static_cast<std::streamsize>(std::min<std::size_t>(piece.size(), bodySize - done)));
    }
    const Outcome run = RunQuilmo({Path("in.iff"), Path("out.bmp")});
    EXPECT_TRUE(run.out.ends_with("\nBitmap:      " + std::to_string(bodySize) + " Bytes\nNot enough memory!" +
                                  kImportFailed + "\n"))
        << run.out.substr(run.out.size() > 300 ? run.out.size() - 300 : 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

} // namespace
