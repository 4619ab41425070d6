#include "crop/detect/crop_rect.h"

namespace crop {

CropRect RotatedShown(const CropRect &shown, double width, double height, int degrees) {
    if (shown.IsEmpty())
        return shown;
    const CropRect r = shown.Normalized();
    switch (degrees) {
    case 90:  // (x, y) to (height - y, x)
        return {height - r.bottom, r.left, height - r.top, r.right};
    case 180:
        return {width - r.right, height - r.bottom, width - r.left, height - r.top};
    case 270:  // (x, y) to (y, width - x)
        return {r.top, width - r.right, r.bottom, width - r.left};
    default:
        return shown;
    }
}

std::vector<int> PagesOf(PageSet set, int pageCount) {
    std::vector<int> pages;
    const int first = set == PageSet::Even ? 2 : 1, step = set == PageSet::All ? 1 : 2;
    for (int page = first; page <= pageCount; page += step)
        pages.push_back(page);
    return pages;
}

bool ParsePageSet(const std::string &text, PageSet &set) {
    if (text == "all")
        set = PageSet::All;
    else if (text == "even")
        set = PageSet::Even;
    else if (text == "odd")
        set = PageSet::Odd;
    else
        return false;
    return true;
}

std::vector<int> ReadingOrder(const std::vector<CropRect> &all, bool rightToLeft) {
    std::vector<int> order(all.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    auto at = [&all](int i) { return all[size_t(i)].Normalized(); };
    std::stable_sort(order.begin(), order.end(), [&at](int a, int b) { return at(a).top < at(b).top; });
    // Rows from the top: a region joins the row when its height overlaps
    // a member of the row by more than half the lower of the two.
    std::vector<std::vector<int>> rows;
    for (int i : order) {
        const CropRect r = at(i);
        bool placed = false;
        if (!rows.empty()) {
            for (int k : rows.back()) {
                const CropRect m = at(k);
                const double overlap = std::min(r.bottom, m.bottom) - std::max(r.top, m.top);
                const double lower = std::min(r.bottom - r.top, m.bottom - m.top);
                if (overlap > lower / 2) {
                    placed = true;
                    break;
                }
            }
        }
        if (placed)
            rows.back().push_back(i);
        else
            rows.push_back({i});
    }
    std::vector<int> out;
    for (std::vector<int> &row : rows) {
        std::stable_sort(row.begin(), row.end(), [&at, rightToLeft](int a, int b) {
            return rightToLeft ? at(a).right > at(b).right : at(a).left < at(b).left;
        });
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace crop
