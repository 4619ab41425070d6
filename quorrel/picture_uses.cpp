#include "quorrel/picture_uses.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <set>

namespace quorrel {
namespace {

// Forms drawn within forms are followed this deep.
constexpr int kMostDepth = 12;

using Matrix = std::array<double, 6>;  // a b c d e f
constexpr Matrix kIdentity = {1, 0, 0, 1, 0, 0};

// `m` applied first, then `n`.
Matrix Then(const Matrix &m, const Matrix &n) {
    return {m[0] * n[0] + m[1] * n[2], m[0] * n[1] + m[1] * n[3],        m[2] * n[0] + m[3] * n[2],
            m[2] * n[1] + m[3] * n[3], m[4] * n[0] + m[5] * n[2] + n[4], m[4] * n[1] + m[5] * n[3] + n[5]};
}

std::optional<Matrix> MatrixOf(const std::vector<QPDFObjectHandle> &numbers) {
    if (numbers.size() < 6)
        return std::nullopt;
    Matrix m;
    for (size_t i = 0; i < 6; ++i)
        if (!QPDFObjectHandle(numbers[numbers.size() - 6 + i]).getValueAsNumber(m[i]) || !std::isfinite(m[i]))
            return std::nullopt;
    return m;
}

// Every picture a resource dictionary names is kept whole: a content that
// draws through it could not be followed.
void KeepWhole(Pictures &pictures, QPDFObjectHandle resources, int page) {
    QPDFObjectHandle xobjects = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle();
    if (!xobjects.isDictionary())
        return;
    for (auto &[name, x] : xobjects.ditems())
        if (x.isStream() && x.isIndirect()) {
            Picture &p = pictures[x.getObjGen()];
            p.image = x;
            p.whole = true;
            if (!p.page)
                p.page = page;
        }
}

// Follows a content stream's drawing state (q, Q, cm) to where each
// picture it draws (Do) lands, and into the forms it draws.
class Walker : public QPDFObjectHandle::ParserCallbacks {
public:
    Walker(Pictures &pictures, const Rect &visible, int page, QPDFObjectHandle pageObject, QPDFObjectHandle resources,
           const Matrix &ctm, int depth, std::set<QPDFObjGen> &path)
        : m_pictures(pictures),
          m_visible(visible),
          m_page(page),
          m_pageObject(pageObject),
          m_resources(resources),
          m_ctm(ctm),
          m_depth(depth),
          m_path(path) {}

    void handleObject(QPDFObjectHandle object) override {
        if (!object.isOperator()) {
            if (m_operands.size() >= 8)
                m_operands.erase(m_operands.begin());
            m_operands.push_back(object);
            return;
        }
        const std::string op = object.getOperatorValue();
        if (op == "q") {
            m_saved.push_back(m_ctm);
        } else if (op == "Q") {
            if (!m_saved.empty()) {
                m_ctm = m_saved.back();
                m_saved.pop_back();
            }
        } else if (op == "cm") {
            if (const std::optional<Matrix> m = MatrixOf(m_operands))
                m_ctm = Then(*m, m_ctm);
        } else if (op == "Do" && !m_operands.empty() && m_operands.back().isName()) {
            Draw(m_operands.back().getName());
        }
        m_operands.clear();
    }
    void handleEOF() override {}

private:
    void Draw(const std::string &name) {
        QPDFObjectHandle xobjects = m_resources.isDictionary() ? m_resources.getKey("/XObject") : QPDFObjectHandle();
        QPDFObjectHandle x = xobjects.isDictionary() ? xobjects.getKey(name) : QPDFObjectHandle();
        if (!x.isStream() || !x.isIndirect())
            return;
        QPDFObjectHandle subtype = x.getDict().getKey("/Subtype");
        if (subtype.isNameAndEquals("/Image"))
            Use(x, name);
        else if (subtype.isNameAndEquals("/Form"))
            DrawForm(x);
    }

