// PageImage::Paint: the picture drawn into a destination rectangle, only
// over the part that is visible. At the picture's own size the pixels are
// copied unchanged. Otherwise, with smoothing, a reduction in both
// directions averages the source area under each destination pixel and
// every other scale interpolates bilinearly; without smoothing the nearest
// pixel is taken.
//
// For destination column k (from the rectangle's left edge) and row r (from
// its top edge), with fx = image width / w and fy = image height / h, the
// source position is sx = k * fx and, counting stored rows bottom-up,
// sy = H - (r + 1) * fy. The area average covers [sx, sx + fx] x
// [sy, sy + fy]; the bilinear sample is taken at (sx - 0.5, sy - 0.5) in
// pixel-centre coordinates; the nearest pixel is (floor(sx), floor(sy)).
// Positions outside the picture repeat its edge pixels.
//
// This runs on every repaint, so the weights are computed once per column
// and once per row, rows are worked one at a time, and the inner loops use
// integer arithmetic only.

#include "render/page_image.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace render {
namespace {

// Source rows as 24-bit blue, green, red, whatever the image's depth.
class RowSource {
public:
    explicit RowSource(const PageImage &image) : m_image(image) {
        if (image.BitsPerPixel() != 24) {
            m_buffer.resize(size_t(image.Width()) * 3);
            const RgbQuad *pal = image.Palette();
            for (uint32_t i = 0; i < image.PaletteSize(); ++i)
                m_palette[i] = pal[i];
        }
    }

