#include "bmp.h"

#include <cstring>

#include "services.h"

namespace {

constexpr std::uint32_t kHeaderBytes = 54;

// Bytes per stored row: the packed pixels, rounded up to a multiple of 4.
std::uint64_t BmpRowLength(std::uint32_t width, std::uint32_t bitsPerPixel)
{
    std::uint64_t bytes = 0;
    switch (bitsPerPixel) {
    case 1: bytes = (std::uint64_t{width} + 7) / 8; break;
    case 4: bytes = (std::uint64_t{width} + 1) / 2; break;
    case 8: bytes = width; break;
    default: bytes = std::uint64_t{width} * 3; break;
    }
    return (bytes + 3) / 4 * 4;
}

// Header numbers are little-endian, which is the host's order already.
void PutWord(std::uint8_t* at, std::uint16_t value)
{
    value = ConvertWord(value, kLittleEndian, kLittleEndian);
    std::memcpy(at, &value, 2);
}

void PutLong(std::uint8_t* at, std::uint32_t value)
{
    value = ConvertLong(value, kLittleEndian, kLittleEndian);
    std::memcpy(at, &value, 4);
}

void PackRow(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width, std::uint32_t bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1:
        for (std::uint32_t x = 0; x < width; ++x)
            if (in[x] & 1)
                out[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        break;
    case 4:
        for (std::uint32_t x = 0; x < width; ++x)
            out[x / 2] |= static_cast<std::uint8_t>((in[x] & 0x0F) << (x % 2 ? 0 : 4));
        break;
    case 8:
        std::memcpy(out, in, width);
        break;
    default:
        for (std::uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        break;
    }
}

// The file was created but will not be a whole BMP: leave nothing behind.
int Discard(std::FILE* out, const char* name)
{
    FileClose(out);
    std::remove(name);
    return 1;
}

} // namespace

std::uint32_t BmpBitsForDepth(std::uint32_t depth)
{
    if (depth > 8)
        return 24;
    if (depth > 4)
        return 8;
    if (depth > 1)
        return 4;
    return 1;
}

int FlipRows(std::uint8_t* pixels, std::uint64_t rowLength, std::uint32_t rowCount)
{
    auto* spare = static_cast<std::uint8_t*>(MemAlloc(rowLength, kMemClear));
    if (!spare) {
        std::printf("\nERROR: Not enough memory (2)!");
        return 0;
    }
    const auto length = static_cast<std::size_t>(rowLength);
    for (std::uint32_t top = 0, bottom = rowCount - 1; top < rowCount / 2; ++top, --bottom) {
        std::uint8_t* a = pixels + top * rowLength;
        std::uint8_t* b = pixels + bottom * rowLength;
        std::memcpy(spare, a, length);
        std::memcpy(a, b, length);
        std::memcpy(b, spare, length);
    }
    MemFree(spare);
    return 1;
}

int PackBmpRows(std::uint8_t* pixels, std::uint8_t* out, std::uint32_t width, std::uint32_t height,
                std::uint32_t bitsPerPixel)
{
    const std::uint64_t inRow = bitsPerPixel > 8 ? std::uint64_t{width} * 3 : width;
    const std::uint64_t outRow = BmpRowLength(width, bitsPerPixel);
    // Flip the picture itself so that the bottom row comes first, and back again.
    if (!FlipRows(pixels, inRow, height))
        return 0;
    if (bitsPerPixel == 8 && outRow == width) {
        std::memcpy(out, pixels, static_cast<std::size_t>(inRow * height));
    } else {
        for (std::uint32_t y = 0; y < height; ++y)
            PackRow(pixels + y * inRow, out + y * outRow, width, bitsPerPixel);
    }
    return FlipRows(pixels, inRow, height);
}

int WriteBmpPalette(const ImageRecord* image, std::FILE* out, std::uint32_t bitsPerPixel)
{
    std::uint8_t entries[256 * 4] = {};
    const std::uint32_t count = 1u << bitsPerPixel;
    for (std::uint32_t i = 0; i < count; ++i) {
        entries[4 * i + 0] = image->palette[i][2];
        entries[4 * i + 1] = image->palette[i][1];
        entries[4 * i + 2] = image->palette[i][0];
    }
    return FileWrite(out, entries, 4 * count) == 4 * count ? 1 : 0;
}

int SaveBMP(ImageRecord* image, const char* name)
{
    const std::uint32_t depth = image->depth;
    if (depth > 8 && depth != 24) {
        std::printf("\nERROR: Encountered unsupported bitdepth combination (1)!");
        return 1;
    }
    std::FILE* out = FileOpen(name, "wb");
    if (!out) {
        std::printf("\nERROR: Can't open destination file!");
        return 1;
    }

    const std::uint32_t width = image->width;
    const std::uint32_t height = image->height;
    const std::uint32_t bits = BmpBitsForDepth(depth);
    const std::uint64_t rowLength = BmpRowLength(width, bits);
    const std::uint64_t paletteSize = bits < 24 ? 4u << bits : 0;
    const std::uint64_t bitmapSize = rowLength * height;
    const std::uint64_t fileSize = kHeaderBytes + paletteSize + bitmapSize;
    std::printf("\nBMP Filesize:   %ld", AsPrinted(fileSize));
    std::printf("\nBMP Bitmapsize: %ld", AsPrinted(bitmapSize));

    std::uint8_t header[kHeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutLong(header + 2, static_cast<std::uint32_t>(fileSize));
    PutLong(header + 6, 0);
    PutLong(header + 10, static_cast<std::uint32_t>(kHeaderBytes + paletteSize));
    PutLong(header + 14, 40);
    PutLong(header + 18, width);
    PutLong(header + 22, height);
    PutWord(header + 26, 1);
    PutWord(header + 28, static_cast<std::uint16_t>(bits));
    PutLong(header + 30, 0);
    PutLong(header + 34, static_cast<std::uint32_t>(bitmapSize));
    PutLong(header + 38, 0);
    PutLong(header + 42, 0);
    PutLong(header + 46, bits < 24 ? 1u << bits : 0);
    PutLong(header + 50, bits < 24 ? 1u << depth : 0);

    // A file size the header cannot hold is as good as no memory for it.
    const std::uint64_t blockSize = bitmapSize + height;
    auto* block = fileSize > UINT32_MAX ? nullptr
                                        : static_cast<std::uint8_t*>(MemAlloc(blockSize, kMemClear));
    if (!block) {
        std::printf("\nERROR: Not enough memory (%ld bytes)!", AsPrinted(blockSize));
        return Discard(out, name);
    }
    if (!PackBmpRows(image->pixels, block, width, height, bits)) {
        MemFree(block);
        return Discard(out, name);
    }

    bool written = FileWrite(out, header, kHeaderBytes) == kHeaderBytes;
    if (written && bits < 24)
        written = WriteBmpPalette(image, out, bits) == 1;
    if (written)
        written = FileWrite(out, block, static_cast<std::uint32_t>(bitmapSize)) ==
                  static_cast<std::int64_t>(bitmapSize);
    MemFree(block);
    if (FileClose(out) != 0)
        written = false;
    if (!written) {
        std::printf("\nERROR: Could not write destination file!");
        std::remove(name);
        return 1;
    }
    return 0;
}
