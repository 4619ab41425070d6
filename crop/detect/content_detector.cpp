#include "crop/detect/content_detector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <optional>
#include <vector>

namespace crop {
namespace {

// How large a speck of dust may be, and how far from other content it
// must lie, in points.
constexpr double kSpeckPoints = 3.0;
constexpr double kIsolationPoints = 8.0;
// A few specks close together are dust too, as long as they stay within
// this size or are no more than this many; a longer run of small marks (a
// dotted line, a dashed rule, a faint stroke broken into grains) is print.
constexpr double kClusterPoints = 16.0;
constexpr int kClusterSpecks = 6;
// A band along an edge: at most this share of the page across, each of
// its lines dark over this share of the edge at its core, and over the
// lower share where it fades.
constexpr double kBandDepth = 0.08;
constexpr double kBandCore = 0.4;
constexpr double kBandFade = 0.2;
// How many pixels of the page's border must look like the paper before the
// page is taken to have paper at all.
constexpr double kBorderPaperShare = 0.25;
// The widest spread of grain and noise paper has, in grey levels.
constexpr int kWidestSpread = 40;

template <int C>
inline int Darkest(const uint8_t *p) {
    if constexpr (C == 1)
        return p[0];
    else
        return std::min({p[0], p[1], p[2]});
}

template <int C>
inline bool White(const uint8_t *p) {
    if constexpr (C == 1)
        return p[0] == 255;
    else
        return (p[0] & p[1] & p[2]) == 255;
}

// Whether the 8 pixels from p are all pure white, read a word at a time.
template <int C>
inline bool EightWhite(const uint8_t *p) {
    uint64_t words[C];
    std::memcpy(words, p, sizeof words);
    uint64_t all = ~uint64_t(0);
    for (int i = 0; i < C; ++i)
        all &= words[i];
    return all == ~uint64_t(0);
}

QRect Clip(const PixelView &view, const QRect &area) { return area & QRect(0, 0, view.width, view.height); }

// Union-find over component labels.
struct Components {
    std::vector<int> parent;
    int Make() {
        parent.push_back(int(parent.size()));
        return parent.back();
    }
    int Find(int a) {
        while (parent[size_t(a)] != a) {
            parent[size_t(a)] = parent[size_t(parent[size_t(a)])];
            a = parent[size_t(a)];
        }
        return a;
    }
    void Join(int a, int b) {
        a = Find(a);
        b = Find(b);
        if (a != b)
            parent[size_t(std::max(a, b))] = std::min(a, b);
    }
};

// The label of each set cell of a gw x gh grid (-1 for the others): cells
// touching at a side or corner share a component of `components`.
std::vector<int> LabelCells(const std::vector<uint8_t> &cells, int gw, int gh, Components &components) {
    std::vector<int> label(cells.size(), -1);
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            const size_t i = size_t(y) * size_t(gw) + size_t(x);
            if (!cells[i])
                continue;
            int l = -1;
            for (const auto &[dx, dy] : {std::pair{-1, 0}, std::pair{0, -1}, std::pair{-1, -1}, std::pair{1, -1}}) {
                const int nx = x + dx, ny = y + dy;
                if (nx < 0 || nx >= gw || ny < 0)
                    continue;
                const int n = label[size_t(ny) * size_t(gw) + size_t(nx)];
                if (n < 0)
                    continue;
                if (l < 0)
                    l = n;
                else
                    components.Join(l, n);
            }
            label[i] = l < 0 ? components.Make() : l;
        }
    return label;
}

// Marks every cell within `radius` cells of a marked one, along one axis.
void Dilate(std::vector<uint8_t> &cells, int w, int h, int radius, bool alongRows) {
    const int lines = alongRows ? h : w, length = alongRows ? w : h;
    std::vector<uint8_t> line(static_cast<size_t>(length));
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> uint8_t & {
            return alongRows ? cells[size_t(l) * size_t(w) + size_t(i)] : cells[size_t(i) * size_t(w) + size_t(l)];
        };
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = at(i);
        // A running count of marked cells in the window round each cell.
        int count = 0;
        for (int i = 0; i < std::min(radius, length); ++i)
            count += line[size_t(i)];
        for (int i = 0; i < length; ++i) {
            if (i + radius < length)
                count += line[size_t(i + radius)];
            if (i - radius - 1 >= 0)
                count -= line[size_t(i - radius - 1)];
            at(i) = count > 0;
        }
    }
}

