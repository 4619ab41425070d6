// Renders the program's SVG pictures to PNG at build time:
//   render-pictures OUT.png SIZE IN.svg
//     one picture, SIZE x SIZE pixels;
//   render-pictures OUT.png HEIGHT IN1.svg IN2.svg ...
//     a strip of HEIGHT x HEIGHT pictures side by side, in order.
// The pictures keep an alpha channel, so their smooth edges sit cleanly on
// any background.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s OUT.png SIZE IN.svg [IN.svg ...]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int size = QString::fromLocal8Bit(argv[2]).toInt();
    if (size <= 0 || size > 4096) {
        std::fprintf(stderr, "render-pictures: a size of %s pixels makes no picture\n", argv[2]);
        return 2;
    }
    const int count = argc - 3;
    QImage strip(size * count, size, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    for (int i = 0; i < count; ++i) {
        QSvgRenderer svg(QString::fromLocal8Bit(argv[3 + i]));
        if (!svg.isValid()) {
            std::fprintf(stderr, "render-pictures: %s is not a picture it can draw\n", argv[3 + i]);
            return 1;
        }
        svg.render(&painter, QRectF(i * size, 0, size, size));
    }
    painter.end();
    if (!strip.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "render-pictures: %s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
