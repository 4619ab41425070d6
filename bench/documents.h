#ifndef BENCH_DOCUMENTS_H
#define BENCH_DOCUMENTS_H

// The documents the whole-document benchmarks crop: typeset book pages
// ("book": a running head and rule, some 3,000 glyphs in two fonts, a
// figure, a ruled table, a page number), simple ones ("plain": a heading,
// short lines in one font and a figure), or scans of about 0.9 MB a page
// at 300 dpi ("scanned", ten different scans in turn; "tilted", the same
// scanned askew, from -3 to +3 degrees).

#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

// Writes `pages` pages of `kind` to `path`; the mean size of a scan in
// bytes, or 0.
inline double WriteDocument(const std::string &kind, int pages, const std::string &path) {
    fixtures::DocPlan plan = fixtures::ManyPages(pages, kind == "plain");
    double pageBytes = 0;
    if (kind == "book")
        for (fixtures::PagePlan &p : plan.pages)
            p.bookContent = true;
    if (kind == "scanned" || kind == "tilted") {
        std::vector<fixtures::ScanPage> scans;
        for (int k = 0; k < std::min(pages, 10); ++k) {
            fixtures::ScanOptions o;
            o.seed = unsigned(k + 1);
            o.dpi = 300;
            o.quality = 70;
            o.paper = k % 3 == 0 ? fixtures::ScanPaper::Noisy : fixtures::ScanPaper::Grey;
            if (kind == "tilted")
                o.tilt = (k - 4.5) * 0.65;
            scans.push_back(fixtures::MakeScanPage(o));
            pageBytes += double(scans.back().jpeg.size());
        }
        pageBytes /= double(std::max<size_t>(1, scans.size()));
        for (int i = 0; i < pages; ++i)
            plan.pages[size_t(i)] = fixtures::ScanPagePlan(scans[size_t(i) % scans.size()]);
    }
    fixtures::WritePdf(plan, path);
    return pageBytes;
}

}  // namespace bench

#endif
