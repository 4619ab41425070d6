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

// Whether a pixel (of `channels` bytes) stands off the paper.
bool Ink(const uint8_t *p, int channels, const Paper &paper) {
    if (channels == 1)
        return paper.pureWhite ? p[0] != 255 : paper.blue - p[0] > paper.threshold;
    if (paper.pureWhite)
        return p[0] != 255 || p[1] != 255 || p[2] != 255;
    return paper.blue - p[0] > paper.threshold || paper.green - p[1] > paper.threshold ||
           paper.red - p[2] > paper.threshold;
}

// Where to cut a profile (ink pixels per column or row over `length`
// pixels across) between `from` and `to` into `parts`: at a fold, else
// at the widest empty run, near each even cut.
std::vector<int> Cuts(const std::vector<int> &ink, int from, int to, int length, int parts) {
    std::vector<int> cuts;
    const double cell = double(to - from) / parts;
    for (int k = 1; k < parts; ++k) {
        const int ideal = from + int(std::lround(cell * k));
        const int reach = int(cell * 0.4);
        const int lo = std::max(from + 1, ideal - reach), hi = std::min(to - 1, ideal + reach);
        // Runs of empty lines, and of fold lines (ink along nearly all of it).
        int bestFold = -1, foldWidth = 0, bestGap = -1, gapWidth = 0;
        auto consider = [&](bool fold, int start, int end) {
            const int width = end - start, centre = (start + end) / 2;
            int &best = fold ? bestFold : bestGap;
            int &bestWidth = fold ? foldWidth : gapWidth;
            if (width > bestWidth || (width == bestWidth && std::abs(centre - ideal) < std::abs(best - ideal))) {
                best = centre;
                bestWidth = width;
            }
        };
        const int emptyAtMost = std::max(0, length / 500);  // a speck of noise
        for (int kind = 0; kind < 2; ++kind) {
            const bool fold = kind == 1;
            int start = -1;
            for (int i = lo; i <= hi + 1; ++i) {
                const bool in = i <= hi && (fold ? ink[size_t(i)] >= length * 0.8 : ink[size_t(i)] <= emptyAtMost);
                if (in && start < 0)
                    start = i;
                if (!in && start >= 0) {
                    consider(fold, start, i);
                    start = -1;
                }
            }
        }
        // A fold is a cut at least two pixels wide, unless a real gutter is
        // wider than it.
        int cut = ideal;
        if (bestFold >= 0 && foldWidth >= 2)
            cut = bestFold;
        else if (bestGap >= 0 && gapWidth >= 2)
            cut = bestGap;
        cuts.push_back(cut);
    }
    return cuts;
}

}  // namespace

std::vector<CropRect> SplitPage(const PixelView &view, double pixelsPerPoint, const SplitGrid &grid) {
    std::vector<CropRect> cells;
    if (!view.Valid() || pixelsPerPoint <= 0 || grid.columns < 1 || grid.rows < 1)
        return cells;
    const Paper paper = ContentDetector::EstimatePaper(view);
    const QRect whole(0, 0, view.width, view.height);
    const QRect content = ContentDetector(pixelsPerPoint).Detect(view, whole, paper).value_or(whole);
    // Ink per column and per row of the content.
    std::vector<int> columns(size_t(view.width), 0), rows(size_t(view.height), 0);
    for (int y = content.top(); y <= content.bottom(); ++y) {
        const uint8_t *row = view.Row(y);
        for (int x = content.left(); x <= content.right(); ++x)
            if (Ink(row + view.channels * x, view.channels, paper)) {
                ++columns[size_t(x)];
                ++rows[size_t(y)];
            }
    }
    std::vector<int> xs{content.left()}, ys{content.top()};
    for (int c : Cuts(columns, content.left(), content.right() + 1, content.height(), grid.columns))
        xs.push_back(c);
    xs.push_back(content.right() + 1);
    for (int c : Cuts(rows, content.top(), content.bottom() + 1, content.width(), grid.rows))
        ys.push_back(c);
    ys.push_back(content.bottom() + 1);
    // Each cell grown into its neighbours by half the overlap, within the content.
    const double half = std::max(0.0, grid.overlap) / 2 * pixelsPerPoint;
    for (int j = 0; j < grid.rows; ++j)
        for (int i = 0; i < grid.columns; ++i) {
            const double left = i > 0 ? std::max<double>(xs.front(), xs[size_t(i)] - half) : xs[size_t(i)];
            const double right = i + 1 < grid.columns ? std::min<double>(xs.back(), xs[size_t(i) + 1] + half) : xs[size_t(i) + 1];
            const double top = j > 0 ? std::max<double>(ys.front(), ys[size_t(j)] - half) : ys[size_t(j)];
            const double bottom = j + 1 < grid.rows ? std::min<double>(ys.back(), ys[size_t(j) + 1] + half) : ys[size_t(j) + 1];
            cells.push_back({left / pixelsPerPoint, top / pixelsPerPoint, right / pixelsPerPoint, bottom / pixelsPerPoint});
        }
    return cells;
}

}  // namespace crop
