#include "crop/detect/split.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace crop {

bool ParseSplitGrid(std::string_view text, SplitGrid &grid, std::string &error) {
    std::string t;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            t += char(std::tolower(static_cast<unsigned char>(c)));
    const size_t x = t.find('x');
    auto digit = [](const std::string &s, int &v) {
        if (s.size() != 1 || s[0] < '1' || s[0] > '0' + SplitGrid::kMost)
            return false;
        v = s[0] - '0';
        return true;
    };
    SplitGrid parsed = grid;
    if (x == std::string::npos || !digit(t.substr(0, x), parsed.columns) || !digit(t.substr(x + 1), parsed.rows)) {
        error = "\"" + std::string(text) + "\" is not a split such as 2x1 (columns by rows, each 1 to 4).";
        return false;
    }
    if (parsed.columns == 1 && parsed.rows == 1) {
        error = "1x1 splits nothing: give 2x1, 1x2 or another grid up to 4x4.";
        return false;
    }
    grid = parsed;
    return true;
}

namespace {

// The narrowest run of empty columns (or rows) that is a gutter; the space
// between two words is narrower.
constexpr double kGutterPoints = 8.0;

// Whether a pixel (of `channels` bytes) stands off the paper.
bool Ink(const uint8_t *p, int channels, const Paper &paper) {
    return channels == 1 ? paper.Ink(p[0], p[0], p[0]) : paper.Ink(p[0], p[1], p[2]);
}

// A cut across a profile, at `at`; [from, to) is the fold there, left out
// of the cells on both sides (empty for a gutter's cut).
struct Cut {
    int at = 0, from = 0, to = 0;
    bool found = false;
};

// Where to cut a profile (ink pixels per column or row over `length`
// pixels across) between `from` and `to` into `parts`: at a fold, else at
// the widest empty run at least `gutter` pixels wide, near each even cut.
std::vector<Cut> Cuts(const std::vector<int> &ink, int from, int to, int length, int parts, int gutter) {
    std::vector<Cut> cuts;
    const double cell = double(to - from) / parts;
    // A fold is dark along most of the content; narrower than this, or it
    // is a picture.
    const int widestFold = std::max(2, int(cell * 0.12));
    for (int k = 1; k < parts; ++k) {
        const int ideal = from + int(std::lround(cell * k));
        const int reach = int(cell * 0.4);
        const int lo = std::max(from + 1, ideal - reach), hi = std::min(to - 1, ideal + reach);
        // Runs of empty lines, and of fold lines (ink along most of it).
        Cut fold, gap;
        int foldWidth = 0, gapWidth = 0;
        auto consider = [&](bool isFold, int start, int end) {
            const int width = end - start, centre = (start + end) / 2;
            if (isFold && (width < 2 || width > widestFold))
                return;
            if (!isFold && width < gutter)
                return;
            Cut &best = isFold ? fold : gap;
            int &bestWidth = isFold ? foldWidth : gapWidth;
            if (width > bestWidth || (width == bestWidth && std::abs(centre - ideal) < std::abs(best.at - ideal))) {
                best = {centre, isFold ? start : centre, isFold ? end : centre, true};
                bestWidth = width;
            }
        };
        const int emptyAtMost = std::max(0, length / 500);  // a speck of noise
        for (int kind = 0; kind < 2; ++kind) {
            const bool isFold = kind == 1;
            int start = -1;
            for (int i = lo; i <= hi + 1; ++i) {
                const bool in = i <= hi && (isFold ? ink[size_t(i)] >= length / 2 : ink[size_t(i)] <= emptyAtMost);
                if (in && start < 0)
                    start = i;
                if (!in && start >= 0) {
                    consider(isFold, start, i);
                    start = -1;
                }
            }
        }
        if (fold.found)
            cuts.push_back(fold);
        else if (gap.found)
            cuts.push_back(gap);
        else
            cuts.push_back({ideal, ideal, ideal, false});
    }
    return cuts;
}

// The cuts that are made: those that found a gutter, or all with `even`.
std::vector<Cut> Made(const std::vector<Cut> &cuts, bool even, int &missed) {
    std::vector<Cut> made;
    for (const Cut &c : cuts)
        if (c.found || even)
            made.push_back(c);
        else
            ++missed;
    return made;
}

}  // namespace

