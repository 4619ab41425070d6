// What sets each edge of a page's content.

#include "crop/detect/auto_crop.h"
#include "crop/detect/ink_mask.h"
#include "crop/detect/marks.h"

#include <algorithm>
#include <cmath>

namespace crop {
namespace {

// Shapes in points: a speck is no larger than this; a rule no thicker,
// and this many times as long; a figure larger than this both ways.
constexpr double kSpeckMost = 3.0;
constexpr double kRuleThickest = 2.5;
constexpr double kRuleRatio = 5.0;
constexpr double kFigureLeast = 36.0;
// The gap between words that still joins them into one line, in points,
// when the line is not taller.
constexpr double kWordGap = 4.0;
// Nor wider than this, however tall: a tall rule beside the text stays a rule.
constexpr double kWidestGap = 8.0;
// How near (points) an edge of a setter lies to the edge it sets.
constexpr double kSameEdge = 0.5;

// The ink joined to `seed` within the mask: rows that touch, and across
// the gaps between words (as wide as the thing is tall, from kWordGap to
// kWidestGap).
QRect Grow(const Mask &mask, QPoint seed, double sx) {
    const QRect &box = mask.box;
    int l = seed.x(), r = seed.x(), t = seed.y(), b = seed.y();
    auto rowInk = [&](int y) {
        for (int x = l; x <= r; ++x)
            if (mask.At(x, y))
                return true;
        return false;
    };
    auto columnInk = [&](int x) {
        for (int y = t; y <= b; ++y)
            if (mask.At(x, y))
                return true;
        return false;
    };
    for (bool grown = true; grown;) {
        grown = false;
        while (t > box.top() && rowInk(t - 1)) {
            --t;
            grown = true;
        }
        while (b < box.bottom() && rowInk(b + 1)) {
            ++b;
            grown = true;
        }
        const int gap = std::clamp(b - t + 1, int(std::lround(kWordGap * sx)), int(std::lround(kWidestGap * sx)));
        for (int x = l - 1, blank = 0; x >= box.left() && blank <= gap; --x) {
            if (columnInk(x)) {
                l = x;
                blank = 0;
                grown = true;
            } else {
                ++blank;
            }
        }
        for (int x = r + 1, blank = 0; x <= box.right() && blank <= gap; ++x) {
            if (columnInk(x)) {
                r = x;
                blank = 0;
                grown = true;
            } else {
                ++blank;
            }
        }
    }
    return QRect(QPoint(l, t), QPoint(r, b));
}

// Whether `r` holds lines of text one over the other rather than a
// figure: rows with next to no ink (where one line's descenders meet the
// next line's ascenders) come back again and again down it.
bool StackedLines(const Mask &mask, const QRect &r) {
    const std::vector<int> rows = CountsOf(mask, r, true);
    const int sparse = std::max(2, r.width() / 50);
    int runs = 0;
    bool inRun = false;
    for (int count : rows) {
        const bool low = count <= sparse;
        runs += low && !inRun;
        inRun = low;
    }
    return runs >= 3;
}

EdgeSetter::What ShapeOf(double w, double h) {
    if (std::max(w, h) <= kSpeckMost)
        return EdgeSetter::Speck;
    if ((h <= kRuleThickest && w >= kRuleRatio * h) || (w <= kRuleThickest && h >= kRuleRatio * w))
        return EdgeSetter::Rule;
    if (w > kFigureLeast && h > kFigureLeast)
        return EdgeSetter::Figure;
    return EdgeSetter::Line;
}

double EdgeOf(const CropRect &r, EdgeBlock::Edge edge) {
    switch (edge) {
    case EdgeBlock::Top:
        return r.top;
    case EdgeBlock::Bottom:
        return r.bottom;
    case EdgeBlock::Left:
        return r.left;
    case EdgeBlock::Right:
        return r.right;
    }
    return 0;
}

double Overlap(const CropRect &a, const CropRect &b) {
    const double w = std::min(a.right, b.right) - std::max(a.left, b.left);
    const double h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

}  // namespace

std::string SetterName(const EdgeSetter &setter) {
    switch (setter.what) {
    case EdgeSetter::Speck: {
        const double size = std::max(setter.box.right - setter.box.left, setter.box.bottom - setter.box.top);
        return "dust speck " + std::to_string(std::max(1L, std::lround(size))) + " pt";
    }
    case EdgeSetter::Rule:
        return "rule";
    case EdgeSetter::Figure:
        return "figure";
    case EdgeSetter::Text:
        return "text";
    case EdgeSetter::Mark:
        return MarkName(setter.mark);
    case EdgeSetter::Line:
        break;
    }
    return "line";
}

std::vector<EdgeSetter> FindEdgeSetters(const PixelView &view, const QRect &box, const Paper &paper, double sx,
                                        double sy) {
    std::vector<EdgeSetter> setters;
    const QRect inside = box.intersected(QRect(0, 0, view.width, view.height));
    if (!view.Valid() || inside.isEmpty() || sx <= 0 || sy <= 0)
        return setters;
    const Mask mask = MaskOf(view, inside, paper);
    for (const EdgeBlock::Edge edge : {EdgeBlock::Top, EdgeBlock::Bottom, EdgeBlock::Left, EdgeBlock::Right}) {
        // The first pixel of ink along the edge's own line.
        const bool across = edge == EdgeBlock::Top || edge == EdgeBlock::Bottom;
        const int line = edge == EdgeBlock::Top      ? inside.top()
                         : edge == EdgeBlock::Bottom ? inside.bottom()
                         : edge == EdgeBlock::Left   ? inside.left()
                                                     : inside.right();
        std::optional<QPoint> seed;
        const int from = across ? inside.left() : inside.top(), to = across ? inside.right() : inside.bottom();
        for (int i = from; i <= to && !seed; ++i) {
            const QPoint p = across ? QPoint(i, line) : QPoint(line, i);
            if (mask.At(p.x(), p.y()))
                seed = p;
        }
        if (!seed)
            continue;  // a scan's box may end in paper the detector saw through
        EdgeSetter setter;
        setter.edge = edge;
        setter.pixels = Grow(mask, *seed, sx);
        setter.box = PointsOf(setter.pixels, sx, sy);
        setter.what = ShapeOf(setter.box.right - setter.box.left, setter.box.bottom - setter.box.top);
        if (setter.what == EdgeSetter::Figure && StackedLines(mask, setter.pixels))
            setter.what = EdgeSetter::Text;
        setters.push_back(setter);
    }
    return setters;
}

void SettleSetters(PageContent &page, unsigned ignore) {
    // A setter within a mark left out sets nothing now.
    auto within = [&page](const EdgeSetter &s, unsigned kinds) -> unsigned {
        const double area = (s.box.right - s.box.left) * (s.box.bottom - s.box.top);
        for (const EdgeBlock &block : page.blocks)
            if ((block.kind & kinds) && area > 0 && Overlap(s.box, block.box) >= 0.5 * area)
                return block.kind;
        return 0;
    };
    std::vector<EdgeSetter> settled;
    if (page.content) {
        for (const EdgeBlock::Edge edge : {EdgeBlock::Top, EdgeBlock::Bottom, EdgeBlock::Left, EdgeBlock::Right}) {
            const double at = EdgeOf(*page.content, edge);
            auto same = [&](const CropRect &r) { return std::fabs(EdgeOf(r, edge) - at) <= kSameEdge; };
            auto of = [&](const std::vector<EdgeSetter> &list) -> const EdgeSetter * {
                for (const EdgeSetter &s : list)
                    if (s.edge == edge && same(s.box) && !within(s, ignore))
                        return &s;
                return nullptr;
            };
            const EdgeSetter *found = of(page.setters);
            if (!found && page.core && same(*page.core))
                found = of(page.coreSetters);
            if (found) {
                settled.push_back(*found);
                continue;
            }
            // A block kept in the body sets it: the block as a whole.
            for (const EdgeBlock &block : page.blocks)
                if (same(block.box) && !(block.kind & ignore)) {
                    EdgeSetter s;
                    s.edge = edge;
                    s.box = block.box;
                    s.what = ShapeOf(block.box.right - block.box.left, block.box.bottom - block.box.top);
                    settled.push_back(s);
                    break;
                }
        }
    }
    // Within a repeated mark: that mark.
    for (EdgeSetter &s : settled)
        if (const unsigned kind = within(s, kAllMarks)) {
            s.what = EdgeSetter::Mark;
            s.mark = kind;
        }
    page.setters = std::move(settled);
    page.coreSetters.clear();
}

}  // namespace crop
