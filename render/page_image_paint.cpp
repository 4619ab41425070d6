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
// This runs on every repaint, so it is built for speed. Both smooth
// filters are separable: for each destination row the source rows it
// needs are first combined with their vertical weights (whole rows of
// bytes at a time), then each destination column combines the pixels it
// needs with its horizontal weights. Weights are computed once per column
// and once per row; the inner loops are integer SIMD with 15-bit weights
// (a weight of one is 32768), values carried as level x 256 between the
// passes, so the result stays within one level of the exact formula.

#include "render/page_image.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace render {
namespace {

constexpr int kOne = 1 << 15;  // a weight of one

// Source rows as 24-bit blue, green, red, whatever the image's depth. A
// palette image's rows are expanded into one of several buffers, so that
// the rows of one footprint can be used together.
class RowSource {
public:
    RowSource(const PageImage &image, int buffers) : m_image(image) {
        if (image.BitsPerPixel() != 24) {
            m_buffers.assign(size_t(std::max(buffers, 1)), std::vector<uint8_t>(size_t(image.Width()) * 3));
            const RgbQuad *pal = image.Palette();
            for (uint32_t i = 0; i < image.PaletteSize(); ++i)
                m_palette[i] = pal[i];
        }
    }

    // Stored row y (0 = bottom), valid until the same slot is used again.
    const uint8_t *Row(uint32_t y, int slot = 0) {
        const uint8_t *row = m_image.Row(y);
        const uint32_t bits = m_image.BitsPerPixel();
        if (bits == 24)
            return row;
        std::vector<uint8_t> &buffer = m_buffers[size_t(slot) % m_buffers.size()];
        const uint32_t w = m_image.Width();
        uint8_t *out = buffer.data();
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
        return buffer.data();
    }

private:
    const PageImage &m_image;
    std::vector<std::vector<uint8_t>> m_buffers;
    RgbQuad m_palette[256];
};

inline uint32_t Pack(uint32_t b, uint32_t g, uint32_t r) { return 0xff000000u | (r << 16) | (g << 8) | b; }

// Where the visible area's pixels go: 32-bit 0xffRRGGBB rows.
struct Target {
    uchar *base = nullptr;
    qsizetype bytesPerLine = 0;
    uint32_t *Line(int r) const { return reinterpret_cast<uint32_t *>(base + r * bytesPerLine); }
};

// The source pixels (or rows) one destination column (or row) takes, with
// their weights, which sum to kOne.
struct Taps {
    std::vector<int32_t> start;   // first source index
    std::vector<int32_t> offset;  // into weight, count + 1 entries
    std::vector<uint16_t> weight;
    std::vector<uint64_t> wide;  // each weight four times, for 4-lane multiplies
    int maxTaps = 0;

    void Widen() {
        wide.resize(weight.size());
        for (size_t i = 0; i < weight.size(); ++i)
            wide[i] = uint64_t(weight[i]) * 0x0001000100010001ull;
    }
    const uint64_t *Wide(int k) const { return &wide[size_t(offset[size_t(k)])]; }

