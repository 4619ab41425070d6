#include "quorrel/cropper.h"

#include <qpdf/QPDF.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace quorrel {
namespace {

std::optional<Box> RectangleOf(QPDFObjectHandle value) {
    if (!value.isRectangle())
        return std::nullopt;
    const QPDFObjectHandle::Rectangle r = value.getArrayAsRectangle();
    Box b{std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
    if (!std::isfinite(b.x0) || !std::isfinite(b.y0) || !std::isfinite(b.x1) || !std::isfinite(b.y1))
        return std::nullopt;
    return b;
}

Box Intersect(const Box &a, const Box &b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

// The attributes a page may take from the nodes of the page tree above it.
struct Inheritable {
    QPDFObjectHandle mediaBox, cropBox, rotate;
};

struct PageEntry {
    QPDFObjectHandle page;
    Inheritable attrs;  // the page's own values, or the nearest ancestor's
};

const std::string kMediaBox = "/MediaBox", kCropBox = "/CropBox", kRotate = "/Rotate", kKids = "/Kids";

// Takes a node's own values over the inherited ones.
Inheritable Over(QPDFObjectHandle node, Inheritable attrs) {
    if (node.hasKey(kMediaBox))
        attrs.mediaBox = node.getKey(kMediaBox);
    if (node.hasKey(kCropBox))
        attrs.cropBox = node.getKey(kCropBox);
    if (node.hasKey(kRotate))
        attrs.rotate = node.getKey(kRotate);
    return attrs;
}

// The pages in document order: the leaves of the page tree, each with the
// attributes it inherits, gathered on the way down. A node with /Kids is
// an inner node; a node seen before (a loop) is skipped.
void CollectPages(QPDFObjectHandle node, const Inheritable &inherited, std::set<QPDFObjGen> &seen,
                  std::vector<PageEntry> &pages, int depth) {
    if (depth > 64)
        return;
    if (!node.isDictionary()) {
        // A page that cannot be read (damaged, or missing) still takes its
        // number, as viewers count it, so the pages after it keep theirs.
        if (depth > 0)
            pages.push_back({node, inherited});
        return;
    }
    if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
        return;
    Inheritable attrs = Over(node, inherited);
    QPDFObjectHandle kids = node.hasKey(kKids) ? node.getKey(kKids) : QPDFObjectHandle::newNull();
    if (!kids.isArray()) {
        pages.push_back({node, std::move(attrs)});
        return;
    }
    for (int i = 0, n = kids.getArrayNItems(); i < n; ++i)
        CollectPages(kids.getArrayItem(i), attrs, seen, pages, depth + 1);
}

// The page's boxes and rotation read the way a viewer reads them: no
// usable media box means US Letter; a crop box that does not overlap the
// media box is ignored.
PageGeometry GeometryOf(const Inheritable &attrs) {
    PageGeometry g;
    g.media = RectangleOf(attrs.mediaBox).value_or(Box{0, 0, 612, 792});
    if (g.media.Empty())
        g.media = Box{0, 0, 612, 792};
    g.visible = g.media;
    if (auto crop = RectangleOf(attrs.cropBox)) {
        const Box clipped = Intersect(g.media, *crop);
        if (!clipped.Empty())
            g.visible = clipped;
    }
    QPDFObjectHandle rotate = attrs.rotate;
    long long value = 0;
    if (rotate.isInteger())
        value = rotate.getIntValue();
    else if (rotate.isReal())
        value = std::llround(rotate.getNumericValue());
    g.rotate = NormaliseRotation(value);
    return g;
}

// Numbers with at most four decimals, written the short way.
QPDFObjectHandle Number(double v) {
    const double rounded = std::round(v * 10000) / 10000;
    if (rounded == std::trunc(rounded) && std::fabs(rounded) < 1e9)
        return QPDFObjectHandle::newInteger(static_cast<long long>(rounded));
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", rounded);
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == '0')
        text[--n] = '\0';
    return QPDFObjectHandle::newReal(std::string(text, n));
}

QPDFObjectHandle BoxObject(const Box &b) {
    return QPDFObjectHandle::newArray({Number(b.x0), Number(b.y0), Number(b.x1), Number(b.y1)});
}

// One array per distinct box: a list usually gives many pages the same
// rectangle, and the pages may share the array since nothing changes it
// after it is set.
class BoxObjects {
public:
    QPDFObjectHandle For(const Box &b) {
        auto [it, added] = m_made.try_emplace({b.x0, b.y0, b.x1, b.y1});
        if (added)
            it->second = BoxObject(b);
        return it->second;
    }

private:
    std::map<std::array<double, 4>, QPDFObjectHandle> m_made;
};

}  // namespace

double PageGeometry::ShownHeight() const {
    // Single precision, as the renderer measures pages.
    const bool sideways = rotate == 90 || rotate == 270;
    return sideways ? double(float(visible.x1) - float(visible.x0)) : double(float(visible.y1) - float(visible.y0));
}

int NormaliseRotation(long long rotate) {
    long long r = rotate % 360;
    if (r < 0)
        r += 360;
    if (r >= 315)
        return 0;
    if (r >= 225)
        return 270;
    if (r >= 135)
        return 180;
    if (r >= 45)
        return 90;
    return 0;
}

std::optional<Box> CropBoxFor(const PageGeometry &page, const CropRect &rect) {
    if (rect.Empty())
        return std::nullopt;
    // The list's y counts upwards from a line trunc(H) below the shown top.
    const double line = std::trunc(page.ShownHeight());
    const Box &v = page.visible;
    // A point of the shown page: u from its left edge, w down from its top.
    auto toUser = [&](double u, double w, double &x, double &y) {
        switch (page.rotate) {
        case 90:
            x = v.x0 + w;
            y = v.y0 + u;
            break;
        case 180:
            x = v.x1 - u;
            y = v.y0 + w;
            break;
        case 270:
            x = v.x1 - w;
            y = v.y1 - u;
            break;
        default:
            x = v.x0 + u;
            y = v.y1 - w;
        }
    };
    double ax, ay, bx, by;
    toUser(rect.left, line - rect.top, ax, ay);
    toUser(rect.right, line - rect.bottom, bx, by);
    const Box wanted{std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
    // Never more than the page showed: what its crop box hid stays hidden.
    const Box clipped = Intersect(wanted, page.visible);
    if (clipped.Empty())
        return std::nullopt;
    return clipped;
}

CropReport ApplyCropList(QPDF &pdf, const CropList &list, bool setMediaBox) {
    CropReport report;
    std::vector<PageEntry> pages;
    std::set<QPDFObjGen> seen;
    CollectPages(pdf.getRoot().getKey("/Pages"), Inheritable{}, seen, pages, 0);
    const int count = int(pages.size());
    report.pages = count;
    BoxObjects boxes;
    for (const auto &[number, rect] : list) {
        if (number > count) {
            report.warnings.push_back("page " + std::to_string(number) + " is beyond the document's " +
                                      std::to_string(count) + " pages; its line is ignored");
            continue;
        }
        if (rect.Empty())
            continue;
        PageEntry &entry = pages[size_t(number - 1)];
        QPDFObjectHandle &page = entry.page;
        if (!page.isDictionary()) {
            report.warnings.push_back("page " + std::to_string(number) +
                                      " cannot be read; it is left as it is");
            continue;
        }
        const PageGeometry geometry = GeometryOf(entry.attrs);
        std::optional<Box> box = CropBoxFor(geometry, rect);
        if (!box) {
            report.warnings.push_back("page " + std::to_string(number) +
                                      ": the rectangle lies outside the page; the page is left as it is");
            continue;
        }
        const QPDFObjectHandle array = boxes.For(*box);
        page.replaceKey("/CropBox", array);
        if (setMediaBox)
            page.replaceKey("/MediaBox", array);
        ++report.cropped;
        report.changed.push_back(page);
    }
    return report;
}

}  // namespace quorrel
