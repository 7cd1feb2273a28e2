#include "ilbm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "iff.h"
#include "services.h"

namespace {

// (FORM type, chunk) pairs the loader stops at.
constexpr char kChunkTable[] = "ILBMBMHDILBMCAMGILBMCMAPILBMBODY";
constexpr std::uint32_t kChunkTableEntries = 4;
static_assert(sizeof(kChunkTable) - 1 == 8 * kChunkTableEntries);

constexpr std::uint32_t kCamgExtraHalfBrite = 0x80;
constexpr std::uint8_t kMaskHasMaskPlane = 1;
constexpr std::uint32_t kPaletteBytes = 256 * 3;

// One plane byte spread over eight pixel bytes (0 or 1 each), leftmost pixel
// at the lowest address, so a plane's bit can be ORed into eight pixels at once.
constexpr std::array<std::uint64_t, 256> kSpread = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte)
        for (unsigned pixel = 0; pixel < 8; ++pixel)
            if (byte & (0x80u >> pixel))
                table[byte] |= std::uint64_t{1} << (8 * pixel);
    return table;
}();

std::uint16_t BigWord(const std::uint8_t* p)
{
    std::uint16_t value;
    std::memcpy(&value, p, 2);
    return ConvertWord(value, kBigEndian, kLittleEndian);
}

bool IsChunk(const ChunkNode* chunk, const char* identifier)
{
    return std::memcmp(chunk->identifier, identifier, 4) == 0;
}

// 2 to the power of the planes, as the 32-bit count the report has always shown.
long ColourCount(unsigned planes)
{
    return planes >= 32 ? 0 : AsPrinted(std::uint64_t{1} << planes);
}

// Unpacks one ByteRun1 plane row into `row` until at least `even` bytes are
// produced; `row` has a margin for the last code's surplus. Bytes the body
// does not hold come out as 0, and `cut` is set when any of the first
// `keep` bytes (the ones the picture uses) is such a byte. Returns the
// position of the next code.
std::uint64_t UnpackRow(std::span<const std::uint8_t> body, std::uint64_t pos, std::uint8_t* row,
                        std::uint32_t even, std::uint32_t keep, bool& cut)
{
    std::uint32_t produced = 0;
    while (produced < even && pos < body.size()) {
        const unsigned code = body[pos++];
        if (code < 128) {
            const std::uint32_t count = code + 1;
            const std::uint32_t have = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, body.size() - pos));
            std::memcpy(row + produced, body.data() + pos, have);
            std::memset(row + produced + have, 0, count - have);
            if (have < count && produced + have < keep)
                cut = true;
            pos += have;
            produced += count;
        } else if (code > 128) {
            const std::uint32_t count = 257 - code;
            std::uint8_t value = 0;
            if (pos < body.size())
                value = body[pos++];
            else if (produced < keep)
                cut = true;
            std::memset(row + produced, value, count);
            produced += count;
        }
        // Code 128 produces nothing.
    }
    if (produced < even)
        std::memset(row + produced, 0, even - produced);
    if (produced < keep)
        cut = true;
    return pos;
}

// The body stores each plane row padded to an even length.
std::uint32_t EvenRowBytes(std::uint32_t rowBytes)
{
    return rowBytes + (rowBytes & 1);
}

// Plane rows per image row in the body: one per plane and one for the mask
// plane, when there is one.
std::uint32_t RowsPerLine(const ImageRecord& planar, std::uint8_t masking)
{
    return planar.depth + (masking == kMaskHasMaskPlane ? 1 : 0);
}

// Bytes of plane rows the body must yield. At most 2^13 * 2^16 * 2^8, so the
// 64-bit product cannot wrap.
std::uint64_t BodyRowBytes(const ImageRecord& planar, std::uint8_t masking)
{
    return std::uint64_t{EvenRowBytes(planar.planeRowBytes)} * planar.height * RowsPerLine(planar, masking);
}

