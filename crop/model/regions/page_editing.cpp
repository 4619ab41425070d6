#include "crop/model/regions/page_editing.h"

#include "crop/model/regions/region_edits.h"

#include <algorithm>
#include <cmath>

namespace crop {

PageEditing::PageEditing(const std::string &folder, Host host)
    : m_host(std::move(host)),
      m_file(folder),
      m_history(m_set, [this](const std::vector<int> &pages) { Applied(pages); }) {}

void PageEditing::Reset(int pageCount) {
    std::string error;
    if (!m_file.Reset(error))
        m_host.status(QStringLiteral("The crop file cannot be emptied: %1.").arg(QString::fromStdString(error)));
    m_history.Clear();
    m_set.Reset(pageCount);
    ++m_version;
    m_page = 0;
    m_hasPicture = false;
    m_shown.clear();
    m_cropRect = {};
}

void PageEditing::Show(int page, int width, int height, bool hasPicture) {
    m_page = page;
    m_width = width;
    m_height = height;
    m_hasPicture = hasPicture;
    Reload();
}

void PageEditing::LoadShown() {
    m_shown.clear();
    if (m_hasPicture)
        for (const CropRect &r : m_set.Regions(m_page))
            m_shown.push_back(ShownFrom(r, m_height));
}

void PageEditing::Reload() {
    LoadShown();
    m_cropRect = SelectedShown();
    m_host.changed(false);
}

void PageEditing::Applied(const std::vector<int> &pages) {
    ++m_version;
    for (int page : pages) {
        m_file.SetPageRegions(page, m_set.Regions(page), m_set.Turn(page));
        m_file.SetPageLeftOut(page, m_set.LeftOut(page));
        m_file.SetPageRotation(page, m_set.Rotation(page));
        m_file.SetPageScale(page, m_set.Scale(page));
    }
    std::string error;
    if (!m_file.Commit(error))
        m_host.status(QStringLiteral("The crop rectangles cannot be saved: %1.").arg(QString::fromStdString(error)));
    if (std::find(pages.begin(), pages.end(), m_page) != pages.end())
        LoadShown();
    if (m_host.applied)
        m_host.applied(pages);
}

CropRect PageEditing::SelectedShown() const {
    // Nothing can be edited on a page without a picture.
    const int selected = m_set.Selected(m_page);
    return m_hasPicture && selected >= 0 && selected < int(m_shown.size()) ? m_shown[size_t(selected)] : CropRect{};
}

std::vector<CropRect> PageEditing::PageRegions() const { return m_hasPicture ? m_shown : std::vector<CropRect>(); }

int PageEditing::SelectedRegion() const { return m_hasPicture ? m_set.Selected(m_page) : -1; }

bool PageEditing::SelectRegion(int index) {
    if (!m_hasPicture || index < 0 || index >= m_set.RegionCount(m_page))
        return false;
    crop::PageRegions state = m_set.Page(m_page);
    state.selected = index;
    m_set.SetPage(m_page, std::move(state));
    Reload();
    return true;
}

bool PageEditing::SelectNextRegion(bool backwards) {
    const int count = m_set.RegionCount(m_page);
    if (!m_hasPicture || count < 2)
        return false;
    const int now = m_set.Selected(m_page);
    return SelectRegion(now < 0 ? (backwards ? count - 1 : 0) : (now + (backwards ? count - 1 : 1)) % count);
}

void PageEditing::PushShown(const QString &text, PageChange change, std::optional<CropRect> shown, bool nudge) {
    const bool pushed = m_history.Push(text, m_page, {std::move(change)}, nudge);
    m_cropRect = shown ? *shown : SelectedShown();
    m_host.changed(pushed);
}

bool PageEditing::Replace(const QString &text, std::vector<PageChange> changes) {
    const bool pushed = m_history.Push(text, m_page, std::move(changes));
    m_cropRect = SelectedShown();
    m_host.changed(pushed);
    return pushed;
}

std::optional<CropRect> PageEditing::ShrunkIfDrawn(const CropRect &rect, bool drawn) const {
    if (!drawn || !m_host.autoShrink() || rect.IsEmpty())
        return std::nullopt;
    return m_host.shrink(rect.Normalized());
}

void PageEditing::SetCurrentPageRect(const CropRect &rect, bool drawn) {
    if (!Editable())
        return;
    if (const std::optional<CropRect> shrunk = ShrunkIfDrawn(rect, drawn)) {
        // The rectangle is then the one the file holds.
        const CropRect stored = StoredFrom(*shrunk, m_height);
        PushShown(QStringLiteral("Shrink Rectangle"), WithSelected(m_set, m_page, stored), ShownFrom(stored, m_height));
        return;
    }
    PushShown(drawn ? QStringLiteral("Draw Rectangle") : QStringLiteral("Move Rectangle"),
              WithSelected(m_set, m_page, StoredFrom(rect, m_height)), rect);
}

void PageEditing::AddRegion(const CropRect &rect, bool drawn) {
    if (!Editable())
        return;
    if (m_set.RegionCount(m_page) == 0) {
        SetCurrentPageRect(rect, drawn);
        return;
    }
    if (m_set.RegionCount(m_page) >= CropSet::kMaxRegions) {
        m_host.status(QStringLiteral("The region was not added: a page holds at most %1 regions, and this one has "
                                     "them all. Delete one first (Delete Rectangle, Del).")
                          .arg(CropSet::kMaxRegions));
        return;
    }
    const std::optional<CropRect> shrunk = ShrunkIfDrawn(rect, drawn);
    const CropRect stored = StoredFrom(shrunk ? *shrunk : rect, m_height);
    PushShown(QStringLiteral("Add Region"), WithAdded(m_set, m_page, stored),
              shrunk ? ShownFrom(stored, m_height) : rect);
}

void PageEditing::DeleteSelectedRegion() {
    if (!Editable())
        return;
    const int selected = m_set.Selected(m_page);
    if (m_set.RegionCount(m_page) < 2 || selected < 0) {
        DeleteCurrentPageRect();
        return;
    }
    PushShown(QStringLiteral("Delete Rectangle"), WithRemoved(m_set, m_page, selected), std::nullopt);
}

void PageEditing::DeleteCurrentPageRect() {
    if (!Editable())
        return;
    PushShown(QStringLiteral("Remove Cropbox"), Replaced(m_set, m_page, {}), CropRect{});
}

void PageEditing::ShrinkCurrentPageRect() {
    if (!Editable())
        return;
    const std::optional<CropRect> shrunk = m_cropRect.IsEmpty() ? std::nullopt : m_host.shrink(m_cropRect.Normalized());
    if (!shrunk) {
        Reload();  // as the file holds it
        return;
    }
    const CropRect stored = StoredFrom(*shrunk, m_height);
    PushShown(QStringLiteral("Shrink Current Page"), WithSelected(m_set, m_page, stored), ShownFrom(stored, m_height));
}

void PageEditing::NudgeSelectedRegion(double left, double top, double right, double bottom) {
    const int selected = m_set.Selected(m_page);
    if (!Editable() || selected < 0)
        return;
    CropRect r = m_cropRect.Normalized();
    r = {r.left + left, r.top + top, r.right + right, r.bottom + bottom};
    if (r.right - r.left < 1 || r.bottom - r.top < 1)
        return;  // never shrunk to nothing
    PushShown(QStringLiteral("Nudge"), WithSelected(m_set, m_page, StoredFrom(r, m_height)), r, true);
}

bool PageEditing::CopySelectedRegion() {
    const CropRect r = m_cropRect.Normalized();
    if (!m_hasPicture || m_set.Selected(m_page) < 0 || r.IsEmpty())
        return false;
    m_copied = r;
    return true;
}

PageEditing::Pasted PageEditing::PasteRegion() {
    if (!Editable())
        return Pasted::Refused;
    if (!m_copied)
        return Pasted::NothingCopied;
    const std::optional<Size> size = m_host.pageSize(m_page);
    if (!size)
        return Pasted::Refused;
    const CropRect r{std::max(0.0, m_copied->left), std::max(0.0, m_copied->top),
                     std::min(size->first, m_copied->right), std::min(size->second, m_copied->bottom)};
    if (r.right - r.left < 1 || r.bottom - r.top < 1)
        return Pasted::Outside;
    const int before = m_set.RegionCount(m_page);
    AddRegion(r, false);
    return m_set.RegionCount(m_page) > before ? Pasted::Done : Pasted::Refused;
}

void PageEditing::SetMargins(const Margins &margins, const std::vector<int> &pages) {
    if (!Editable())
        return;
    const int selected = m_set.Selected(m_page);
    // Every page measured at once where that can be had; else one by one.
    const std::vector<Size> sizes = m_host.pageSizes();
    int tooSmall = 0;
    std::vector<PageChange> changes;
    for (int page : pages) {
        const std::optional<Size> size = SizeOf(sizes, page, m_host.pageSize);
        const std::optional<CropRect> rect = size ? InsideMargins(margins, size->first, size->second) : std::nullopt;
        if (!rect) {
            ++tooSmall;
            continue;
        }
        const CropRect stored = StoredFrom(*rect, StoredHeight(size->second));
        changes.push_back(page == m_page ? WithSelected(m_set, page, stored)
                                         : WithRegionAt(m_set, page, selected, stored));
    }
    Replace(QStringLiteral("Crop Box"), std::move(changes));
    if (tooSmall > 0)
        m_host.status(QStringLiteral("%1 of the %2 pages are too small for these margins; they keep what they had.")
                          .arg(tooSmall)
                          .arg(pages.size()));
}

std::vector<int> PageEditing::CropToBox(PageBox kind, const std::vector<int> &pages) {
    std::vector<int> without;
    if (!Editable())
        return without;
    const std::vector<Size> sizes = m_host.pageSizes();
    std::vector<PageChange> changes;
    for (int page : pages) {
        const std::optional<CropRect> box = m_host.pageBox ? m_host.pageBox(page, kind) : std::nullopt;
        const std::optional<Size> size = box ? SizeOf(sizes, page, m_host.pageSize) : std::nullopt;
        if (!size) {
            without.push_back(page);
            continue;
        }
        changes.push_back(Replaced(m_set, page, {StoredFrom(*box, StoredHeight(size->second))}));
    }
    const char *name = kind == PageBox::Trim    ? "Crop to Trim Box"
                       : kind == PageBox::Bleed ? "Crop to Bleed Box"
                                                : "Crop to Art Box";
    Replace(QString::fromLatin1(name), std::move(changes));
    return without;
}

bool PageEditing::SetLeftOut(const std::vector<int> &pages, bool leftOut) {
    if (!Editable())
        return false;
    std::vector<PageChange> changes;
    int out = 0;
    for (int page = 1; page <= m_set.PageCount(); ++page)
        out += m_set.LeftOut(page) ? 1 : 0;
    for (int page : pages)
        if (page >= 1 && page <= m_set.PageCount() && m_set.LeftOut(page) != leftOut) {
            changes.push_back(WithLeftOut(m_set, page, leftOut));
            out += leftOut ? 1 : -1;
        }
    if (out >= m_set.PageCount())
        return false;
    Replace(leftOut ? QStringLiteral("Leave Out") : QStringLiteral("Put Back"), std::move(changes));
    return true;
}

bool PageEditing::Rotate(const std::vector<int> &pages, int degrees) {
    if (!Editable())
        return false;
    const std::vector<Size> sizes = m_host.pageSizes();
    std::vector<PageChange> changes;
    for (int page : pages)
        if (page >= 1 && page <= m_set.PageCount())
            if (const std::optional<Size> size = SizeOf(sizes, page, m_host.pageSize))
                changes.push_back(WithRotation(m_set, page, degrees, size->first, size->second));
    if (changes.empty())
        return false;
    const char *name = degrees == 90 ? "Rotate Right" : degrees == 270 ? "Rotate Left" : "Rotate 180";
    Replace(QString::fromLatin1(name), std::move(changes));
    return true;
}

PageEditing::Shaped PageEditing::ShapePages(const std::vector<int> &pages, const std::optional<PaperSize> &paper,
                                            Anchor anchor, const std::optional<ReaderScreen> &screen, bool fit,
                                            const RoomWeights &room, bool spineRight) {
    Shaped shaped;
    if (!Editable() || (!paper && !screen))
        return shaped;
    const std::vector<Size> sizes = m_host.pageSizes();
    std::vector<PageChange> changes;
    for (int page : pages) {
        const std::optional<Size> size = SizeOf(sizes, page, m_host.pageSize);
        if (!size || !(size->first > 0 && size->second > 0))
            continue;
        const int line = StoredHeight(size->second);
        std::vector<CropRect> regions = m_set.Regions(page);
        if (regions.empty())
            regions.push_back(StoredFrom(CropRect{0, 0, size->first, size->second}, line));
        bool cut = false, tooLarge = false;
        double scale = 1;  // only a page of one region is drawn smaller
        for (CropRect &stored : regions) {
            CropRect r = stored.IsEmpty() ? CropRect{0, 0, size->first, size->second} : ShownFrom(stored, line);
            bool rectCut = false;
            if (paper && fit && regions.size() == 1)
                r = FitOnPaper(r, *paper, scale, anchor, page, spineRight);
            else
                r = paper ? OnPaper(r, *paper, rectCut, anchor, page, spineRight) : GrownToScreen(r, *screen, room);
            cut = cut || rectCut;
            tooLarge = tooLarge || r.right - r.left > kLargestPage || r.bottom - r.top > kLargestPage;
            stored = StoredFrom(r, line);
        }
        if (tooLarge) {
            shaped.tooLarge.push_back(page);
            continue;
        }
        if (scale < kLeastScale) {
            shaped.tooSmall.push_back(page);
            continue;
        }
        if (cut)
            shaped.cut.push_back(page);
        if (scale < 1)
            shaped.scaled.push_back(page);
        PageChange change{page, m_set.Page(page), m_set.Page(page)};
        if (change.after.selected < 0)
            change.after.selected = 0;
        change.after.regions = std::move(regions);
        change.after.scale = scale;
        changes.push_back(std::move(change));
    }
    Replace(paper ? QStringLiteral("Page Size") : QStringLiteral("Page Aspect"), std::move(changes));
    return shaped;
}

bool PageEditing::ReachesPastPage() const {
    std::vector<Size> sizes;
    bool measured = false;
    for (int page = 1; page <= m_set.PageCount(); ++page) {
        if (m_set.RegionCount(page) != 1 || m_set.LeftOut(page) || m_set.Regions(page)[0].IsEmpty())
            continue;
        if (!measured) {
            sizes = m_host.pageSizes();
            measured = true;
        }
        const std::optional<Size> size = SizeOf(sizes, page, m_host.pageSize);
        if (!size)
            continue;
        const CropRect r = ShownFrom(m_set.Regions(page)[0], StoredHeight(size->second)).Normalized();
        if (r.left < -0.01 || r.top < -0.01 || r.right > size->first + 0.01 || r.bottom > size->second + 0.01)
            return true;
    }
    return false;
}

std::optional<PageEditing::Size> PageEditing::ShownSize(int page) const { return m_host.pageSize(page); }

void PageEditing::ApplyRectToPages(const std::vector<int> &pages) {
    if (!Editable())
        return;
    // Pages of the shown page's size get its regions as they are; a page
    // of another size gets each region as the user sees it, at the same
    // place from its top-left corner, clipped to it.
    std::vector<CropRect> regions = m_set.Regions(m_page);
    const int selected = m_set.Selected(m_page);
    // A page without a region spreads its empty rectangle, which leaves
    // the pages as they are.
    const bool none = regions.empty();
    if (none)
        regions.push_back(StoredFrom(CropRect{}, m_height));
    const std::vector<Size> sizes = none ? std::vector<Size>() : m_host.pageSizes();
    std::vector<PageChange> changes;
    for (int page : pages) {
        std::optional<Size> size;
        if (!none)
            size = SizeOf(sizes, page, m_host.pageSize);
        if (size && !(size->first > 0 && size->second > 0))
            size.reset();  // no size (or not a number): the regions as they are
        else if (size)
            size = Size{std::min(size->first, 1.0e9), std::min(size->second, 1.0e9)};
        if (!size || (int(std::trunc(size->first)) == m_width && int(std::trunc(size->second)) == m_height)) {
            changes.push_back(Replaced(m_set, page, regions));
        } else {
            std::vector<CropRect> placed;
            for (const CropRect &shown : m_shown)
                if (std::optional<CropRect> r = PlacedFromTopLeft(shown.Normalized(), size->first, size->second))
                    placed.push_back(*r);
            changes.push_back(Replaced(m_set, page, std::move(placed)));
        }
        // The shown page keeps its selection.
        if (page == m_page && selected >= 0 && selected < int(changes.back().after.regions.size()))
            changes.back().after.selected = selected;
    }
    Replace(QStringLiteral("Crop All Pages"), std::move(changes));
}

}  // namespace crop
