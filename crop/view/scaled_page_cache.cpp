#include "crop/view/scaled_page_cache.h"

#include <QPainter>

#include <algorithm>
#include <vector>

namespace crop {
namespace {

uint64_t Key(int column, int row) { return (uint64_t(uint32_t(column)) << 32) | uint32_t(row); }

}  // namespace

int ScaledPageCache::LimitFor(QSize viewport, int screens) {
    const int columns = std::max(viewport.width(), 1) / kTile + 2;
    const int rows = std::max(viewport.height(), 1) / kTile + 2;
    return columns * rows * std::max(screens, 1);
}

const ScaledPageCache::Tile &ScaledPageCache::TileAt(const render::PageImage &picture, QSize pageSize, int column,
                                                     int row) {
    Tile &tile = m_tiles[Key(column, row)];
    tile.lastUse = ++m_clock;
    if (tile.image.isNull()) {
        const QRect area = QRect(column * kTile, row * kTile, kTile, kTile) & QRect(QPoint(0, 0), pageSize);
        tile.image = QImage(area.size(), QImage::Format_RGB32);
        tile.image.fill(Qt::white);
        QPainter painter(&tile.image);
        painter.translate(-area.topLeft());
        picture.Paint(painter, QRect(QPoint(0, 0), pageSize), nullptr, true);
        m_scaledPixels += int64_t(area.width()) * area.height();
    }
    return tile;
}

void ScaledPageCache::Trim(int keep) {
    if (int(m_tiles.size()) <= keep)
        return;
    std::vector<std::pair<uint64_t, uint64_t>> byUse;  // last use, key
    byUse.reserve(m_tiles.size());
    for (const auto &[key, tile] : m_tiles)
        byUse.emplace_back(tile.lastUse, key);
    std::sort(byUse.begin(), byUse.end());
    for (size_t i = 0; i + size_t(keep) < byUse.size(); ++i)
        m_tiles.erase(byUse[i].second);
}

void ScaledPageCache::Draw(QPainter &painter, const render::PageImage &picture, QSize pageSize, const QRect &area,
                           QPoint toWindow) {
    const QRect wanted = area & QRect(QPoint(0, 0), pageSize);
    if (wanted.isEmpty() || !picture.HasPixels())
        return;
    const int firstColumn = wanted.left() / kTile, lastColumn = wanted.right() / kTile;
    const int firstRow = wanted.top() / kTile, lastRow = wanted.bottom() / kTile;
    for (int row = firstRow; row <= lastRow; ++row)
        for (int column = firstColumn; column <= lastColumn; ++column) {
            const Tile &tile = TileAt(picture, pageSize, column, row);
            const QPoint origin(column * kTile, row * kTile);
            const QRect part = wanted & QRect(origin, tile.image.size());
            painter.drawImage(part.topLeft() + toWindow, tile.image, part.translated(-origin));
        }
    // Whatever was just drawn stays, even past the limit.
    Trim(std::max(m_limit, (lastColumn - firstColumn + 1) * (lastRow - firstRow + 1)));
}

}  // namespace crop
