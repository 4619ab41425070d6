// The cache of the page picture scaled to the zoom: the same pixels as
// scaling at once, nothing scaled twice, and bounded memory.

#include "crop/view/scaled_page_cache.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

using crop::ScaledPageCache;

// A picture with detail everywhere, so a misplaced tile shows.
void Fill(render::PageImage &image, uint32_t w, uint32_t h) {
    ASSERT_NE(image.Allocate(w, h, 24, 0), nullptr);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *row = image.Row(y);
        for (uint32_t x = 0; x < w; ++x) {
            row[x * 3] = uint8_t(x * 7 + y);
            row[x * 3 + 1] = uint8_t(y * 5);
            row[x * 3 + 2] = uint8_t((x ^ y) * 3);
        }
    }
}

QImage Canvas(QSize size) {
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    return canvas;
}

TEST(ScaledPageCache, TilesGiveThePixelsOfScalingTheWholePictureAtOnce) {
    render::PageImage picture;
    Fill(picture, 1287, 1666);
    for (QSize page : {QSize(741, 958), QSize(1416, 1833), QSize(612, 792)}) {
        SCOPED_TRACE(page.width());
        QImage direct = Canvas(page);
        {
            QPainter painter(&direct);
            picture.Paint(painter, QRect(QPoint(0, 0), page), nullptr, true);
        }
        // An area across tile borders, drawn at an offset in the window.
        const QRect area(200, 230, 400, 500);
        const QPoint toWindow(-150, -200);
        QImage tiled = Canvas(page);
        {
            QPainter painter(&tiled);
            ScaledPageCache cache;
            cache.Draw(painter, picture, page, area, toWindow);
        }
        const QRect drawn = (area & QRect(QPoint(0, 0), page)).translated(toWindow);
        for (int y = drawn.top(); y <= drawn.bottom(); y += 3)
            for (int x = drawn.left(); x <= drawn.right(); x += 3)
                ASSERT_EQ(tiled.pixel(x, y), direct.pixel(x - toWindow.x(), y - toWindow.y())) << x << "," << y;
        // Nothing outside the area is touched.
        EXPECT_EQ(tiled.pixel(drawn.right() + 2, drawn.top()), QColor(Qt::magenta).rgb());
    }
}

TEST(ScaledPageCache, WhatWasScaledOnceIsOnlyCopiedAfterwards) {
    render::PageImage picture;
    Fill(picture, 1287, 1666);
    const QSize page(900, 1165);
    QImage canvas = Canvas(QSize(600, 500));
    QPainter painter(&canvas);
    ScaledPageCache cache;
    cache.SetLimit(ScaledPageCache::LimitFor(canvas.size(), 3));
    cache.Draw(painter, picture, page, QRect(0, 0, 600, 500), QPoint());
    const int64_t scaled = cache.ScaledPixels();
    EXPECT_GE(scaled, 600 * 500);
    // Small repaints inside the shown area, as an overlay makes them.
    for (int i = 0; i < 20; ++i)
        cache.Draw(painter, picture, page, QRect(10 * i, 7 * i, 50, 40), QPoint());
    EXPECT_EQ(cache.ScaledPixels(), scaled);
    // A scroll of one line scales at most one row of tiles.
    cache.Draw(painter, picture, page, QRect(0, 500, 600, 10), QPoint(0, -10));
    EXPECT_LE(cache.ScaledPixels() - scaled, int64_t(page.width()) * ScaledPageCache::kTile);
    // A new zoom or picture starts afresh.
    cache.Reset();
    EXPECT_EQ(cache.TileCount(), 0);
}

TEST(ScaledPageCache, MemoryStaysBoundedWhateverIsScrolledThrough) {
    render::PageImage picture;
    Fill(picture, 1287, 1666);
    const QSize page(12870, 16660);  // a zoom of 2100 %: far more than memory should hold
    QImage canvas = Canvas(QSize(800, 600));
    QPainter painter(&canvas);
    ScaledPageCache cache;
    cache.SetLimit(ScaledPageCache::LimitFor(canvas.size(), 3));
    const int limit = cache.Limit();
    for (int y = 0; y < page.height(); y += 450) {
        cache.Draw(painter, picture, page, QRect(y % 5000, y, 800, 600), QPoint(-(y % 5000), -y));
        EXPECT_LE(cache.TileCount(), limit);
    }
    EXPECT_LE(int64_t(cache.TileCount()) * ScaledPageCache::kTile * ScaledPageCache::kTile * 4, 30ll << 20);
    // An area larger than the limit is still drawn whole.
    cache.SetLimit(1);
    QImage big = Canvas(QSize(1000, 900));
    QPainter bigPainter(&big);
    cache.Draw(bigPainter, picture, page, QRect(0, 0, 1000, 900), QPoint());
    EXPECT_NE(big.pixel(999, 899), QColor(Qt::magenta).rgb());
}

}  // namespace
