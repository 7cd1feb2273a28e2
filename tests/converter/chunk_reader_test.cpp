// The chunk walk as the report shows it: every header read, skips from the
// recorded data position, pad bytes, and the end of the chunks.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using namespace harness;
using ilbm::Bytes;

std::vector<std::string> ParseLines(const std::string& out)
{
    std::vector<std::string> lines;
    for (std::size_t at = out.find("\nParseIFF:"); at != std::string::npos; at = out.find("\nParseIFF:", at + 1))
        lines.push_back(out.substr(at + 1, out.find('\n', at + 1) - at - 1));
    return lines;
}

using ChunkReader = ScratchTest;

TEST_F(ChunkReader, SkipsUnlistedChunksPadBytesAndUnreadData)
{
    ilbm::Header h;
    h.width = 8;
    h.height = 1;
    Bytes camg = {0, 0, 0, 0};
    camg.resize(20, 0xFF);   // the loader reads 4 of these 20 bytes
    const Bytes picture = ilbm::Form(
        "ILBM", {ilbm::Chunk("TEXT", {'h', 'e', 'l', 'l', 'o'}), ilbm::Bmhd(h), ilbm::Chunk("CAMG", camg),
                 ilbm::Chunk("ANNO", {'a', 'b', 'c'}), ilbm::Cmap({{0, 0, 0}, {9, 8, 7}}),
                 ilbm::Chunk("BODY", {0x81, 0})});
    const Outcome run = Convert(picture);
    EXPECT_EQ(ParseLines(run.out), (std::vector<std::string>{
                                       "ParseIFF: TEXT chunk of size: 5 at position 20",
                                       "ParseIFF: BMHD chunk of size: 20 at position 34",
                                       "ParseIFF: CAMG chunk of size: 20 at position 62",
                                       "ParseIFF: ANNO chunk of size: 3 at position 90",
                                       "ParseIFF: CMAP chunk of size: 6 at position 102",
                                       "ParseIFF: BODY chunk of size: 2 at position 116",
                                   }));
    EXPECT_EQ(run.status, 0);
    ExpectPixels(Path("out.bmp"), FromPalette({1, 0, 0, 0, 0, 0, 0, 1}, 8, 1, {{0, 0, 0}, {9, 8, 7}}));
}

struct Ending {
    const char* name;
    Bytes tail;                          // what follows a BMHD chunk
    std::vector<std::string> lines;      // the ParseIFF lines after the BMHD's
};

void PrintTo(const Ending& c, std::ostream* os)
{
    *os << c.name;
}

class ChunkReaderEnd : public ScratchTest, public ::testing::WithParamInterface<Ending> {};

// However the chunks run out, the walk ends with its error line and no BODY.
TEST_P(ChunkReaderEnd, ReportsAnErrorAndFindsNoBody)
{
    ilbm::Header h;
    h.width = 8;
    h.height = 1;
    Bytes picture = ilbm::Form("ILBM", {ilbm::Bmhd(h)});
    picture.insert(picture.end(), GetParam().tail.begin(), GetParam().tail.end());
    const Outcome run = Convert(picture);
    std::vector<std::string> expected = {"ParseIFF: BMHD chunk of size: 20 at position 20"};
    expected.insert(expected.end(), GetParam().lines.begin(), GetParam().lines.end());
    expected.push_back("ParseIFF: ERROR");
    EXPECT_EQ(ParseLines(run.out), expected);
    EXPECT_TRUE(run.out.ends_with("\nParseIFF: ERROR\nERROR: BODY chunk is missing\nERROR: Could not import file !\n"))
        << run.out;
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(fs::exists(Path("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ChunkReaderEnd,
    ::testing::Values(
        Ending{"AtAChunkBoundary", ilbm::Chunk("ANNO", {1, 2, 3}),
               {"ParseIFF: ANNO chunk of size: 3 at position 48"}},
        Ending{"InsideAHeader", {'B', 'O', 'D', 'Y', 0, 0}, {}},
        Ending{"InsideTheIdentifier", {'B', 'O'}, {}},
        // A chunk claiming more than the file holds: the skip lands past the end.
        Ending{"PastAnOversizedChunk", {'A', 'N', 'N', 'O', 0x7F, 0xFF, 0xFF, 0xF0, 1, 2},
               {"ParseIFF: ANNO chunk of size: 2147483632 at position 48"}},
        Ending{"PastTheLargestChunk", {'A', 'N', 'N', 'O', 0xFF, 0xFF, 0xFF, 0xFF, 1, 2},
               {"ParseIFF: ANNO chunk of size: -1 at position 48"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