    int Count(int k) const { return offset[size_t(k) + 1] - offset[size_t(k)]; }
    const uint16_t *Weights(int k) const { return &weight[size_t(offset[size_t(k)])]; }
    int First() const { return start.empty() ? 0 : start.front(); }
    int Last() const {  // highest index any tap reads
        int last = 0;
        for (size_t k = 0; k < start.size(); ++k)
            last = std::max(last, start[k] + offset[k + 1] - offset[k] - 1);
        return last;
    }
};

// Makes the weights of one footprint sum exactly to kOne.
void Normalise(Taps &t, size_t from) {
    int sum = 0;
    size_t heaviest = from;
    for (size_t i = from; i < t.weight.size(); ++i) {
        sum += t.weight[i];
        if (t.weight[i] > t.weight[heaviest])
            heaviest = i;
    }
    t.weight[heaviest] = uint16_t(int(t.weight[heaviest]) + kOne - sum);
}

// Area footprints [i * f, (i + 1) * f] for i in [first, first + count).
Taps AreaTaps(int first, int count, double f, int size) {
    Taps t;
    t.start.resize(size_t(count));
    t.offset.resize(size_t(count) + 1);
    for (int k = 0; k < count; ++k) {
        const double a = (first + k) * f, b = a + f;
        const int i0 = std::clamp(int(std::floor(a)), 0, size - 1);
        const int i1 = std::clamp(int(std::ceil(b)) - 1, i0, size - 1);
        t.start[size_t(k)] = i0;
        t.offset[size_t(k)] = int32_t(t.weight.size());
        for (int i = i0; i <= i1; ++i) {
            const double cover = std::min(b, double(i + 1)) - std::max(a, double(i));
            t.weight.push_back(uint16_t(std::lround(std::max(cover, 0.0) / f * kOne)));
        }
        Normalise(t, size_t(t.offset[size_t(k)]));
        t.maxTaps = std::max(t.maxTaps, i1 - i0 + 1);
    }
    t.offset[size_t(count)] = int32_t(t.weight.size());
    return t;
}

// Two-tap interpolation at pixel-centre positions pos(k); one tap when
// the picture is one pixel across.
template <typename Pos>
Taps BilinearTaps(int count, int size, Pos pos) {
    const int n = size > 1 ? 2 : 1;
    Taps t;
    t.start.resize(size_t(count));
    t.offset.resize(size_t(count) + 1);
    t.weight.resize(size_t(count) * size_t(n));
    t.maxTaps = n;
    for (int k = 0; k < count; ++k) {
        t.offset[size_t(k)] = k * n;
        if (n == 1) {
            t.start[size_t(k)] = 0;
            t.weight[size_t(k)] = kOne;
            continue;
        }
        const double p = std::clamp(pos(k), 0.0, double(size - 1));
        const int a = std::min(int(std::floor(p)), size - 2);
        const int w1 = int(std::lround((p - a) * kOne));
        t.start[size_t(k)] = a;
        t.weight[size_t(k) * 2] = uint16_t(kOne - w1);
        t.weight[size_t(k) * 2 + 1] = uint16_t(w1);
    }
    t.offset[size_t(count)] = count * n;
    return t;
}

// out[i] = sum of rows[j][i] x weight[j], as level x 256, for the bytes
// [begin, end) of the rows.
void CombineRows(const uint8_t *const *rows, const uint16_t *weight, int n, size_t begin, size_t end, uint16_t *out) {
    size_t i = begin;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i w[8];
    if (n == 2) {
        // The common case of interpolation: two rows.
        const __m128i w0 = _mm_set1_epi16(short(weight[0])), w1 = _mm_set1_epi16(short(weight[1]));
        const uint8_t *a = rows[0], *b = rows[1];
        for (; i + 16 <= end; i += 16) {
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
            const __m128i lo = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, va), w0),
                                             _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, vb), w1));
            const __m128i hi = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(zero, va), w0),
                                             _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, vb), w1));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_slli_epi16(lo, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_slli_epi16(hi, 1));
        }
    } else if (n <= 8) {
        for (int j = 0; j < n; ++j)
            w[j] = _mm_set1_epi16(short(weight[j]));
        for (; i + 16 <= end; i += 16) {
            __m128i lo = zero, hi = zero;
            for (int j = 0; j < n; ++j) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[j] + i));
                // Unpacking the bytes above zero bytes gives level x 256.
                lo = _mm_add_epi16(lo, _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, v), w[j]));
                hi = _mm_add_epi16(hi, _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, v), w[j]));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_slli_epi16(lo, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 8), _mm_slli_epi16(hi, 1));
        }
    }
#endif
    for (; i < end; ++i) {
        uint32_t acc = 0;
        for (int j = 0; j < n; ++j)
            acc += (uint32_t(rows[j][i]) << 8) * weight[j] >> 16;
        out[i] = uint16_t(acc << 1);
    }
}

// Each visible column from the combined row (level x 256): its taps'
// pixels times their weights, rounded to a level.
void CombineColumns(const uint16_t *row, const Taps &cols, int count, uint32_t *out) {
    int k = 0;
#if defined(__SSE2__)
    const __m128i round = _mm_set1_epi16(64);
    const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
    auto load = [](const void *p) { return _mm_loadl_epi64(static_cast<const __m128i *>(p)); };
    if (cols.maxTaps == 2 && int(cols.weight.size()) == count * 2) {
        // Two taps everywhere: two columns at a time, one in each half.
        for (; k + 2 <= count; k += 2) {
            const uint16_t *a = row + size_t(cols.start[size_t(k)]) * 3;
            const uint16_t *b = row + size_t(cols.start[size_t(k) + 1]) * 3;
            const uint64_t *w = &cols.wide[size_t(k) * 2];  // a0 a1 b0 b1
            const __m128i first = _mm_unpacklo_epi64(load(a), load(b));
            const __m128i second = _mm_unpacklo_epi64(load(a + 3), load(b + 3));
            const __m128i w0 = _mm_unpacklo_epi64(load(w), load(w + 2));
            const __m128i w1 = _mm_unpacklo_epi64(load(w + 1), load(w + 3));
            __m128i acc = _mm_add_epi16(_mm_mulhi_epu16(first, w0), _mm_mulhi_epu16(second, w1));
            acc = _mm_srli_epi16(_mm_add_epi16(acc, round), 7);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out + k), _mm_or_si128(_mm_packus_epi16(acc, acc), alpha));
        }
    }
    for (; k < count; ++k) {
        const uint64_t *w = cols.Wide(k);
        const uint16_t *p = row + size_t(cols.start[size_t(k)]) * 3;
        __m128i acc = _mm_setzero_si128();
        for (int t = 0, n = cols.Count(k); t < n; ++t, p += 3)
            acc = _mm_add_epi16(acc, _mm_mulhi_epu16(load(p), load(w + t)));
        acc = _mm_srli_epi16(_mm_add_epi16(acc, round), 7);
        out[k] = uint32_t(_mm_cvtsi128_si32(_mm_or_si128(_mm_packus_epi16(acc, acc), alpha)));
    }
