#include "crop/view/work_texts.h"

namespace crop {

QString WorkProgressText(crop::Busy work, int done, int total) {
    const QString what = work == crop::Busy::ShrinkAll    ? QStringLiteral("Shrinking all pages")
                         : work == crop::Busy::Split      ? QStringLiteral("Splitting pages")
                         : work == crop::Busy::Straighten ? QStringLiteral("Straightening pages")
                                                          : QStringLiteral("Overlaying pages");
    if (total <= 0)
        return QStringLiteral("%1 (Esc stops)").arg(what);
    return QStringLiteral("%1: %2 of %3 (Esc stops)").arg(what).arg(done).arg(total);
}

}  // namespace crop
