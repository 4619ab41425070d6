#include "crop/detect/marks.h"

#include "crop/detect/auto_crop.h"
#include "crop/detect/ink_mask.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace crop {
namespace {

// The least gap of paper that sets a block apart, in points, how many of
// the page's usual gaps between lines it must also be, and the most that
// may ask for.
constexpr double kLeastGap = 8.0;
constexpr double kMostGap = 20.0;
constexpr double kGapLines = 2.0;
// How large a block may be: a head or foot at most this share of the page
// (or this many points, when more), a block off a side this share of the
// page's width.
constexpr double kBlockShare = 0.12;
constexpr double kBlockPoints = 30.0;
constexpr double kSideShare = 0.2;
// A speck of dust, in points: runs of rows no taller, with no more ink
// than a few specks, are paper on a scan.
constexpr double kSpeck = 3.0;
// Of the pages of a parity with content, the share that must hold a block
// at the same place, and the fewest pages.
constexpr double kRepeatShare = 0.5;
constexpr int kRepeatLeast = 3;

// Which lines hold ink: on a scan, a run of lines no deeper than a speck
// with no more ink than a few specks is taken for paper.
std::vector<uint8_t> InkLines(const std::vector<int> &counts, bool scan, double pixelsPerPoint) {
    std::vector<uint8_t> ink(counts.size());
    for (size_t i = 0; i < counts.size(); ++i)
        ink[i] = counts[i] > 0;
    if (!scan)
        return ink;
    const double speck = kSpeck * pixelsPerPoint;
    for (size_t i = 0; i < ink.size();) {
        if (!ink[i]) {
            ++i;
            continue;
        }
        size_t end = i;
        long sum = 0;
        while (end < ink.size() && ink[end])
            sum += counts[end++];
        if (double(end - i) <= speck && double(sum) <= 3 * speck * speck)
            std::fill(ink.begin() + long(i), ink.begin() + long(end), uint8_t(0));
        i = end;
    }
    return ink;
}

// The box of the ink in `r`, empty when it has none.
QRect Tight(const Mask &mask, const QRect &r, bool scan, double pixelsPerPoint) {
    const std::vector<uint8_t> rows = InkLines(Counts(mask, r, true), scan, pixelsPerPoint);
    const auto top = std::find(rows.begin(), rows.end(), 1);
    if (top == rows.end())
        return {};
    const int y0 = r.top() + int(top - rows.begin());
    const int y1 = r.top() + int(rows.rend() - std::find(rows.rbegin(), rows.rend(), 1)) - 1;
    const QRect across(QPoint(r.left(), y0), QPoint(r.right(), y1));
    const std::vector<uint8_t> columns = InkLines(Counts(mask, across, false), scan, pixelsPerPoint);
    const auto left = std::find(columns.begin(), columns.end(), 1);
    if (left == columns.end())
        return {};
    const int x0 = r.left() + int(left - columns.begin());
    const int x1 = r.left() + int(columns.rend() - std::find(columns.rbegin(), columns.rend(), 1)) - 1;
    return QRect(QPoint(x0, y0), QPoint(x1, y1));
}

// The lines from the start of `ink` (or its end, `reverse`) that a gap of
// at least `gap` lines sets apart from the rest, when they are no more
// than `most`: how many, or 0.
int SetApart(const std::vector<uint8_t> &ink, int gap, int most, bool reverse) {
    const int n = int(ink.size());
    auto at = [&](int i) { return ink[size_t(reverse ? n - 1 - i : i)] != 0; };
    int lastInk = -1, empty = 0;
    for (int i = 0; i < n && i <= most + gap; ++i) {
        if (at(i)) {
            lastInk = i;
            empty = 0;
        } else if (lastInk >= 0 && ++empty >= gap) {
            // Set apart, if ink follows: the caller finds none left when not.
            return lastInk + 1 <= most ? lastInk + 1 : 0;
        }
    }
    return 0;
}

// The median run of paper between lines of ink down `ink`.
int UsualGap(const std::vector<uint8_t> &ink) {
    std::vector<int> gaps;
    int empty = 0;
    bool seen = false;
    for (uint8_t on : ink) {
        if (on) {
            if (seen && empty > 0)
                gaps.push_back(empty);
            seen = true;
            empty = 0;
        } else {
            ++empty;
        }
    }
    if (gaps.empty())
        return 0;
    std::nth_element(gaps.begin(), gaps.begin() + long(gaps.size() / 2), gaps.end());
    return gaps[gaps.size() / 2];
}

// The parts of `r` across (columns) that gaps of at least `gap` part.
std::vector<QRect> PartsAcross(const Mask &mask, const QRect &r, int gap, bool scan, double pixelsPerPoint) {
    const std::vector<uint8_t> columns = InkLines(Counts(mask, r, false), scan, pixelsPerPoint);
    std::vector<QRect> parts;
    int start = -1, lastInk = -1;
    auto close = [&] {
        if (start < 0)
            return;
        const QRect part = Tight(mask, QRect(QPoint(r.left() + start, r.top()), QPoint(r.left() + lastInk, r.bottom())),
                                 scan, pixelsPerPoint);
        if (!part.isEmpty())
            parts.push_back(part);
    };
    for (int x = 0; x < int(columns.size()); ++x) {
        if (!columns[size_t(x)])
            continue;
        if (start >= 0 && x - lastInk - 1 >= gap) {
            close();
            start = -1;
        }
        if (start < 0)
            start = x;
        lastInk = x;
    }
    close();
    return parts;
}

CropRect Union(const CropRect &a, const CropRect &b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// The kind of mark a repeated block is, by its shape.
unsigned KindOf(const EdgeBlock &block) {
    const double w = block.box.right - block.box.left, h = block.box.bottom - block.box.top;
    if (block.edge == EdgeBlock::Left || block.edge == EdgeBlock::Right)
        return kStamps;
    if (h <= 2.5)
        return kRunningHeads;  // a rule
    if (h <= 16 && w <= 3.2 * h)
        return kPageNumbers;  // a few numerals
    if (h > kBlockPoints || w <= 2 * h)
        return kStamps;
    return kRunningHeads;
}

// Whether `b` lies where `a` does, as the same mark on another page.
bool SamePlace(const EdgeBlock &a, unsigned kind, const EdgeBlock &b) {
    if (a.edge != b.edge)
        return false;
    const double ha = a.box.bottom - a.box.top, hb = b.box.bottom - b.box.top;
    const double wa = a.box.right - a.box.left, wb = b.box.right - b.box.left;
    const double tolerance = std::max(4.0, 0.4 * std::max(ha, hb));
    const double cya = (a.box.top + a.box.bottom) / 2, cyb = (b.box.top + b.box.bottom) / 2;
    const double cxa = (a.box.left + a.box.right) / 2, cxb = (b.box.left + b.box.right) / 2;
    if (kind == kStamps) {
        const double across = std::max(4.0, 0.2 * std::max(wa, wb)), down = std::max(4.0, 0.2 * std::max(ha, hb));
        return std::fabs(cxa - cxb) <= across && std::fabs(cya - cyb) <= down && std::fabs(wa - wb) <= across &&
               std::fabs(ha - hb) <= down;
    }
    return std::fabs(cya - cyb) <= tolerance && std::max(ha, hb) <= 2.5 * std::min(ha, hb) + 2;
}

}  // namespace

bool ParseMarkKinds(std::string_view text, unsigned &kinds, std::string &error) {
    kinds = 0;
    size_t from = 0;
    while (from <= text.size()) {
        size_t end = text.find(',', from);
        if (end == std::string_view::npos)
            end = text.size();
        std::string word(text.substr(from, end - from));
        word.erase(0, word.find_first_not_of(" \t"));
        word.erase(word.find_last_not_of(" \t") + 1);
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (word == "heads" || word == "head")
            kinds |= kRunningHeads;
        else if (word == "numbers" || word == "number")
            kinds |= kPageNumbers;
        else if (word == "stamps" || word == "stamp")
            kinds |= kStamps;
        else {
            error = word.empty() ? "a kind of mark is missing; the kinds are heads, numbers and stamps"
                                 : "\"" + word + "\" is not a kind of mark; the kinds are heads, numbers and stamps";
            return false;
        }
        from = end + 1;
    }
    return true;
}

std::string MarkName(unsigned kind) {
    switch (kind) {
    case kRunningHeads:
        return "running head";
    case kPageNumbers:
        return "page number";
    case kStamps:
        return "stamp";
    default:
        return "mark";
    }
}

TakenApart TakeApart(const PixelView &view, const QRect &box, const Paper &paper, double pixelsPerPoint) {
    TakenApart result{box & QRect(0, 0, view.width, view.height), {}};
    if (!view.Valid() || result.core.isEmpty() || pixelsPerPoint <= 0)
        return result;
    const Mask mask = MaskOf(view, result.core, paper);
    const bool scan = !paper.pureWhite;
    // Between few lines the usual gap tells nothing: it is held to a gap
    // any head stands clear of the text by.
    const int gap =
        std::clamp(int(kGapLines * UsualGap(InkLines(Counts(mask, result.core, true), scan, pixelsPerPoint))),
                   int(std::ceil(kLeastGap * pixelsPerPoint)), int(std::ceil(kMostGap * pixelsPerPoint)));
    const int deep = std::max(int(kBlockPoints * pixelsPerPoint), int(kBlockShare * view.height));
    const int wide = int(kSideShare * view.width);
    QRect &core = result.core;
    const QRect whole = core;
    // Off the top and the bottom, cut across into parts.
    for (const EdgeBlock::Edge edge : {EdgeBlock::Top, EdgeBlock::Top, EdgeBlock::Bottom, EdgeBlock::Bottom}) {
        const bool top = edge == EdgeBlock::Top;
        const int lines = SetApart(InkLines(Counts(mask, core, true), scan, pixelsPerPoint), gap,
                                   std::min(deep, core.height() / 3), !top);
        if (lines == 0)
            continue;
        const QRect block = top ? QRect(core.left(), core.top(), core.width(), lines)
                                : QRect(core.left(), core.bottom() + 1 - lines, core.width(), lines);
        const QRect rest = Tight(mask,
                                 top ? QRect(QPoint(core.left(), core.top() + lines), core.bottomRight())
                                     : QRect(core.topLeft(), QPoint(core.right(), core.bottom() - lines)),
                                 scan, pixelsPerPoint);
        // What is left is the most of the content: the text block.
        if (rest.height() * 2 < whole.height())
            continue;
        for (const QRect &part : PartsAcross(mask, block, gap, scan, pixelsPerPoint))
            result.blocks.emplace_back(edge, part);
        core = rest;
    }
    // Off each side, whole.
    for (const EdgeBlock::Edge edge : {EdgeBlock::Left, EdgeBlock::Right}) {
        const bool left = edge == EdgeBlock::Left;
        const int lines = SetApart(InkLines(Counts(mask, core, false), scan, pixelsPerPoint), gap,
                                   std::min(wide, core.width() / 3), !left);
        if (lines == 0)
            continue;
        const QRect block = left ? QRect(core.left(), core.top(), lines, core.height())
                                 : QRect(core.right() + 1 - lines, core.top(), lines, core.height());
        const QRect rest = Tight(mask,
                                 left ? QRect(QPoint(core.left() + lines, core.top()), core.bottomRight())
                                      : QRect(core.topLeft(), QPoint(core.right() - lines, core.bottom())),
                                 scan, pixelsPerPoint);
        const QRect part = Tight(mask, block, scan, pixelsPerPoint);
        if (rest.width() * 2 < whole.width() || part.isEmpty())
            continue;
        result.blocks.emplace_back(edge, part);
        core = rest;
    }
    return result;
}

void FindRepeatedMarks(std::vector<PageContent> &pages) {
    for (int parity : {0, 1}) {
        std::vector<PageContent *> side;
        for (PageContent &p : pages)
            if (p.content && !p.failed && p.page % 2 == parity)
                side.push_back(&p);
        const int need = std::max(kRepeatLeast, int(std::ceil(kRepeatShare * double(side.size()))));
        if (int(side.size()) < need)
            continue;
        for (PageContent *p : side)
            for (EdgeBlock &block : p->blocks) {
                const unsigned kind = KindOf(block);
                int found = 1;
                for (const PageContent *other : side)
                    if (other != p && std::any_of(other->blocks.begin(), other->blocks.end(),
                                                  [&](const EdgeBlock &b) { return SamePlace(block, kind, b); }))
                        ++found;
                block.kind = found >= need ? kind : 0;
            }
    }
}

std::optional<CropRect> BodyOf(const PageContent &page, unsigned ignore) {
    if (!page.core)
        return page.content;
    CropRect body = *page.core;
    for (const EdgeBlock &block : page.blocks)
        if (!(block.kind & ignore))
            body = Union(body, block.box);
    return body;
}

void KeepBlocks(PageContent &page, const TakenApart &taken, double sx, double sy) {
    page.core = PointsOf(taken.core, sx, sy);
    page.blocks.clear();
    for (const auto &[edge, box] : taken.blocks)
        page.blocks.push_back({edge, PointsOf(box, sx, sy), 0});
}

}  // namespace crop
