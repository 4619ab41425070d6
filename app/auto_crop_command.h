#ifndef APP_AUTO_CROP_COMMAND_H
#define APP_AUTO_CROP_COMMAND_H

#include "crop/auto_crop.h"

#include <QString>

#include <functional>

namespace app {

// Whether the arguments ask for the command line rather than the window
// (--auto-crop, --help); no display is needed then.
bool WantsCommandLine(int argc, char **argv);

// orvane --auto-crop IN.pdf -o OUT.pdf [--uniform] [--margin PTS]
//        [--pages all|odd|even]
// Runs without a window or a display; returns the exit code. Needs a
// QCoreApplication.
int RunCommandLine(int argc, char **argv);

// A cropped copy of `input` written to `output`: the content of every
// page of the set found, the crop list written, the crop tool run. The
// input is never changed, and on failure nothing is left at `output`
// (what was there before stays). False with the reason, in plain words
// naming the file.
struct AutoCropJob {
    QString input;
    QString output;
    crop::AutoCropOptions options;
};
struct AutoCropReport {
    int pages = 0;     // pages of the set
    int cropped = 0;   // pages given a crop
    int blank = 0;
    std::vector<crop::Outlier> outliers;
    std::vector<std::string> warnings;
    std::vector<std::string> toolNotes;  // what the crop tool said, line by line
};
// `progress` gets a phase ("Finding content", "Writing") and pages done.
using AutoCropProgress = std::function<void(const char *phase, int done, int total)>;
bool AutoCropFile(const AutoCropJob &job, AutoCropReport &report, QString &reason,
                  const AutoCropProgress &progress = {});

}  // namespace app

#endif
