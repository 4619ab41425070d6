#ifndef CROP_VIEW_WORK_TEXTS_H
#define CROP_VIEW_WORK_TEXTS_H

#include "crop/model/document.h"

#include <QString>

namespace crop {

// The status bar's words for background work as it goes, with the key
// that stops it: "Shrinking all pages: 3 of 40 (Esc stops)".
QString WorkProgressText(crop::Busy work, int done, int total);

}  // namespace crop

#endif
