// A small IFF-ILBM writer for building test pictures, the bench's inputs and
// the bundled sample. Pixels are given as one 32-bit value per pixel whose bit
// k goes to plane k (a palette index, a HAM code, or red | green << 8 |
// blue << 16 for 24 planes).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace ilbm {

using Bytes = std::vector<std::uint8_t>;

inline void PutBE16(Bytes& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline void PutBE32(Bytes& out, std::uint32_t v)
{
    PutBE16(out, v >> 16);
    PutBE16(out, v & 0xFFFF);
}

inline void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// A chunk with its header and, for an odd size, the pad byte.
inline Bytes Chunk(const char* id, const Bytes& data)
{
    Bytes out(id, id + 4);
    PutBE32(out, static_cast<std::uint32_t>(data.size()));
    Append(out, data);
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

// FORM header with the size of everything after it, then the chunks.
inline Bytes Form(const char* type, std::initializer_list<Bytes> chunks)
{
    Bytes inner(type, type + 4);
    for (const Bytes& c : chunks)
        Append(inner, c);
    Bytes out{'F', 'O', 'R', 'M'};
    PutBE32(out, static_cast<std::uint32_t>(inner.size()));
    Append(out, inner);
    return out;
}

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t planes = 1;
    std::uint32_t masking = 0;
    std::uint32_t compression = 0;
    std::uint32_t pageWidth = 320;
    std::uint32_t pageHeight = 200;
};

inline Bytes Bmhd(const Header& h)
{
    Bytes d;
    PutBE16(d, h.width);
    PutBE16(d, h.height);
    PutBE16(d, 0);                // x position
    PutBE16(d, 0);                // y position
    d.push_back(static_cast<std::uint8_t>(h.planes));
    d.push_back(static_cast<std::uint8_t>(h.masking));
    d.push_back(static_cast<std::uint8_t>(h.compression));
    d.push_back(0);               // pad
    PutBE16(d, 0);                // transparent colour
    d.push_back(10);              // aspect
    d.push_back(11);
    PutBE16(d, h.pageWidth);
    PutBE16(d, h.pageHeight);
    return Chunk("BMHD", d);
}

using Rgb = std::array<std::uint8_t, 3>;

inline Bytes Cmap(const std::vector<Rgb>& colours)
{
    Bytes d;
    for (const Rgb& c : colours)
        d.insert(d.end(), c.begin(), c.end());
    return Chunk("CMAP", d);
}

inline Bytes Camg(std::uint32_t mode)
{
    Bytes d;
    PutBE32(d, mode);
    return Chunk("CAMG", d);
}

// ByteRun1: runs of three or more equal bytes as repeat codes, the rest as
// literal codes of up to 128 bytes.
inline Bytes PackByteRun1(const Bytes& row)
{
    Bytes out;
    std::size_t i = 0;
    while (i < row.size()) {
        std::size_t run = 1;
        while (i + run < row.size() && run < 128 && row[i + run] == row[i])
            ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(257 - run));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        std::size_t start = i, count = 0;
        while (i < row.size() && count < 128) {
            std::size_t ahead = 1;
            while (i + ahead < row.size() && ahead < 3 && row[i + ahead] == row[i])
                ++ahead;
            if (ahead >= 3)
                break;
            ++i;
            ++count;
        }
        out.push_back(static_cast<std::uint8_t>(count - 1));
        out.insert(out.end(), row.begin() + static_cast<long>(start), row.begin() + static_cast<long>(i));
    }
    return out;
}

// One plane row of an image row: the plane's bits, padded to an even length.
inline Bytes PlaneRow(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t plane)
{
    const std::size_t rowBytes = (width + 7) / 8;
    Bytes out(rowBytes + (rowBytes & 1), 0);
    for (std::uint32_t x = 0; x < width; ++x)
        if ((pixels[x] >> plane) & 1)
            out[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    return out;
}

// BODY data for `pixels` (width × height values): plane rows per image row,
// then the mask plane row (all pixels set) when masking is 1; each row packed
// when compression is not 0.
inline Bytes BodyData(const std::vector<std::uint32_t>& pixels, const Header& h)
{
    Bytes out;
    const std::size_t rowBytes = (h.width + 7) / 8;
    for (std::uint32_t y = 0; y < h.height; ++y) {
        const std::uint32_t* row = pixels.data() + static_cast<std::size_t>(y) * h.width;
        for (std::uint32_t l = 0; l < h.planes + (h.masking == 1 ? 1 : 0); ++l) {
            Bytes plane;
            if (l < h.planes) {
                plane = PlaneRow(row, h.width, l);
            } else {
                plane.assign(rowBytes + (rowBytes & 1), 0xFF);
            }
            if (h.compression)
                plane = PackByteRun1(plane);
            Append(out, plane);
        }
    }
    return out;
}

inline Bytes Body(const std::vector<std::uint32_t>& pixels, const Header& h)
{
    return Chunk("BODY", BodyData(pixels, h));
}

// A whole picture: BMHD, CMAP (when given), CAMG (when not 0), BODY.
inline Bytes Picture(const Header& h, const std::vector<std::uint32_t>& pixels,
                     const std::vector<Rgb>& colours = {}, std::uint32_t camg = 0)
{
    Bytes inner = Bmhd(h);
    if (!colours.empty())
        Append(inner, Cmap(colours));
    if (camg)
        Append(inner, Camg(camg));
    Append(inner, Body(pixels, h));
    Bytes out{'F', 'O', 'R', 'M'};
    PutBE32(out, static_cast<std::uint32_t>(inner.size() + 4));
    out.insert(out.end(), {'I', 'L', 'B', 'M'});
    Append(out, inner);
    return out;
}

} // namespace ilbm