#else
    for (; k < count; ++k) {
        const uint16_t *w = cols.Weights(k);
        const uint16_t *p = row + size_t(cols.start[size_t(k)]) * 3;
        uint32_t b = 0, g = 0, r = 0;
        for (int t = 0, n = cols.Count(k); t < n; ++t, p += 3) {
            b += uint32_t(p[0]) * w[t] >> 16;
            g += uint32_t(p[1]) * w[t] >> 16;
            r += uint32_t(p[2]) * w[t] >> 16;
        }
        out[k] = Pack((b + 64) >> 7, (g + 64) >> 7, (r + 64) >> 7);
    }
#endif
}

// Both smooth filters: rows are the vertical taps in stored-row order.
// Rows [r0, r1) of the visible area.
void PaintBand(const PageImage &image, const Taps &cols, const Taps &rows, int vw, int r0, int r1, const Target &out) {
    RowSource source(image, rows.maxTaps);
    // The combined row covers the source columns the taps read, plus room
    // for the 4-lane loads past the last pixel.
    const size_t first = size_t(cols.First()) * 3, end = size_t(cols.Last() + 1) * 3;
    std::vector<uint16_t> combined(size_t(image.Width()) * 3 + 8);
    std::vector<const uint8_t *> rowPtrs(size_t(rows.maxTaps));
    for (int r = r0; r < r1; ++r) {
        const int n = rows.Count(r);
        for (int j = 0; j < n; ++j)
            rowPtrs[size_t(j)] = source.Row(uint32_t(rows.start[size_t(r)] + j), j);
        CombineRows(rowPtrs.data(), rows.Weights(r), n, first, end, combined.data());
        CombineColumns(combined.data(), cols, vw, out.Line(r));
    }
}

// Large areas are split into bands of rows painted side by side on the
// machine's cores; each band has its own buffers and writes its own rows.
void PaintSeparable(const PageImage &image, Taps cols, const Taps &rows, int vw, int vh, const Target &out) {
    cols.Widen();
    constexpr int64_t kPixelsPerBand = 1 << 16;
    const int cores = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    const int bands = int(std::clamp<int64_t>(int64_t(vw) * vh / kPixelsPerBand, 1, cores));
    std::vector<std::thread> helpers;
    for (int b = 1; b < bands; ++b)
        helpers.emplace_back([&, b] { PaintBand(image, cols, rows, vw, vh * b / bands, vh * (b + 1) / bands, out); });
    PaintBand(image, cols, rows, vw, 0, vh / bands, out);
    for (std::thread &t : helpers)
        t.join();
}

void PaintArea(const PageImage &image, double fx, double fy, const QRect &dest, const QRect &visible,
               const Target &out) {
    const int H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    const Taps cols = AreaTaps(vx, visible.width(), fx, int(image.Width()));
    // The row footprints in stored rows: top-down [r fy, (r + 1) fy] is
    // stored [H - (r + 1) fy, H - r fy].
    Taps rows = AreaTaps(vy, visible.height(), fy, H);
    for (size_t r = 0; r < rows.start.size(); ++r) {
        const int n = rows.offset[r + 1] - rows.offset[r];
        rows.start[r] = H - rows.start[r] - n;  // the bottom-most stored row first
        std::reverse(rows.weight.begin() + rows.offset[r], rows.weight.begin() + rows.offset[r + 1]);
    }
    PaintSeparable(image, cols, rows, visible.width(), visible.height(), out);
}

void PaintBilinear(const PageImage &image, double fx, double fy, const QRect &dest, const QRect &visible,
                   const Target &out) {
    const int W = int(image.Width()), H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    const Taps cols = BilinearTaps(visible.width(), W, [&](int k) { return (vx + k) * fx - 0.5; });
    const Taps rows = BilinearTaps(visible.height(), H, [&](int r) { return H - (vy + r + 1) * fy - 0.5; });
    PaintSeparable(image, cols, rows, visible.width(), visible.height(), out);
}