// BODY: per image row, one plane row per plane (plus the mask plane row, when
// there is one, which is dropped), each padded to an even length. Returns
// true when the body ran out before every pixel had its bits.
bool DecodeBody(std::span<const std::uint8_t> body, ImageRecord* planar, std::uint8_t compression,
                std::uint8_t masking, std::uint8_t* rowBuffer)
{
    const std::uint32_t rowBytes = planar->planeRowBytes;
    const std::uint32_t even = EvenRowBytes(rowBytes);
    const std::uint32_t rowsPerLine = RowsPerLine(*planar, masking);
    std::uint64_t pos = 0;
    bool cut = false;
    for (std::uint32_t k = 0; k < planar->height; ++k) {
        for (std::uint32_t l = 0; l < rowsPerLine; ++l) {
            std::uint8_t* dest = nullptr;
            if (l < planar->depth)
                dest = planar->pixels + (static_cast<std::uint64_t>(l) * planar->height + k) * rowBytes;
            // The mask plane row is dropped, so what it lacks is no loss.
            const std::uint32_t keep = dest ? rowBytes : 0;
            if (compression == 0) {
                if (body.size() - pos < keep)
                    cut = true;
                if (dest && pos < body.size())
                    std::memcpy(dest, body.data() + pos, std::min<std::uint64_t>(rowBytes, body.size() - pos));
                pos = std::min<std::uint64_t>(pos + even, body.size());
            } else {
                pos = UnpackRow(body, pos, rowBuffer, even, keep, cut);
                if (dest)
                    std::memcpy(dest, rowBuffer, rowBytes);
            }
        }
    }
    return cut;
}

// The body bytes the file really holds: the chunk's size word, cut to what
// lies between the chunk's data and the end of the file. The stream is left
// on the first data byte. When the end cannot be found the size word stands.
std::uint32_t BodyBytesHeld(std::FILE* in, const ChunkNode* chunk)
{
    std::int32_t end = -1;
    if (FileSeek(in, 0, SEEK_END) >= 0)
        end = FileSeek(in, 0, SEEK_CUR);
    if (FileSeek(in, chunk->dataPosition, SEEK_SET) < 0 || end < 0)
        return chunk->size;
    const std::int64_t left = std::max<std::int64_t>(0, std::int64_t{end} - chunk->dataPosition);
    return static_cast<std::uint32_t>(std::min<std::int64_t>(chunk->size, left));
}

// A new record that starts as a whole copy of `from`, with a zero-filled
// pixel buffer of `size` bytes; null (nothing held) when either is short.
ImageRecord* CopyWithBuffer(const ImageRecord* from, std::uint64_t size)
{
    auto* record = static_cast<ImageRecord*>(MemAlloc(sizeof(ImageRecord), kMemClear));
    auto* pixels = static_cast<std::uint8_t*>(MemAlloc(size, kMemClear));
    if (!record || !pixels) {
        MemFree(record);
        MemFree(pixels);
        return nullptr;
    }
    *record = *from;
    record->pixels = pixels;
    record->bufferSize = static_cast<std::uint32_t>(size);
    return record;
}

void FreeImage(ImageRecord* image)
{
    if (!image)
        return;
    MemFree(image->pixels);
    MemFree(image);
}

ImageRecord* TrueColourFromPlanes(ImageRecord* planar)
{
    ImageRecord* image =
        CopyWithBuffer(planar, static_cast<std::uint64_t>(planar->width) * planar->height * 3);
    if (!image) {
        std::printf("\nERROR: Not enough memory");
        return nullptr;
    }
    RGBFromPlanes(planar->pixels, image->pixels, planar->width, planar->height);
    image->kind = kImageChunky;
    image->bitsPerPixel = 24;
    image->planeRowBytes = 0;
    return image;
}

