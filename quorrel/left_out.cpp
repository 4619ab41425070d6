#include "quorrel/left_out.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAcroFormDocumentHelper.hh>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <functional>
#include <set>

namespace quorrel {

namespace {

enum class Led { Elsewhere, Nowhere };

class Leader {
public:
    explicit Leader(const std::map<QPDFObjGen, QPDFObjectHandle> &nextKept) : m_next(nextKept) {}

    // An explicit destination [page ...] to a page left out is led to its
    // next page; Nowhere when none follows (the destination as it was).
    Led Lead(QPDFObjectHandle dest) {
        if (!dest.isArray() || dest.getArrayNItems() < 1)
            return Led::Elsewhere;
        QPDFObjectHandle page = dest.getArrayItem(0);
        if (!page.isIndirect())
            return Led::Elsewhere;
        const auto next = m_next.find(page.getObjGen());
        if (next == m_next.end())
            return Led::Elsewhere;
        QPDFObjectHandle target = next->second;
        if (target.isNull())
            return Led::Nowhere;
        dest.setArrayItem(0, target);
        return Led::Elsewhere;
    }
    // The destination of a link or an outline entry: its /Dest, or its
    // action's /D when the action goes within the file.
    Led LeadItem(QPDFObjectHandle item) {
        if (item.hasKey("/Dest"))
            return Lead(item.getKey("/Dest"));
        QPDFObjectHandle action = item.getKey("/A");
        if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
            return Lead(action.getKey("/D"));
        return Led::Elsewhere;
    }

private:
    const std::map<QPDFObjGen, QPDFObjectHandle> &m_next;
};

// Unlinks `item` from its outline, the counts of those above it lessened.
void Unlink(QPDFObjectHandle item) {
    QPDFObjectHandle parent = item.getKey("/Parent"), prev = item.getKey("/Prev"), next = item.getKey("/Next");
    if (prev.isDictionary()) {
        if (next.isDictionary())
            prev.replaceKey("/Next", next);
        else
            prev.removeKey("/Next");
    }
    if (next.isDictionary()) {
        if (prev.isDictionary())
            next.replaceKey("/Prev", prev);
        else
            next.removeKey("/Prev");
    }
    if (parent.isDictionary()) {
        if (parent.getKey("/First").isIndirect() && parent.getKey("/First").getObjGen() == item.getObjGen()) {
            if (next.isDictionary())
                parent.replaceKey("/First", next);
            else
                parent.removeKey("/First");
        }
        if (parent.getKey("/Last").isIndirect() && parent.getKey("/Last").getObjGen() == item.getObjGen()) {
            if (prev.isDictionary())
                parent.replaceKey("/Last", prev);
            else
                parent.removeKey("/Last");
        }
    }
    // The entries shown under each open parent are one fewer (and the
    // item's own shown entries); a closed parent counts them negatively.
    const long long own = item.getKey("/Count").isInteger() ? item.getKey("/Count").getIntValue() : 0;
    long long gone = 1 + (own > 0 ? own : 0);
    std::set<QPDFObjGen> seen;
    for (QPDFObjectHandle p = parent; p.isDictionary() && seen.insert(p.getObjGen()).second; p = p.getKey("/Parent")) {
        QPDFObjectHandle count = p.getKey("/Count");
        if (!count.isInteger())
            break;
        const long long c = count.getIntValue();
        p.replaceKey("/Count", QPDFObjectHandle::newInteger(c > 0 ? std::max(0LL, c - gone) : std::min(0LL, c + gone)));
        if (c <= 0)
            break;  // a closed entry: nothing above shows what it holds
    }
}

// Every outline entry, in no particular order.
std::vector<QPDFObjectHandle> OutlineItems(QPDF &pdf) {
    std::vector<QPDFObjectHandle> items, todo;
    std::set<QPDFObjGen> seen;
    QPDFObjectHandle outlines = pdf.getRoot().getKey("/Outlines");
    if (outlines.isDictionary())
        todo.push_back(outlines.getKey("/First"));
    while (!todo.empty()) {
        QPDFObjectHandle item = todo.back();
        todo.pop_back();
        if (!item.isDictionary() || !item.isIndirect() || !seen.insert(item.getObjGen()).second)
            continue;
        items.push_back(item);
        todo.push_back(item.getKey("/Next"));
        todo.push_back(item.getKey("/First"));
    }
    return items;
}

// Each named destination's value: in the catalogue's /Dests, and in its
// name tree of destinations.
void ForEachNamedDestination(QPDF &pdf, const std::function<void(QPDFObjectHandle)> &each) {
    QPDFObjectHandle dests = pdf.getRoot().getKey("/Dests");
    if (dests.isDictionary())
        for (const std::string &key : dests.getKeys())
            each(dests.getKey(key));
    QPDFObjectHandle tree = pdf.getRoot().getKey("/Names").isDictionary()
                                ? pdf.getRoot().getKey("/Names").getKey("/Dests")
                                : QPDFObjectHandle::newNull();
    if (tree.isDictionary()) {
        QPDFNameTreeObjectHelper helper(tree, pdf);
        for (auto &entry : helper)
            each(entry.second);
    }
}

// The destination of a link, an outline entry or an action: its /Dest, or
// its action's /D when the action goes within the file.
QPDFObjectHandle DestinationOf(QPDFObjectHandle item) {
    if (item.isArray())
        return item;
    if (!item.isDictionary())
        return QPDFObjectHandle::newNull();
    if (item.hasKey("/Dest"))
        return item.getKey("/Dest");
    if (item.getKey("/S").isNameAndEquals("/GoTo") || (item.hasKey("/D") && !item.hasKey("/S")))
        return item.getKey("/D");
    QPDFObjectHandle action = item.getKey("/A");
    if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
        return action.getKey("/D");
    return QPDFObjectHandle::newNull();
}

}  // namespace

void ScaleDestinations(QPDF &pdf, const std::vector<QPDFObjectHandle> &pages,
                       const std::map<QPDFObjGen, double> &scaleOf) {
    if (scaleOf.empty())
        return;
    std::set<QPDFObjGen> done;  // destinations (and what holds them) shared by several
    auto scale = [&](QPDFObjectHandle holder) {
        if (holder.isIndirect() && !done.insert(holder.getObjGen()).second)
            return;
        QPDFObjectHandle dest = DestinationOf(holder);
        if (!dest.isArray() || dest.getArrayNItems() < 2 || !dest.getArrayItem(0).isIndirect() ||
            !dest.getArrayItem(1).isName() || (dest.isIndirect() && !done.insert(dest.getObjGen()).second))
            return;
        const auto page = scaleOf.find(dest.getArrayItem(0).getObjGen());
        if (page == scaleOf.end())
            return;
        // The numbers that are places on the page: all but /XYZ's zoom.
        const std::string kind = dest.getArrayItem(1).getName();
        const int places = kind == "/XYZ" ? 2 : kind == "/FitR" ? 4 : kind == "/Fit" || kind == "/FitB" ? 0 : 1;
        for (int i = 2; i < 2 + places && i < dest.getArrayNItems(); ++i) {
            double v = 0;
            if (dest.getArrayItem(i).getValueAsNumber(v))
                dest.setArrayItem(i, QPDFObjectHandle::newReal(v * page->second, 4));
        }
    };
    for (QPDFObjectHandle page : pages) {
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (annots.isArray())
            for (QPDFObjectHandle annot : annots.aitems())
                if (annot.isDictionary() && annot.getKey("/Subtype").isNameAndEquals("/Link"))
                    scale(annot);
    }
    scale(pdf.getRoot().getKey("/OpenAction"));
    for (QPDFObjectHandle item : OutlineItems(pdf))
        scale(item);
    ForEachNamedDestination(pdf, scale);
}

int LeadAwayFrom(QPDF &pdf, const std::map<QPDFObjGen, QPDFObjectHandle> &nextKept,
                 const std::vector<QPDFObjectHandle> &kept, const std::vector<QPDFObjectHandle> &leftOut) {
    Leader leader(nextKept);
    int removed = 0;
    // Links on the pages kept.
    std::set<QPDFObjGen> annotsSeen;
    for (QPDFObjectHandle page : kept) {
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (!annots.isArray() || (annots.isIndirect() && !annotsSeen.insert(annots.getObjGen()).second))
            continue;
        std::vector<QPDFObjectHandle> now;
        bool changed = false;
        for (QPDFObjectHandle annot : annots.getArrayAsVector()) {
            if (annot.isDictionary() && annot.getKey("/Subtype").isNameAndEquals("/Link") &&
                leader.LeadItem(annot) == Led::Nowhere) {
                changed = true;
                ++removed;
                continue;
            }
            now.push_back(annot);
        }
        if (changed)
            annots.setArrayFromVector(now);
    }
    // The catalogue's open action.
    QPDFObjectHandle open = pdf.getRoot().getKey("/OpenAction");
    Led opened = Led::Elsewhere;
    if (open.isArray())
        opened = leader.Lead(open);
    else if (open.isDictionary() && open.getKey("/S").isNameAndEquals("/GoTo"))
        opened = leader.Lead(open.getKey("/D"));
    if (opened == Led::Nowhere)
        pdf.getRoot().removeKey("/OpenAction");
    // The outline: an entry that leads nowhere now goes, unless entries
    // under it stay (it then stays as their heading, leading nowhere).
    std::set<QPDFObjGen> gone;
    for (QPDFObjectHandle item : OutlineItems(pdf)) {
        bool under = false;  // below an entry gone already
        std::set<QPDFObjGen> seen;
        for (QPDFObjectHandle p = item.getKey("/Parent"); p.isDictionary() && seen.insert(p.getObjGen()).second;
             p = p.getKey("/Parent"))
            under = under || gone.count(p.getObjGen());
        if (under || leader.LeadItem(item) != Led::Nowhere)
            continue;
        if (item.getKey("/First").isDictionary()) {
            item.removeKey("/Dest");
            item.removeKey("/A");
            continue;
        }
        Unlink(item);
        gone.insert(item.getObjGen());
        ++removed;
    }
    // Named destinations lead to the page before when none follows, so
    // that no name leads nowhere.
    std::map<QPDFObjGen, QPDFObjectHandle> orBefore = nextKept;
    for (auto &[og, next] : orBefore)
        if (next.isNull() && !kept.empty())
            next = kept.back();  // the last page kept
    Leader names(orBefore);
    auto leadNamed = [&names](QPDFObjectHandle value) {
        names.Lead(value.isDictionary() ? value.getKey("/D") : value);
    };
    ForEachNamedDestination(pdf, leadNamed);
    // Form fields whose every widget was on a page left out go with them.
    QPDFAcroFormDocumentHelper forms(pdf);
    if (forms.hasAcroForm()) {
        std::set<QPDFObjGen> onKept, fields;
        for (QPDFObjectHandle page : kept)
            for (auto &widget : forms.getWidgetAnnotationsForPage(QPDFPageObjectHelper(page)))
                onKept.insert(forms.getFieldForAnnotation(widget).getTopLevelField().getObjectHandle().getObjGen());
        for (QPDFObjectHandle page : leftOut)
            for (auto &widget : forms.getWidgetAnnotationsForPage(QPDFPageObjectHelper(page))) {
                const QPDFObjGen field =
                    forms.getFieldForAnnotation(widget).getTopLevelField().getObjectHandle().getObjGen();
                if (!onKept.count(field))
                    fields.insert(field);
            }
        if (!fields.empty())
            forms.removeFormFields(fields);
    }
    // What still leads to a page left out (a structure element, an
    // article bead, a widget of a field kept) finds it empty: none of its
    // text or pictures goes into the copy.
    for (QPDFObjectHandle page : leftOut) {
        // A widget of a field that stays leaves the field.
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (annots.isArray())
            for (QPDFObjectHandle annot : annots.getArrayAsVector()) {
                QPDFObjectHandle parent = annot.isDictionary() ? annot.getKey("/Parent") : QPDFObjectHandle::newNull();
                QPDFObjectHandle kids = parent.isDictionary() ? parent.getKey("/Kids") : QPDFObjectHandle::newNull();
                if (!kids.isArray() || !annot.isIndirect())
                    continue;
                std::vector<QPDFObjectHandle> now;
                for (QPDFObjectHandle kid : kids.getArrayAsVector())
                    if (!(kid.isIndirect() && kid.getObjGen() == annot.getObjGen()))
                        now.push_back(kid);
                kids.setArrayFromVector(now);
            }
        for (const char *key : {"/Contents", "/Resources", "/Annots", "/Thumb", "/PieceInfo", "/Metadata", "/B"})
            page.removeKey(key);
    }
    return removed;
}

}  // namespace quorrel
