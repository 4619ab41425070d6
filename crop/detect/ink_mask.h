#ifndef CROP_DETECT_INK_MASK_H
#define CROP_DETECT_INK_MASK_H

#include "crop/detect/content_detector.h"

#include <QRect>

#include <cstdint>
#include <utility>
#include <vector>

namespace crop {

// The content pixels of `box` of a picture on its paper, read from the
// picture as they are asked for.
struct Mask {
    PixelView view;
    Paper paper;
    QRect box;
    bool At(int x, int y) const {
        const uint8_t *p = view.Row(y) + ptrdiff_t(view.channels) * x;
        return view.channels == 1 ? paper.Ink(p[0], p[0], p[0]) : paper.Ink(p[0], p[1], p[2]);
    }
    // The last counts of every row over a span of columns, and of every
    // column over a span of rows (Counts): a search that narrows the box
    // a little at a time counts most lines once.
    struct Kept {
        int from = 0, to = -1;
        std::vector<int> counts;
    };
    mutable Kept rows, columns;
};

// The content pixels of `box` of `view` (grey or colour) on `paper`.
inline Mask MaskOf(const PixelView &view, const QRect &box, const Paper &paper) {
    return Mask{view, paper, box & QRect(0, 0, view.width, view.height), {}, {}};
}

template <int C>
void AddCounts(const Mask &mask, const QRect &r, bool rows, int *__restrict c) {
    const int w = r.width();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uint8_t *__restrict p = mask.view.Row(y) + C * r.left();
        if (mask.paper.pureWhite) {
            // Every pixel that is not pure white: loops the compiler widens.
            if (rows) {
                int sum = 0;
                for (int x = 0; x < w; ++x) {
                    if constexpr (C == 1)
                        sum += p[x] != 255;
                    else
                        sum += (p[3 * x] & p[3 * x + 1] & p[3 * x + 2]) != 255;
                }
                c[y - r.top()] = sum;
            } else {
                for (int x = 0; x < w; ++x) {
                    if constexpr (C == 1)
                        c[x] += p[x] != 255;
                    else
                        c[x] += (p[3 * x] & p[3 * x + 1] & p[3 * x + 2]) != 255;
                }
            }
            continue;
        }
        int sum = 0;
        for (int x = 0; x < w; ++x, p += C) {
            const int ink = C == 1 ? mask.paper.Ink(p[0], p[0], p[0]) : mask.paper.Ink(p[0], p[1], p[2]);
            if (rows)
                sum += ink;
            else
                c[x] += ink;
        }
        if (rows)
            c[y - r.top()] = sum;
    }
}

// Ink counts of the lines of `r` across (rows when `rows`, else columns),
// counted afresh.
inline std::vector<int> CountsOf(const Mask &mask, const QRect &r, bool rows) {
    std::vector<int> counts(size_t(rows ? r.height() : r.width()), 0);
    if (mask.view.channels == 1)
        AddCounts<1>(mask, r, rows, counts.data());
    else
        AddCounts<3>(mask, r, rows, counts.data());
    return counts;
}

// Ink counts of the lines of `r` across (rows when `rows`, else columns).
// Where `r` spans most of the mask the other way, every line of the mask
// is counted over `r`'s span and kept, and later counts over that span
// (or a narrower one) are taken from them.
inline std::vector<int> Counts(const Mask &mask, const QRect &r, bool rows) {
    const bool most = rows ? r.height() * 2 >= mask.box.height() : r.width() * 2 >= mask.box.width();
    if (!most || r.isEmpty())
        return CountsOf(mask, r, rows);
    Mask::Kept &kept = rows ? mask.rows : mask.columns;
    const int from = rows ? r.left() : r.top(), to = rows ? r.right() : r.bottom();
    // The lines of the mask over the span from `a` to `b` (columns for rows).
    auto span = [&](int a, int b) {
        return rows ? QRect(QPoint(a, mask.box.top()), QPoint(b, mask.box.bottom()))
                    : QRect(QPoint(mask.box.left(), a), QPoint(mask.box.right(), b));
    };
    if (kept.from <= from && to <= kept.to && kept.from <= kept.to) {
        // Narrowed: what lies in the parts left off is taken away.
        for (const auto &[a, b] : {std::pair{kept.from, from - 1}, std::pair{to + 1, kept.to}}) {
            if (a > b)
                continue;
            const std::vector<int> off = CountsOf(mask, span(a, b), rows);
            for (size_t i = 0; i < off.size(); ++i)
                kept.counts[i] -= off[i];
        }
    } else if (kept.from != from || kept.to != to) {
        kept.counts = CountsOf(mask, span(from, to), rows);
    }
    kept.from = from;
    kept.to = to;
    const int first = rows ? r.top() - mask.box.top() : r.left() - mask.box.left();
    const int n = rows ? r.height() : r.width();
    return std::vector<int>(kept.counts.begin() + first, kept.counts.begin() + first + n);
}

}  // namespace crop

#endif