ImageRecord* ExpandHAM(ImageRecord* chunky)
{
    const bool six = chunky->depth <= 6;
    std::printf(six ? "\nBitmap type: HAM6 (-> 24 Bit)" : "\nBitmap type: HAM8 (-> 24 Bit)");
    ImageRecord* image =
        CopyWithBuffer(chunky, static_cast<std::uint64_t>(chunky->width) * chunky->height * 3);
    if (!image) {
        std::printf("\nERROR: Not enough memory");
        FreeImage(chunky);
        return nullptr;
    }
    if (six)
        ExpandHAM6(chunky->pixels, image->pixels, chunky->palette, chunky->width, chunky->height);
    else
        ExpandHAM8(chunky->pixels, image->pixels, chunky->palette, chunky->width, chunky->height);
    FreeImage(chunky);
    image->kind = kImageChunky;
    image->bitsPerPixel = 24;
    image->depth = 24;
    image->planeRowBytes = 0;
    return image;
}

// Turns the decoded planes into the returned picture; frees the planar pixels.
ImageRecord* ConvertPlanes(ImageRecord* planar, std::uint32_t displayMode)
{
    if (planar->depth == 24) {
        ImageRecord* image = TrueColourFromPlanes(planar);
        MemFree(planar->pixels);
        planar->pixels = nullptr;
        return image;
    }

    ImageRecord* chunky = nullptr;
    const int failed = ChunkyFromPlanes(planar, &chunky);
    MemFree(planar->pixels);
    planar->pixels = nullptr;
    if (failed) {
        std::printf("\nERROR: Not enough memory");
        return nullptr;
    }
    // Deeper pictures are no HAM the BMP writer could take; they go on as they
    // are and are refused there.
    if (IsHAMMode(displayMode) && chunky->depth <= 8)
        return ExpandHAM(chunky);

    // Extra half-brite: the upper 32 colours are the lower 32 at half brightness.
    if (chunky->depth == 6 && (displayMode & kCamgExtraHalfBrite))
        for (int i = 0; i < 32; ++i)
            for (int c = 0; c < 3; ++c)
                chunky->palette[32 + i][c] = static_cast<std::uint8_t>(chunky->palette[i][c] >> 1);
    return chunky;
}

} // namespace

int IsHAMMode(std::uint32_t displayMode)
{
    return (displayMode & 0xFFFFu & 0x800u) ? 1 : 0;
}

int ChunkyFromPlanes(const ImageRecord* planar, ImageRecord** chunky)
{
    *chunky = nullptr;
    const std::uint32_t width = planar->width;
    const std::uint32_t height = planar->height;
    ImageRecord* image = CopyWithBuffer(planar, static_cast<std::uint64_t>(width) * height);
    if (!image)
        return 1;
    image->kind = kImageChunky;
    image->planeRowBytes = 0;
    image->bitsPerPixel = 8;

    // A pixel byte holds at most eight planes' bits.
    const std::uint32_t planes = std::min<std::uint32_t>(planar->depth, 8);
    const std::uint32_t rowBytes = planar->planeRowBytes;
    const std::uint32_t whole = width / 8;
    const std::uint32_t rest = width % 8;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* plane[8];
        for (std::uint32_t k = 0; k < planes; ++k)
            plane[k] = planar->pixels + (static_cast<std::uint64_t>(k) * height + y) * rowBytes;
        std::uint8_t* out = image->pixels + static_cast<std::uint64_t>(y) * width;
        for (std::uint32_t g = 0; g <= whole; ++g) {
            if (g == whole && rest == 0)
                break;
            std::uint64_t eight = 0;
            for (std::uint32_t k = 0; k < planes; ++k)
                eight |= kSpread[plane[k][g]] << k;
            std::memcpy(out + 8 * static_cast<std::size_t>(g), &eight, g == whole ? rest : 8);
        }
    }
    *chunky = image;
    return 0;
}

