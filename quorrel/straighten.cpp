#include "quorrel/straighten.h"

#include <qpdf/QPDF.hh>
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

// How deep the content's saves of the graphics state go: below where it
// began (a stray Q, which would otherwise undo the turn) and where it ends.
class Depth : public QPDFObjectHandle::ParserCallbacks {
public:
    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator())
            return;
        const std::string op = object.getOperatorValue();
        if (op == "q") {
            ++m_now;
        } else if (op == "Q") {
            --m_now;
            m_least = std::min(m_least, m_now);
        }
    }
    void handleEOF() override {}
    int Least() const { return m_least; }
    int End() const { return m_now; }

private:
    int m_now = 0, m_least = 0;
};

// The turned rectangle's box, and each point list of an annotation turned:
// ink strokes, a line, a polygon's vertices, a callout.
void TurnPoints(const std::array<double, 6> &m, QPDFObjectHandle annot) {
    for (const char *key : {"/QuadPoints", "/L", "/Vertices", "/CL"})
        if (annot.getKey(key).isArray())
            annot.replaceKey(key, TurnedPoints(m, annot.getKey(key)));
    QPDFObjectHandle ink = annot.getKey("/InkList");
    if (ink.isArray()) {
        std::vector<QPDFObjectHandle> strokes;
        for (QPDFObjectHandle stroke : ink.aitems())
            strokes.push_back(stroke.isArray() ? TurnedPoints(m, stroke) : stroke);
        annot.replaceKey("/InkList", QPDFObjectHandle::newArray(strokes));
    }
}

// An appearance drawn turned within the box round its turned rectangle:
// its matrix takes the turn (the move is the rectangle's).
void TurnAppearance(double degrees, QPDFObjectHandle appearance, std::set<QPDFObjGen> &turned,
                    std::vector<QPDFObjectHandle> &changed) {
    if (!appearance.isStream() || !appearance.isIndirect() || !turned.insert(appearance.getObjGen()).second)
        return;
    std::array<double, 6> matrix = {1, 0, 0, 1, 0, 0};
    QPDFObjectHandle given = appearance.getDict().getKey("/Matrix");
    if (given.isArray() && given.getArrayNItems() == 6)
        for (int i = 0; i < 6; ++i)
            if (!given.getArrayItem(i).getValueAsNumber(matrix[size_t(i)]))
                matrix = {1, 0, 0, 1, 0, 0};
    const std::array<double, 6> r = TurnAbout(degrees, 0, 0);
    const std::array<double, 6> m = {matrix[0] * r[0] + matrix[1] * r[2], matrix[0] * r[1] + matrix[1] * r[3],
                                     matrix[2] * r[0] + matrix[3] * r[2], matrix[2] * r[1] + matrix[3] * r[3],
                                     matrix[4] * r[0] + matrix[5] * r[2], matrix[4] * r[1] + matrix[5] * r[3]};
    std::vector<QPDFObjectHandle> items;
    for (double v : m)
        items.push_back(Real(v));
    appearance.getDict().replaceKey("/Matrix", QPDFObjectHandle::newArray(items));
    changed.push_back(appearance);
}

}  // namespace

std::array<double, 6> TurnAbout(double degrees, double cx, double cy) {
    const double a = degrees * 3.14159265358979323846 / 180;
    const double c = std::cos(a), s = std::sin(a);
    // Translate the centre to the origin, turn, translate back.
    return {c, s, -s, c, cx - c * cx + s * cy, cy - s * cx - c * cy};
}

void WrapPageContents(QPDFObjectHandle page, const std::string &prefix,
                      const std::function<QPDFObjectHandle(const std::string &data)> &makeStream) {
    QPDFPageObjectHelper helper(page);
    // A stray Q in the content would undo the turn: as many saves more
    // after it as the content undoes, and as many restores at the end as
    // leave the state as it began.
    Depth depth;
    try {
        helper.parseContents(&depth);
    } catch (const std::exception &) {
        depth = Depth();
    }
    const int extra = -depth.Least();
    std::string before = prefix, after = "\n";  // the last stream may end in the middle of a token
    for (int i = 0; i < extra; ++i)
        before += "q\n";
    for (int i = 0, n = 1 + extra + depth.End(); i < n; ++i)
        after += "Q\n";
    helper.addPageContents(makeStream(before), true);
    helper.addPageContents(makeStream(after), false);
}

