// pictrender: an Apple PICT file (version 1 or 2), named in the block, read
// opcode by opcode and drawn into three 16-bit colour planes, then handed to
// the host as a new 24-bit picture record whose record and pixel buffer come
// from exec's AllocVec and belong to the host from then on.
//
// Block: word 2 the record made (the host passes 0), word 3 the file name,
// words 4 and 5 the memory list and the stream while the run lasts, word 12
// the result code.
#include <cstring>
#include <iterator>

#include "kernels/common/buffers.h"
#include "kernels/common/entry.h"
#include "kernels/common/picture.h"
#include "kernels/pict/pict_draw.h"
#include "kernels/pict/pict_pixmap.h"
#include "kernels/pict/pict_read.h"
#include "kernels/pict/pict_state.h"
#include "kernels/pict/pict_text.h"
#include "kernels/pict/pict_transfer.h"

KERNEL_VERSION("pictrender", "1.0", "11.12.2026");

namespace {

constexpr uint32_t kFileHeader = 512;

// --- planes and the output stage ------------------------------------------------

// Sets a plane to white: 32-bit stores when the byte count allows them.
void kq_setwhite(uint16_t* plane, uint32_t bytes)
{
    if (bytes % 4 != 0) {
        for (uint32_t i = 0; i < bytes / 2; ++i) plane[i] = 0xFFFF;
        return;
    }
    using word = uint32_t __attribute__((may_alias));
    auto* words = reinterpret_cast<word*>(plane);
    for (uint32_t i = 0; i < bytes / 4; ++i) words[i] = 0xFFFFFFFFu;
}

// The planes of the picture frame, white, and the clip of the whole frame.
// A frame whose planes or pixel buffer would not fit 32 bits is refused
// before anything is asked for.
uint32_t alloc_planes()
{
    rowlen = width_of(picFrame);
    collen = height_of(picFrame);
    planelen = uint32_t(rowlen) * collen;
    clip_rect = picFrame;
    const checked_u64 plane_bytes = checked_size(planelen, 2);
    if (!checked_size(planelen, 3) || *checked_size(planelen, 3) > 0xFFFFFFFFu || *plane_bytes > 0xFFFFFFFFu) {
        kq_seterrcode(KERNEL_NO_MEMORY);
        return 0;
    }
    uint16_t** planes[] = {&red, &green, &blue};
    for (uint16_t** plane : planes) {
        *plane = static_cast<uint16_t*>(pict_alloc(plane_bytes));
        if (*plane == nullptr) return 0;
    }
    for (uint16_t** plane : planes) kq_setwhite(*plane, planelen * 2);
    return 1;
}

// Value i of a 16-bit plane becomes byte i of the same memory: its high byte.
void compact_plane(uint16_t* plane, uint32_t count)
{
    auto* bytes = reinterpret_cast<uint8_t*>(plane);
    for (uint32_t i = 0; i < count; ++i) bytes[i] = uint8_t(plane[i] >> 8);
}

// Memory of the host operating system, through a cross call to exec.
uint8_t* exec_alloc_vec(uint32_t size, uint32_t flags)
{
    os_call_record call{};
    call.library_offset = LVO_AllocVec;
    call.host_cache_mode = IF_CACHEFLUSHALL;
    call.ppc_cache_mode = IF_CACHEFLUSHALL;
    call.d0 = size;
    call.d1 = flags;
    call.a6 = SysBase;
    return static_cast<uint8_t*>(shared_pointer(PPCCallOS(&call)));
}

// The picture record and its red, green, blue pixels. The record's address
// goes into word 2 whatever happens; from then on record and buffer are the
// host's.
void output_ppm(uint16_t)
{
    const uint32_t width = rowlen, height = collen;
    const uint32_t pixels = width * height;
    auto* record = reinterpret_cast<picture_record*>(exec_alloc_vec(PICTURE_RECORD_SIZE, MEMF_PUBLIC | MEMF_CLEAR));
    set_block_word(pict_KQObjectHandle, kRecordWord, shared_address(record));
    if (record == nullptr) {
        kq_seterrcode(KERNEL_NO_MEMORY);
        return;
    }
    set_picture_host_word(record, 0, 1);
    set_picture_host_word(record, 1, 2);
    set_picture_width(record, width);
    set_picture_height(record, height);
    set_picture_depth(record, 24);
    set_picture_bits_per_pixel(record, 24);
    set_picture_host_word(record, 5, 0);
    set_picture_pixels_length(record, 3 * pixels);

    uint8_t* buffer = exec_alloc_vec(3 * pixels, MEMF_CLEAR);
    if (buffer == nullptr) {
        kq_seterrcode(KERNEL_NO_MEMORY);
        return;
    }
    set_picture_pixels(record, shared_address(buffer));

    compact_plane(red, pixels);
    compact_plane(green, pixels);
    compact_plane(blue, pixels);
    const auto* r = reinterpret_cast<const uint8_t*>(red);
    const auto* g = reinterpret_cast<const uint8_t*>(green);
    const auto* b = reinterpret_cast<const uint8_t*>(blue);
    for (uint32_t i = 0; i < pixels; ++i) {
        buffer[3 * i] = r[i];
        buffer[3 * i + 1] = g[i];
        buffer[3 * i + 2] = b[i];
    }
}

// --- opcodes that set the drawing state -------------------------------------------

void Clip(uint16_t)
{
    const uint16_t size = read_UWORD();
    if (size == 10) {
        read_rect(clip_rect);
    } else {
        skip(int64_t(size) - 2);
    }
}

// 8 bytes, one per row, bit 7 the leftmost cell: one byte per cell.
void read_pattern_bits(uint8_t* pattern)
{
    uint8_t rows[8];
    read_n(8, rows);
    uint32_t count = 8;
    std::memcpy(pattern, expand_buf(rows, count, 1), 64);
}

void BkPat(uint16_t) { read_pattern_bits(bkpat); }
void PnPat(uint16_t) { read_pattern_bits(pen_pat); }
void FillPat(uint16_t) { read_pattern_bits(fillpat); }

void TxFont(uint16_t) { text_font = read_UWORD(); }
void TxFace(uint16_t) { text_face = read_UBYTE(); }
void TxSize(uint16_t) { text_size = read_UWORD(); }

// The pattern modes 8 to 14 draw as their source modes 0 to 6.
uint16_t source_mode(uint16_t mode) { return mode >= 8 && mode <= 14 ? uint16_t(mode - 8) : mode; }

void TxMode(uint16_t)
{
    text_mode = source_mode(read_UWORD());
    text_trf = transfer(text_mode & uint16_t(~64u));
}

void PnMode(uint16_t)
{
    pen_mode = source_mode(read_UWORD());
    pen_trf = transfer(pen_mode);
}

void PnSize(uint16_t)
{
    pen_height = read_UWORD();
    pen_width = read_UWORD();
}

void RGBFgCol(uint16_t) { read_rgb(foreground); }
void RGBBkCol(uint16_t) { read_rgb(background); }
void OpColor(uint16_t) { read_rgb(op_colour); }
void PnLocHFrac(uint16_t) { read_UWORD(); }

// A pixel pattern is read and dropped: a full pattern (type 1) with its
// pixel map, colour table and rows, or a dithered one (type 2). Any other
// type records 15 and reads nothing further.
void read_pattern()
{
    const uint16_t type = read_UWORD();
    if (type == 1) {
        skip(8);
        uint16_t row_bytes;
        pixmap_header h;
        read_pixmap(h, &row_bytes);
        read_colour_table();
        unpackbits(h.bounds, row_bytes, h.pixelSize, h.cmpCount, true);
    } else if (type == 2) {
        skip(8);
        skip(5);
    } else {
        kq_seterrcode(KERNEL_UNSUPPORTED);
    }
}

void BkPixPat(uint16_t) { read_pattern(); }
void PnPixPat(uint16_t) { read_pattern(); }
void FillPixPat(uint16_t) { read_pattern(); }

// --- the opcode table -------------------------------------------------------------------

using OpHandler = void (*)(uint16_t version);

// An entry's length counts the data bytes after the opcode when it has no
// handler; -1: a length word comes first and gives them.
struct optable_entry {
    const char* name;
    int32_t length;
    OpHandler handler;
};

constexpr optable_entry optable[] = {
    {"NOP", 0, nullptr},                            // 0x00
    {"Clip", 0, Clip},                              // 0x01
    {"BkPat", 8, BkPat},                            // 0x02
    {"TxFont", 2, TxFont},                          // 0x03
    {"TxFace", 1, TxFace},                          // 0x04
    {"TxMode", 2, TxMode},                          // 0x05
    {"SpExtra", 4, nullptr},                        // 0x06
    {"PnSize", 4, PnSize},                          // 0x07
    {"PnMode", 2, PnMode},                          // 0x08
    {"PnPat", 8, PnPat},                            // 0x09
    {"FillPat", 8, FillPat},                        // 0x0A
    {"OvSize", 4, nullptr},                         // 0x0B
    {"Origin", 4, nullptr},                         // 0x0C
    {"TxSize", 2, TxSize},                          // 0x0D
    {"FgColor", 4, nullptr},                        // 0x0E
    {"BkColor", 4, nullptr},                        // 0x0F
    {"TxRatio", 8, nullptr},                        // 0x10
    {"Version", 1, nullptr},                        // 0x11
    {"BkPixPat", 0, BkPixPat},                      // 0x12
    {"PnPixPat", 0, PnPixPat},                      // 0x13
    {"FillPixPat", 0, FillPixPat},                  // 0x14
    {"PnLocHFrac", 2, PnLocHFrac},                  // 0x15
    {"ChExtra", 2, nullptr},                        // 0x16
    {"reserved", 0, nullptr},                       // 0x17
    {"reserved", 0, nullptr},                       // 0x18
    {"reserved", 0, nullptr},                       // 0x19
    {"RGBFgCol", 6, RGBFgCol},                      // 0x1A
    {"RGBBkCol", 6, RGBBkCol},                      // 0x1B
    {"HiliteMode", 0, nullptr},                     // 0x1C
    {"HiliteColor", 6, nullptr},                    // 0x1D
    {"DefHilite", 0, nullptr},                      // 0x1E
    {"OpColor", 0, OpColor},                        // 0x1F
    {"Line", 8, Line},                              // 0x20
    {"LineFrom", 4, LineFrom},                      // 0x21
    {"ShortLine", 6, ShortLine},                    // 0x22
    {"ShortLineFrom", 2, ShortLineFrom},            // 0x23
    {"reserved", -1, nullptr},                      // 0x24
    {"reserved", -1, nullptr},                      // 0x25
    {"reserved", -1, nullptr},                      // 0x26
    {"reserved", -1, nullptr},                      // 0x27
    {"LongText", 0, LongText},                      // 0x28
    {"DHText", 0, DHText},                          // 0x29
    {"DVText", 0, DVText},                          // 0x2A
    {"DHDVText", 0, DHDVText},                      // 0x2B
    {"reserved", -1, nullptr},                      // 0x2C
    {"reserved", -1, nullptr},                      // 0x2D
    {"reserved", -1, nullptr},                      // 0x2E
    {"reserved", -1, nullptr},                      // 0x2F
    {"frameRect", 8, frameRect},                    // 0x30
    {"paintRect", 8, paintRect},                    // 0x31
    {"eraseRect", 8, nullptr},                      // 0x32
    {"invertRect", 8, nullptr},                     // 0x33
    {"fillRect", 8, nullptr},                       // 0x34
    {"reserved", 8, nullptr},                       // 0x35
    {"reserved", 8, nullptr},                       // 0x36
    {"reserved", 8, nullptr},                       // 0x37
    {"frameSameRect", 0, frameSameRect},            // 0x38
    {"paintSameRect", 0, paintSameRect},            // 0x39
    {"eraseSameRect", 0, nullptr},                  // 0x3A
    {"invertSameRect", 0, nullptr},                 // 0x3B
    {"fillSameRect", 0, nullptr},                   // 0x3C
    {"reserved", 0, nullptr},                       // 0x3D
    {"reserved", 0, nullptr},                       // 0x3E
    {"reserved", 0, nullptr},                       // 0x3F
    {"frameRRect", 8, nullptr},                     // 0x40
    {"paintRRect", 8, nullptr},                     // 0x41
    {"eraseRRect", 8, nullptr},                     // 0x42
    {"invertRRect", 8, nullptr},                    // 0x43
    {"fillRRrect", 8, nullptr},                     // 0x44
    {"reserved", 8, nullptr},                       // 0x45
    {"reserved", 8, nullptr},                       // 0x46
    {"reserved", 8, nullptr},                       // 0x47
    {"frameSameRRect", 0, nullptr},                 // 0x48
    {"paintSameRRect", 0, nullptr},                 // 0x49
    {"eraseSameRRect", 0, nullptr},                 // 0x4A
    {"invertSameRRect", 0, nullptr},                // 0x4B
    {"fillSameRRect", 0, nullptr},                  // 0x4C
    {"reserved", 0, nullptr},                       // 0x4D
    {"reserved", 0, nullptr},                       // 0x4E
    {"reserved", 0, nullptr},                       // 0x4F
    {"frameOval", 8, nullptr},                      // 0x50
    {"paintOval", 8, nullptr},                      // 0x51
    {"eraseOval", 8, nullptr},                      // 0x52
    {"invertOval", 8, nullptr},                     // 0x53
    {"fillOval", 8, nullptr},                       // 0x54
    {"reserved", 8, nullptr},                       // 0x55
    {"reserved", 8, nullptr},                       // 0x56
    {"reserved", 8, nullptr},                       // 0x57
    {"frameSameOval", 0, nullptr},                  // 0x58
    {"paintSameOval", 0, nullptr},                  // 0x59
    {"eraseSameOval", 0, nullptr},                  // 0x5A
    {"invertSameOval", 0, nullptr},                 // 0x5B
    {"fillSameOval", 0, nullptr},                   // 0x5C
    {"reserved", 0, nullptr},                       // 0x5D
    {"reserved", 0, nullptr},                       // 0x5E
    {"reserved", 0, nullptr},                       // 0x5F
    {"frameArc", 12, nullptr},                      // 0x60
    {"paintArc", 12, nullptr},                      // 0x61
    {"eraseArc", 12, nullptr},                      // 0x62
    {"invertArc", 12, nullptr},                     // 0x63
    {"fillArc", 12, nullptr},                       // 0x64
    {"reserved", 12, nullptr},                      // 0x65
    {"reserved", 12, nullptr},                      // 0x66
    {"reserved", 12, nullptr},                      // 0x67
    {"frameSameArc", 4, nullptr},                   // 0x68
    {"paintSameArc", 4, nullptr},                   // 0x69
    {"eraseSameArc", 4, nullptr},                   // 0x6A
    {"invertSameArc", 4, nullptr},                  // 0x6B
    {"fillSameArc", 4, nullptr},                    // 0x6C
    {"reserved", 4, nullptr},                       // 0x6D
    {"reserved", 4, nullptr},                       // 0x6E
    {"reserved", 4, nullptr},                       // 0x6F
    {"framePoly", 0, skip_poly_or_region},          // 0x70
    {"paintPoly", 0, paintPoly},                    // 0x71
    {"erasePoly", 0, skip_poly_or_region},          // 0x72
    {"invertPoly", 0, skip_poly_or_region},         // 0x73
    {"fillPoly", 0, skip_poly_or_region},           // 0x74
    {"reserved", 0, skip_poly_or_region},           // 0x75
    {"reserved", 0, skip_poly_or_region},           // 0x76
    {"reserved", 0, skip_poly_or_region},           // 0x77
    {"frameSamePoly", 0, nullptr},                  // 0x78
    {"paintSamePoly", 0, nullptr},                  // 0x79
    {"eraseSamePoly", 0, nullptr},                  // 0x7A
    {"invertSamePoly", 0, nullptr},                 // 0x7B
    {"fillSamePoly", 0, nullptr},                   // 0x7C
    {"reserved", 0, nullptr},                       // 0x7D
    {"reserved", 0, nullptr},                       // 0x7E
    {"reserved", 0, nullptr},                       // 0x7F
    {"frameRgn", 0, skip_poly_or_region},           // 0x80
    {"paintRgn", 0, skip_poly_or_region},           // 0x81
    {"eraseRgn", 0, skip_poly_or_region},           // 0x82
    {"invertRgn", 0, skip_poly_or_region},          // 0x83
    {"fillRgn", 0, skip_poly_or_region},            // 0x84
    {"reserved", 0, skip_poly_or_region},           // 0x85
    {"reserved", 0, skip_poly_or_region},           // 0x86
    {"reserved", 0, skip_poly_or_region},           // 0x87
    {"frameSameRgn", 0, nullptr},                   // 0x88
    {"paintSameRgn", 0, nullptr},                   // 0x89
    {"eraseSameRgn", 0, nullptr},                   // 0x8A
    {"invertSameRgn", 0, nullptr},                  // 0x8B
    {"fillSameRgn", 0, nullptr},                    // 0x8C
    {"reserved", 0, nullptr},                       // 0x8D
    {"reserved", 0, nullptr},                       // 0x8E
    {"reserved", 0, nullptr},                       // 0x8F
    {"BitsRect", 0, BitsRect},                      // 0x90
    {"BitsRgn", 0, BitsRegion},                     // 0x91
    {"reserved", -1, nullptr},                      // 0x92
    {"reserved", -1, nullptr},                      // 0x93
    {"reserved", -1, nullptr},                      // 0x94
    {"reserved", -1, nullptr},                      // 0x95
    {"reserved", -1, nullptr},                      // 0x96
    {"reserved", -1, nullptr},                      // 0x97
    {"PackBitsRect", 0, PackBitsRect},              // 0x98
    {"PackBitsRgn", 0, PackBitsRegion},             // 0x99
    {"Opcode_9A", 0, Opcode_9A},                    // 0x9A
    {"reserved", -1, nullptr},                      // 0x9B
    {"reserved", -1, nullptr},                      // 0x9C
    {"reserved", -1, nullptr},                      // 0x9D
    {"reserved", -1, nullptr},                      // 0x9E
    {"reserved", -1, nullptr},                      // 0x9F
    {"ShortComment", 2, ShortComment},              // 0xA0
    {"LongComment", 0, LongComment},                // 0xA1
};
static_assert(std::size(optable) == 0xA2, "one entry for each opcode 0x00 to 0xA1");

// --- the interpreter ----------------------------------------------------------------------

// Handles one opcode beyond the table by the ranges its number falls in.
void skip_unlisted(uint16_t opcode)
{
    if (opcode == 0x0C00) {
        skip(24);  // the version-2 header
    } else if (opcode <= 0xAF) {
        skip(read_UWORD());
    } else if (opcode <= 0xCF) {
        // no data
    } else if (opcode <= 0xFE) {
        skip_long_length();
    } else if (opcode >= 0x0100 && opcode <= 0x7FFF) {
        skip((opcode >> 7) & 0xFF);
    } else if (opcode >= 0x8000 && opcode <= 0x80FF) {
        // no data
    } else {
        skip_long_length();
    }
}

uint32_t interpret_pict()
{
    std::memset(fillpat, 1, sizeof fillpat);
    std::memset(bkpat, 1, sizeof bkpat);
    std::memset(pen_pat, 1, sizeof pen_pat);
    pen_height = 1;
    pen_width = 1;
    pen_mode = 0;
    pen_trf = transfer(0);
    text_mode = 0;
    text_trf = transfer(0);

    read_UWORD();  // picture size, not used
    read_rect(picFrame);
    if (pict_at_end) return KERNEL_BAD_DATA;  // the file ends inside its header
    if (!alloc_planes()) return KERNEL_NO_MEMORY;

    uint8_t byte;
    do byte = read_UBYTE();
    while (byte == 0 && !pict_at_end);
    if (pict_at_end || byte != 0x11) return KERNEL_BAD_DATA;
    const uint16_t version = read_UBYTE();
    if (pict_at_end) return KERNEL_BAD_DATA;
    if (version != 1 && version != 2) return KERNEL_UNSUPPORTED;

    const uint16_t end = version == 1 ? 0xFF : 0x00FF;
    for (;;) {
        const uint16_t opcode = get_op(version);
        if (pict_at_end || opcode == end) break;
        if (opcode >= std::size(optable)) {
            skip_unlisted(opcode);
            continue;
        }
        const optable_entry& entry = optable[opcode];
        if (entry.handler != nullptr) {
            entry.handler(version);
        } else if (entry.length >= 0) {
            skip(entry.length);
        } else if (entry.length == -1) {
            skip(read_UWORD());
        } else {
            return KERNEL_BAD_DATA;
        }
    }
    output_ppm(version);
    return KERNEL_OK;
}

// The drawing state that the opcodes carry from one picture to the next
// starts afresh in every run, so that a picture renders the same whatever
// was rendered before it.
void reset_drawing_state()
{
    foreground = kBlack;
    background = kWhite;
    op_colour = kBlack;
    current = {0, 0};
    cur_rect = {0, 0, 0, 0};
    text_font = 0;
    text_face = 0;
    text_size = 0;
    ps_text = 0;
    ps_just = 0;
    ps_flip = 0;
    ps_linespace = 0;
    ps_rotation = 0;
    ps_cent_x = 0;
    ps_cent_y = 0;
    ps_cent_set = 0;
    tfont = &default_bdffont;
    std::memset(expand_scratch, 0, sizeof expand_scratch);
}

// Word 5 names the stream while the run lasts; this host's stream pointers do
// not fit a word, so it holds their low bits (never 0), and the module keeps
// the stream itself.
uint32_t stream_word(const std::FILE* stream)
{
    const auto low = uint32_t(reinterpret_cast<uintptr_t>(stream));
    return low != 0 ? low : 1;
}

} // namespace

