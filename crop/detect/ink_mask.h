#ifndef CROP_DETECT_INK_MASK_H
#define CROP_DETECT_INK_MASK_H

#include "crop/detect/content_detector.h"

#include <QRect>

#include <cstdint>
#include <vector>

namespace crop {

// The content pixels of `box`, row after row.
struct Mask {
    QRect box;
    std::vector<uint8_t> ink;
    bool At(int x, int y) const {
        return ink[size_t(y - box.top()) * size_t(box.width()) + size_t(x - box.left())] != 0;
    }
};

template <int C>
Mask MaskOfChannels(const PixelView &view, const QRect &box, const Paper &paper) {
    Mask mask{box, std::vector<uint8_t>(size_t(box.width()) * size_t(box.height()))};
    uint8_t *m = mask.ink.data();
    for (int y = box.top(); y <= box.bottom(); ++y) {
        const uint8_t *p = view.Row(y) + C * box.left();
        for (int x = 0; x < box.width(); ++x, p += C) {
            if constexpr (C == 1)
                *m++ = paper.Ink(p[0], p[0], p[0]);
            else
                *m++ = paper.Ink(p[0], p[1], p[2]);
        }
    }
    return mask;
}

// Ink counts of the lines of `r` across (rows when `rows`, else columns).
inline std::vector<int> Counts(const Mask &mask, const QRect &r, bool rows) {
    std::vector<int> counts(size_t(rows ? r.height() : r.width()), 0);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uint8_t *m = mask.ink.data() + size_t(y - mask.box.top()) * size_t(mask.box.width()) +
                           size_t(r.left() - mask.box.left());
        for (int x = 0; x < r.width(); ++x)
            counts[size_t(rows ? y - r.top() : x)] += m[x];
    }
    return counts;
}

// The content pixels of `box` of `view` (grey or colour) on `paper`.
inline Mask MaskOf(const PixelView &view, const QRect &box, const Paper &paper) {
    return view.channels == 1 ? MaskOfChannels<1>(view, box, paper) : MaskOfChannels<3>(view, box, paper);
}

}  // namespace crop

#endif
