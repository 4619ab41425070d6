#include "quorrel/cropper.h"

#include "quorrel/left_out.h"
#include "quorrel/straighten.h"

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>
#include <qpdf/QPDF.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <stdexcept>
#include <memory>
#include <set>

namespace quorrel {

QPDFObjectHandle BoxArray(const Box &box) {
    return QPDFObjectHandle::newFromRectangle(QPDFObjectHandle::Rectangle(box.x0, box.y0, box.x1, box.y1));
}

std::optional<Box> RectangleOf(QPDFObjectHandle value) {
    if (!value.isRectangle())
        return std::nullopt;
    const QPDFObjectHandle::Rectangle r = value.getArrayAsRectangle();
    Box b{std::min(r.llx, r.urx), std::min(r.lly, r.ury), std::max(r.llx, r.urx), std::max(r.lly, r.ury)};
    if (!std::isfinite(b.x0) || !std::isfinite(b.y0) || !std::isfinite(b.x1) || !std::isfinite(b.y1))
        return std::nullopt;
    return b;
}

namespace {

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
    // The nodes above the page, the root first and its parent last, and
    // where it is among the parent's kids.
    std::shared_ptr<const std::vector<QPDFObjectHandle>> ancestors;
    int kid = -1;
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

// Whether a node below the root is a node of the tree rather than a page,
// as the rendering library (MuPDF) tells them apart: a /Pages, or without
// a type, one with kids and no media box. The two must number pages alike.
bool InnerNode(QPDFObjectHandle node) {
    if (node.hasKey("/Type")) {
        QPDFObjectHandle type = node.getKey("/Type");
        return type.isName() && type.getName() == "/Pages";
    }
    return node.hasKey(kKids) && !node.hasKey(kMediaBox);
}

// The pages in document order: the leaves of the page tree, each with the
// attributes it inherits, gathered on the way down. The root and the inner
// nodes (InnerNode) hold the pages; a node or a list of kids seen before
// (a loop, a page listed twice) is skipped, and so is a branch deeper than
// 64 levels below the root's kids, as the rendering library reads the tree.
// An inner node whose /Count is not the number of pages it holds goes into
// `miscounted`, with that number.
void CollectPages(QPDFObjectHandle node, const Inheritable &inherited, std::set<QPDFObjGen> &seen,
                  std::vector<PageEntry> &pages, int depth,
                  const std::shared_ptr<const std::vector<QPDFObjectHandle>> &ancestors, int kid,
                  std::vector<std::pair<QPDFObjectHandle, int>> &miscounted) {
    if (!node.isDictionary()) {
        // A page that cannot be read (damaged, or missing) still takes its
        // number, as viewers count it, so the pages after it keep theirs.
        if (depth > 0 && !(node.isIndirect() && !seen.insert(node.getObjGen()).second))
            pages.push_back({node, inherited, ancestors, kid});
        return;
    }
    if (node.isIndirect() && !seen.insert(node.getObjGen()).second)
        return;
    Inheritable attrs = Over(node, inherited);
    if (depth > 0 && !InnerNode(node)) {
        pages.push_back({node, std::move(attrs), ancestors, kid});
        return;
    }
    if (depth > 64)
        return;
    QPDFObjectHandle kids = node.hasKey(kKids) ? node.getKey(kKids) : QPDFObjectHandle::newNull();
    if (!kids.isArray() || (kids.isIndirect() && !seen.insert(kids.getObjGen()).second))
        return;
    auto chain =
        std::make_shared<std::vector<QPDFObjectHandle>>(ancestors ? *ancestors : std::vector<QPDFObjectHandle>());
    chain->push_back(node);
    const size_t before = pages.size();
    for (int i = 0, n = kids.getArrayNItems(); i < n; ++i)
        CollectPages(kids.getArrayItem(i), attrs, seen, pages, depth + 1, chain, i, miscounted);
    const long long held = static_cast<long long>(pages.size() - before);
    QPDFObjectHandle counted = node.getKey("/Count");
    if (!counted.isInteger() || counted.getIntValue() != held)
        miscounted.emplace_back(node, int(held));
}

// New objects of the document, numbered after every object the file has.
// (Asking qpdf for a number reads every object of the file first, which
// costs more than the rest of a split.)
class NewObjects {
public:
    explicit NewObjects(QPDF &pdf) : m_pdf(pdf) {
        long long next = 1;
        for (const auto &[og, entry] : pdf.getXRefTable())
            next = std::max<long long>(next, og.getObj() + 1LL);
        QPDFObjectHandle size = pdf.getTrailer().getKey("/Size");
        if (size.isInteger() && size.getIntValue() > next && size.getIntValue() - next < 1000000)
            next = size.getIntValue();
        m_next = next;
    }
    QPDFObjectHandle Make(QPDFObjectHandle direct) {
        if (m_next >= std::numeric_limits<int>::max())
            throw std::runtime_error("the input has too many objects to add pages to");
        const QPDFObjGen og(int(m_next++), 0);
        m_pdf.replaceObject(og, direct);
        return m_pdf.getObjectByObjGen(og);
    }
    // A new stream holding `data`. qpdf numbers it after every object it
    // holds, these among them; the next ones made here follow it.
    QPDFObjectHandle MakeStream(const std::string &data) {
        QPDFObjectHandle stream = QPDFObjectHandle::newStream(&m_pdf, data);
        m_next = std::max<long long>(m_next, stream.getObjectID() + 1LL);
        return stream;
    }

private:
    QPDF &m_pdf;
    long long m_next = 1;
};

// What a copy of a page does not take from it: a copy belongs to no
// structure tree and no article thread.
const char *const kNotCopied[] = {"/StructParents", "/B"};

// Whether the document has form fields, whose widgets belong to one page.
bool HasFormFields(QPDF &pdf) {
    QPDFObjectHandle form = pdf.getRoot().getKey("/AcroForm");
    return form.isDictionary() && form.getKey("/Fields").isArray() && form.getKey("/Fields").getArrayNItems() > 0;
}

// A copy of `page`: its own dictionary with the same content streams,
// resources and annotations (the same objects: links lead where they led),
// but for the widgets of form fields, which stay with the page itself.
// The copy is an object of the document, not yet in the page tree.
QPDFObjectHandle CopyPage(NewObjects &objects, QPDFObjectHandle page, bool formFields,
                          std::vector<QPDFObjectHandle> &made) {
    QPDFObjectHandle annots = page.getKey("/Annots");
    if (!formFields && annots.isArray() && !annots.isIndirect() && annots.getArrayNItems() > 1) {
        // One list for the page and its copies: a long one written once.
        annots = objects.Make(annots);
        page.replaceKey("/Annots", annots);
        made.push_back(annots);
        made.push_back(page);
    }
    QPDFObjectHandle copy = page.shallowCopy();
    for (const char *key : kNotCopied)
        copy.removeKey(key);
    if (formFields && annots.isArray()) {
        // Only a document with fields has widgets to leave out; any other
        // keeps its annotations unread.
        QPDFObjectHandle kept = QPDFObjectHandle::newArray();
        for (QPDFObjectHandle annot : annots.aitems())
            if (!(annot.isDictionary() && annot.getKey("/Subtype").isNameAndEquals("/Widget")))
                kept.appendItem(annot);
        copy.replaceKey("/Annots", kept);
    }
    return objects.Make(copy);
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

// Gives pages their crop box, and with `setMediaBox` their media box too;
// the page's trim, bleed and art boxes are then kept within it (one that
// lies wholly outside goes).
class PageBoxes {
public:
    PageBoxes(bool setMediaBox, bool setTrimBox) : m_setMediaBox(setMediaBox), m_setTrimBox(setTrimBox) {}
    void Set(QPDFObjectHandle page, const std::optional<Box> &box) {
        if (!box)
            return;
        const QPDFObjectHandle array = m_boxes.For(*box);
        page.replaceKey("/CropBox", array);
        if (m_setTrimBox)
            page.replaceKey("/TrimBox", array);
        if (!m_setMediaBox)
            return;
        page.replaceKey("/MediaBox", array);
        for (const char *key : {"/TrimBox", "/BleedBox", "/ArtBox"}) {
            const std::optional<Box> own = page.hasKey(key) ? RectangleOf(page.getKey(key)) : std::nullopt;
            if (!own)
                continue;
            const Box inside{std::max(own->x0, box->x0), std::max(own->y0, box->y0), std::min(own->x1, box->x1),
                             std::min(own->y1, box->y1)};
            if (inside.Empty())
                page.removeKey(key);
            else
                page.replaceKey(key, m_boxes.For(inside));
        }
    }

private:
    BoxObjects m_boxes;
    bool m_setMediaBox, m_setTrimBox;
};

// The pages of `pdf` in document order (CollectPages). A count that is
// not what the tree holds (one that claims thousands of millions of pages,
// say) is made what it holds: the copy tells readers the pages it has.
std::vector<PageEntry> PagesOf(QPDF &pdf, CropReport &report) {
    std::vector<PageEntry> pages;
    std::set<QPDFObjGen> seen;
    std::vector<std::pair<QPDFObjectHandle, int>> miscounted;
    CollectPages(pdf.getRoot().getKey("/Pages"), Inheritable{}, seen, pages, 0, nullptr, -1, miscounted);
    report.pages = int(pages.size());
    for (auto &[node, held] : miscounted) {
        node.replaceKey("/Count", QPDFObjectHandle::newInteger(held));
        if (node.isIndirect())
            report.changed.push_back(node);
        else
            report.whyWhole = "a node of the input's page tree is not an object of its own";
    }
    return pages;
}

// A page to split, by its number, and the boxes of its copies, the page's
// own first.
using Split = std::pair<int, std::vector<std::optional<Box>>>;

// The crop boxes for the rectangles of page `number`; nothing for one
// that lies outside the page, which is warned about.
std::vector<std::optional<Box>> BoxesFor(const PageGeometry &geometry, int number, const std::vector<CropRect> &rects,
                                         std::vector<std::string> &warnings) {
    std::vector<std::optional<Box>> copyBoxes;
    for (size_t i = 0; i < rects.size(); ++i) {
        std::optional<Box> box = CropBoxFor(geometry, rects[i]);
        if (!box && !rects[i].Empty())
            warnings.push_back("page " + std::to_string(number) +
                               (rects.size() == 1
                                    ? std::string(": the rectangle lies outside the page; the page is left as it is")
                                    : ": rectangle " + std::to_string(i + 1) +
                                          " lies outside the page; its copy shows the whole page"));
        copyBoxes.push_back(box);
    }
    return copyBoxes;
}

// Crops every page the list names to its first rectangle; the pages with
// more than one, to be split, are returned.
std::vector<Split> CropPages(QPDF &pdf, std::vector<PageEntry> &pages, const CropList &list, PageBoxes &boxes,
                             std::optional<NewObjects> &objects, CropReport &report, bool addMargins) {
    std::set<QPDFObjGen> turned;
    auto makeStream = [&](const std::string &data) {
        if (!objects)
            objects.emplace(pdf);
        return objects->MakeStream(data);
    };
    const int count = int(pages.size());
    std::vector<Split> splits;
    // Lines for pages the document lacks are told a few at a time.
    constexpr int kToldBeyond = 10;
    int beyond = 0;
    for (const auto &[number, rects] : list) {
        if (number > count) {
            if (++beyond <= kToldBeyond)
                report.warnings.push_back("page " + std::to_string(number) + " is beyond the document's " +
                                          std::to_string(count) + (count == 1 ? " page" : " pages") +
                                          "; its line is ignored");
            continue;
        }
        if (rects.size() == 1 && rects[0].Empty() && rects[0].turn == 0 && rects[0].rotate == 0 && rects[0].scale == 1)
            continue;
        PageEntry &entry = pages[size_t(number - 1)];
        QPDFObjectHandle &page = entry.page;
        if (!page.isDictionary()) {
            report.warnings.push_back("page " + std::to_string(number) + " cannot be read; it is left as it is");
            continue;
        }
        const PageGeometry geometry = GeometryOf(entry.attrs);
        if (rects[0].turn != 0) {
            const Box &v = geometry.visible;
            TurnPage(page, rects[0].turn, (v.x0 + v.x1) / 2, (v.y0 + v.y1) / 2, makeStream, report.changed, turned);
            ++report.turned;
            // The update writes no streams.
            report.whyWhole = "straightened pages have content streams of their own";
        }
        std::vector<std::optional<Box>> copyBoxes = BoxesFor(geometry, number, rects, report.warnings);
        if (addMargins && rects.size() == 1 && !rects[0].Empty()) {
            // Past the visible box by more than the list's rounding: margins.
            constexpr double kRounding = 0.01;
            const Box wanted = WantedBoxFor(geometry, rects[0]);
            const Box &v = geometry.visible;
            const bool past = wanted.x0 < v.x0 - kRounding || wanted.y0 < v.y0 - kRounding ||
                              wanted.x1 > v.x1 + kRounding || wanted.y1 > v.y1 + kRounding;
            if (past && (wanted.x1 - wanted.x0 > kLargestPage || wanted.y1 - wanted.y0 > kLargestPage)) {
                report.warnings.push_back("page " + std::to_string(number) + " would be larger than " +
                                          std::to_string(int(kLargestPage)) +
                                          " pt with those margins; it is cropped to what it shows");
            } else if (past && copyBoxes[0] && page.isIndirect()) {
                report.grown.push_back({page, v, wanted});
                report.whyWhole = "pages grow margins, and what their old crop hid there is removed";
            }
        }
        if (copyBoxes[0]) {
            boxes.Set(page, copyBoxes[0]);
            ++report.cropped;
            report.changed.push_back(page);
        }
        if (rects[0].rotate != 0) {
            // Turned as shown, after the crop: copies made of it turn too.
            page.replaceKey(kRotate, QPDFObjectHandle::newInteger((geometry.rotate + rects[0].rotate) % 360));
            ++report.rotated;
            if (!copyBoxes[0])
                report.changed.push_back(page);
        }
        if (rects[0].scale != 1 && rects.size() > 1) {
            report.warnings.push_back("page " + std::to_string(number) + " is split; it is not scaled");
        } else if (rects[0].scale != 1 && page.isIndirect()) {
            report.scaled.push_back({page, rects[0].scale});
            if (report.whyWhole.empty())
                report.whyWhole = "scaled pages have content streams of their own";
        }
        if (copyBoxes.size() > 1)
            splits.push_back({number, std::move(copyBoxes)});
    }
    if (beyond > kToldBeyond)
        report.warnings.push_back("... and " + std::to_string(beyond - kToldBeyond) +
                                  " more pages beyond the document; their lines are ignored");
    return splits;
}

// The copies of the pages split, to be put into the page tree by parent:
// each parent's kids are set once, however many are added.
struct CopiesByParent {
    // Per parent, its kids' indices to the copies to put after them.
    using Insertions = std::map<int, std::vector<QPDFObjectHandle>>;
    std::map<const std::vector<QPDFObjectHandle> *, Insertions> byParent;
    std::vector<const std::vector<QPDFObjectHandle> *> parents;  // in the order first met
};

// Makes the copies of the pages split, in page order, and counts them in
// every node above their pages.
CopiesByParent MakeCopies(QPDF &pdf, const std::vector<PageEntry> &pages, const std::vector<Split> &splits,
                          PageBoxes &boxes, std::optional<NewObjects> &objects, CropReport &report) {
    CopiesByParent made;
    const bool formFields = !splits.empty() && HasFormFields(pdf);
    if (!splits.empty() && !objects)
        objects.emplace(pdf);
    for (const auto &[number, copyBoxes] : splits) {
        const PageEntry &entry = pages[size_t(number - 1)];
        const std::string name = "page " + std::to_string(number);
        if (!entry.ancestors || entry.ancestors->empty()) {
            report.warnings.push_back(name + " is the page tree itself and cannot be split; it is cropped to its "
                                             "first rectangle");
            continue;
        }
        QPDFObjectHandle kids = QPDFObjectHandle(entry.ancestors->back()).getKey(kKids);
        if (!kids.isArray() || entry.kid < 0 || entry.kid >= kids.getArrayNItems() ||
            !(kids.getArrayItem(entry.kid).isIndirect() && entry.page.isIndirect() &&
              kids.getArrayItem(entry.kid).getObjGen() == entry.page.getObjGen())) {
            report.warnings.push_back(name + " is not where the page tree says; it is cropped to its first "
                                             "rectangle and not split");
            continue;
        }
        auto [at, added] = made.byParent.try_emplace(entry.ancestors.get());
        if (added)
            made.parents.push_back(entry.ancestors.get());
        std::vector<QPDFObjectHandle> &copies = at->second[entry.kid];
        for (size_t i = 1; i < copyBoxes.size(); ++i) {
            QPDFObjectHandle copy = CopyPage(*objects, entry.page, formFields, report.changed);
            report.changed.push_back(copy);
            boxes.Set(copy, copyBoxes[i]);
            copies.push_back(copy);
        }
        const int more = int(copyBoxes.size()) - 1;
        report.copies += more;
        // Every node above counts the pages added.
        for (QPDFObjectHandle node : *entry.ancestors) {
            QPDFObjectHandle counted = node.getKey("/Count");
            if (counted.isInteger())
                node.replaceKey("/Count", QPDFObjectHandle::newInteger(counted.getIntValue() + more));
        }
    }
    return made;
}

// Puts the copies into their parents' kids, each after the page it copies.
void InsertCopies(CopiesByParent &made, CropReport &report) {
    std::set<QPDFObjGen> nodesChanged;
    for (const std::vector<QPDFObjectHandle> *chain : made.parents) {
        const CopiesByParent::Insertions &insertions = made.byParent[chain];
        QPDFObjectHandle kids = QPDFObjectHandle(chain->back()).getKey(kKids);
        const std::vector<QPDFObjectHandle> was = kids.getArrayAsVector();
        std::vector<QPDFObjectHandle> now;
        now.reserve(was.size() + insertions.size());
        for (size_t i = 0; i < was.size(); ++i) {
            now.push_back(was[i]);
            const auto copies = insertions.find(int(i));
            if (copies != insertions.end())
                now.insert(now.end(), copies->second.begin(), copies->second.end());
        }
        kids.setArrayFromVector(now);
        if (kids.isIndirect() && nodesChanged.insert(kids.getObjGen()).second)
            report.changed.push_back(kids);
        for (QPDFObjectHandle node : *chain) {
            if (!node.isIndirect())
                report.whyWhole = "a node of the input's page tree is not an object of its own";
            else if (nodesChanged.insert(node.getObjGen()).second)
                report.changed.push_back(node);
        }
    }
}

// Takes the pages the list leaves out out of their parents' kids, each
// node above counting them no more, and leads what led to them elsewhere.
void LeaveOut(QPDF &pdf, const std::vector<PageEntry> &pages, const CropList &list, CropReport &report) {
    std::set<QPDFObjGen> out;
    for (const auto &[number, lines] : list)
        if (number >= 1 && number <= int(pages.size()) && !lines.empty() && lines.front().leftOut) {
            const PageEntry &entry = pages[size_t(number - 1)];
            if (!entry.page.isIndirect() || !entry.ancestors || entry.ancestors->empty()) {
                report.warnings.push_back("page " + std::to_string(number) +
                                          " is not an object of its own in the page tree; it is kept");
                continue;
            }
            out.insert(entry.page.getObjGen());
        }
    if (out.empty())
        return;
    if (out.size() >= pages.size()) {
        report.warnings.push_back("every page would be left out; none is");
        return;
    }
    std::map<QPDFObjGen, QPDFObjectHandle> nextKept;
    std::vector<QPDFObjectHandle> kept, leftOut;
    QPDFObjectHandle next = QPDFObjectHandle::newNull();
    for (size_t i = pages.size(); i-- > 0;) {
        const QPDFObjectHandle &page = pages[i].page;
        if (page.isIndirect() && out.count(page.getObjGen())) {
            nextKept[page.getObjGen()] = next;
            leftOut.push_back(page);
        } else {
            next = page;
            kept.push_back(page);
        }
    }
    std::set<QPDFObjGen> parentsDone;
    for (const PageEntry &entry : pages) {
        if (!entry.page.isIndirect() || !out.count(entry.page.getObjGen()))
            continue;
        for (QPDFObjectHandle node : *entry.ancestors) {
            QPDFObjectHandle counted = node.getKey("/Count");
            if (counted.isInteger())
                node.replaceKey("/Count", QPDFObjectHandle::newInteger(std::max(0LL, counted.getIntValue() - 1)));
        }
        QPDFObjectHandle parent = entry.ancestors->back();
        if (!parentsDone.insert(parent.getObjGen()).second)
            continue;
        QPDFObjectHandle kids = parent.getKey(kKids);
        if (!kids.isArray())
            continue;
        std::vector<QPDFObjectHandle> now;
        for (const QPDFObjectHandle &kid : kids.getArrayAsVector())
            if (!(kid.isIndirect() && out.count(kid.getObjGen())))
                now.push_back(kid);
        kids.setArrayFromVector(now);
    }
    report.leftOut = int(leftOut.size());
    // In document order, split copies among them (they hold annotations
    // of their own in a form).
    std::reverse(kept.begin(), kept.end());
    std::set<QPDFObjGen> keptSeen;
    for (const QPDFObjectHandle &k : kept)
        keptSeen.insert(k.getObjGen());
    for (QPDFPageObjectHelper &p : QPDFPageDocumentHelper(pdf).getAllPages())
        if (p.getObjectHandle().isIndirect() && keptSeen.insert(p.getObjectHandle().getObjGen()).second &&
            !out.count(p.getObjectHandle().getObjGen()))
            kept.push_back(p.getObjectHandle());
    report.leadsRemoved = LeadAwayFrom(pdf, nextKept, kept, leftOut);
    report.whyWhole = "pages are left out";
}

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
    // Never more than the page showed: what its crop box hid stays hidden.
    const Box clipped = Intersect(WantedBoxFor(page, rect), page.visible);
    if (clipped.Empty())
        return std::nullopt;
    return clipped;
}

Box WantedBoxFor(const PageGeometry &page, const CropRect &rect) {
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
    return Box{std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)};
}

// Page labels follow the pages once some are split or left out: each page
// of the copy takes the label its page had (a copy its page's).
void Relabel(QPDF &pdf, const std::vector<PageEntry> &pages, CropReport &report) {
    QPDFPageLabelDocumentHelper labels(pdf);
    if (!labels.hasPageLabels() || (report.copies == 0 && report.leftOut == 0))
        return;
    std::map<QPDFObjGen, long long> original;
    for (size_t i = 0; i < pages.size(); ++i)
        if (pages[i].page.isIndirect())
            original.emplace(pages[i].page.getObjGen(), (long long)i);
    std::vector<QPDFObjectHandle> nums;
    long long last = -2;  // the original index of the page before
    long long index = 0;
    for (QPDFPageObjectHelper &p : QPDFPageDocumentHelper(pdf).getAllPages()) {
        const auto found =
            p.getObjectHandle().isIndirect() ? original.find(p.getObjectHandle().getObjGen()) : original.end();
        const long long from = found != original.end() ? found->second : std::max(0LL, last);
        // A run of pages in their old order needs no entry of its own.
        if (from != last + 1)
            labels.getLabelsForPageRange(from, from, index, nums);
        last = from;
        ++index;
    }
    pdf.getRoot().replaceKey("/PageLabels",
                             QPDFObjectHandle::newDictionary({{"/Nums", QPDFObjectHandle::newArray(nums)}}));
    report.changed.push_back(pdf.getRoot());
}

CropReport ApplyCropList(QPDF &pdf, const CropList &list, bool setMediaBox, bool addMargins, bool setTrimBox) {
    CropReport report;
    std::vector<PageEntry> pages = PagesOf(pdf, report);
    PageBoxes boxes(setMediaBox, setTrimBox);
    std::optional<NewObjects> objects;
    const std::vector<Split> splits = CropPages(pdf, pages, list, boxes, objects, report, addMargins);
    if (report.grown.empty() && !report.scaled.empty()) {  // else the writer scales them after they grow
        if (!objects)
            objects.emplace(pdf);
        std::set<QPDFObjGen> scaledAnnotations;
        std::map<QPDFObjGen, double> scaleOf;
        for (auto &[page, scale] : report.scaled) {
            ScalePage(
                page, scale, [&](const std::string &data) { return objects->MakeStream(data); }, report.changed,
                scaledAnnotations);
            scaleOf[page.getObjGen()] = scale;
        }
        std::vector<QPDFObjectHandle> all;
        for (const PageEntry &entry : pages)
            all.push_back(entry.page);
        ScaleDestinations(pdf, all, scaleOf);
    }
    CopiesByParent copies = MakeCopies(pdf, pages, splits, boxes, objects, report);
    InsertCopies(copies, report);
    // qpdf's list of the pages follows a tree that changed under it (and
    // only then: refreshing it makes pages that are direct objects indirect).
    if (report.copies > 0)
        pdf.updateAllPagesCache();
    LeaveOut(pdf, pages, list, report);
    if (report.leftOut > 0)
        pdf.updateAllPagesCache();
    Relabel(pdf, pages, report);
    return report;
}

}  // namespace quorrel
