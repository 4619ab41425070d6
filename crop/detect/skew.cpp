#include "crop/detect/skew.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace crop {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Points of ink looked at, at most: enough for every line of a page.
constexpr size_t kMostPoints = 250000;
// A measure is trusted when the best angle's rows are this much sharper
// than the average angle's.
constexpr double kLeastContrast = 1.15;

struct Point {
    float x, y;
};

// The darkest of a pixel's channels.
uint8_t Darkest(const PixelView &view, const uint8_t *row, int x) {
    if (view.channels == 1)
        return row[x];
    const uint8_t *p = row + ptrdiff_t(x) * view.channels;
    return std::min({p[0], p[1], p[2]});
}

// The dark pixels of the picture at an edge of a mark across the lines
// of print (a letter's top and foot, a figure's or a rule's edges: a
// block's inside adds nothing to tell the angle by), every `step`th of
// each row and column, from its middle: the print, not the paper or the
// scanner's edge. With `columns`, for print whose lines run down the
// page (a page turned sideways), the left and right edges, each point
// given as (y, x), so that the lines lie as rows.
std::vector<Point> InkPoints(const PixelView &view, bool columns) {
    // The paper's level: the commonest darkest-channel value.
    std::vector<size_t> histogram(256, 0);
    for (int y = 0; y < view.height; y += 4) {
        const uint8_t *row = view.Row(y);
        for (int x = 0; x < view.width; x += 4)
            ++histogram[Darkest(view, row, x)];
    }
    const int paper = int(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
    const int ink = paper * 55 / 100;  // well below the paper: print, not grain
    // At least a pixel on each side of each one looked at.
    const int marginX = std::max(1, view.width / 20), marginY = std::max(1, view.height / 20);
    const long long area = (long long)(view.width - 2 * marginX) * (view.height - 2 * marginY);
    int step = 1;
    while (area / ((long long)step * step) > (long long)kMostPoints * 2)
        ++step;
    std::vector<Point> points;
    for (int y = marginY; y < view.height - marginY; y += step) {
        const uint8_t *row = view.Row(y), *above = view.Row(y - 1), *below = view.Row(y + 1);
        for (int x = marginX; x < view.width - marginX; x += step) {
            if (Darkest(view, row, x) >= ink || points.size() >= kMostPoints)
                continue;
            if (columns && (Darkest(view, row, x - 1) >= ink || Darkest(view, row, x + 1) >= ink))
                points.push_back({float(y), float(x)});
            else if (!columns && (Darkest(view, above, x) >= ink || Darkest(view, below, x) >= ink))
                points.push_back({float(x), float(y)});
        }
    }
    return points;
}

// How sharply the points pile up into rows when the picture is turned back
// by `degrees`: the sum of the squares of the row counts.
double Sharpness(const std::vector<Point> &points, double degrees, double height, double width,
                 std::vector<uint32_t> &rows) {
    const double a = degrees * kPi / 180, s = std::sin(a), c = std::cos(a);
    const double offset = width * std::abs(s) + 1;
    rows.assign(size_t(height + 2 * offset + 2), 0);
    for (const Point &p : points) {
        const double r = p.y * c - p.x * s + offset;
        ++rows[size_t(std::max(0.0, r))];
    }
    double sum = 0;
    for (uint32_t n : rows)
        sum += double(n) * n;
    return sum;
}

// The angle at which `points`, of a picture w x h, pile up into the
// sharpest rows; its contrast.
Skew RowsSkew(const std::vector<Point> &points, double w, double h) {
    Skew skew;
    if (points.size() < 200)
        return skew;  // nothing printed to tell by
    std::vector<uint32_t> rows;
    // Coarse over the whole range on every third point, then finer round
    // the best on them all.
    std::vector<Point> some;
    some.reserve(points.size() / 3 + 1);
    for (size_t i = 0; i < points.size(); i += 3)
        some.push_back(points[i]);
    double best = 0, bestScore = -1, total = 0;
    int tried = 0;
    for (double d = -kMostSkew; d <= kMostSkew + 1e-9; d += 0.25) {
        const double score = Sharpness(some, d, h, w, rows);
        total += score;
        ++tried;
        if (score > bestScore) {
            bestScore = score;
            best = d;
        }
    }
    const double mean = total / tried;
    const double coarse = best;
    // The contrast from the same points: the best against the average.
    const double coarseContrast = mean > 0 ? bestScore / mean : 1;
    bestScore = -1;
    for (double d = coarse - 0.3; d <= coarse + 0.3 + 1e-9; d += 0.02) {
        const double score = Sharpness(points, d, h, w, rows);
        if (score > bestScore) {
            bestScore = score;
            best = d;
        }
    }
    // Between the best angle and its neighbours, where a parabola through
    // the three peaks.
    const double below = Sharpness(points, best - 0.02, h, w, rows);
    const double above = Sharpness(points, best + 0.02, h, w, rows);
    const double bend = below - 2 * bestScore + above;
    if (bend < 0)
        best += std::clamp(0.02 * (below - above) / (2 * bend), -0.02, 0.02);
    skew.contrast = coarseContrast;
    skew.measured = skew.contrast >= kLeastContrast && std::abs(best) < kMostSkew - 0.1;
    skew.degrees = skew.measured ? best : 0;
    return skew;
}

}  // namespace

