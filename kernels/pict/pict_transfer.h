// The transfer modes: how a source colour S combines with the colour D that
// the planes hold. The pixel images, the pen and the text all draw through
// them; the foreground, background and op colours are read when a routine
// runs.
#pragma once

#include <algorithm>

#include "kernels/pict/pict_state.h"

namespace {

bool is_black(const Colour& c) { return c.red == 0 && c.green == 0 && c.blue == 0; }
bool is_white(const Colour& c) { return c.red == 0xFFFF && c.green == 0xFFFF && c.blue == 0xFFFF; }

// Applies one rule to each channel; op is the op colour's channel.
template <typename Rule>
void each_channel(const Colour& s, Colour& d, Rule rule)
{
    d.red = uint16_t(rule(s.red, d.red, op_colour.red));
    d.green = uint16_t(rule(s.green, d.green, op_colour.green));
    d.blue = uint16_t(rule(s.blue, d.blue, op_colour.blue));
}

void srcCopy(const Colour& s, Colour& d) { d = is_black(s) ? foreground : background; }

void srcOr(const Colour& s, Colour& d)
{
    if (is_black(s)) d = foreground;
}

void srcXor(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t) { return dc ^ (~sc & 0xFFFF); });
}

void srcBic(const Colour& s, Colour& d)
{
    if (is_black(s)) d = background;
}

void notSrcCopy(const Colour& s, Colour& d)
{
    if (is_white(s)) {
        d = foreground;
    } else if (is_black(s)) {
        d = background;
    }
}

void notSrcOr(const Colour& s, Colour& d)
{
    if (is_white(s)) d = foreground;
}

void notSrcXor(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t) { return dc ^ sc; });
}

void notSrcBic(const Colour& s, Colour& d)
{
    if (is_white(s)) d = background;
}

// Weighted by the op colour: w / 65536 of the source, the rest of the
// destination, each part truncated.
void blend(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t w) {
        return uint32_t((uint64_t(dc) * (65536 - w)) >> 16) + uint32_t((uint64_t(sc) * w) >> 16);
    });
}

void addPin(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t pin) { return std::min(sc + dc, pin); });
}

void addOver(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t) { return (sc + dc) & 0xFFFF; });
}

void subPin(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t pin) {
        return uint32_t(std::max(int32_t(dc) - int32_t(sc), int32_t(pin)));
    });
}

void transparent(const Colour& s, Colour& d)
{
    if (s.red != background.red || s.green != background.green || s.blue != background.blue) d = s;
}

void adMax(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t) { return std::max(sc, dc); });
}

void subOver(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t) { return (dc - sc) & 0xFFFF; });
}

void adMin(const Colour& s, Colour& d)
{
    each_channel(s, d, [](uint32_t sc, uint32_t dc, uint32_t) { return std::min(sc, dc); });
}

// The routine of a QuickDraw transfer-mode number; unknown modes copy.
TransferRoutine transfer(uint16_t mode)
{
    switch (mode) {
    case 0: return srcCopy;
    case 1: return srcOr;
    case 2: return srcXor;
    case 3: return srcBic;
    case 4: return notSrcCopy;
    case 5: return notSrcOr;
    case 6: return notSrcXor;
    case 7: return notSrcBic;
    case 32: return blend;
    case 33: return addPin;
    case 34: return addOver;
    case 35: return subPin;
    case 36: return transparent;
    case 37: return adMax;
    case 38: return subOver;
    case 39: return adMin;
    default: return srcCopy;
    }
}

} // namespace