// Whether a pixel lies within the paper's spread of its colour.
template <int C>
bool PaperLike(const uint8_t *p, const Paper &paper) {
    const int d = std::max({std::abs(int(paper.blue) - p[0]), std::abs(int(paper.green) - p[C == 1 ? 0 : 1]),
                            std::abs(int(paper.red) - p[C == 1 ? 0 : 2])});
    return d <= paper.threshold;
}

// A sheet on a dark scanner lid: the box of the rows and columns that are
// largely `paper`, when it is mostly paper inside and dark all round
// outside; drawn in a little, past the sheet's own edge.
template <int C>
std::optional<QRect> SheetOnLid(const PixelView &view, int step, const Paper &paper) {
    const int xs = (view.width + step - 1) / step, ys = (view.height + step - 1) / step;
    std::vector<int> rowPaper(static_cast<size_t>(ys), 0), columnPaper(static_cast<size_t>(xs), 0);
    for (int yi = 0; yi < ys; ++yi) {
        const uint8_t *row = view.Row(yi * step);
        for (int xi = 0; xi < xs; ++xi)
            if (PaperLike<C>(row + C * xi * step, paper)) {
                ++rowPaper[size_t(yi)];
                ++columnPaper[size_t(xi)];
            }
    }
    auto span = [](const std::vector<int> &counts, int across) -> std::optional<std::pair<int, int>> {
        int first = -1, last = -1;
        for (int i = 0; i < int(counts.size()); ++i)
            if (counts[size_t(i)] * 10 >= across * 3) {
                if (first < 0)
                    first = i;
                last = i;
            }
        if (first < 0)
            return std::nullopt;
        return std::pair{first, last};
    };
    const auto rows = span(rowPaper, xs), columns = span(columnPaper, ys);
    if (!rows || !columns)
        return std::nullopt;
    const QRect box(QPoint(columns->first * step, rows->first * step),
                    QPoint(std::min(view.width - 1, columns->second * step + step - 1),
                           std::min(view.height - 1, rows->second * step + step - 1)));
    if (box.width() * 10 < view.width * 3 || box.height() * 10 < view.height * 3)
        return std::nullopt;
    const int paperLevel = std::min({paper.blue, paper.green, paper.red});
    int64_t inside = 0, insidePaper = 0, outside = 0, outsideDark = 0;
    for (int yi = 0; yi < ys; ++yi) {
        const uint8_t *row = view.Row(yi * step);
        for (int xi = 0; xi < xs; ++xi) {
            const uint8_t *p = row + C * xi * step;
            if (box.contains(xi * step, yi * step)) {
                ++inside;
                insidePaper += PaperLike<C>(p, paper);
            } else {
                ++outside;
                outsideDark += Darkest<C>(p) < paperLevel - paper.threshold;
            }
        }
    }
    if (outside == 0 || insidePaper * 2 < inside || outsideDark * 10 < outside * 8)
        return std::nullopt;
    const int edge = step + 1;
    return box.adjusted(edge, edge, -edge, -edge);
}

