// The command line, the console report and the exit status of whole runs.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace harness;
using ilbm::Bytes;

// The 8 × 2 one-plane picture: BMHD, a two-colour CMAP, a 4-byte BODY.
Bytes SmallPicture()
{
    ilbm::Header h;
    h.width = 8;
    h.height = 2;
    return ilbm::Form("ILBM", {ilbm::Bmhd(h), ilbm::Cmap({{10, 20, 30}, {200, 150, 100}}),
                               ilbm::Chunk("BODY", {0xB1, 0x00, 0x4E, 0x00})});
}

const std::string kSmallReport =
    "\nIs an IFF file (subtype FORM)"
    "\nReading IFF-ILBM file of size: 58...\n"
    "OpenIFF: IFF-ILBM file of size: 58..."
    "\nParseIFF: BMHD chunk of size: 20 at position 20"
    "\nWidth:       8"
    "\nHeight:      2"
    "\nPageWidth:   320"
    "\nPageHeight:  200"
    "\nDepth:       1"
    "\nColors:      2"
    "\nCompression: 0"
    "\nBPL:         1"
    "\nParseIFF: CMAP chunk of size: 6 at position 48"
    "\nParseIFF: BODY chunk of size: 4 at position 62"
    "\nBitmap:      4 Bytes"
    "\nSaving as BMP file..."
    "\nBMP Filesize:   70"
    "\nBMP Bitmapsize: 8"
    "\n";

Rgb24 SmallPixels()
{
    return FromPalette({1, 0, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 0}, 8, 2, {{10, 20, 30}, {200, 150, 100}});
}

std::string Checking(const std::string& name)
{
    return kOpening + "\n\nChecking \"" + name + "\"...";
}

using DriverTest = ScratchTest;

TEST_F(DriverTest, CompleteRunPrintsTheWholeReportAndWritesTheFile)
{
    const Outcome run = Convert(SmallPicture());
    EXPECT_EQ(run.out, Checking(Path("in.iff")) + kSmallReport);
    EXPECT_EQ(run.status, 0);

    const Bytes expected = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,       // file header
        40, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 1, 0, 1, 0,      // size, width, height, planes, bits
        0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,       // compression, image size, resolution
        2, 0, 0, 0, 2, 0, 0, 0,                               // colours used, important
        30, 20, 10, 0, 100, 150, 200, 0,                      // palette, blue green red 0
        0x4E, 0, 0, 0, 0xB1, 0, 0, 0,                         // bottom row first
    };
    EXPECT_EQ(ReadFile(Path("out.bmp")), expected);
    ExpectPixels(Path("out.bmp"), SmallPixels());
}

