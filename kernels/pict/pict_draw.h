// Pen drawing: lines (0x20 to 0x23), framed and painted rectangles (0x30,
// 0x31, 0x38, 0x39) and painted polygons (0x71). Every cell goes through the
// pen: its pattern cell, black or white by the picture position, combined
// with what the planes hold through the pen's transfer routine.
//
// A pen stamped at (x, y) covers the 16-bit coordinates x to x + width - 1
// and y to y + height - 1, counted modulo 65536, so a pen that lies partly
// left of or above 0 keeps the part that reaches the picture. Drawing lands
// only where the clip rectangle and the frame overlap (the drawable area).
//
// Line and outline walks are Bresenham walks whose positions are a formula
// of the step number, so a walk visits only the steps whose pen the
// drawable area can see, and a long line or a huge polygon over a small
// frame costs what the frame shows. Stamps the area cannot see would change
// nothing; this also ends every line at the frame's right and bottom edges.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kernels/pict/pict_pixmap.h"
#include "kernels/pict/pict_read.h"
#include "kernels/pict/pict_state.h"
#include "kernels/pict/pict_transfer.h"

namespace {

constexpr int64_t kCoordinates = 65536;

// --- where a pen can land --------------------------------------------------------

// A closed range of whole numbers; empty when last < first.
struct span {
    int64_t first, last;
};

// The clip rectangle inside the frame, half-open, empty when either side is.
struct drawable {
    int64_t left, top, right, bottom;
};

drawable drawable_area()
{
    Rect r;
    rectinter(clip_rect, picFrame, r);
    return {r.left, r.top, r.right, r.bottom};
}

// The coordinates at which a pen of extent `size` covers part of [low, high):
// one range for each copy of that area 65536 apart that a pen position can
// meet, ascending, ranges that touch merged, each cut to `positions`, the
// coordinates the pen can take.
struct pen_reach {
    span spans[3];
    int count;
    int64_t first() const { return spans[0].first; }
    int64_t last() const { return spans[count - 1].last; }
};

// Line and polygon points are signed 16-bit numbers, and so is every
// position their walks go through.
constexpr span kSigned16 = {-32768, 32767};
constexpr span kAnyPosition = {-3 * kCoordinates, 3 * kCoordinates};

pen_reach reach_of(int64_t low, int64_t high, int64_t size, const span& positions = kAnyPosition)
{
    pen_reach reach{{}, 0};
    if (size <= 0 || high <= low) return reach;
    for (const int64_t copy : {kCoordinates, int64_t(0), -kCoordinates}) {
        const span s = {std::max(low - size + 1 - copy, positions.first), std::min(high - 1 - copy, positions.last)};
        if (s.first > s.last) continue;
        if (reach.count > 0 && s.first <= reach.spans[reach.count - 1].last + 1) {
            reach.spans[reach.count - 1].last = std::max(reach.spans[reach.count - 1].last, s.last);
        } else {
            reach.spans[reach.count++] = s;
        }
    }
    return reach;
}

// --- painting -----------------------------------------------------------------------

// Paints the cells of [left, right) x [top, bottom), which lie inside the
// frame. Copying needs only the pattern; other modes read the planes.
void paint_pen_cells(int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    for (int64_t y = top; y < bottom; ++y) {
        const uint32_t row = uint32_t(y - picFrame.top) * rowlen - uint32_t(picFrame.left);
        const uint8_t* pattern = pen_pat + (y & 7) * 8;
        for (int64_t x = left; x < right; ++x) {
            const uint32_t i = row + uint32_t(x);
            Colour d;
            if (pen_trf == srcCopy) {
                d = pattern[x & 7] != 0 ? foreground : background;
            } else {
                d = {red[i], green[i], blue[i]};
                pen_trf(pattern[x & 7] != 0 ? kBlack : kWhite, d);
            }
            red[i] = d.red;
            green[i] = d.green;
            blue[i] = d.blue;
        }
    }
}

// Paints every cell of a rectangle that lies inside the frame; the pattern
// is anchored to the picture's coordinates, not to the rectangle.
void draw_pen_rect(const Rect& rect)
{
    Rect inside;
    rectinter(rect, picFrame, inside);
    if (inside.right > inside.left && inside.bottom > inside.top)
        paint_pen_cells(inside.left, inside.top, inside.right, inside.bottom);
}

// A pen of width x height at (x, y), in as many pieces as its wrapping
// round 65536 makes, each cut to the drawable area.
void draw_pen_sized(int64_t x, int64_t y, int64_t width, int64_t height)
{
    const drawable area = drawable_area();
    for (const int64_t cx : {-kCoordinates, int64_t(0), kCoordinates}) {
        const int64_t left = std::max(x + cx, area.left), right = std::min(x + cx + width, area.right);
        if (left >= right) continue;
        for (const int64_t cy : {-kCoordinates, int64_t(0), kCoordinates}) {
            const int64_t top = std::max(y + cy, area.top), bottom = std::min(y + cy + height, area.bottom);
            if (top < bottom) paint_pen_cells(left, top, right, bottom);
        }
    }
}

// The pen at (x, y).
void draw_pen(int64_t x, int64_t y) { draw_pen_sized(x, y, pen_width, pen_height); }

// --- walks ------------------------------------------------------------------------------

// How far a coordinate has moved after t steps: floor((p t + q) / r), with
// p, q >= 0 and r > 0, so it never falls as t grows.
struct step_count {
    int64_t p, q, r;

