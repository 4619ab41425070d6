// Running the crop tool and rendering what it wrote, for its tests.

#ifndef ORVANE_TESTS_QUORREL_TOOL_H
#define ORVANE_TESTS_QUORREL_TOOL_H

#include "render/rendering_library.h"

#include <QProcess>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorrel_tool {

struct ToolRun {
    int exitCode = -1;
    std::string err;
};

inline ToolRun Quorrel(const QStringList &args) {
    QProcess p;
    p.start(QUORREL_PATH, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError().toStdString()};
}

inline QString Q(const std::string &s) { return QString::fromStdString(s); }

inline ToolRun Crop(const std::string &list, const std::string &in, const std::string &out, bool mediaBox = false) {
    QStringList args = {"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out)};
    if (mediaBox)
        args << "--media-box";
    return Quorrel(args);
}

class Rendered {
public:
    Rendered(const std::string &path) : m_doc(render::Ravel().OpenFile(path.c_str(), 1)) {}
    ~Rendered() {
        if (m_doc)
            render::Ravel().CloseFile(m_doc);
    }
    Rendered(const Rendered &) = delete;
    Rendered &operator=(const Rendered &) = delete;

    bool Ok() const { return m_doc != 0; }
    int Pages() const { return render::Ravel().Pages(m_doc); }
    // Width and height of the shown page in points.
    std::pair<double, double> Size(int page) const {
        double box[4] = {0, 0, 0, 0};
        render::Ravel().PageExtent(m_doc, page, box, 0);
        return {box[2], box[3]};
    }
    // The page at 144 dpi, top-down grey levels.
    std::vector<uint8_t> Grey(int page, int &w, int &h) const {
        auto [pw, ph] = Size(page);
        w = int(std::lround(pw * 2));
        h = int(std::lround(ph * 2));
        double scale[2] = {1.5, 1.5};
        int32_t slot = 0;
        LS_Bitmap *b = render::Ravel().DIBitmap24(m_doc, 0, page, scale, 0, w, h, &slot);
        std::vector<uint8_t> grey;
        if (!b)
            return grey;
        grey.resize(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y) {
            const uint8_t *row = b->bits + size_t(h - 1 - y) * size_t(b->stride);
            for (int x = 0; x < w; ++x)
                grey[size_t(y) * size_t(w) + size_t(x)] =
                    uint8_t((row[x * 3] + row[x * 3 + 1] * 2 + row[x * 3 + 2]) / 4);
        }
        render::Ravel().DeleteBitmap(b);
        return grey;
    }

private:
    LS_Document m_doc;
};

}  // namespace quorrel_tool

#endif
