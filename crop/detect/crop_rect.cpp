#include "crop/detect/crop_rect.h"

namespace crop {

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

}  // namespace crop
