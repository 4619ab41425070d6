#include "quorrel/straighten.h"

#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorrel {
namespace {

void Apply(const std::array<double, 6> &m, double x, double y, double &u, double &v) {
    u = m[0] * x + m[2] * y + m[4];
    v = m[1] * x + m[3] * y + m[5];
}

QPDFObjectHandle Real(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.4f", v);
    return QPDFObjectHandle::newReal(text);
}

// The box round `rect` turned by `m`.
QPDFObjectHandle TurnedRectangle(const std::array<double, 6> &m, QPDFObjectHandle rect) {
    const QPDFObjectHandle::Rectangle r = rect.getArrayAsRectangle();
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (const auto &[x, y] : {std::pair{r.llx, r.lly}, {r.urx, r.lly}, {r.llx, r.ury}, {r.urx, r.ury}}) {
        double u, v;
        Apply(m, x, y, u, v);
        x0 = std::min(x0, u), y0 = std::min(y0, v), x1 = std::max(x1, u), y1 = std::max(y1, v);
    }
    return QPDFObjectHandle::newArray({Real(x0), Real(y0), Real(x1), Real(y1)});
}

// Quadrilaterals: x, y pairs, each turned.
QPDFObjectHandle TurnedPoints(const std::array<double, 6> &m, QPDFObjectHandle points) {
    std::vector<QPDFObjectHandle> out;
    const int n = points.getArrayNItems();
    for (int i = 0; i + 1 < n; i += 2) {
        double x = 0, y = 0, u, v;
        if (!points.getArrayItem(i).getValueAsNumber(x) || !points.getArrayItem(i + 1).getValueAsNumber(y))
            return points;  // not numbers: left as they are
        Apply(m, x, y, u, v);
        out.push_back(Real(u));
        out.push_back(Real(v));
    }
    return QPDFObjectHandle::newArray(out);
}

}  // namespace

std::array<double, 6> TurnAbout(double degrees, double cx, double cy) {
    const double a = degrees * 3.14159265358979323846 / 180;
    const double c = std::cos(a), s = std::sin(a);
    // Translate the centre to the origin, turn, translate back.
    return {c, s, -s, c, cx - c * cx + s * cy, cy - s * cx - c * cy};
}

void TurnPage(QPDFObjectHandle page, double degrees, double cx, double cy,
              const std::function<QPDFObjectHandle(const std::string &data)> &makeStream,
              std::vector<QPDFObjectHandle> &changed, std::set<QPDFObjGen> &turned) {
    const std::array<double, 6> m = TurnAbout(degrees, cx, cy);
    char matrix[256];
    std::snprintf(matrix, sizeof matrix, "q %.6f %.6f %.6f %.6f %.4f %.4f cm\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    QPDFPageObjectHelper helper(page);
    // The closing stream starts on a line of its own: the page's last
    // stream may end in the middle of a token.
    helper.addPageContents(makeStream(matrix), true);
    helper.addPageContents(makeStream("\nQ\n"), false);
    changed.push_back(page);

    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!annots.isArray())
        return;
    for (QPDFObjectHandle annot : annots.aitems()) {
        if (!annot.isDictionary())
            continue;
        if (annot.isIndirect()) {
            if (!turned.insert(annot.getObjGen()).second)
                continue;
            changed.push_back(annot);
        }
        if (annot.getKey("/Rect").isRectangle())
            annot.replaceKey("/Rect", TurnedRectangle(m, annot.getKey("/Rect")));
        if (annot.getKey("/QuadPoints").isArray())
            annot.replaceKey("/QuadPoints", TurnedPoints(m, annot.getKey("/QuadPoints")));
    }
}

}  // namespace quorrel