void RGBFromPlanes(const std::uint8_t* planes, std::uint8_t* rgb, std::uint32_t width,
                   std::uint32_t height)
{
    const std::uint32_t rowBytes = (width + 7) / 8;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* plane[24];
        for (std::uint32_t k = 0; k < 24; ++k)
            plane[k] = planes + (static_cast<std::uint64_t>(k) * height + y) * rowBytes;
        std::uint8_t* out = rgb + static_cast<std::uint64_t>(y) * width * 3;
        for (std::uint32_t g = 0; g < rowBytes; ++g) {
            std::uint64_t red = 0, green = 0, blue = 0;
            for (std::uint32_t i = 0; i < 8; ++i) {
                red |= kSpread[plane[i][g]] << i;
                green |= kSpread[plane[8 + i][g]] << i;
                blue |= kSpread[plane[16 + i][g]] << i;
            }
            const std::uint32_t count = std::min<std::uint32_t>(8, width - 8 * g);
            for (std::uint32_t j = 0; j < count; ++j) {
                *out++ = static_cast<std::uint8_t>(red >> (8 * j));
                *out++ = static_cast<std::uint8_t>(green >> (8 * j));
                *out++ = static_cast<std::uint8_t>(blue >> (8 * j));
            }
        }
    }
}

// The held colour runs on from one row into the next; it is never reset.
void ExpandHAM6(const std::uint8_t* chunky, std::uint8_t* rgb, const std::uint8_t palette[256][3],
                std::uint32_t width, std::uint32_t height)
{
    std::uint8_t red = 0, green = 0, blue = 0;
    const std::uint64_t count = static_cast<std::uint64_t>(width) * height;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t p = chunky[i];
        const auto value = static_cast<std::uint8_t>((p & 0x0F) * 17);
        switch ((p >> 4) & 3) {
        case 0: red = palette[p][0]; green = palette[p][1]; blue = palette[p][2]; break;
        case 1: blue = value; break;
        case 2: red = value; break;
        case 3: green = value; break;
        }
        *rgb++ = red;
        *rgb++ = green;
        *rgb++ = blue;
    }
}

void ExpandHAM8(const std::uint8_t* chunky, std::uint8_t* rgb, const std::uint8_t palette[256][3],
                std::uint32_t width, std::uint32_t height)
{
    std::uint8_t red = 0, green = 0, blue = 0;
    const std::uint64_t count = static_cast<std::uint64_t>(width) * height;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t p = chunky[i];
        const auto value = static_cast<std::uint8_t>((p & 0x3F) * 4);
        switch (p >> 6) {
        case 0: red = palette[p][0]; green = palette[p][1]; blue = palette[p][2]; break;
        case 1: blue = value; break;
        case 2: red = value; break;
        case 3: green = value; break;
        }
        *rgb++ = red;
        *rgb++ = green;
        *rgb++ = blue;
    }
}