TEST_F(DriverTest, WithoutArgumentsOnlyTheUsageIsPrinted)
{
    const Outcome run = RunQuilmo({});
    EXPECT_EQ(run.out, kOpening + "\nUSAGE: Quilmo infile outfile\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(DriverTest, ArgumentsAfterTheSecondAreIgnored)
{
    WriteFile(Path("in.iff"), SmallPicture());
    const Outcome run = RunQuilmo({Path("in.iff"), Path("out.bmp"), Path("third.bmp"), "-x"});
    EXPECT_EQ(run.out, Checking(Path("in.iff")) + kSmallReport);
    EXPECT_EQ(run.status, 0);
    ExpectPixels(Path("out.bmp"), SmallPixels());
    EXPECT_FALSE(fs::exists(Path("third.bmp")));
}

// The FORM size is reported as stored; it does not bound the chunk walk.
TEST_F(DriverTest, FormSizeIsOnlyPrinted)
{
    Bytes picture = SmallPicture();
    picture[4] = 0x00, picture[5] = 0x00, picture[6] = 0x12, picture[7] = 0x34;
    const Outcome run = Convert(picture);
    EXPECT_NE(run.out.find("\nReading IFF-ILBM file of size: 4660...\nOpenIFF: IFF-ILBM file of size: 4660..."),
              std::string::npos) << run.out;
    EXPECT_EQ(run.status, 0);

    picture[6] = 0x00, picture[7] = 0x04;   // counts only the type
    EXPECT_EQ(Convert(picture).status, 0);
    ExpectPixels(Path("out.bmp"), SmallPixels());
}

struct Refusal {
    const char* name;
    std::optional<Bytes> input;   // nullopt: no input file at all
    std::string report;           // everything after the checking line
};

void PrintTo(const Refusal& c, std::ostream* os)
{
    *os << c.name;
}

class DriverRefusal : public ScratchTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(DriverRefusal, ReportsFailsAndWritesNothing)
{
    const Refusal& c = GetParam();
    if (c.input)
        WriteFile(Path("in.iff"), *c.input);
    const Outcome run = RunQuilmo({Path("in.iff"), Path("out.bmp")});
    EXPECT_EQ(run.out, Checking(Path("in.iff")) + c.report);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DriverRefusal,
    ::testing::Values(
        Refusal{"Missing", std::nullopt, "File not found !\n\n"},
        Refusal{"Empty", Bytes{}, "Not an IFF file !\n\n"},
        Refusal{"ShorterThanFourBytes", Bytes{'F', 'O', 'R'}, "Not an IFF file !\n\n"},
        Refusal{"OtherMagic", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 4, 'W', 'A', 'V', 'E'}, "Not an IFF file !\n\n"},
        Refusal{"OtherFormType", ilbm::Form("PBM ", {ilbm::Chunk("BODY", {1, 2})}),
                "\nIs an IFF file (subtype FORM)Unknown IFF file format !\n\n"},
        // The last bytes before the end would spell ILBM if read from the wrong place.
        Refusal{"EndsBeforeTheType", Bytes{'F', 'O', 'R', 'M', 'x', 'x', 'I', 'L', 'B', 'M'},
                "\nIs an IFF file (subtype FORM)Unknown IFF file format !\n\n"},
        Refusal{"NoBody", ilbm::Form("ILBM", {ilbm::Cmap({{1, 2, 3}})}),
                "\nIs an IFF file (subtype FORM)"
                "\nReading IFF-ILBM file of size: 16...\n"
                "OpenIFF: IFF-ILBM file of size: 16..."
                "\nParseIFF: CMAP chunk of size: 3 at position 20"
                "\nParseIFF: ERROR"
                "\nERROR: BODY chunk is missing"
                "\nERROR: Could not import file !\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Naming {
    const char* name;
    std::string input;      // relative to the scratch directory
    std::string output;
};

void PrintTo(const Naming& c, std::ostream* os)
{
    *os << c.name;
}

class DriverNaming : public ScratchTest, public ::testing::WithParamInterface<Naming> {};

// With one argument the BMP is named after the input, and never is the input.
TEST_P(DriverNaming, OneArgumentDerivesTheOutputName)
{
    const Naming& c = GetParam();
    fs::create_directories(fs::path(Path(c.input)).parent_path());
    WriteFile(Path(c.input), SmallPicture());
    const Outcome run = RunQuilmo({Path(c.input)});
    EXPECT_EQ(run.out, Checking(Path(c.input)) + kSmallReport);
    EXPECT_EQ(run.status, 0);
    ExpectPixels(Path(c.output), SmallPixels());
    EXPECT_EQ(ReadFile(Path(c.input)), SmallPicture());
}

INSTANTIATE_TEST_SUITE_P(
    Names, DriverNaming,
    ::testing::Values(
        Naming{"ReplacesTheExtension", "pic.iff", "pic.bmp"},
        Naming{"AppendsWithoutExtension", "pic", "pic.bmp"},
        Naming{"OnlyTheLastExtension", "pic.old.ilbm", "pic.old.bmp"},
        Naming{"DotInDirectoryIsNoExtension", "dir.v2/pic", "dir.v2/pic.bmp"},
        Naming{"LeadingDotIsNoExtension", ".pic", ".pic.bmp"},
        Naming{"NeverTheInputItself", "pic.bmp", "pic.bmp.bmp"},
        Naming{"NeverTheInputInAnyCase", "PIC.BMP", "PIC.BMP.bmp"},
        Naming{"LongNamesAreUsedWhole", std::string(100, 'n') + ".iff", std::string(100, 'n') + ".bmp"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverTest, LongNamesAreUsedWholeWithTwoArguments)
{
    const std::string input = Path(std::string(90, 'i') + ".iff");
    const std::string output = Path(std::string(90, 'o') + ".bmp");
    WriteFile(input, SmallPicture());
    const Outcome run = RunQuilmo({input, output});
    EXPECT_EQ(run.out, Checking(input) + kSmallReport);
    ExpectPixels(output, SmallPixels());
}

} // namespace

namespace {

using namespace harness;

// The picture `make run` converts is the one the generator writes, and it
// converts into a BMP that Pillow reads as we do.
TEST_F(DriverTest, BundledSampleConverts)
{
    ASSERT_EQ(RunShell(Quote(MAKE_SAMPLE_PATH) + " " + Quote(Path("fresh.iff"))).status, 0);
    EXPECT_EQ(ReadFile(Path("fresh.iff")), ReadFile(SAMPLE_PATH));
    const Outcome run = RunQuilmo({SAMPLE_PATH, Path("sample.bmp")});
    EXPECT_EQ(run.status, 0) << run.out;
    const Rgb24 ours = DecodeBmp(ReadFile(Path("sample.bmp")));
    EXPECT_EQ(ours.width, 64u);
    EXPECT_EQ(ours.height, 32u);
    ExpectPixels(Path("sample.bmp"), ours);
}

} // namespace