void PaintNearest(const PageImage &image, double fx, double fy, const QRect &dest, const QRect &visible,
                  const Target &out) {
    const int W = int(image.Width()), H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    std::vector<int32_t> cols(size_t(visible.width()));
    for (int k = 0; k < visible.width(); ++k)
        cols[size_t(k)] = std::clamp(int(std::floor((vx + k) * fx)), 0, W - 1);
    RowSource source(image, 1);
    for (int r = 0; r < visible.height(); ++r) {
        const int y = std::clamp(int(std::floor(H - (vy + r + 1) * fy)), 0, H - 1);
        const uint8_t *src = source.Row(uint32_t(y));
        auto *line = out.Line(r);
        for (int k = 0; k < visible.width(); ++k) {
            const uint8_t *p = src + size_t(cols[size_t(k)]) * 3;
            line[k] = Pack(p[0], p[1], p[2]);
        }
    }
}

void PaintOwnSize(const PageImage &image, const QRect &dest, const QRect &visible, const Target &out) {
    const int H = int(image.Height());
    const int vx = visible.x() - dest.x(), vy = visible.y() - dest.y();
    RowSource source(image, 1);
    for (int r = 0; r < visible.height(); ++r) {
        const uint8_t *src = source.Row(uint32_t(H - 1 - (vy + r))) + size_t(vx) * 3;
        auto *line = out.Line(r);
        for (int k = 0; k < visible.width(); ++k, src += 3)
            line[k] = Pack(src[0], src[1], src[2]);
    }
}

// The area of the painter's device that drawing can reach, in logical
// coordinates: the device (a widget paints into its window's backing
// store, at its offset there), the painter's clip and the paint event's
// region.
QRect ClipBox(QPainter &painter) {
    const QTransform toLogical = painter.deviceTransform().inverted();
    QRect box;
    if (QPaintDevice *device = painter.device())
        box = painter.worldTransform().inverted().mapRect(QRect(0, 0, device->width(), device->height()));
    if (QPaintEngine *engine = painter.paintEngine()) {
        if (QPaintDevice *target = engine->paintDevice())
            box &= toLogical.mapRect(QRect(0, 0, target->width(), target->height()));
        const QRegion system = engine->systemClip();
        if (!system.isEmpty())
            box &= toLogical.mapRect(system.boundingRect());
    }
    if (painter.hasClipping())
        box &= painter.clipBoundingRect().toAlignedRect();
    return box;
}

// The picture of the visible area is made in memory kept between paints,
// so a repaint does not fault in fresh pages.
QImage ScratchImage(QSize size) {
    thread_local std::vector<uint32_t> memory;
    const size_t pixels = size_t(size.width()) * size_t(size.height());
    if (memory.size() < pixels)
        memory.assign(pixels, 0);
    return QImage(reinterpret_cast<uchar *>(memory.data()), size.width(), size.height(), qsizetype(size.width()) * 4,
                  QImage::Format_RGB32);
}

// When the painter draws into a 32-bit image in memory (a widget's backing
// store, or a QImage) with nothing but a translation, a rectangular clip
// and plain opaque drawing, the pixels can be written where they belong
// instead of being drawn from a copy. Returns the device image and the
// visible area's position in it, or null.
QImage *DirectTarget(QPainter &painter, const QRect &visible, QPoint &at) {
    QPaintEngine *engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster)
        return nullptr;
    QPaintDevice *device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    auto *image = static_cast<QImage *>(device);
    const QImage::Format format = image->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    const QTransform t = painter.deviceTransform();
    if (t.type() > QTransform::TxTranslate || t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy()) ||
        image->devicePixelRatio() != 1.0 || painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return nullptr;
    if (engine->systemClip().rectCount() > 1 || (painter.hasClipping() && painter.clipRegion().rectCount() > 1))
        return nullptr;
    at = visible.topLeft() + QPoint(int(t.dx()), int(t.dy()));
    if (!image->rect().contains(QRect(at, visible.size())))
        return nullptr;
    return image;
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
        QPoint at;
        QImage *device = DirectTarget(painter, visible, at);
        QImage scratch;
        Target out;
        if (device) {
            out.base = device->bits() + at.y() * device->bytesPerLine() + at.x() * 4;
            out.bytesPerLine = device->bytesPerLine();
        } else {
            scratch = ScratchImage(visible.size());
            out.base = scratch.bits();
            out.bytesPerLine = scratch.bytesPerLine();
        }
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
        if (!device)
            painter.drawImage(visible.topLeft(), scratch);
    }
    painter.restore();
}

}  // namespace render
