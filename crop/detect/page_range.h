#ifndef CROP_DETECT_PAGE_RANGE_H
#define CROP_DETECT_PAGE_RANGE_H

#include <string>
#include <string_view>
#include <vector>

namespace crop {

// A page range as the user types it: items apart by commas, each a page
// ("8"), a run of pages ("1-3"), a run open at its end ("10-", to the last
// page) or at its start ("-5", from page 1), or one of the words "all",
// "even" and "odd". An item may end in "odd" or "even", which keeps only
// those of its pages ("5-40 odd", "all even"). Spaces do not matter, nor
// does case.
//
// Gives the pages named in a document of `pageCount` pages, in order and
// each once; false, with `error` one sentence saying why ("Page 0 does not
// exist: the document has pages 1 to 36."), when the text names a page the
// document lacks, a run that goes backwards, something that is not a page
// at all, or no page. With `pageCount` 0 only the form is checked: any
// page number is taken and `pages` stays empty.
bool ParsePageRange(std::string_view text, int pageCount, std::vector<int> &pages, std::string &error);

// Pages, in order, in the form ParsePageRange reads: runs of consecutive
// pages joined ("3, 5-9, 12").
std::string PageRangeText(const std::vector<int> &pages);

}  // namespace crop

#endif