// Dark or strongly coloured paper: the commonest colour, when it covers a
// good share of the page and most of its border.
template <int C>
std::optional<Paper> OtherPaper(const PixelView &view, int step) {
    std::vector<int64_t> bins(512, 0);
    int64_t all = 0;
    auto binOf = [](const uint8_t *p) {
        return size_t((p[0] >> 5) << 6 | (p[C == 1 ? 0 : 1] >> 5) << 3 | (p[C == 1 ? 0 : 2] >> 5));
    };
    for (int y = 0; y < view.height; y += step) {
        const uint8_t *row = view.Row(y);
        for (int x = 0; x < view.width; x += step) {
            ++bins[binOf(row + C * x)];
            ++all;
        }
    }
    const size_t best = size_t(std::max_element(bins.begin(), bins.end()) - bins.begin());
    const int cb = int(best >> 6) * 32 + 16, cg = int((best >> 3) & 7) * 32 + 16, cr = int(best & 7) * 32 + 16;
    // The mean of the pixels near that colour.
    int64_t sums[3] = {0, 0, 0}, near = 0;
    for (int y = 0; y < view.height; y += step) {
        const uint8_t *row = view.Row(y);
        for (int x = 0; x < view.width; x += step) {
            const uint8_t *p = row + C * x;
            const int b = p[0], g = p[C == 1 ? 0 : 1], r = p[C == 1 ? 0 : 2];
            if (std::max({std::abs(b - cb), std::abs(g - cg), std::abs(r - cr)}) <= 24) {
                sums[0] += b;
                sums[1] += g;
                sums[2] += r;
                ++near;
            }
        }
    }
    if (near == 0 || near * 100 < all * 35)
        return std::nullopt;
    Paper paper;
    paper.pureWhite = false;
    paper.differs = true;
    paper.blue = uint8_t(sums[0] / near);
    paper.green = uint8_t(sums[1] / near);
    paper.red = uint8_t(sums[2] / near);
    paper.threshold = 40;
    const int high = std::max({paper.blue, paper.green, paper.red}),
              low = std::min({paper.blue, paper.green, paper.red});
    if (high >= 110 && high - low < 60)
        return std::nullopt;  // light grey paper: no paper to go by
    // Most of the border is that paper.
    const int band = std::max(1, std::min(view.width, view.height) / 33);
    int64_t border = 0, paperLike = 0;
    for (int y = 0; y < view.height; y += step) {
        const uint8_t *row = view.Row(y);
        const bool across = y < band || y >= view.height - band;
        for (int x = 0; x < view.width; x += step) {
            ++border;
            paperLike += PaperLike<C>(row + C * x, paper);
            if (!across && x + step >= band && x + step < view.width - band)
                x = view.width - band - step;
        }
    }
    if (paperLike * 2 < border)
        return std::nullopt;
    return paper;
}

}  // namespace

PixelView PixelView::Of(const render::Bitmap &bitmap) {
    if (!bitmap.bits)
        return {};
    if (bitmap.bitsPerPixel == 24)
        return {bitmap.bits, bitmap.width, bitmap.height, bitmap.stride, 3};
    if (bitmap.bitsPerPixel != 8 || bitmap.palette.size() != 256)
        return {};
    for (int v = 0; v < 256; ++v) {
        const render::RgbQuad &q = bitmap.palette[size_t(v)];
        if (q.blue != v || q.green != v || q.red != v)
            return {};
    }
    return {bitmap.bits, bitmap.width, bitmap.height, bitmap.stride, 1};
}

PixelView PixelView::Of(const render::PageImage &image) {
    if (!image.HasPixels() || image.BitsPerPixel() != 24)
        return {};
    return {image.Row(0), int(image.Width()), int(image.Height()), ptrdiff_t(image.Stride())};
}

Paper ContentDetector::EstimatePaper(const PixelView &view) {
    if (!view.Valid())
        return {};
    return view.channels == 1 ? EstimatePaperOf<1>(view) : EstimatePaperOf<3>(view);
}

template <int C>
bool ContentDetector::MostlyWhiteOf(const PixelView &view) {
    const int sparse = std::max(1, int(std::sqrt(double(view.width) * view.height / 4096.0)));
    int64_t white = 0, all = 0;
    for (int y = sparse / 2; y < view.height; y += sparse) {
        const uint8_t *row = view.Row(y);
        for (int x = sparse / 2; x < view.width; x += sparse) {
            white += Darkest<C>(row + C * x) == 255;
            ++all;
        }
    }
    return all > 0 && white * 4 >= all * 3;
}