    int64_t at(int64_t t) const { return r == 1 ? p * t + q : (p * t + q) / r; }

    // The first t in [first, last] at which the count reaches `value`, or
    // last + 1: p t + q >= value x r, solved for t.
    int64_t first_reaching(int64_t first, int64_t last, int64_t value) const
    {
        if (p == 0) return at(first) >= value ? first : last + 1;
        const int64_t need = value * r - q;
        const int64_t t = need <= 0 ? -(-need / p) : (need + p - 1) / p;
        return std::clamp(t, first, last + 1);
    }
};

constexpr step_count kOneEach = {1, 0, 1};

// The t in [first, last] at which the coordinate start + sign x steps(t)
// lies in `s`: an interval, since the coordinate only moves one way.
span steps_within(const step_count& steps, int64_t first, int64_t last, int64_t start, int64_t sign, const span& s)
{
    if (first > last) return {first, first - 1};
    // A range the coordinate never comes near is passed over at once.
    const int64_t a = start + sign * steps.at(first), b = start + sign * steps.at(last);
    if (std::max(a, b) < s.first || std::min(a, b) > s.last) return {first, first - 1};
    const int64_t low = sign > 0 ? s.first - start : start - s.last;
    const int64_t high = sign > 0 ? s.last - start : start - s.first;
    return {steps.first_reaching(first, last, low), steps.first_reaching(first, last, high + 1) - 1};
}

// A walk of pen positions t = first ... last: the leading coordinate moves
// one step each time, the other as `follow` counts.
struct pen_walk {
    int64_t x0, y0, sx, sy;
    bool x_leads;
    step_count follow;
    int64_t first, last;

