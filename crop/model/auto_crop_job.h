#ifndef CROP_MODEL_AUTO_CROP_JOB_H
#define CROP_MODEL_AUTO_CROP_JOB_H

#include "crop/detect/auto_crop.h"
#include "crop/detect/margins.h"
#include "crop/detect/page_shape.h"
#include "crop/detect/split.h"

#include "platform/secret.h"
#include "render/page_source.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crop {

// A cropped copy of `input` written to `output`: the content of every
// page of the set found, the crop list written, the crop tool run. The
// input is never changed, and on failure nothing is left at `output`
// (what was there before stays). False with the reason, in plain words
// naming the file.
//
// With `margins` the pages are cropped to exact margins from their edges
// as shown (rotation and crop box applied) instead, and nothing is
// rendered: only `options.pages` and `options.range` count then. With
// `toBox` so too, each page to the box of that kind it gives (a page
// without one is left as it is, with a warning).
struct AutoCropJob {
    QString input;
    QString output;
    AutoCropOptions options;
    std::optional<Margins> margins;
    // Each page split into the cells of this grid at its gutters instead
    // (options.margin round each cell, within the page); a row's cells go
    // into the copy from the right with `rightToLeft`.
    std::optional<SplitGrid> split;
    bool rightToLeft = false;
    // A locked input's password, given to every reader of it.
    std::shared_ptr<const platform::Secret> password;
    // Nothing outside each page's crop box kept in the copy.
    bool removeHidden = false;
    // Each page cropped gets its crop as its trim box too.
    bool trimBox = false;
    // Each page cropped to its own box of this kind (see above).
    std::optional<PageBox> toBox;
    // Pages left out of the copy, as typed ("3, 10-12"); checked once the
    // file is open.
    std::string leaveOut;
    // Every page of the set made exactly this size, centred on its crop (a
    // crop larger than the paper drawn smaller to fit it, or with `cut`
    // cut to it, with a warning naming the pages); or its crop
    // grown to a reader's screen (its aspect, and margins under its frame
    // and menus). A page without a crop (blank)
    // is shaped from the whole page. Both grow margins where they must.
    std::optional<PaperSize> paper;
    Anchor anchor = Anchor::Centre;  // where the crop goes on the paper
    bool cut = false;                // a crop larger than the paper cut, not drawn smaller
    RoomWeights room;                // how the room an aspect adds is shared
    std::optional<ReaderScreen> ratio;
    // Degrees (90, 180 or 270) every page of the set is turned clockwise
    // as shown, after it is cropped; 0 for none.
    int rotate = 0;
};
struct AutoCropReport {
    int pages = 0;    // pages of the set
    int cropped = 0;  // pages given a crop
    int blank = 0;
    int straightened = 0;  // scanned pages turned level
    int leftOut = 0;       // pages not in the copy
    std::vector<int> blankPages;
    std::vector<Outlier> outliers;
    // Pages whose marks of each kind asked for were left out of their
    // content: {running heads, page numbers, stamps}.
    int marksLeftOut[3] = {0, 0, 0};
    std::vector<std::string> warnings;
    std::vector<std::string> toolNotes;  // what the crop tool said, line by line
    // Why the input did not open, when it did not: a missing or wrong
    // password is told apart from damage.
    render::OpenFailure openFailure = render::OpenFailure::None;
    // Set by the caller: the crop tool's report of what the copy will
    // change (JSON) is made before the copy is written, kept in
    // `toolReport` and handed to `onReport`.
    bool wantReport = false;
    std::function<void(const std::string &json)> onReport;
    std::string toolReport;
};
// `progress` gets a phase ("Finding content", "Writing") and pages done.
using AutoCropProgress = std::function<void(const char *phase, int done, int total)>;
bool AutoCropFile(const AutoCropJob &job, AutoCropReport &report, QString &reason,
                  const AutoCropProgress &progress = {});

}  // namespace crop

#endif
