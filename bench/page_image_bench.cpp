// The page image's hot paths against Qt's own, in the same run:
//  - Paint of a 1287 x 1666 page picture with smoothing into 612 x 792 (the
//    page view at 100 %) and into 1416 x 1833 (231 %), against
//    QImage::scaled(..., Qt::SmoothTransformation) to the same sizes;
//  - LoadFile of a 4000 x 3000 JPEG and PNG against QImageReader.
// Prints the best time of each and the ratio ours / Qt's (lower is better).

#include "best_of.h"
#include "render/page_image.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

using bench::BestOf;
using bench::Report;

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    int rounds = 40;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[++i]));

    // The page picture: a rendered page's size, photograph-like content.
    const testimages::Picture photo = testimages::Photo(1287, 1666);
    render::PageImage picture;
    picture.Allocate(1287, 1666, 24, 0);
    QImage qtPicture(1287, 1666, QImage::Format_RGB32);
    for (int y = 0; y < 1666; ++y) {
        uint8_t *row = picture.Row(uint32_t(1665 - y));
        auto *q = reinterpret_cast<QRgb *>(qtPicture.scanLine(y));
        for (int x = 0; x < 1287; ++x) {
            const uint8_t *p = photo.At(x, y);
            row[x * 3] = p[2];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
            q[x] = qRgb(p[0], p[1], p[2]);
        }
    }
    for (QSize size : {QSize(612, 792), QSize(1416, 1833)}) {
        QImage target(size, QImage::Format_RGB32);
        auto t = BestOf(
            rounds,
            [&] {
                QPainter painter(&target);
                picture.Paint(painter, QRect(QPoint(0, 0), size), nullptr, true);
            },
            [&] {
                QImage scaled = qtPicture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                if (scaled.isNull())
                    std::abort();
            });
        char what[96];
        std::snprintf(what, sizeof what, "Paint 1287x1666 -> %dx%d smooth", size.width(), size.height());
        Report(what, "QImage::scaled SmoothTransformation", t, 1.0);
    }

    fixtures::TempDir dir;
    const testimages::Picture big = testimages::Photo(4000, 3000);
    const std::string jpeg = dir.file("big.jpg"), png = dir.file("big.png");
    testimages::Save(jpeg, testimages::Jpeg(big, 90));
    testimages::Save(png, testimages::Png(big, false));
    for (const auto &[name, path, code] : {std::tuple{"LoadFile 4000x3000 JPEG", jpeg, render::kFormatJpeg},
                                           std::tuple{"LoadFile 4000x3000 PNG", png, render::kFormatPng}}) {
        auto t = BestOf(
            std::max(3, rounds / 3),
            [&, path = path, code = code] {
                render::PageImage image;
                if (!image.LoadFile(path, code))
                    std::abort();
            },
            [&, path = path] {
                QImageReader reader(QString::fromStdString(path));
                if (reader.read().isNull())
                    std::abort();
            });
        Report(name, "QImageReader::read", t, 1.1);
    }
    return 0;
}