    // Stored row y (0 = bottom).
    const uint8_t *Row(uint32_t y) {
        const uint8_t *row = m_image.Row(y);
        const uint32_t bits = m_image.BitsPerPixel();
        if (bits == 24)
            return row;
        const uint32_t w = m_image.Width();
        uint8_t *out = m_buffer.data();
        for (uint32_t x = 0; x < w; ++x, out += 3) {
            uint32_t index;
            if (bits == 8)
                index = row[x];
            else if (bits == 4)
                index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0f;
            else
                index = (row[x >> 3] >> (7 - (x & 7))) & 1;
            const RgbQuad &q = m_palette[index];
            out[0] = q.blue;
            out[1] = q.green;
            out[2] = q.red;
        }
        return m_buffer.data();
    }

private:
    const PageImage &m_image;
    std::vector<uint8_t> m_buffer;
    RgbQuad m_palette[256];
};

inline uint32_t Pack(uint32_t b, uint32_t g, uint32_t r) { return 0xff000000u | (r << 16) | (g << 8) | b; }

// ---- area average -------------------------------------------------------

constexpr int kAreaBits = 12;  // weights of one footprint sum to 1 << kAreaBits

// The pixels under each footprint [i * f, (i + 1) * f] for i in
// [first, first + count), and their weights.
struct Footprints {
    std::vector<int32_t> start;   // first source pixel
    std::vector<int32_t> offset;  // into weights, count + 1 entries
    std::vector<int32_t> weights;
};

Footprints AreaFootprints(int first, int count, double f, int size) {
    Footprints fp;
    fp.start.resize(size_t(count));
    fp.offset.resize(size_t(count) + 1);
    fp.weights.reserve(size_t(count) * size_t(std::ceil(f) + 2));
    const int one = 1 << kAreaBits;
    for (int k = 0; k < count; ++k) {
        const double a = (first + k) * f, b = a + f;
        int i0 = std::clamp(int(std::floor(a)), 0, size - 1);
        int i1 = std::clamp(int(std::ceil(b)) - 1, i0, size - 1);
        fp.start[size_t(k)] = i0;
        fp.offset[size_t(k)] = int32_t(fp.weights.size());
        int sum = 0;
        for (int i = i0; i <= i1; ++i) {
            const double cover = std::min(b, double(i + 1)) - std::max(a, double(i));
            int w = int(std::lround(std::max(cover, 0.0) / f * one));
            fp.weights.push_back(w);
            sum += w;
        }
        // Rounding must not brighten or darken: the weights sum to one.
        int heaviest = int(std::max_element(fp.weights.begin() + fp.offset[size_t(k)], fp.weights.end()) -
                           fp.weights.begin());
        fp.weights[size_t(heaviest)] += one - sum;
    }
    fp.offset[size_t(count)] = int32_t(fp.weights.size());
    return fp;
}

// Reduces one source row to the visible destination columns: 16-bit
// values (level x 256) per channel.
void ReduceRow(const uint8_t *src, const Footprints &cols, int count, uint16_t *out) {
    for (int k = 0; k < count; ++k) {
        const int32_t *w = &cols.weights[size_t(cols.offset[size_t(k)])];
        const int n = cols.offset[size_t(k) + 1] - cols.offset[size_t(k)];
        const uint8_t *p = src + size_t(cols.start[size_t(k)]) * 3;
        uint32_t b = 0, g = 0, r = 0;
        for (int i = 0; i < n; ++i, p += 3) {
            b += uint32_t(w[i]) * p[0];
            g += uint32_t(w[i]) * p[1];
            r += uint32_t(w[i]) * p[2];
        }
        out[0] = uint16_t((b + (1 << (kAreaBits - 9))) >> (kAreaBits - 8));
        out[1] = uint16_t((g + (1 << (kAreaBits - 9))) >> (kAreaBits - 8));
        out[2] = uint16_t((r + (1 << (kAreaBits - 9))) >> (kAreaBits - 8));
        out += 3;
    }
}

void PaintArea(const PageImage &image, double fx, double fy, const QRect &dest, const QRect &visible,
               QImage &out) {
    const int H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    const int vw = visible.width(), vh = visible.height();
    const Footprints cols = AreaFootprints(vx, vw, fx, int(image.Width()));
    const Footprints rows = AreaFootprints(vy, vh, fy, H);  // top-down source rows
    RowSource source(image);

    std::vector<uint16_t> cache(size_t(vw) * 3);
    int cached = -1;
    std::vector<uint32_t> acc(size_t(vw) * 3);
    for (int r = 0; r < vh; ++r) {
        std::fill(acc.begin(), acc.end(), 0u);
        const int32_t *w = &rows.weights[size_t(rows.offset[size_t(r)])];
        const int n = rows.offset[size_t(r) + 1] - rows.offset[size_t(r)];
        for (int j = 0; j < n; ++j) {
            const int t = rows.start[size_t(r)] + j;
            if (t != cached) {
                ReduceRow(source.Row(uint32_t(H - 1 - t)), cols, vw, cache.data());
                cached = t;
            }
            const uint32_t wj = uint32_t(w[j]);
            const uint16_t *c = cache.data();
            uint32_t *a = acc.data();
            for (size_t i = 0, e = size_t(vw) * 3; i < e; ++i)
                a[i] += wj * c[i];
        }
        auto *line = reinterpret_cast<uint32_t *>(out.scanLine(r));
        const uint32_t half = 1u << (kAreaBits + 7), shift = kAreaBits + 8;
        for (int k = 0; k < vw; ++k)
            line[k] = Pack((acc[size_t(k) * 3] + half) >> shift, (acc[size_t(k) * 3 + 1] + half) >> shift,
                           (acc[size_t(k) * 3 + 2] + half) >> shift);
    }
}

// ---- bilinear ------------------------------------------------------------

struct Taps {
    std::vector<int32_t> i0, i1;  // source pixels
    std::vector<uint32_t> w1;     // weight of i1 out of 256
};

// Samples at pixel-centre positions pos(k) for the visible range.
template <typename Pos>
Taps BilinearTaps(int count, int size, Pos pos) {
    Taps t;
    t.i0.resize(size_t(count));
    t.i1.resize(size_t(count));
    t.w1.resize(size_t(count));
    for (int k = 0; k < count; ++k) {
        double p = std::clamp(pos(k), 0.0, double(size - 1));
        int a = int(std::floor(p));
        double frac = p - a;
        t.i0[size_t(k)] = a;
        t.i1[size_t(k)] = std::min(a + 1, size - 1);
        t.w1[size_t(k)] = uint32_t(std::lround(frac * 256));
    }
    return t;
}

// One source row interpolated to the visible columns: level x 256.
void InterpolateRow(const uint8_t *src, const Taps &cols, int count, uint16_t *out) {
    for (int k = 0; k < count; ++k, out += 3) {
        const uint8_t *a = src + size_t(cols.i0[size_t(k)]) * 3;
        const uint8_t *b = src + size_t(cols.i1[size_t(k)]) * 3;
        const uint32_t w1 = cols.w1[size_t(k)], w0 = 256 - w1;
        out[0] = uint16_t(a[0] * w0 + b[0] * w1);
        out[1] = uint16_t(a[1] * w0 + b[1] * w1);
        out[2] = uint16_t(a[2] * w0 + b[2] * w1);
    }
}

void PaintBilinear(const PageImage &image, double fx, double fy, const QRect &dest, const QRect &visible,
                   QImage &out) {
    const int W = int(image.Width()), H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    const int vw = visible.width(), vh = visible.height();
    const Taps cols = BilinearTaps(vw, W, [&](int k) { return (vx + k) * fx - 0.5; });
    // Stored rows, bottom-up.
    const Taps rows = BilinearTaps(vh, H, [&](int r) { return H - (vy + r + 1) * fy - 0.5; });
    RowSource source(image);

    // Two interpolated rows are kept; going down the picture each row
    // usually reuses one of the previous pair.
    struct Slot {
        int row = -1;
        std::vector<uint16_t> data;
    } rowCache[2];
    rowCache[0].data.resize(size_t(vw) * 3);
    rowCache[1].data.resize(size_t(vw) * 3);
    auto fetch = [&](int y, int keep) -> const uint16_t * {
        for (Slot &s : rowCache)
            if (s.row == y)
                return s.data.data();
        Slot &s = rowCache[0].row == keep ? rowCache[1] : rowCache[0];
        InterpolateRow(source.Row(uint32_t(y)), cols, vw, s.data.data());
        s.row = y;
        return s.data.data();
    };
    for (int r = 0; r < vh; ++r) {
        const int y0 = rows.i0[size_t(r)], y1 = rows.i1[size_t(r)];
        const uint16_t *a = fetch(y0, y1);
        const uint16_t *b = fetch(y1, y0);
        const uint32_t w1 = rows.w1[size_t(r)], w0 = 256 - w1;
        auto *line = reinterpret_cast<uint32_t *>(out.scanLine(r));
        for (int k = 0; k < vw; ++k, a += 3, b += 3)
            line[k] = Pack((a[0] * w0 + b[0] * w1 + 32768) >> 16, (a[1] * w0 + b[1] * w1 + 32768) >> 16,
                           (a[2] * w0 + b[2] * w1 + 32768) >> 16);
    }
}

// ---- nearest pixel and the picture's own size ---------------------------

void PaintNearest(const PageImage &image, double fx, double fy, const QRect &dest, const QRect &visible,
                  QImage &out) {
    const int W = int(image.Width()), H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    std::vector<int32_t> cols(size_t(visible.width()));
    for (int k = 0; k < visible.width(); ++k)
        cols[size_t(k)] = std::clamp(int(std::floor((vx + k) * fx)), 0, W - 1);
    RowSource source(image);
    for (int r = 0; r < visible.height(); ++r) {
        const int y = std::clamp(int(std::floor(H - (vy + r + 1) * fy)), 0, H - 1);
        const uint8_t *src = source.Row(uint32_t(y));
        auto *line = reinterpret_cast<uint32_t *>(out.scanLine(r));
        for (int k = 0; k < visible.width(); ++k) {
            const uint8_t *p = src + size_t(cols[size_t(k)]) * 3;
            line[k] = Pack(p[0], p[1], p[2]);
        }
    }
}

void PaintOwnSize(const PageImage &image, const QRect &dest, const QRect &visible, QImage &out) {
    const int H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    RowSource source(image);
    for (int r = 0; r < visible.height(); ++r) {
        const uint8_t *src = source.Row(uint32_t(H - 1 - (vy + r))) + size_t(vx) * 3;
        auto *line = reinterpret_cast<uint32_t *>(out.scanLine(r));
        for (int k = 0; k < visible.width(); ++k, src += 3)
            line[k] = Pack(src[0], src[1], src[2]);
    }
}

// The area of the painter's device that drawing can reach, in logical
// coordinates: the device, the painter's clip and the paint event's
// region.
QRect ClipBox(QPainter &painter) {
    const QTransform inverse = painter.deviceTransform().inverted();
    QRect box;
    if (QPaintDevice *device = painter.device())
        box = inverse.mapRect(QRect(0, 0, device->width(), device->height()));
    if (QPaintEngine *engine = painter.paintEngine()) {
        const QRegion system = engine->systemClip();
        if (!system.isEmpty())
            box &= inverse.mapRect(system.boundingRect());
    }
    if (painter.hasClipping())
        box &= painter.clipBoundingRect().toAlignedRect();
    return box;
}

}  // namespace

void PageImage::Paint(QPainter &painter, int x, int y, int w, int h, const QRect *clip, bool smooth) const {
    if (!m_block || w == 0 || h == 0 || !m_enabled || !painter.isActive())
        return;
    if (w < 0)
        w = int(Width());
    if (h < 0)
        h = int(Height());
    painter.save();
    if (clip)
        painter.setClipRect(*clip, Qt::IntersectClip);
    const QRect dest(x, y, w, h);
    const QRect visible = ClipBox(painter) & dest;
    if (!visible.isEmpty()) {
        QImage out(visible.size(), QImage::Format_RGB32);
        if (!out.isNull()) {
            const double fx = double(float(Width()) / float(w));
            const double fy = double(float(Height()) / float(h));
            if (uint32_t(w) == Width() && uint32_t(h) == Height())
                PaintOwnSize(*this, dest, visible, out);
            else if (!smooth)
                PaintNearest(*this, fx, fy, dest, visible, out);
            else if (fx > 1 && fy > 1)
                PaintArea(*this, fx, fy, dest, visible, out);
            else
                PaintBilinear(*this, fx, fy, dest, visible, out);
            painter.drawImage(visible.topLeft(), out);
        }
    }
    painter.restore();
}

}  // namespace render
