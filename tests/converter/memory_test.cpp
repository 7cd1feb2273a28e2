// Each step that cannot have its memory takes its own message, under an
// address-space limit; no partial file is left.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace harness;
using ilbm::Bytes;

struct Shortage {
    const char* name;
    Bytes picture;
    std::string report;   // from the BODY line on
};

void PrintTo(const Shortage& c, std::ostream* os)
{
    *os << c.name;
}

class MemoryShortage : public ScratchTest, public ::testing::WithParamInterface<Shortage> {};

TEST_P(MemoryShortage, ReportsAndWritesNothing)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#endif
    WriteFile(Path("in.iff"), GetParam().picture);
    const Outcome run = RunQuilmo({Path("in.iff"), Path("out.bmp")}, "ulimit -v 220000; ");
    const std::size_t body = run.out.find("\nParseIFF: BODY");
    ASSERT_NE(body, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.find('\n', body + 1)), GetParam().report);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

// A picture whose body holds only a few codes: the rest decodes as 0.
Bytes Sized(std::uint32_t width, std::uint32_t height, std::uint32_t planes, std::uint32_t camg = 0)
{
    ilbm::Header h;
    h.width = width;
    h.height = height;
    h.planes = planes;
    h.compression = 1;
    const Bytes body = {0xFF, 0x11, 0xFF, 0x22};
    return camg ? ilbm::Form("ILBM", {ilbm::Bmhd(h), ilbm::Camg(camg), ilbm::Chunk("BODY", body)})
                : ilbm::Form("ILBM", {ilbm::Bmhd(h), ilbm::Chunk("BODY", body)});
}

Bytes HugeBody()
{
    ilbm::Header h;
    h.width = 8;
    h.height = 1;
    return ilbm::Form("ILBM", {ilbm::Bmhd(h), Bytes{'B', 'O', 'D', 'Y', 0x7F, 0xFF, 0xFF, 0xF0, 0, 0}});
}

const std::string kNoMemory = "\nERROR: Not enough memory\nERROR: Could not import file !\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, MemoryShortage,
    ::testing::Values(
        Shortage{"BodyData", HugeBody(), "\nBitmap:      2147483632 Bytes" + kNoMemory},
        Shortage{"PlanesToChunky", Sized(16000, 16000, 1), "\nBitmap:      4 Bytes" + kNoMemory},
        Shortage{"PlanesToTrueColour", Sized(6400, 6400, 24), "\nBitmap:      4 Bytes" + kNoMemory},
        Shortage{"HamExpansion", Sized(7600, 7600, 8, 0x800),
                 "\nBitmap:      4 Bytes\nBitmap type: HAM8 (-> 24 Bit)" + kNoMemory},
        // The writer's block comes after the file is created; the empty file goes.
        Shortage{"BmpBlock", Sized(6400, 6400, 8, 0x800),
                 "\nBitmap:      4 Bytes\nBitmap type: HAM8 (-> 24 Bit)\nSaving as BMP file..."
                 "\nBMP Filesize:   122880054\nBMP Bitmapsize: 122880000"
                 "\nERROR: Not enough memory (122886400 bytes)!\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Interop, PillowIsInstalled)
{
    if (!PillowPython())
        GTEST_SKIP() << "Pillow (Debian python3-pil) not found: BMPs are checked by our own reader only";
    SUCCEED() << "BMPs are also read back by Pillow under " << *PillowPython();
}

} // namespace