KERNEL_EXPORT uint32_t KQLI_ConvertPICT(void* block, const char* name)
{
    if (!block_fits(block, kBlockSize)) return KERNEL_BAD_DATA;
    std::FILE* stream = name != nullptr ? std::fopen(name, "rb") : nullptr;
    set_block_word(block, kStreamWord, stream != nullptr ? stream_word(stream) : 0);
    if (stream == nullptr) return KERNEL_CANNOT_OPEN;
    auto* list = static_cast<uint8_t*>(KQSUP_GetMemList());
    set_block_word(block, kMemListWord, shared_address(list));
    if (list == nullptr) {
        std::fclose(stream);
        set_block_word(block, kStreamWord, 0);
        return KERNEL_NO_MEMORY;
    }

    pict_retval = KERNEL_OK;
    recognize_comment = 1;
    pict_KQObjectHandle = block;
    align = kFileHeader;
    pict_stream = stream;
    pict_memlist = list;
    pict_at_end = false;
    reset_drawing_state();

    std::fseek(stream, kFileHeader, SEEK_CUR);
    uint32_t result = interpret_pict();
    if (result == KERNEL_OK && pict_retval != KERNEL_OK) result = pict_retval;

    KQSUP_FreeMemList(list);
    pict_memlist = nullptr;
    red = green = blue = nullptr;
    set_block_word(block, kMemListWord, 0);
    std::fclose(stream);
    pict_stream = nullptr;
    set_block_word(block, kStreamWord, 0);
    return result;
}

namespace {

// The file name in word 3, when a NUL ends it inside the memory it lies in.
const char* file_name(const void* block)
{
    const std::span<const uint8_t> text = shared_source(block_word(block, kNameWord));
    if (text.empty() || std::memchr(text.data(), 0, text.size()) == nullptr) return nullptr;
    return reinterpret_cast<const char*>(text.data());
}

// The run: its result in the error word, then the record it made and that
// record's pixels flushed.
uint32_t render(void* block)
{
    set_block_error(block, kBlockSize, KQLI_ConvertPICT(block, file_name(block)));
    const picture_record* record = picture_at(block_word(block, kRecordWord));
    if (record != nullptr) {
        const uint32_t pixels = picture_pixels(record);
        const uint8_t* buffer = pixels != 0 ? shared_bytes(pixels, picture_pixels_length(record)) : nullptr;
        if (buffer != nullptr) PPCCacheFlush(buffer, picture_pixels_length(record));
        PPCCacheFlush(record, PICTURE_RECORD_SIZE);
    }
    return 1;
}

} // namespace

KERNEL_EXPORT uint32_t Function(void* block) { return kernel_entry(block, kBlockSize, render); }
