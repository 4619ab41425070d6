#include "crop/model/regions/crop_set.h"

#include <algorithm>

namespace crop {

void CropSet::Reset(int pageCount) { m_pages.assign(size_t(std::max(pageCount, 0)), PageRegions{}); }

const PageRegions &CropSet::Page(int page) const {
    static const PageRegions kNone;
    return Valid(page) ? m_pages[size_t(page - 1)] : kNone;
}

bool CropSet::SetPage(int page, PageRegions state) {
    if (!Valid(page))
        return false;
    m_pages[size_t(page - 1)] = std::move(state);
    return true;
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
    PageRegions after = m_pages[size_t(page - 1)];
    if (int(after.regions.size()) >= kMaxRegions)
        return Result::TooMany;
    after.regions.push_back(rect);
    after.selected = int(after.regions.size()) - 1;
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::Change(int page, int index, const CropRect &rect) {
    if (!Valid(page))
        return Result::NoSuchPage;
    PageRegions after = m_pages[size_t(page - 1)];
    if (index < 0 || index >= int(after.regions.size()))
        return Result::NoSuchRegion;
    after.regions[size_t(index)] = rect;
    after.selected = index;
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::Remove(int page, int index) {
    if (!Valid(page))
        return Result::NoSuchPage;
    PageRegions after = m_pages[size_t(page - 1)];
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
    PageRegions after = m_pages[size_t(page - 1)];  // its turn, rotation and the like as they are
    after.selected = regions.empty() ? -1 : 0;
    after.regions = std::move(regions);
    return Apply(page, std::move(after));
}

CropSet::Result CropSet::Apply(int page, PageRegions after) {
    PageRegions &state = m_pages[size_t(page - 1)];
    PageRegions selectedAsBefore = after;
    selectedAsBefore.selected = state.selected;
    const bool same = state == selectedAsBefore;
    state = std::move(after);  // a selection alone is no change
    return same ? Result::Unchanged : Result::Done;
}

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
        pages += m_pages[size_t(p - 1)].leftOut
                     ? 0
                     : std::max<long long>(1, (long long)m_pages[size_t(p - 1)].regions.size());
    return pages;
}

long long CropSet::OutputPageCount() const {
    long long pages = 0;
    for (const PageRegions &p : m_pages)
        pages += p.leftOut ? 0 : std::max<long long>(1, (long long)p.regions.size());
    return pages;
}

}  // namespace crop
