#include "crop/model/crop_set.h"

#include <algorithm>

namespace crop {

void CropSet::Reset(int pageCount) {
    m_pages.assign(size_t(std::max(pageCount, 0)), PageState{});
    m_undo.clear();
    m_redo.clear();
    m_open = 0;
    m_pending = {};
}

const std::vector<CropRect> &CropSet::Regions(int page) const {
    static const std::vector<CropRect> kNone;
    return Valid(page) ? m_pages[size_t(page - 1)].regions : kNone;
}

int CropSet::CroppingRegions(int page) const {
    const std::vector<CropRect> &regions = Regions(page);
    return int(std::count_if(regions.begin(), regions.end(),
                             [](const CropRect &r) { return r.left != r.right && r.top != r.bottom; }));
}

int CropSet::Selected(int page) const { return Valid(page) ? m_pages[size_t(page - 1)].selected : -1; }

bool CropSet::Select(int page, int index) {
    if (!Valid(page) || index < 0 || index >= RegionCount(page))
        return false;
    m_pages[size_t(page - 1)].selected = index;
    return true;
}

bool CropSet::SelectNext(int page, bool backwards) {
    const int count = RegionCount(page);
    if (count == 0)
        return false;
    const int now = Selected(page);
    const int next = now < 0 ? (backwards ? count - 1 : 0) : (now + (backwards ? count - 1 : 1)) % count;
    return Select(page, next);
}

CropSet::Result CropSet::Add(int page, const CropRect &rect) {
    if (!Valid(page))
        return Result::NoSuchPage;
    PageState after = m_pages[size_t(page - 1)];
    if (int(after.regions.size()) >= kMaxRegions)
        return Result::TooMany;
    after.regions.push_back(rect);
    after.selected = int(after.regions.size()) - 1;
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::Change(int page, int index, const CropRect &rect) {
    if (!Valid(page))
        return Result::NoSuchPage;
    PageState after = m_pages[size_t(page - 1)];
    if (index < 0 || index >= int(after.regions.size()))
        return Result::NoSuchRegion;
    after.regions[size_t(index)] = rect;
    after.selected = index;
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::ChangeJoiningLast(int page, int index, const CropRect &rect) {
    if (m_open > 0 || m_undo.empty() || m_undo.back().changes.size() != 1 || m_undo.back().changes[0].page != page)
        return Change(page, index, rect);
    if (!Valid(page))
        return Result::NoSuchPage;
    PageState &state = m_pages[size_t(page - 1)];
    if (index < 0 || index >= int(state.regions.size()))
        return Result::NoSuchRegion;
    state.regions[size_t(index)] = rect;
    state.selected = index;
    m_undo.back().changes[0].after = state;
    m_redo.clear();
    return Result::Done;
}

CropSet::Result CropSet::Remove(int page, int index) {
    if (!Valid(page))
        return Result::NoSuchPage;
    PageState after = m_pages[size_t(page - 1)];
    if (index < 0 || index >= int(after.regions.size()))
        return Result::NoSuchRegion;
    after.regions.erase(after.regions.begin() + index);
    // The region before it is selected, or the first when it was the first.
    after.selected = after.regions.empty() ? -1 : std::max(0, index - 1);
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::SetRegions(int page, std::vector<CropRect> regions) {
    if (!Valid(page))
        return Result::NoSuchPage;
    if (int(regions.size()) > kMaxRegions)
        return Result::TooMany;
    PageState after;
    after.selected = regions.empty() ? -1 : 0;
    after.regions = std::move(regions);
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::Apply(int page, PageState after) {
    PageState &state = m_pages[size_t(page - 1)];
    if (state.regions == after.regions) {
        state.selected = after.selected;  // a selection is no change
        return Result::Unchanged;
    }
    BeginStep();
    if (m_pending.page == 0)
        m_pending.page = page;
    const auto known = std::find_if(m_pending.changes.begin(), m_pending.changes.end(),
                                    [page](const PageChange &c) { return c.page == page; });
    if (known == m_pending.changes.end())
        m_pending.changes.push_back(PageChange{page, state, after});
    else
        known->after = after;
    state = std::move(after);
    EndStep();
    return Result::Done;
}

void CropSet::BeginStep(int page) {
    if (m_open++ == 0 && page > 0)
        m_pending.page = page;
}

void CropSet::EndStep() {
    if (m_open == 0 || --m_open > 0)
        return;
    // Changes taken back within the step leave nothing to undo.
    std::erase_if(m_pending.changes, [](const PageChange &c) { return c.before.regions == c.after.regions; });
    if (!m_pending.changes.empty()) {
        m_undo.push_back(std::move(m_pending));
        m_redo.clear();
    }
    m_pending = {};
}

int CropSet::Move(std::vector<Step> &from, std::vector<Step> &to, bool forward) {
    if (from.empty() || m_open > 0)
        return 0;
    Step step = std::move(from.back());
    from.pop_back();
    m_moved.clear();
    for (const PageChange &c : step.changes)
        if (Valid(c.page)) {
            m_pages[size_t(c.page - 1)] = forward ? c.after : c.before;
            m_moved.push_back(c.page);
        }
    const int page = step.page;
    to.push_back(std::move(step));
    return page;
}

int CropSet::Undo() { return Move(m_undo, m_redo, false); }
int CropSet::Redo() { return Move(m_redo, m_undo, true); }

std::vector<int> CropSet::OutputOrder(int page, bool rightToLeft) const {
    return ReadingOrder(Regions(page), rightToLeft);
}

std::vector<CropRect> CropSet::InOutputOrder(int page, bool rightToLeft) const {
    std::vector<CropRect> out;
    for (int i : OutputOrder(page, rightToLeft))
        out.push_back(Regions(page)[size_t(i)].Normalized());
    return out;
}

long long CropSet::OutputPagesBefore(int page) const {
    long long pages = 0;
    for (int p = 1; p < page && p <= PageCount(); ++p)
        pages += std::max<long long>(1, (long long)m_pages[size_t(p - 1)].regions.size());
    return pages;
}

long long CropSet::OutputPageCount() const {
    long long pages = 0;
    for (const PageState &p : m_pages)
        pages += std::max<long long>(1, (long long)p.regions.size());
    return pages;
}

}  // namespace crop