SplitCells SplitPage(const PixelView &view, double pixelsPerPoint, const SplitGrid &grid) {
    SplitCells result;
    if (!view.Valid() || pixelsPerPoint <= 0 || grid.columns < 1 || grid.rows < 1)
        return result;
    const Paper paper = ContentDetector::EstimatePaper(view);
    const QRect whole(0, 0, view.width, view.height);
    const ContentDetector detector(pixelsPerPoint);
    const std::optional<QRect> found = detector.Detect(view, whole, paper);
    const QRect content = found.value_or(whole);
    const double half = std::max(0.0, grid.overlap) / 2 * pixelsPerPoint;
    auto toPoints = [&](double left, double top, double right, double bottom) {
        return CropRect{left / pixelsPerPoint, top / pixelsPerPoint, right / pixelsPerPoint, bottom / pixelsPerPoint};
    };
    if (!found) {
        // A blank page: an even split of the whole.
        for (int j = 0; j < grid.rows; ++j)
            for (int i = 0; i < grid.columns; ++i)
                result.cells.push_back(
                    toPoints(double(view.width) * i / grid.columns, double(view.height) * j / grid.rows,
                             double(view.width) * (i + 1) / grid.columns, double(view.height) * (j + 1) / grid.rows));
        return result;
    }
    const int gutter = std::max(2, int(std::lround(kGutterPoints * pixelsPerPoint)));
    auto inkOf = [&](const QRect &area, std::vector<int> &columns, std::vector<int> &rows) {
        columns.assign(size_t(view.width), 0);
        rows.assign(size_t(view.height), 0);
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uint8_t *row = view.Row(y);
            for (int x = area.left(); x <= area.right(); ++x)
                if (Ink(row + view.channels * x, view.channels, paper)) {
                    ++columns[size_t(x)];
                    ++rows[size_t(y)];
                }
        }
    };
    std::vector<int> columns, rows;
    inkOf(content, columns, rows);
    const std::vector<Cut> rowCuts = Made(
        Cuts(rows, content.top(), content.bottom() + 1, content.width(), grid.rows, gutter), grid.even, result.missed);
    // Each row cut apart into its cells, its sides at the page's edges or
    // at the cuts beside it.
    struct Cell {
        QRect area;
        unsigned cutSides = 0;   // sides at a cut
        unsigned foldSides = 0;  // of those, the cuts through a fold
    };
    std::vector<Cell> cells;
    for (size_t j = 0; j <= rowCuts.size(); ++j) {
        const int top = j == 0 ? 0 : rowCuts[j - 1].to, bottom = j == rowCuts.size() ? view.height : rowCuts[j].from;
        const QRect band = QRect(content.left(), top, content.width(), bottom - top) & content;
        std::vector<Cut> columnCuts;
        if (!band.isEmpty()) {
            inkOf(band, columns, rows);
            columnCuts = Made(Cuts(columns, band.left(), band.right() + 1, band.height(), grid.columns, gutter),
                              grid.even, result.missed);
        }
        for (size_t i = 0; i <= columnCuts.size(); ++i) {
            const int left = i == 0 ? 0 : columnCuts[i - 1].to,
                      right = i == columnCuts.size() ? view.width : columnCuts[i].from;
            Cell cell{QRect(left, top, right - left, bottom - top), 0, 0};
            auto mark = [&cell](bool cut, const Cut &at, unsigned side) {
                if (!cut)
                    return;
                cell.cutSides |= side;
                if (at.to > at.from)
                    cell.foldSides |= side;
            };
            mark(i > 0, i > 0 ? columnCuts[i - 1] : Cut{}, ContentDetector::Left);
            mark(i < columnCuts.size(), i < columnCuts.size() ? columnCuts[i] : Cut{}, ContentDetector::Right);
            mark(j > 0, j > 0 ? rowCuts[j - 1] : Cut{}, ContentDetector::Top);
            mark(j < rowCuts.size(), j < rowCuts.size() ? rowCuts[j] : Cut{}, ContentDetector::Bottom);
            cells.push_back(cell);
        }
    }
    if (cells.size() < 2) {
        result.cells.push_back(toPoints(content.left(), content.top(), content.right() + 1.0, content.bottom() + 1.0));
        return result;  // no cut: the page is left whole, cropped to its print
    }
    for (const Cell &cell : cells) {
        // The cell's print, or the content's part of it where it has none.
        const QRect area = cell.area;
        const QRect print = detector.Detect(view, area, paper, cell.foldSides).value_or(area & content);
        double left = print.left(), top = print.top(), right = print.right() + 1.0, bottom = print.bottom() + 1.0;
        // Grown into the neighbours by half the overlap.
        if (half > 0) {
            if (cell.cutSides & ContentDetector::Left)
                left = std::max(0.0, std::min(left, area.left() - half));
            if (cell.cutSides & ContentDetector::Top)
                top = std::max(0.0, std::min(top, area.top() - half));
            if (cell.cutSides & ContentDetector::Right)
                right = std::min(double(view.width), std::max(right, area.right() + 1.0 + half));
            if (cell.cutSides & ContentDetector::Bottom)
                bottom = std::min(double(view.height), std::max(bottom, area.bottom() + 1.0 + half));
        }
        result.cells.push_back(toPoints(left, top, right, bottom));
    }
    return result;
}

std::vector<CropRect> FitCells(std::vector<CropRect> cells, double margin, bool uniform, double width, double height) {
    double widest = 0, tallest = 0;
    for (CropRect &c : cells) {
        c = {std::max(0.0, c.left - margin), std::max(0.0, c.top - margin), std::min(width, c.right + margin),
             std::min(height, c.bottom + margin)};
        widest = std::max(widest, c.right - c.left);
        tallest = std::max(tallest, c.bottom - c.top);
    }
    if (!uniform)
        return cells;
    // Each grown about its centre, then moved back onto the page.
    auto place = [](double &low, double &high, double size, double limit) {
        const double centre = (low + high) / 2;
        size = std::min(size, limit);
        low = centre - size / 2;
        high = centre + size / 2;
        const double shift = low < 0 ? -low : high > limit ? limit - high : 0;
        low += shift;
        high += shift;
    };
    for (CropRect &c : cells) {
        place(c.left, c.right, widest, width);
        place(c.top, c.bottom, tallest, height);
    }
    return cells;
}

}  // namespace crop