    const step_count& x_steps() const { return x_leads ? kOneEach : follow; }
    const step_count& y_steps() const { return x_leads ? follow : kOneEach; }
};

// Stamps the pen at every position of the walk that the drawable area can
// see (the reaches of its width and height), each once.
void stamp_walk(const pen_walk& w, const pen_reach& rx, const pen_reach& ry)
{
    for (int i = 0; i < rx.count; ++i) {
        const span tx = steps_within(w.x_steps(), w.first, w.last, w.x0, w.sx, rx.spans[i]);
        for (int j = 0; j < ry.count && tx.first <= tx.last; ++j) {
            const span ty = steps_within(w.y_steps(), tx.first, tx.last, w.y0, w.sy, ry.spans[j]);
            for (int64_t t = ty.first; t <= ty.last; ++t)
                draw_pen(w.x0 + w.sx * w.x_steps().at(t), w.y0 + w.sy * w.y_steps().at(t));
        }
    }
}

// The pen stamped at start, start + step, ... while the position is at most
// `last`, at the positions that meet the reach; `stamp` takes the position.
template <typename Stamp>
void stamp_steps(int64_t start, int64_t step, int64_t last, const pen_reach& reach, const Stamp& stamp)
{
    if (last < start) return;
    const int64_t count = (last - start) / step + 1;
    const step_count steps = {step, 0, 1};
    for (int i = 0; i < reach.count; ++i) {
        const span at = steps_within(steps, 0, count - 1, start, 1, reach.spans[i]);
        for (int64_t k = at.first; k <= at.last; ++k) stamp(start + k * step);
    }
}

// The reaches of the pen over the drawable area, for walks between signed
// 16-bit points.
struct walk_reach {
    pen_reach x, y;
};

walk_reach reach_of_walks()
{
    const drawable area = drawable_area();
    return {reach_of(area.left, area.right, pen_width, kSigned16), reach_of(area.top, area.bottom, pen_height, kSigned16)};
}

// The pen along a line, both end points drawn: the midpoint walk that steps
// the slower coordinate when the error term is not negative.
void scan_line(int16_t x1, int16_t y1, int16_t x2, int16_t y2)
{
    if (pen_width == 0 && pen_height == 0) return;
    const int64_t sx = x2 < x1 ? -1 : 1, sy = y2 < y1 ? -1 : 1;
    const int64_t a = std::abs(int64_t(x2) - x1), b = std::abs(int64_t(y2) - y1);
    const walk_reach reach = reach_of_walks();
    if (b < a) {
        stamp_walk({x1, y1, sx, sy, true, {2 * b, a, 2 * a}, 0, a}, reach.x, reach.y);
    } else {
        stamp_walk({x1, y1, sx, sy, false, {2 * a, b, std::max<int64_t>(2 * b, 1)}, 0, b}, reach.x, reach.y);
    }
}

// --- lines -------------------------------------------------------------------------------

int16_t as_signed(uint16_t v) { return int16_t(v); }

void line_between(const Point& from, const Point& to)
{
    scan_line(as_signed(from.x), as_signed(from.y), as_signed(to.x), as_signed(to.y));
}

Point moved(const Point& p, const Point& by) { return {uint16_t(p.x + by.x), uint16_t(p.y + by.y)}; }

void Line(uint16_t)
{
    Point from, to;
    read_point(from);
    read_point(to);
    current = to;
    line_between(from, to);
}

void LineFrom(uint16_t)
{
    Point to;
    read_point(to);
    line_between(current, to);
    current = to;
}

void ShortLine(uint16_t)
{
    Point from, by;
    read_point(from);
    read_short_point(by);
    current = moved(from, by);
    line_between(from, current);
}

void ShortLineFrom(uint16_t)
{
    Point by;
    read_short_point(by);
    const Point to = moved(current, by);
    line_between(current, to);
    current = to;
}

// --- rectangles ----------------------------------------------------------------------------

void do_paintRect(const Rect& rect)
{
    Rect clipped;
    rectinter(rect, clip_rect, clipped);
    draw_pen_rect(clipped);
}

// The pen stepped by its own size along the top and bottom, then down the
// left and right sides.
void do_frameRect(const Rect& rect)
{
    if (pen_width == 0 || pen_height == 0) return;
    const int64_t w = pen_width, h = pen_height;
    const drawable area = drawable_area();
    stamp_steps(rect.left, w, int64_t(rect.right) - w, reach_of(area.left, area.right, w), [&](int64_t x) {
        draw_pen(x, rect.top);
        draw_pen(x, int64_t(rect.bottom) - h);
    });
    stamp_steps(rect.top, h, int64_t(rect.bottom) - h, reach_of(area.top, area.bottom, h), [&](int64_t y) {
        draw_pen(rect.left, y);
        draw_pen(int64_t(rect.right) - w, y);
    });
}

void frameRect(uint16_t)
{
    read_rect(cur_rect);
    do_frameRect(cur_rect);
}

void paintRect(uint16_t)
{
    read_rect(cur_rect);
    do_paintRect(cur_rect);
}

void frameSameRect(uint16_t) { do_frameRect(cur_rect); }
void paintSameRect(uint16_t) { do_paintRect(cur_rect); }

// --- polygons --------------------------------------------------------------------------------
//
// The outline is traced with the pen, and every row it crosses gets a
// crossing point: an edge gives one on each row after its start, down to
// its end. Where the outline turns back (a peak or a valley) the last
// crossing is taken back, so that the turning row is not left with an
// unpaired crossing. The crossings are sorted by row, then column, and each
// row is filled from the first to the second, the third to the fourth, ...
//
// Only rows the drawable area can see keep their crossings. On such a row,
// the crossings left of every pen position it can see only matter by their
// count's parity, and those right of it only by being there, so they are
// counted per row rather than kept: one stands for the odd count on the
// left, one for any on the right. A crossing taken back is taken back from
// wherever it went.

struct poly_point {
    int32_t x, y;
};

// Sorts crossing points 0 to last by row, then by column.
void poly_sort(int64_t last, poly_point* points)
{
    if (last < 1) return;
    std::sort(points, points + last + 1,
              [](const poly_point& a, const poly_point& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
}

// Working memory of one polygon, straight from the run-time and freed when
// the polygon is done. A refusal is pending error 3.
void* polygon_alloc(checked_u64 size)
{
    void* memory = size && *size <= 0xFFFFFFFFu ? PPCAllocVec(uint32_t(*size), KERNEL_MEMORY_FLAGS) : nullptr;
    if (memory == nullptr) kq_seterrcode(KERNEL_NO_MEMORY);
    return memory;
}

struct crossings {
    pen_reach rx, ry;
    int64_t rows;              // rows of the reach, in the order of its spans
    poly_point* kept;          // the crossings kept one by one; the list grows as needed
    uint64_t kept_count, capacity;
    bool refused;              // a longer list was refused: the polygon is not drawn
    int32_t* left_runs;        // per row, changes of the count left of the reach
    int32_t* right_runs;       // the same right of it
    uint64_t stored;           // every crossing stored and not taken back
    enum where : uint8_t { nowhere, in_list, on_left, on_right } last_where;
    int64_t last_row;
};

// The row's index among the reach's rows, or -1.
int64_t row_index(const crossings& c, int64_t y)
{
    int64_t before = 0;
    for (int i = 0; i < c.ry.count; ++i) {
        const span& s = c.ry.spans[i];
        if (y >= s.first && y <= s.last) return before + (y - s.first);
        before += s.last - s.first + 1;
    }
    return -1;
}

// Adds `change` to the counts of rows first ... last (indices).
void count_rows(int32_t* runs, int64_t first, int64_t last, int32_t change)
{
    runs[first] += change;
    runs[last + 1] -= change;
}

crossings::where side_of(const crossings& c, int64_t x)
{
    if (x < c.rx.first()) return crossings::on_left;
    if (x > c.rx.last()) return crossings::on_right;
    return crossings::in_list;
}

void keep_crossing(crossings& c, int64_t x, int64_t y)
{
    if (c.refused) return;
    if (c.kept_count == c.capacity) {
        const uint64_t capacity = std::max<uint64_t>(2 * c.capacity, 256);
        auto* longer = static_cast<poly_point*>(polygon_alloc(checked_size(capacity, sizeof(poly_point))));
        if (longer == nullptr) {
            c.refused = true;
            return;
        }
        if (c.kept != nullptr) {
            std::memcpy(longer, c.kept, c.kept_count * sizeof(poly_point));
            PPCFreeVec(c.kept);
        }
        c.kept = longer;
        c.capacity = capacity;
    }
    c.kept[c.kept_count++] = {int32_t(x), int32_t(y)};
}

void store_crossing(crossings& c, int64_t x, int64_t y)
{
    ++c.stored;
    const int64_t row = row_index(c, y);
    c.last_row = row;
    if (row < 0) {
        c.last_where = crossings::nowhere;
        return;
    }
    c.last_where = side_of(c, x);
    if (c.last_where == crossings::in_list) {
        keep_crossing(c, x, y);
    } else {
        count_rows(c.last_where == crossings::on_left ? c.left_runs : c.right_runs, row, row, 1);
    }
}

// Takes back the crossing stored last.
void take_back_crossing(crossings& c)
{
    if (c.stored == 0) return;
    --c.stored;
    switch (c.last_where) {
    case crossings::in_list:
        if (c.kept_count > 0) --c.kept_count;
        break;
    case crossings::on_left: count_rows(c.left_runs, c.last_row, c.last_row, -1); break;
    case crossings::on_right: count_rows(c.right_runs, c.last_row, c.last_row, -1); break;
    case crossings::nowhere: break;
    }
    c.last_where = crossings::nowhere;
}

// The crossings of an edge that is not horizontal: crossing k (1 to ady) on
// row y0 + sy k, at x0 + sx ceil(k adx / ady) when x leads (the first
// position on the new row), at x0 + sx floor(k adx / ady) otherwise.
void store_edge_crossings(crossings& c, int64_t x0, int64_t y0, int64_t sx, int64_t sy, int64_t adx, int64_t ady)
{
    // ceil(k adx / ady) is floor((k adx + ady - 1) / ady).
    const step_count x_steps = adx >= ady ? step_count{adx, ady - 1, ady} : step_count{adx, 0, ady};
    const span middle = {c.rx.first(), c.rx.last()};
    // Rows in the order of k, so that the last crossing kept is the edge's last.
    for (int n = 0; n < c.ry.count; ++n) {
        const int i = sy > 0 ? n : c.ry.count - 1 - n;
        const span ks = steps_within(kOneEach, 1, ady, y0, sy, c.ry.spans[i]);
        if (ks.first > ks.last) continue;
        const int64_t row_of_first = row_index(c, y0 + sy * ks.first);
        const auto count_side = [&](int64_t from, int64_t to, crossings::where side) {
            if (from > to) return;
            const int64_t a = row_of_first + sy * (from - ks.first), b = row_of_first + sy * (to - ks.first);
            count_rows(side == crossings::on_left ? c.left_runs : c.right_runs, std::min(a, b), std::max(a, b), 1);
        };
        // x only moves one way: the crossings before `listed` lie on the
        // side the edge comes from, those from `beyond` on lie on the side it
        // goes to, and any between them are kept.
        const int64_t low = sx > 0 ? middle.first - x0 : x0 - middle.last;
        const int64_t high = sx > 0 ? middle.last - x0 : x0 - middle.first;
        const int64_t listed = x_steps.first_reaching(ks.first, ks.last, low);
        const int64_t beyond = std::max(listed, x_steps.first_reaching(ks.first, ks.last, high + 1));
        count_side(ks.first, listed - 1, sx > 0 ? crossings::on_left : crossings::on_right);
        for (int64_t k = listed; k < beyond; ++k) keep_crossing(c, x0 + sx * x_steps.at(k), y0 + sy * k);
        count_side(beyond, ks.last, sx > 0 ? crossings::on_right : crossings::on_left);
    }
    c.stored += uint64_t(ady);
    const int64_t x1 = x0 + sx * adx, y1 = y0 + sy * ady;
    c.last_row = row_index(c, y1);
    c.last_where = c.last_row < 0 ? crossings::nowhere : side_of(c, x1);
}

struct poly_edge {
    int64_t x0, y0, sx, sy, adx, ady;
};

// Edge e of the outline: from point e to point e + 1; a zero difference
// counts as a step of +1.
poly_edge edge_of(const poly_point* points, uint32_t e)
{
    const int64_t x0 = points[e].x, y0 = points[e].y;
    const int64_t dx = int64_t(points[e + 1].x) - x0, dy = int64_t(points[e + 1].y) - y0;
    return {x0, y0, dx < 0 ? -1 : 1, dy < 0 ? -1 : 1, std::abs(dx), std::abs(dy)};
}

// The crossings of the outline of points 0 ... n (point n closes it).
void trace_crossings(uint32_t n, const poly_point* points, crossings& c)
{
    const auto sign = [](int64_t v) { return int64_t(v > 0) - int64_t(v < 0); };
    const int64_t first_dir = sign(int64_t(points[1].y) - points[0].y);
    int64_t dir = first_dir;
    if (points[1].y == points[0].y) store_crossing(c, points[0].x, points[0].y);
    int64_t last_sy = 1;
    for (uint32_t e = 0; e < n; ++e) {
        const poly_edge edge = edge_of(points, e);
        last_sy = edge.sy;
        if (edge.ady == 0) continue;
        if (dir != edge.sy) {
            dir = edge.sy;
            take_back_crossing(c);
        }
        store_edge_crossings(c, edge.x0, edge.y0, edge.sx, edge.sy, edge.adx, edge.ady);
    }
    if (last_sy + first_dir == 0) take_back_crossing(c);
}

// The pen along every edge, the edge's start left out (the edge before
// ends there).
void stamp_outline(uint32_t n, const poly_point* points, const pen_reach& rx, const pen_reach& ry)
{
    for (uint32_t e = 0; e < n; ++e) {
        const poly_edge d = edge_of(points, e);
        if (d.adx >= d.ady && d.adx > 0) stamp_walk({d.x0, d.y0, d.sx, d.sy, true, {d.ady, 0, d.adx}, 1, d.adx}, rx, ry);
        if (d.ady > d.adx) stamp_walk({d.x0, d.y0, d.sx, d.sy, false, {d.adx, 0, d.ady}, 1, d.ady}, rx, ry);
    }
}

// Fills row y from x = from to x = to with the pen, where the area sees it.
// Stamps of a pen one cell wide tile the run once: one stamp as wide as the
// run does the same.
void fill_run(const pen_reach& rx, int64_t from, int64_t to, int64_t y)
{
    for (int i = 0; i < rx.count; ++i) {
        const int64_t first = std::max(from, rx.spans[i].first), last = std::min(to, rx.spans[i].last);
        if (first > last) continue;
        if (pen_width == 1) {
            draw_pen_sized(first, y, last - first + 1, pen_height);
            continue;
        }
        for (int64_t x = first; x <= last; ++x) draw_pen(x, y);
    }
}

// Traces and fills the polygon of points 0 ... n - 1; slot n is free for
// the copy of the first point that closes it. Every stamp on a cell applies
// the same rule to it, so the order of outline and fill does not matter;
// the crossings are gathered first, so that a polygon whose list is refused
// draws nothing.
void scan_poly(uint32_t n, poly_point* points)
{
    if (n == 0) return;
    points[n] = points[0];
    const walk_reach reach = reach_of_walks();
    crossings c{};
    c.rx = reach.x;
    c.ry = reach.y;
    if (c.rx.count == 0 || c.ry.count == 0) return;
    for (int i = 0; i < c.ry.count; ++i) c.rows += c.ry.spans[i].last - c.ry.spans[i].first + 1;
    auto* runs = static_cast<int32_t*>(polygon_alloc(checked_size(uint64_t(c.rows) + 1, 2 * sizeof(int32_t))));
    if (runs == nullptr) return;
    c.left_runs = runs;
    c.right_runs = runs + c.rows + 1;
    trace_crossings(n, points, c);

    // One crossing for an odd count on the left of a row, one for any on
    // its right, beyond every pen position the row can show.
    int32_t left = 0, right = 0;
    int64_t row = 0;
    for (int i = 0; i < c.ry.count; ++i)
        for (int64_t y = c.ry.spans[i].first; y <= c.ry.spans[i].last; ++y, ++row) {
            left += c.left_runs[row];
            right += c.right_runs[row];
            if (left % 2 != 0) keep_crossing(c, c.rx.first() - 1, y);
            if (right > 0) keep_crossing(c, c.rx.last() + 1, y);
        }

    if (!c.refused) {
        stamp_outline(n, points, c.rx, c.ry);
        const int64_t last = int64_t(c.kept_count) - 1;
        poly_sort(last, c.kept);
        bool filled = false;
        for (int64_t i = 0; i < last; ++i) {
            const poly_point& a = c.kept[i];
            const poly_point& b = c.kept[i + 1];
            if (b.y == a.y && !filled) {
                fill_run(c.rx, a.x, b.x, a.y);
                filled = true;
            } else {
                filled = false;
            }
        }
    }
    if (c.kept != nullptr) PPCFreeVec(c.kept);
    PPCFreeVec(runs);
}

// The size word counts the whole polygon: itself, the bounding rectangle
// and 4 bytes a point. Every point is read whatever the drawing does; bytes
// the size holds beyond whole points are passed over.
void paintPoly(uint16_t)
{
    const uint16_t size = read_UWORD();
    if (size < 10) {
        skip(int64_t(size) - 2);
        return;
    }
    Rect bounds;
    read_rect(bounds);
    const uint32_t n = (size - 10u) >> 2;
    const uint32_t rest = size - 10u - 4 * n;
    if (n == 0) {
        skip(rest);
        return;
    }
    auto* points = static_cast<poly_point*>(polygon_alloc(checked_size(uint64_t(n) + 1, sizeof(poly_point))));
    if (points == nullptr) {
        skip(int64_t(4) * n + rest);
        return;
    }
    for (uint32_t i = 0; i < n; ++i) {
        Point p;
        read_point(p);
        points[i] = {as_signed(p.x), as_signed(p.y)};
    }
    skip(rest);
    if (!pict_at_end) scan_poly(n, points);
    PPCFreeVec(points);
}

} // namespace
