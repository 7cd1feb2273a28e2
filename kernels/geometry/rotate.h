// Free rotation of a picture about a chosen centre, shared by turntrue (three
// bytes a pixel) and turnindexed (one byte a pixel).
//
// Each destination pixel is mapped back to the source point it comes from and
// takes that one pixel, without interpolation; pixels whose point falls
// outside the source keep what the host put there. The arithmetic is double
// precision, each operation in the written order and rounded on its own, and
// coordinates are truncated toward zero: the modules that include this header
// are built without fused multiply-adds (kernels/CMakeLists.txt), and the
// check below refuses a build that would keep doubles in wider registers.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"

static_assert(FLT_EVAL_METHOD == 0, "the rotation needs every double operation rounded to double (SSE2, not x87)");

inline constexpr uint32_t ROTATE_BLOCK_SIZE = 32;

enum : uint32_t {
    ROTATE_SOURCE = 2,       // address of the source picture record
    ROTATE_DESTINATION = 3,  // address of the destination picture record
    ROTATE_ANGLE = 4,        // thousandths of a degree, signed
    ROTATE_CENTRE_X = 5,     // source pixels, signed
    ROTATE_CENTRE_Y = 6,
};

inline int64_t rotate_clamp(int64_t value, int64_t high) { return value < 0 ? 0 : value > high ? high : value; }

// Turns `source` (sw x sh) into `destination` (dw x dh) by `degrees` about
// (centre_x, centre_y), the source centred in the destination. Both buffers
// hold their whole pictures.
template <uint32_t PixelBytes>
void rotate_pixels(const uint8_t* source, int64_t sw, int64_t sh, uint8_t* destination, int64_t dw, int64_t dh,
                   double degrees, int64_t centre_x, int64_t centre_y)
{
    const int64_t offx = (dw - sw) / 2;  // truncated toward zero
    const int64_t offy = (dh - sh) / 2;
    const double cx = double(rotate_clamp(centre_x, sw));
    const double cy = double(rotate_clamp(centre_y, sh));
    const double theta = (360.0 - degrees) / 57.29577951308232;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double cxc = cx * c, cyc = cy * c, cxs = cx * s, cys = cy * s;

    uint8_t* out = destination;
    for (int64_t y = 0; y < dh; ++y) {
        const double Y = double(y - offy);
        const double ys = Y * s, yc = Y * c;  // the same products for the whole row
        for (int64_t x = 0; x < dw; ++x, out += PixelBytes) {
            const double X = double(x - offx);
            const double tx = (((c * X) - ys) - cxc) + cx + cys;
            const int64_t sx = int64_t(tx);
            if (sx < 0 || sx >= sw) continue;
            const double ty = ((yc + (X * s)) - cxs) + cy - cyc;
            const int64_t sy = int64_t(ty);
            if (sy < 0 || sy >= sh) continue;
            const uint8_t* in = source + (uint64_t(sy) * uint64_t(sw) + uint64_t(sx)) * PixelBytes;
            for (uint32_t k = 0; k < PixelBytes; ++k) out[k] = in[k];
        }
    }
}

// The work routine of both modules. Records and pixel buffers are checked
// before anything is written: a record that does not lie in a live block, or
// a pixel buffer shorter than its picture, gives 14 and no write. A picture
// of no pixels on either side can take nothing and needs no buffer.
template <uint32_t PixelBytes>
uint32_t rotate_picture(void* block)
{
    const picture_record* from = picture_at(block_word(block, ROTATE_SOURCE));
    picture_record* to = picture_at(block_word(block, ROTATE_DESTINATION));
    if (from == nullptr || to == nullptr) {
        set_block_error(block, ROTATE_BLOCK_SIZE, KERNEL_BAD_DATA);
        return 0;
    }
    const uint32_t sw = picture_width(from), sh = picture_height(from);
    const uint32_t dw = picture_width(to), dh = picture_height(to);

    if (sw != 0 && sh != 0 && dw != 0 && dh != 0) {
        const uint8_t* source = shared_bytes(picture_pixels(from), checked_size(sw, sh, PixelBytes));
        uint8_t* destination = shared_bytes(picture_pixels(to), checked_size(dw, dh, PixelBytes));
        if (source == nullptr || destination == nullptr) {
            set_block_error(block, ROTATE_BLOCK_SIZE, KERNEL_BAD_DATA);
            return 0;
        }
        const double degrees = double(int32_t(block_word(block, ROTATE_ANGLE))) / 1000.0;
        rotate_pixels<PixelBytes>(source, sw, sh, destination, dw, dh, degrees,
                                  int32_t(block_word(block, ROTATE_CENTRE_X)),
                                  int32_t(block_word(block, ROTATE_CENTRE_Y)));
    }
    PPCCacheFlush(shared_pointer(picture_pixels(to)), picture_pixels_length(to));
    PPCCacheFlush(to, PICTURE_RECORD_SIZE);
    return 0;
}
