// Each step that cannot have its memory takes its own message, under an
// address-space limit; no partial file is left.
#include <gtest/gtest.h>

#include <functional>

#include "harness.h"

namespace {

using namespace harness;
using ilbm::Bytes;

struct Shortage {
    const char* name;
    std::function<Bytes()> picture;   // made when the case runs: some are large
    std::string report;               // from the BODY line on
    int limitKb = 220000;             // address space the run may use
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
    if (!Tested().native)
        GTEST_SKIP() << "an address-space limit would stop the runner (Wine) before " << Tested().path;
    WriteFile(Path("in.iff"), GetParam().picture());
    const Outcome run = RunQuilmo({Path("in.iff"), Path("out.bmp")},
                                  "ulimit -v " + std::to_string(GetParam().limitKb) + "; ");
    const std::size_t body = run.out.find("\nParseIFF: BODY");
    ASSERT_NE(body, std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.find('\n', body + 1)), GetParam().report);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

// ByteRun1 repeat codes of 128 bytes that fill each plane row.
std::uint32_t CodesPerRow(std::uint32_t width)
{
    const std::uint32_t rowBytes = (width + 7) / 8;
    return (rowBytes + (rowBytes & 1) + 127) / 128;
}

std::string BitmapLine(std::uint32_t width, std::uint32_t height, std::uint32_t planes)
{
    return "\nBitmap:      " + std::to_string(2ull * CodesPerRow(width) * height * planes) + " Bytes";
}

// A picture whose body holds every plane row, so that the loader goes on to
// the buffers after the planes.
std::function<Bytes()> Picture(std::uint32_t width, std::uint32_t height, std::uint32_t planes,
                               std::uint32_t camg = 0)
{
    return [=] {
        ilbm::Header h;
        h.width = width;
        h.height = height;
        h.planes = planes;
        h.compression = 1;
        Bytes row;
        for (std::uint32_t i = 0; i < CodesPerRow(width); ++i)
            row.insert(row.end(), {0x81, static_cast<std::uint8_t>(0x11 * (i + 1))});
        Bytes body;
        for (std::uint64_t r = 0; r < std::uint64_t{height} * planes; ++r)
            body.insert(body.end(), row.begin(), row.end());
        return camg ? ilbm::Form("ILBM", {ilbm::Bmhd(h), ilbm::Camg(camg), ilbm::Chunk("BODY", body)})
                    : ilbm::Form("ILBM", {ilbm::Bmhd(h), ilbm::Chunk("BODY", body)});
    };
}

// 24 MiB of body that the file really holds, for a run limited to 20 MB.
Bytes LargeBody()
{
    ilbm::Header h;
    h.width = 8;
    h.height = 1;
    return ilbm::Form("ILBM", {ilbm::Bmhd(h), ilbm::Chunk("BODY", Bytes(24u << 20, 0x5A))});
}

const std::string kNoMemory = "\nERROR: Not enough memory\nERROR: Could not import file !\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, MemoryShortage,
    ::testing::Values(
        Shortage{"BodyData", LargeBody, "\nBitmap:      25165824 Bytes" + kNoMemory, 20000},
        Shortage{"PlanesToChunky", Picture(16000, 16000, 1), BitmapLine(16000, 16000, 1) + kNoMemory},
        Shortage{"PlanesToTrueColour", Picture(6400, 6400, 24), BitmapLine(6400, 6400, 24) + kNoMemory},
        Shortage{"HamExpansion", Picture(7600, 7600, 8, 0x800),
                 BitmapLine(7600, 7600, 8) + "\nBitmap type: HAM8 (-> 24 Bit)" + kNoMemory},
        // The writer's block comes after the file is created; the empty file goes.
        Shortage{"BmpBlock", Picture(6400, 6400, 8, 0x800),
                 BitmapLine(6400, 6400, 8) +
                     "\nBitmap type: HAM8 (-> 24 Bit)\nSaving as BMP file..."
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