bool ContentDetector::MostlyWhite(const PixelView &view) {
    if (!view.Valid())
        return false;
    return view.channels == 1 ? MostlyWhiteOf<1>(view) : MostlyWhiteOf<3>(view);
}

template <int C>
Paper ContentDetector::EstimatePaperOf(const PixelView &view) {
    Paper paper;
    // Most born-digital pages are mostly white: a sparse look of some
    // four thousand pixels settles that at once. White then is far the
    // commonest colour, as the full count below would find.
    if (MostlyWhiteOf<C>(view))
        return paper;
    // About a quarter of a million pixels sampled evenly.
    const int step = std::max(1, int(std::sqrt(double(view.width) * view.height / 250000.0)));
    std::array<int64_t, 256> histogram{};
    for (int y = 0; y < view.height; y += step) {
        const uint8_t *row = view.Row(y);
        for (int x = 0; x < view.width; x += step)
            ++histogram[size_t(Darkest<C>(row + C * x))];
    }
    // Pure white the commonest colour: born-digital paper.
    if (histogram[255] > 0 && histogram[255] >= *std::max_element(histogram.begin(), histogram.end() - 1))
        return paper;

    // The paper is the brightest large peak: the commonest level above the
    // darkest quarter, smoothed over the grain.
    auto smoothed = [&](int v) {
        int64_t sum = 0;
        for (int d = -2; d <= 2; ++d)
            if (v + d >= 0 && v + d <= 255)
                sum += histogram[size_t(v + d)];
        return sum;
    };
    int level = 255;
    int64_t peak = -1;
    for (int v = 64; v <= 255; ++v)
        if (const int64_t s = smoothed(v); s > peak) {
            peak = s;
            level = v;
        }
    // Its spread: how far from the peak the histogram falls to a fiftieth
    // of it, on the side content does not reach (above it, unless the
    // paper is at the top of the scale).
    const int64_t floor = std::max<int64_t>(1, peak / 50);
    const int direction = level <= 250 ? 1 : -1;
    int spread = 0;
    for (int v = level; v >= 0 && v <= 255 && smoothed(v) >= floor; v += direction)
        spread = std::abs(v - level);

    // The paper's colour: the mean of the pixels at the paper's level.
    int64_t sums[3] = {0, 0, 0}, count = 0;
    for (int y = 0; y < view.height; y += step) {
        const uint8_t *row = view.Row(y);
        for (int x = 0; x < view.width; x += step) {
            const uint8_t *p = row + C * x;
            if (std::abs(Darkest<C>(p) - level) <= std::max(2, spread / 2)) {
                sums[0] += p[0];
                sums[1] += p[C == 1 ? 0 : 1];
                sums[2] += p[C == 1 ? 0 : 2];
                ++count;
            }
        }
    }
    // Paper is even: a level that spreads this wide is a picture's, unless
    // the page's paper is dark or coloured.
    if (count == 0 || spread > kWidestSpread)
        return OtherPaper<C>(view, step).value_or(paper);
    Paper estimate;
    estimate.pureWhite = false;
    estimate.blue = uint8_t(sums[0] / count);
    estimate.green = uint8_t(sums[1] / count);
    estimate.red = uint8_t(sums[2] / count);
    estimate.threshold = std::clamp(spread * 3 / 2 + 12, 20, 96);

    // A page whose border is not mostly that colour has no paper to speak
    // of (a photograph, a coloured cover): its pixels all count, as on
    // white paper.
    const int band = std::max(1, std::min(view.width, view.height) / 33);
    int64_t border = 0, paperLike = 0;
    auto check = [&](int x, int y) {
        ++border;
        paperLike += PaperLike<C>(view.Row(y) + C * x, estimate);
    };
    for (int y = 0; y < view.height; y += step) {
        // Rows in the top and bottom strips whole; the others at both ends.
        const bool across = y < band || y >= view.height - band;
        for (int x = 0; x < view.width; x += step) {
            check(x, y);
            if (!across && x + step >= band && x + step < view.width - band)
                x = view.width - band - step;
        }
    }
    if (border == 0 || paperLike < int64_t(double(border) * kBorderPaperShare)) {
        // A sheet on a dark lid has paper inside and none round it; else
        // the page's paper may be dark or coloured.
        if (const std::optional<QRect> sheet = SheetOnLid<C>(view, step, estimate)) {
            estimate.sheet = *sheet;
            return estimate;
        }
        return OtherPaper<C>(view, step).value_or(paper);
    }
    return estimate;
}

