#include "crop/model/crop_list.h"

#include "crop/model/regions/crop_file.h"

#include <cmath>
#include <cstdio>
#include <memory>

namespace crop {

std::string CropListText(int pageCount, const std::function<std::string(int page)> &valueOf) {
    return CropListText(pageCount, std::function<std::vector<std::string>(int)>([&valueOf](int page) {
                            return std::vector<std::string>{valueOf ? valueOf(page) : std::string()};
                        }));
}

std::string CropListText(int pageCount, const std::function<std::vector<std::string>(int page)> &valuesOf) {
    std::string text;
    text.reserve(size_t(std::max(pageCount, 0)) * 48);
    for (int page = 1; page <= pageCount; ++page) {
        std::vector<std::string> values = valuesOf ? valuesOf(page) : std::vector<std::string>();
        if (values.empty())
            values.emplace_back();  // the page as it is
        if (values.size() == 1 && values.front() == kLeftOut) {
            text += "Page " + std::to_string(page) + ", left out\n";
            continue;
        }
        for (const std::string &value : values) {
            const std::array<double, 4> n = ParsePageValue(value);
            text += "Page " + std::to_string(page) + ", [" +
                    WithTurn(FormatPageValue({double(float(n[0])), double(float(n[1])), double(float(n[2])), n[3]}),
                             PageTurn(value)) +
                    "]\n";
        }
    }
    return text;
}

std::map<int, std::string> PlannedValues(const AutoCropResult &result) {
    std::map<int, const PageContent *> pages;
    for (const PageContent &p : result.pages)
        pages[p.page] = &p;
    std::map<int, std::string> values;
    for (const auto &[page, rect] : result.plan.rects) {
        const PageContent *p = pages[page];
        values.emplace(page, WithTurn(PageValueFor(rect, p ? int(std::trunc(p->height)) : 0), p ? p->turn : 0));
    }
    return values;
}

}  // namespace crop