    void Use(QPDFObjectHandle image, const std::string &name) {
        Picture &p = m_pictures[image.getObjGen()];
        p.image = image;
        if (!p.page)
            p.page = m_page;
        // A picture a form draws stays whole: the form may be drawn where
        // the walk does not go (a pattern, an annotation).
        if (m_depth > 0)
            p.whole = true;
        p.uses.emplace_back(m_pageObject, name);
        const Matrix &m = m_ctm;
        const double det = m[0] * m[3] - m[1] * m[2];
        if (!(std::fabs(det) > 1e-12)) {
            p.whole = true;
            return;
        }
        // The visible box taken back to the unit square: the box round its
        // four corners, within the square.
        Rect r{INFINITY, INFINITY, -INFINITY, -INFINITY};
        for (const auto &[x, y] : {std::pair{m_visible.x0, m_visible.y0},
                                   {m_visible.x1, m_visible.y0},
                                   {m_visible.x0, m_visible.y1},
                                   {m_visible.x1, m_visible.y1}}) {
            const double dx = x - m[4], dy = y - m[5];
            const double u = (dx * m[3] - dy * m[2]) / det, v = (dy * m[0] - dx * m[1]) / det;
            r = {std::min(r.x0, u), std::min(r.y0, v), std::max(r.x1, u), std::max(r.y1, v)};
        }
        r = {std::max(r.x0, 0.0), std::max(r.y0, 0.0), std::min(r.x1, 1.0), std::min(r.y1, 1.0)};
        if (r.Empty())
            return;
        Rect &s = p.shown;
        s = s.Empty() ? r
                      : Rect{std::min(s.x0, r.x0), std::min(s.y0, r.y0), std::max(s.x1, r.x1), std::max(s.y1, r.y1)};
    }

    void DrawForm(QPDFObjectHandle form) {
        QPDFObjectHandle own = form.getDict().getKey("/Resources");
        QPDFObjectHandle resources = own.isDictionary() ? own : m_resources;
        if (m_depth >= kMostDepth || m_path.count(form.getObjGen())) {
            KeepWhole(m_pictures, resources, m_page);
            return;
        }
        Matrix matrix = kIdentity;
        QPDFObjectHandle given = form.getDict().getKey("/Matrix");
        if (given.isArray())
            matrix = MatrixOf(given.getArrayAsVector()).value_or(kIdentity);
        m_path.insert(form.getObjGen());
        Walker inner(m_pictures, m_visible, m_page, m_pageObject, resources, Then(matrix, m_ctm), m_depth + 1, m_path);
        try {
            form.parseAsContents(&inner);
        } catch (const std::exception &) {
            KeepWhole(m_pictures, resources, m_page);
        }
        m_path.erase(form.getObjGen());
    }

    Pictures &m_pictures;
    Rect m_visible;
    int m_page;
    QPDFObjectHandle m_pageObject;
    QPDFObjectHandle m_resources;
    Matrix m_ctm;
    int m_depth;
    std::set<QPDFObjGen> &m_path;
    std::vector<Matrix> m_saved;
    std::vector<QPDFObjectHandle> m_operands;
};

// Whether a resource dictionary names any picture or form: a page without
// one has nothing to cut, and its content is not read.
bool DrawsXObjects(QPDFObjectHandle resources) {
    QPDFObjectHandle xobjects = resources.isDictionary() ? resources.getKey("/XObject") : QPDFObjectHandle();
    return xobjects.isDictionary() && !xobjects.getKeys().empty();
}

Rect VisibleBox(QPDFPageObjectHelper &page) {
    auto rect = [](QPDFObjectHandle box) {
        if (!box.isRectangle())
            return Rect{};
        const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
        return Rect{std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
    };
    Rect media = rect(page.getMediaBox());
    if (media.Empty())
        media = {0, 0, 612, 792};
    const Rect crop = rect(page.getCropBox());
    const Rect visible{std::max(media.x0, crop.x0), std::max(media.y0, crop.y0), std::min(media.x1, crop.x1),
                       std::min(media.y1, crop.y1)};
    return crop.Empty() || visible.Empty() ? media : visible;
}

}  // namespace

// Every use of every picture the pages draw.
Pictures FindPictures(QPDF &pdf) {
    Pictures pictures;
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    for (size_t i = 0; i < pages.size(); ++i) {
        QPDFPageObjectHelper &page = pages[i];
        QPDFObjectHandle resources = page.getAttribute("/Resources", false);
        if (!DrawsXObjects(resources))
            continue;
        std::set<QPDFObjGen> path;
        Walker walker(pictures, VisibleBox(page), int(i + 1), page.getObjectHandle(), resources, kIdentity, 0, path);
        try {
            page.parseContents(&walker);
        } catch (const std::exception &) {
            KeepWhole(pictures, resources, int(i + 1));
        }
    }
    return pictures;
}

}  // namespace quorrel
