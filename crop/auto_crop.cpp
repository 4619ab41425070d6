#include "crop/auto_crop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace crop {
namespace {

constexpr double kOutlierShare = 0.10;

CropRect Grown(const CropRect &r, double margin) {
    return {r.left - margin, r.top - margin, r.right + margin, r.bottom + margin};
}

CropRect Union(const CropRect &a, const CropRect &b) {
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Outwards to a hundredth of a point, then inside the page.
CropRect OnPage(const CropRect &r, double width, double height) {
    CropRect out{std::floor(r.left * 100 + 1e-7) / 100, std::floor(r.top * 100 + 1e-7) / 100,
                 std::ceil(r.right * 100 - 1e-7) / 100, std::ceil(r.bottom * 100 - 1e-7) / 100};
    out.left = std::clamp(out.left, 0.0, width);
    out.right = std::clamp(out.right, 0.0, width);
    out.top = std::clamp(out.top, 0.0, height);
    out.bottom = std::clamp(out.bottom, 0.0, height);
    return out;
}

// `r` moved by as little as keeps it inside [0, extent] along one axis.
void ShiftInside(double &low, double &high, double extent) {
    if (high > extent) {
        low -= high - extent;
        high = extent;
    }
    if (low < 0) {
        high -= low;
        low = 0;
    }
}

double Median(std::vector<double> values) {
    const size_t n = values.size();
    std::nth_element(values.begin(), values.begin() + long(n / 2), values.end());
    double m = values[n / 2];
    if (n % 2 == 0) {
        const double below = *std::max_element(values.begin(), values.begin() + long(n / 2));
        m = (m + below) / 2;
    }
    return m;
}

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", share * 100);
    return text;
}

}  // namespace

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

AutoCropPlan PlanAutoCrop(const std::vector<PageContent> &pages, const AutoCropOptions &options) {
    AutoCropPlan plan;
    const double margin = std::max(0.0, options.margin);
    std::optional<CropRect> parity[2];  // even, odd
    for (const PageContent &p : pages) {
        if (p.failed || p.width <= 0 || p.height <= 0) {
            ++plan.failed;  // no size to crop to
            continue;
        }
        if (!p.content) {
            ++plan.blank;
            continue;
        }
        const CropRect content = p.content->Normalized();
        if (!options.uniform) {
            plan.rects[p.page] = OnPage(Grown(content, margin), p.width, p.height);
            continue;
        }
        std::optional<CropRect> &u = parity[p.page % 2];
        u = u ? Union(*u, content) : content;
    }
    if (options.uniform && (parity[0] || parity[1])) {
        // A side with no content at all takes the other's place.
        if (!parity[0])
            parity[0] = parity[1];
        if (!parity[1])
            parity[1] = parity[0];
        for (auto &u : parity)
            u = Grown(*u, margin);
        const double width = std::max(parity[0]->right - parity[0]->left, parity[1]->right - parity[1]->left);
        const double height = std::max(parity[0]->bottom - parity[0]->top, parity[1]->bottom - parity[1]->top);
        for (auto &u : parity) {
            const double cx = (u->left + u->right) / 2, cy = (u->top + u->bottom) / 2;
            u = CropRect{cx - width / 2, cy - height / 2, cx + width / 2, cy + height / 2};
        }
        for (const PageContent &p : pages) {
            if (p.failed || p.width <= 0 || p.height <= 0)
                continue;
            CropRect r = *parity[p.page % 2];
            ShiftInside(r.left, r.right, p.width);
            ShiftInside(r.top, r.bottom, p.height);
            // Outward rounding may step a hair past a side; the size stays.
            plan.rects[p.page] = OnPage(r, p.width, p.height);
        }
    }
    plan.outliers = FindOutliers(pages);
    return plan;
}

std::vector<Outlier> FindOutliers(const std::vector<PageContent> &pages) {
    std::vector<double> edges[4];
    for (const PageContent &p : pages)
        if (p.content) {
            const CropRect c = p.content->Normalized();
            edges[0].push_back(c.left);
            edges[1].push_back(c.top);
            edges[2].push_back(c.right);
            edges[3].push_back(c.bottom);
        }
    double median[4] = {0, 0, 0, 0};
    if (!edges[0].empty())
        for (int i = 0; i < 4; ++i)
            median[i] = Median(edges[i]);
    static const char *const kEdge[4] = {"left", "top", "right", "bottom"};
    std::vector<Outlier> outliers;
    for (const PageContent &p : pages) {
        if (p.failed) {
            outliers.push_back({p.page, "could not be rendered" + (p.error.empty() ? std::string() : ": " + p.error)});
            continue;
        }
        if (!p.content) {
            outliers.push_back({p.page, "blank"});
            continue;
        }
        const CropRect c = p.content->Normalized();
        const double value[4] = {c.left, c.top, c.right, c.bottom};
        int worst = -1;
        double worstShare = kOutlierShare;
        for (int i = 0; i < 4; ++i) {
            const double extent = i % 2 == 0 ? p.width : p.height;
            if (extent <= 0)
                continue;
            const double share = std::abs(value[i] - median[i]) / extent;
            if (share > worstShare) {
                worstShare = share;
                worst = i;
            }
        }
        if (worst >= 0)
            outliers.push_back({p.page, std::string(kEdge[worst]) + " edge off by " + Percent(worstShare) + " of the page"});
    }
    return outliers;
}

}  // namespace crop