Skew MeasureSkew(const PixelView &view) {
    if (!view.Valid() || (view.channels != 1 && view.channels != 3) || view.height < 3 || view.width < 3)
        return {};
    // Lines across the page, or down it (a page turned sideways): whichever
    // piles up the sharper. Down the page, the points are mirrored about
    // the diagonal, and a turn mirrored is a turn the other way.
    const Skew across = RowsSkew(InkPoints(view, false), view.width, view.height);
    Skew down = RowsSkew(InkPoints(view, true), view.height, view.width);
    down.degrees = -down.degrees;
    return down.contrast > across.contrast ? down : across;
}

TurnedPicture TurnPicture(const PixelView &view, double degrees) {
    TurnedPicture out;
    if (!view.Valid())
        return out;
    const int channels = view.channels;
    const ptrdiff_t stride = (ptrdiff_t(view.width) * channels + 3) & ~ptrdiff_t(3);
    out.pixels.assign(size_t(stride) * size_t(view.height), 0xff);
    out.view = PixelView{out.pixels.data(), view.width, view.height, stride, channels};
    const double a = degrees * kPi / 180, c = std::cos(a), s = std::sin(a);
    const double midX = (view.width - 1) / 2.0, midY = (view.height - 1) / 2.0;
    // Positions in 1/65536 of a pixel, a half added so that truncating
    // rounds to the nearest.
    constexpr double kOne = 65536;
    const int64_t dx = std::llround(c * kOne), dy = std::llround(s * kOne);
    const int64_t limitX = int64_t(view.width) << 16, limitY = int64_t(view.height) << 16;
    for (int y = 0; y < view.height; ++y) {
        uint8_t *row = const_cast<uint8_t *>(out.view.Row(y));
        const double fromMid = y - midY;
        // Each pixel of the turned picture from the one the turn brought
        // there: turned back, clockwise as seen (rows run down).
        int64_t sx = std::llround((midX - midX * c - fromMid * s + 0.5) * kOne);
        int64_t sy = std::llround((midY - midX * s + fromMid * c + 0.5) * kOne);
        for (int x = 0; x < view.width; ++x, sx += dx, sy += dy) {
            if (sx < 0 || sy < 0 || sx >= limitX || sy >= limitY)
                continue;
            const uint8_t *from = view.Row(int(sy >> 16)) + ptrdiff_t(sx >> 16) * channels;
            uint8_t *to = row + ptrdiff_t(x) * channels;
            if (channels == 1) {
                *to = *from;
            } else {
                to[0] = from[0];
                to[1] = from[1];
                to[2] = from[2];
            }
        }
    }
    return out;
}

}  // namespace crop