namespace {

// `first` then `second`, as PDF matrices compose.
std::array<double, 6> Concat(const std::array<double, 6> &first, const std::array<double, 6> &second) {
    const auto &p = first, &q = second;
    return {p[0] * q[0] + p[1] * q[2], p[0] * q[1] + p[1] * q[3],        p[2] * q[0] + p[3] * q[2],
            p[2] * q[1] + p[3] * q[3], p[4] * q[0] + p[5] * q[2] + q[4], p[4] * q[1] + p[5] * q[3] + q[5]};
}

// The patterns the page's content paints with are placed in the page's
// default space, which wrapping the content in a matrix leaves as it was:
// the page gets its own copy of each, moved by `m` too.
void MovePatterns(QPDFObjectHandle page, const std::array<double, 6> &m) {
    QPDF *owner = page.getOwningQPDF();
    QPDFObjectHandle resources = QPDFPageObjectHelper(page).getAttribute("/Resources", true);
    if (!owner || !resources.isDictionary() || !resources.getKey("/Pattern").isDictionary())
        return;
    QPDFObjectHandle patterns = resources.getKey("/Pattern").shallowCopy();
    for (const std::string &name : patterns.getKeys()) {
        QPDFObjectHandle pattern = patterns.getKey(name);
        QPDFObjectHandle dict = pattern.isStream() ? pattern.getDict() : pattern;
        if (!dict.isDictionary())
            continue;
        std::array<double, 6> matrix = {1, 0, 0, 1, 0, 0};
        QPDFObjectHandle given = dict.getKey("/Matrix");
        if (given.isArray() && given.getArrayNItems() == 6)
            for (int i = 0; i < 6; ++i)
                if (!given.getArrayItem(i).getValueAsNumber(matrix[size_t(i)]))
                    matrix = {1, 0, 0, 1, 0, 0};
        std::vector<QPDFObjectHandle> items;
        for (double v : Concat(matrix, m))
            items.push_back(Real(v));
        QPDFObjectHandle copy =
            pattern.isStream() ? pattern.copyStream() : owner->makeIndirectObject(dict.shallowCopy());
        (copy.isStream() ? copy.getDict() : copy).replaceKey("/Matrix", QPDFObjectHandle::newArray(items));
        patterns.replaceKey(name, copy);
    }
    resources.replaceKey("/Pattern", patterns);
}

// Each annotation of `page` moved by `m`: its rectangle (the box round it
// moved) and its points; `appearance` is given each of its appearances.
// An annotation already in `done` is not moved again.
void MoveAnnotations(QPDFObjectHandle page, const std::array<double, 6> &m, std::vector<QPDFObjectHandle> &changed,
                     std::set<QPDFObjGen> &done, const std::function<void(QPDFObjectHandle)> &appearance) {
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!annots.isArray())
        return;
    for (QPDFObjectHandle annot : annots.aitems()) {
        if (!annot.isDictionary())
            continue;
        if (annot.isIndirect()) {
            if (!done.insert(annot.getObjGen()).second)
                continue;
            changed.push_back(annot);
        }
        if (annot.getKey("/Rect").isRectangle())
            annot.replaceKey("/Rect", TurnedRectangle(m, annot.getKey("/Rect")));
        TurnPoints(m, annot);
        QPDFObjectHandle ap = annot.getKey("/AP");
        if (ap.isDictionary() && appearance)
            for (const char *kind : {"/N", "/R", "/D"}) {
                QPDFObjectHandle a = ap.getKey(kind);
                if (a.isStream())
                    appearance(a);
                else if (a.isDictionary())  // appearances by state
                    for (auto &[state, stream] : a.ditems())
                        appearance(stream);
            }
    }
}

}  // namespace

void TurnPage(QPDFObjectHandle page, double degrees, double cx, double cy,
              const std::function<QPDFObjectHandle(const std::string &data)> &makeStream,
              std::vector<QPDFObjectHandle> &changed, std::set<QPDFObjGen> &turned) {
    const std::array<double, 6> m = TurnAbout(degrees, cx, cy);
    char matrix[256];
    std::snprintf(matrix, sizeof matrix, "q %.6f %.6f %.6f %.6f %.4f %.4f cm\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    WrapPageContents(page, matrix, makeStream);
    MovePatterns(page, m);
    changed.push_back(page);
    MoveAnnotations(page, m, changed, turned, [&](QPDFObjectHandle a) { TurnAppearance(degrees, a, turned, changed); });
}

void ScalePage(QPDFObjectHandle page, double scale,
               const std::function<QPDFObjectHandle(const std::string &data)> &makeStream,
               std::vector<QPDFObjectHandle> &changed, std::set<QPDFObjGen> &scaled) {
    char matrix[128];
    std::snprintf(matrix, sizeof matrix, "q %.6f 0 0 %.6f 0 0 cm\n", scale, scale);
    WrapPageContents(page, matrix, makeStream);
    changed.push_back(page);
    // Every box of the page its own, those it takes from its parents too.
    QPDFPageObjectHelper helper(page);
    std::pair<const char *, QPDFObjectHandle> boxes[] = {{"/MediaBox", helper.getMediaBox()},
                                                         {"/CropBox", helper.getCropBox()},
                                                         {"/TrimBox", page.getKey("/TrimBox")},
                                                         {"/BleedBox", page.getKey("/BleedBox")},
                                                         {"/ArtBox", page.getKey("/ArtBox")}};
    const std::array<double, 6> m = {scale, 0, 0, scale, 0, 0};
    MovePatterns(page, m);
    for (auto &[key, box] : boxes)
        if (box.isRectangle())
            page.replaceKey(key, TurnedRectangle(m, box));
    // An appearance is drawn to fill its annotation's rectangle: scaled with it.
    MoveAnnotations(page, m, changed, scaled, nullptr);
}

}  // namespace quorrel
