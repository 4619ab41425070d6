#ifndef CROP_VIEW_SCALED_PAGE_CACHE_H
#define CROP_VIEW_SCALED_PAGE_CACHE_H

#include "render/page_image.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <unordered_map>

class QPainter;

namespace crop {

// The page picture already scaled to the zoom, kept in square tiles of
// logical pixels around what was last shown, so that a repaint (an overlay
// moving, a window uncovered, a scroll back) copies pixels instead of
// scaling the picture again. The memory is bounded: at most `Limit()`
// tiles are kept, the least recently drawn going first; the whole page is
// never held at any zoom.
class ScaledPageCache {
public:
    static constexpr int kTile = 256;

    // Forgets every tile: the picture or the zoom changed.
    void Reset() { m_tiles.clear(); }
    void SetLimit(int tiles) { m_limit = tiles < 1 ? 1 : tiles; }
    int Limit() const { return m_limit; }
    // A limit that holds about `screens` views of `viewport` pixels.
    static int LimitFor(QSize viewport, int screens);

    // Draws the logical area `area` of the page: `picture` stretched over
    // 0, 0, `pageSize` in logical pixels. `toWindow` is added to logical
    // coordinates to reach the painter's.
    void Draw(QPainter &painter, const render::PageImage &picture, QSize pageSize, const QRect &area, QPoint toWindow);

    int TileCount() const { return int(m_tiles.size()); }
    // Pixels scaled from the picture so far (each tile once when made).
    int64_t ScaledPixels() const { return m_scaledPixels; }

private:
    struct Tile {
        QImage image;
        uint64_t lastUse = 0;
    };
    const Tile &TileAt(const render::PageImage &picture, QSize pageSize, int column, int row);
    // Drops the least recently drawn tiles beyond `keep`.
    void Trim(int keep);

    std::unordered_map<uint64_t, Tile> m_tiles;
    int m_limit = 64;
    uint64_t m_clock = 0;
    int64_t m_scaledPixels = 0;
};

}  // namespace crop

#endif
