#include "crop/detect/auto_crop.h"

#include "crop/detect/page_range.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace crop {
namespace {

// An edge is far out past more than this many spreads of its side, and
// more than this share of the page.
constexpr double kOutlierSpreads = 4.0;
constexpr double kOutlierShare = 0.05;
// A side of the book with fewer pages of content is measured with the other.
constexpr size_t kOutlierSideMinimum = 6;
// Fewer pages than this, and each is measured against the others alone.
constexpr size_t kOutlierFewPages = 20;

CropRect Grown(const CropRect &r, double margin) {
    return {r.left - margin, r.top - margin, r.right + margin, r.bottom + margin};
}

// Grown by the options' margins as page `page` has them.
CropRect Grown(const CropRect &r, const AutoCropOptions &options, int page) {
    if (!options.sides)
        return Grown(r, std::max(0.0, options.margin));
    const Margins m = options.sides->On(page);
    return {r.left - m.left, r.top - m.top, r.right + m.right, r.bottom + m.bottom};
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

// The value below which `share` of `sorted` lies, interpolated.
double Quantile(const std::vector<double> &sorted, double share) {
    const double at = share * double(sorted.size() - 1);
    const size_t below = size_t(at);
    const size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (at - double(below));
}

// Where one side's pages end their content along one edge.
struct EdgeSpread {
    double median = 0, spread = 0;
};

// The spread is the range of the middle 80 % of the pages: where more than
// one page in ten reaches out (code run into the margin, wide tables),
// that is how far pages of the range go.
EdgeSpread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {Quantile(values, 0.5), Quantile(values, 0.9) - Quantile(values, 0.1)};
}

std::string Points(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f pt", value);
    return text;
}

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f %%", value);
    return text;
}

// Pages whose crop would cut away more than `cap` percent of them keep no
// crop, and are listed in place of anything else said of them.
void HoldToCap(const std::vector<PageContent> &pages, double cap, AutoCropPlan &plan) {
    for (const PageContent &p : pages) {
        const auto found = plan.rects.find(p.page);
        if (found == plan.rects.end() || p.width <= 0 || p.height <= 0)
            continue;
        const CropRect &r = found->second;
        const double kept = std::max(0.0, r.right - r.left) * std::max(0.0, r.bottom - r.top) / (p.width * p.height);
        const double cut = 100 * (1 - kept);
        if (cut <= cap + 1e-9)
            continue;
        plan.rects.erase(found);
        Outlier outlier{p.page, "would cut " + Percent(cut) + " away",
                        "its crop would cut away " + Percent(cut) + " of it, more than the " + Percent(cap) +
                            " allowed; it is left as it is"};
        const auto listed = std::find_if(plan.outliers.begin(), plan.outliers.end(),
                                         [&](const Outlier &o) { return o.page == p.page; });
        if (listed != plan.outliers.end())
            *listed = std::move(outlier);
        else
            plan.outliers.insert(std::upper_bound(plan.outliers.begin(), plan.outliers.end(), p.page,
                                                  [](int page, const Outlier &o) { return page < o.page; }),
                                 std::move(outlier));
    }
}

}  // namespace

std::vector<int> PagesOf(const AutoCropOptions &options, int pageCount) {
    if (options.range.empty())
        return PagesOf(options.pages, pageCount);
    std::vector<int> pages;
    std::string error;
    if (!ParsePageRange(options.range, pageCount, pages, error))
        pages.clear();
    return pages;
}

AutoCropPlan PlanAutoCrop(const std::vector<PageContent> &pages, const AutoCropOptions &options) {
    AutoCropPlan plan;
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
            plan.rects[p.page] = OnPage(Grown(content, options, p.page), p.width, p.height);
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
        for (int side : {0, 1})  // even, odd
            parity[side] = Grown(*parity[side], options, side == 0 ? 2 : 1);
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
    if (options.cap > 0)
        HoldToCap(pages, options.cap, plan);
    return plan;
}

std::vector<Outlier> FindOutliers(const std::vector<PageContent> &pages) {
    // The content edges of each side: [0] even pages, [1] odd ones.
    std::vector<double> edges[2][4];
    for (const PageContent &p : pages)
        if (p.content && !p.failed) {
            const CropRect c = p.content->Normalized();
            const double value[4] = {c.left, c.top, c.right, c.bottom};
            for (int i = 0; i < 4; ++i)
                edges[p.page % 2][i].push_back(value[i]);
        }
    // A side too thin to tell its own margins is measured with the other.
    bool ownSide[2];
    for (int side = 0; side < 2; ++side)
        ownSide[side] = edges[side][0].size() >= kOutlierSideMinimum;
    std::vector<double> measured[2][4];
    EdgeSpread spread[2][4];
    for (int side = 0; side < 2; ++side)
        for (int i = 0; i < 4; ++i) {
            measured[side][i] = edges[side][i];
            if (!ownSide[side])
                measured[side][i].insert(measured[side][i].end(), edges[1 - side][i].begin(), edges[1 - side][i].end());
            if (!measured[side][i].empty())
                spread[side][i] = SpreadOf(measured[side][i]);
        }
    // Among a few pages, one far out would widen the spread it is measured
    // against: each is measured against the others alone.
    auto against = [&](int side, int i, double value) {
        const std::vector<double> &all = measured[side][i];
        if (all.size() >= kOutlierFewPages || all.size() < 2)
            return spread[side][i];
        std::vector<double> others = all;
        const auto self = std::find(others.begin(), others.end(), value);
        if (self != others.end())
            others.erase(self);
        return SpreadOf(std::move(others));
    };

    static const char *const kEdge[4] = {"left", "top", "right", "bottom"};
    static const char *const kFurther[4] = {"further left", "higher", "further right", "lower"};
    std::vector<Outlier> outliers;
    for (const PageContent &p : pages) {
        if (p.failed) {
            outliers.push_back({p.page, "could not be rendered",
                                "it could not be rendered" + (p.error.empty() ? std::string() : ": " + p.error)});
            continue;
        }
        if (!p.content) {
            outliers.push_back({p.page, "blank", "it is blank"});
            continue;
        }
        if (p.skewUnmeasured) {
            outliers.push_back({p.page, "skew not measured",
                                "its print has no lines or edges to tell its skew by; it is left as scanned"});
            continue;
        }
        const int side = p.page % 2;
        const CropRect c = p.content->Normalized();
        const double value[4] = {c.left, c.top, c.right, c.bottom};
        int worst = -1;
        double worstOut = 0;
        for (int i = 0; i < 4; ++i) {
            const double extent = i % 2 == 0 ? p.width : p.height;
            // Outwards: left and top edges lie before the median, right and
            // bottom ones after it.
            const EdgeSpread edge = against(side, i, value[i]);
            const double out = i < 2 ? edge.median - value[i] : value[i] - edge.median;
            const double limit = std::max(kOutlierSpreads * edge.spread, kOutlierShare * extent);
            if (extent > 0 && out > limit && (worst < 0 || out > worstOut)) {
                worst = i;
                worstOut = out;
            }
        }
        if (worst < 0)
            continue;
        const std::string others = !ownSide[side] ? "most pages" : side == 1 ? "most odd pages" : "most even pages";
        outliers.push_back({p.page, std::string(kEdge[worst]) + " edge " + Points(worstOut) + " out",
                            "its content reaches " + Points(worstOut) + " " + kFurther[worst] + " than on " + others});
    }
    return outliers;
}

}  // namespace crop