ImageRecord* LoadILBM(std::FILE* in)
{
    IFFHandle* iff = NewIFFHandle();
    if (!iff) {
        std::printf("\nIFF allocation error !");
        return nullptr;
    }
    iff->stream = in;
    SetIFFReading(iff);
    if (OpenIFF(iff, kIFFRead) != 0) {
        std::printf("\nIFF Open error !");
        DisposeIFFHandle(iff);
        return nullptr;
    }
    SetIFFChunkTable(iff, kChunkTable, kChunkTableEntries);

    ImageRecord planar{};
    std::uint32_t displayMode = 0;
    std::uint8_t masking = 0;
    std::uint8_t compression = 0;
    ChunkNode* chunk = nullptr;
    for (;;) {
        ParseIFF(iff, kIFFParseScan);
        chunk = GetIFFChunk(iff);
        if (!chunk || IsChunk(chunk, "BODY"))
            break;
        if (IsChunk(chunk, "CAMG")) {
            std::uint32_t word = 0;
            ReadIFFData(iff, &word, 4);
            displayMode = ConvertLong(word, kBigEndian, kLittleEndian);
        } else if (IsChunk(chunk, "CMAP")) {
            // Whatever lies past 256 entries has no place in the palette.
            ReadIFFData(iff, planar.palette, std::min(chunk->size, kPaletteBytes));
        } else if (IsChunk(chunk, "BMHD")) {
            std::uint8_t header[20] = {};
            ReadIFFData(iff, header, sizeof header);
            planar.width = BigWord(header + 0);
            planar.height = BigWord(header + 2);
            planar.depth = header[8];
            masking = header[9];
            compression = header[10];
            planar.planeRowBytes = (planar.width + 7) / 8;
            std::printf("\nWidth:       %d", static_cast<int>(planar.width));
            std::printf("\nHeight:      %d", static_cast<int>(planar.height));
            std::printf("\nPageWidth:   %d", static_cast<int>(BigWord(header + 16)));
            std::printf("\nPageHeight:  %d", static_cast<int>(BigWord(header + 18)));
            std::printf("\nDepth:       %d", static_cast<int>(planar.depth));
            std::printf("\nColors:      %d", static_cast<int>(ColourCount(planar.depth)));
            std::printf("\nCompression: %d", static_cast<int>(compression));
            std::printf("\nBPL:         %ld", static_cast<long>(planar.planeRowBytes));
        }
    }
    if (!chunk) {
        std::printf("\nERROR: BODY chunk is missing");
        DisposeIFFHandle(iff);
        return nullptr;
    }
    // Other compression bytes name other schemes (2, for one, packs each plane
    // in vertical runs); unpacking them as ByteRun1 would only make garbage.
    if (compression != 0 && compression != 1) {
        std::printf("\nERROR: Unsupported compression %d", static_cast<int>(compression));
        DisposeIFFHandle(iff);
        return nullptr;
    }
    if (planar.width == 0 || planar.height == 0) {
        std::printf("\nERROR: Picture has no pixels (width %d, height %d)",
                    static_cast<int>(planar.width), static_cast<int>(planar.height));
        DisposeIFFHandle(iff);
        return nullptr;
    }

    std::printf("\nBitmap:      %ld Bytes", AsPrinted(chunk->size));
    // A ByteRun1 code of two bytes yields at most 128, so no body yields more
    // than 64 bytes of plane rows per byte it holds, packed or plain. A header
    // that needs more is refused before anything of its size is requested.
    const std::uint32_t bodySize = BodyBytesHeld(in, chunk);
    if (BodyRowBytes(planar, masking) > std::uint64_t{64} * bodySize) {
        std::printf("\nERROR: BODY too short for the picture");
        DisposeIFFHandle(iff);
        return nullptr;
    }
    auto* body = static_cast<std::uint8_t*>(MemAlloc(bodySize, kMemClear));
    if (!body) {
        std::printf("\nERROR: Not enough memory");
        DisposeIFFHandle(iff);
        return nullptr;
    }
    ReadIFFData(iff, body, bodySize);

    planar.kind = kImagePlanar;
    const std::uint64_t planarSize =
        static_cast<std::uint64_t>(planar.planeRowBytes) * planar.height * planar.depth;
    planar.pixels = static_cast<std::uint8_t*>(MemAlloc(planarSize, kMemClear));
    const std::uint32_t even = EvenRowBytes(planar.planeRowBytes);
    std::uint8_t* rowBuffer = nullptr;
    if (planar.pixels && compression != 0)
        rowBuffer = static_cast<std::uint8_t*>(MemAlloc(std::uint64_t{even} + 256, kMemClear));
    if (!planar.pixels || (compression != 0 && !rowBuffer)) {
        std::printf("\nNot enough memory!");
        MemFree(planar.pixels);
        MemFree(body);
        DisposeIFFHandle(iff);
        return nullptr;
    }
    planar.bufferSize = static_cast<std::uint32_t>(planarSize);

    if (DecodeBody(std::span<const std::uint8_t>(body, bodySize), &planar, compression, masking, rowBuffer))
        std::printf("\nWARNING: BODY ends early, missing pixels are black");
    MemFree(rowBuffer);
    MemFree(body);

    ImageRecord* image = ConvertPlanes(&planar, displayMode);
    DisposeIFFHandle(iff);
    return image;
}