std::optional<QRect> ContentDetector::Detect(const PixelView &view, const QRect &area) const {
    return Detect(view, area, EstimatePaper(view));
}

std::optional<QRect> ContentDetector::Detect(const PixelView &view, const QRect &area, const Paper &paper) const {
    return Detect(view, area, paper, 0);
}

std::optional<QRect> ContentDetector::Detect(const PixelView &view, const QRect &area, const Paper &paper,
                                             unsigned cutSides) const {
    const QRect a = Clip(view, area) & (paper.sheet.isEmpty() ? QRect(0, 0, view.width, view.height) : paper.sheet);
    if (!view.Valid() || a.isEmpty())
        return std::nullopt;
    if (view.channels == 1)
        return paper.pureWhite ? ExactBox<1>(view, a) : ScanBox<1>(view, a, paper, cutSides);
    return paper.pureWhite ? ExactBox<3>(view, a) : ScanBox<3>(view, a, paper, cutSides);
}

template <int C>
std::optional<QRect> ContentDetector::ExactBox(const PixelView &view, const QRect &area) const {
    const QRect a = Clip(view, area);
    const int x0 = a.left(), x1 = a.left() + a.width();
    // Margins are mostly white: they are skipped eight pixels at a time.
    auto first = [&](int y, int from, int to) {
        const uint8_t *row = view.Row(y);
        int x = from;
        while (x + 8 <= to && EightWhite<C>(row + C * x))
            x += 8;
        for (; x < to; ++x)
            if (!White<C>(row + C * x))
                return x;
        return -1;
    };
    auto last = [&](int y, int from, int downTo) {
        const uint8_t *row = view.Row(y);
        int x = from;
        while (x - 7 >= downTo && EightWhite<C>(row + C * (x - 7)))
            x -= 8;
        for (; x >= downTo; --x)
            if (!White<C>(row + C * x))
                return x;
        return -1;
    };
    int top = -1, bottom = -1;
    for (int y = a.top(); y <= a.bottom() && top < 0; ++y)
        if (first(y, x0, x1) >= 0)
            top = y;
    if (top < 0)
        return std::nullopt;
    for (int y = a.bottom(); y >= top && bottom < 0; --y)
        if (first(y, x0, x1) >= 0)
            bottom = y;
    int left = x1, right = x0 - 1;
    for (int y = top; y <= bottom; ++y) {
        if (const int x = first(y, x0, left); x >= 0)
            left = x;
        if (const int x = last(y, x1 - 1, right + 1); x >= 0)
            right = x;
    }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

template <int C>
std::optional<QRect> ContentDetector::ScanBox(const PixelView &view, const QRect &area, const Paper &paper,
                                              unsigned cutSides) const {
    const QRect a = Clip(view, area);
    const int w = a.width(), h = a.height();
    // The edges a scanner's band may lie along: the picture's, or the sheet's.
    const QRect frame = paper.sheet.isEmpty() ? QRect(0, 0, view.width, view.height) : paper.sheet;
    // Content pixels of the area, with counts per row and column.
    std::vector<uint8_t> mask(size_t(w) * size_t(h));
    std::vector<int> rowCount(size_t(h), 0), columnCount(size_t(w), 0);
    const int pb = paper.blue, pg = paper.green, pr = paper.red, t = paper.threshold;
    for (int y = 0; y < h; ++y) {
        const uint8_t *p = view.Row(a.top() + y) + C * a.left();
        uint8_t *m = mask.data() + size_t(y) * size_t(w);
        int count = 0;
        for (int x = 0; x < w; ++x, p += C) {
            bool ink;
            if (paper.differs) {
                if constexpr (C == 1)
                    ink = paper.Ink(p[0], p[0], p[0]);
                else
                    ink = paper.Ink(p[0], p[1], p[2]);
            } else if constexpr (C == 1) {
                ink = pb - p[0] > t;
            } else {
                ink = pb - p[0] > t || pg - p[1] > t || pr - p[2] > t;
            }
            m[x] = ink;
            count += ink;
        }
        rowCount[size_t(y)] = count;
    }

    // The scanner's edge: a thin dark band along a side of the page.
    auto bandFrom = [](const std::vector<int> &counts, int across, int length, bool reverse) {
        const int limit = std::max(1, int(kBandDepth * length));
        int depth = 0;
        bool core = false;
        for (int i = 0; i < length; ++i) {
            const int c = counts[size_t(reverse ? length - 1 - i : i)];
            if (c >= kBandCore * across)
                core = true;
            else if (c < kBandFade * across)
                break;
            if (++depth > limit)
                return 0;  // runs on into the page: printed, not an edge
        }
        if (!core)
            return 0;
        // A band turned with a page scanned askew ends in a slant: its
        // last lines, each emptier than the one before, are its own.
        const int tail = std::max(2, across / 100);
        for (int k = 0, before = across; k < tail && depth < length; ++k) {
            const int c = counts[size_t(reverse ? length - 1 - depth : depth)];
            if (c == 0 || c > before)
                break;
            before = c;
            ++depth;
        }
        return depth;
    };
    // A fold's shadow along a cut: every line that is not empty, out from
    // the cut, as long as it stays as thin as a band; print that runs on
    // into it (a picture bleeding into the gutter) keeps it all.
    auto shadowFrom = [](const std::vector<int> &counts, int across, int length, bool reverse) {
        const int limit = std::max(1, int(kBandDepth * length)), empty = across / 500;
        int depth = 0;
        while (depth < length && counts[size_t(reverse ? length - 1 - depth : depth)] > empty)
            if (++depth > limit)
                return 0;
        return depth;
    };
    auto side = [&](unsigned which, bool atEdge, const std::vector<int> &counts, int across, int length, bool reverse) {
        if (cutSides & which)
            return shadowFrom(counts, across, length, reverse);
        return atEdge ? bandFrom(counts, across, length, reverse) : 0;
    };
    const int cutTop = side(Top, a.top() == frame.top(), rowCount, w, h, false);
    const int cutBottom = side(Bottom, a.bottom() == frame.bottom(), rowCount, w, h, true);
    const int rowsFrom = cutTop, rowsTo = std::max(cutTop, h - cutBottom);
    // Only the columns a band along the left or right edge could reach
    // are counted.
    const int edge = std::min(w, int(kBandDepth * w) + 2);
    for (int y = rowsFrom; y < rowsTo; ++y) {
        const uint8_t *m = mask.data() + size_t(y) * size_t(w);
        for (int x = 0; x < edge; ++x)
            columnCount[size_t(x)] += m[x];
        for (int x = std::max(edge, w - edge); x < w; ++x)
            columnCount[size_t(x)] += m[x];
    }
    const int cutLeft = side(Left, a.left() == frame.left(), columnCount, rowsTo - rowsFrom, w, false);
    const int cutRight = side(Right, a.right() == frame.right(), columnCount, rowsTo - rowsFrom, w, true);
    const int colsFrom = cutLeft, colsTo = std::max(cutLeft, w - cutRight);
    if (rowsFrom >= rowsTo || colsFrom >= colsTo)
        return std::nullopt;

    // Cells of a couple of pixels, marked where they hold content, then
    // widened so that content closer than the isolation distance joins.
    const int cell = std::max(1, int(std::lround(2 * m_pixelsPerPoint)));
    const int gw = (colsTo - colsFrom + cell - 1) / cell, gh = (rowsTo - rowsFrom + cell - 1) / cell;
    std::vector<uint8_t> marked(size_t(gw) * size_t(gh), 0);
    bool any = false;
    // Whether pixels [from, to) of a mask row hold content.
    auto anyIn = [](const uint8_t *m, int from, int to) {
        uint8_t bits = 0;
        for (int x = from; x < to; ++x)
            bits |= m[x];
        return bits != 0;
    };
    for (int y = rowsFrom; y < rowsTo; ++y) {
        if (rowCount[size_t(y)] == 0)
            continue;
        const uint8_t *m = mask.data() + size_t(y) * size_t(w);
        uint8_t *cells = marked.data() + size_t((y - rowsFrom) / cell) * size_t(gw);
        for (int c = 0, x = colsFrom; c < gw; ++c, x += cell)
            if (!cells[c] && anyIn(m, x, std::min(x + cell, colsTo))) {
                cells[c] = 1;
                any = true;
            }
    }
    if (!any)
        return std::nullopt;
    std::vector<uint8_t> grown = marked;
    const int radius = std::max(1, int(std::ceil(kIsolationPoints / 2 * m_pixelsPerPoint / cell)));
    Dilate(grown, gw, gh, radius, true);
    Dilate(grown, gw, gh, radius, false);

    // Connected parts of the widened cells.
    Components parts;
    const std::vector<int> label = LabelCells(grown, gw, gh, parts);
    // The pieces: connected runs of content cells before widening. Specks
    // near each other join one part; a part is dust when every piece of it
    // is a speck, however far its specks spread.
    Components pieces;
    const std::vector<int> pieceLabel = LabelCells(marked, gw, gh, pieces);

    // Each part's and each piece's exact box from its content pixels.
    const int parents = int(parts.parent.size());
    std::vector<int> root(static_cast<size_t>(parents));
    for (int i = 0; i < parents; ++i)
        root[size_t(i)] = parts.Find(i);
    const int pieceCount = int(pieces.parent.size());
    std::vector<int> pieceRoot(static_cast<size_t>(pieceCount)), partOfPiece(static_cast<size_t>(pieceCount), -1);
    for (int i = 0; i < pieceCount; ++i)
        pieceRoot[size_t(i)] = pieces.Find(i);
    struct Box {
        int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
        void Add(int l, int r, int y) {
            left = std::min(left, l);
            right = std::max(right, r);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    };
    std::vector<Box> boxes(static_cast<size_t>(parents)), pieceBoxes(static_cast<size_t>(pieceCount));
    for (int y = rowsFrom; y < rowsTo; ++y) {
        if (rowCount[size_t(y)] == 0)
            continue;
        const uint8_t *m = mask.data() + size_t(y) * size_t(w);
        const size_t rowOfCells = size_t((y - rowsFrom) / cell) * size_t(gw);
        const uint8_t *cells = marked.data() + rowOfCells;
        const int *labels = label.data() + rowOfCells;
        const int *pieceLabels = pieceLabel.data() + rowOfCells;
        for (int c = 0, x = colsFrom; c < gw; ++c, x += cell) {
            if (!cells[c])
                continue;
            // The first and last content pixel of this cell's stretch of the row.
            const int end = std::min(x + cell, colsTo);
            int first = x;
            while (first < end && !m[first])
                ++first;
            if (first == end)
                continue;
            int last = end - 1;
            while (!m[last])
                --last;
            const int part = root[size_t(labels[c])], piece = pieceRoot[size_t(pieceLabels[c])];
            boxes[size_t(part)].Add(first, last, y);
            pieceBoxes[size_t(piece)].Add(first, last, y);
            partOfPiece[size_t(piece)] = part;
        }
    }
    const double speck = kSpeckPoints * m_pixelsPerPoint;
    auto isSpeck = [speck](const Box &b) { return b.right - b.left + 1 <= speck && b.bottom - b.top + 1 <= speck; };
    std::vector<uint8_t> printed(static_cast<size_t>(parents), 0);
    // A small piece larger than a speck may be specks in neighbouring
    // cells: it is printed when one run of touching pixels in it is
    // larger than a speck.
    std::vector<int> stack;
    std::vector<uint8_t> seen;
    auto holdsMoreThanSpecks = [&](const Box &b) {
        const int bw = b.right - b.left + 1, bh = b.bottom - b.top + 1;
        seen.assign(size_t(bw) * size_t(bh), 0);
        auto on = [&](int x, int y) { return mask[size_t(y) * size_t(w) + size_t(x)] != 0; };
        for (int y0 = 0; y0 < bh; ++y0)
            for (int x0 = 0; x0 < bw; ++x0) {
                if (seen[size_t(y0) * size_t(bw) + size_t(x0)] || !on(b.left + x0, b.top + y0))
                    continue;
                Box run;
                stack.assign(1, y0 * bw + x0);
                seen[size_t(y0) * size_t(bw) + size_t(x0)] = 1;
                while (!stack.empty()) {
                    const int at = stack.back();
                    stack.pop_back();
                    const int x = at % bw, y = at / bw;
                    run.Add(x, x, y);
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int nx = x + dx, ny = y + dy;
                            if (nx < 0 || ny < 0 || nx >= bw || ny >= bh)
                                continue;
                            const size_t n = size_t(ny) * size_t(bw) + size_t(nx);
                            if (!seen[n] && on(b.left + nx, b.top + ny)) {
                                seen[n] = 1;
                                stack.push_back(ny * bw + nx);
                            }
                        }
                }
                if (!isSpeck(run))
                    return true;
            }
        return false;
    };
    const double small = 4 * speck;
    for (int i = 0; i < pieceCount; ++i) {
        const Box &b = pieceBoxes[size_t(i)];
        if (partOfPiece[size_t(i)] < 0 || b.right < 0 || printed[size_t(partOfPiece[size_t(i)])] || isSpeck(b))
            continue;
        if (b.right - b.left + 1 > small || b.bottom - b.top + 1 > small || holdsMoreThanSpecks(b))
            printed[size_t(partOfPiece[size_t(i)])] = 1;
    }
    // A part of specks alone is dust while it is small or has few specks;
    // many in a row are print.
    std::vector<int> pieceCounts(static_cast<size_t>(parents), 0);
    for (int i = 0; i < pieceCount; ++i)
        if (partOfPiece[size_t(i)] >= 0 && pieceBoxes[size_t(i)].right >= 0)
            ++pieceCounts[size_t(partOfPiece[size_t(i)])];
    const double cluster = kClusterPoints * m_pixelsPerPoint;
    Box all;
    for (int i = 0; i < parents; ++i) {
        const Box &b = boxes[size_t(i)];
        const bool dust =
            !printed[size_t(i)] && ((b.right - b.left + 1 <= cluster && b.bottom - b.top + 1 <= cluster) ||
                                    pieceCounts[size_t(i)] <= kClusterSpecks);
        if (b.right < 0 || dust)
            continue;  // nothing, or dust
        all.left = std::min(all.left, b.left);
        all.top = std::min(all.top, b.top);
        all.right = std::max(all.right, b.right);
        all.bottom = std::max(all.bottom, b.bottom);
    }
    if (all.right < 0)
        return std::nullopt;
    return QRect(QPoint(a.left() + all.left, a.top() + all.top), QPoint(a.left() + all.right, a.top() + all.bottom));
}

}  // namespace crop
