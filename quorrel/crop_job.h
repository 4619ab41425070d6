#ifndef QUORREL_CROP_JOB_H
#define QUORREL_CROP_JOB_H

#include <functional>
#include <string>

namespace quorrel {

// One run of the crop tool: the pages of `in` cropped to the rectangles of
// the crop list `list`, written to `out` (a temporary file beside it,
// renamed into place once complete).
struct CropJob {
    std::string list, in, out;
    bool mediaBox = false;      // the media box set to the rectangle too
    bool rewrite = false;       // a whole new file rather than an update
    bool progress = false;      // "progress DONE/PAGES" lines as it goes
    bool requireCrop = false;   // fail when no page lies under a rectangle
    bool overwrite = false;     // a read-only output replaced too
    std::string password;       // of a locked input; empty for none
    bool removeHidden = false;  // nothing wholly outside a page's crop kept
    bool addMargins = false;    // a rectangle past what a page shows grows the page
    bool trimBox = false;       // each page cropped gets its crop as its trim box too
    // A dry run: nothing is written, and `report` gets what the crop would
    // change, as JSON.
    bool reportOnly = false;
    std::string *report = nullptr;
};

// Runs `job`; false, with the reason in one line, when `out` was not
// written. What the user should hear on the way (warnings, how the file is
// written, progress) goes to `tellUser`, a line at a time.
bool RunCropJob(const CropJob &job, std::string &error, const std::function<void(const std::string &)> &tellUser);

}  // namespace quorrel

#endif
