#ifndef CROP_MODEL_RESTORE_JOB_H
#define CROP_MODEL_RESTORE_JOB_H

#include <QString>

#include <functional>

namespace crop {

// Writes to `output` the original that `copy` holds: a copy this program
// wrote as the original's bytes and an update holds them whole, and the
// crop tool gives them back byte for byte after checking them. Waits for
// the tool while events go on; `progress` hears the share done (0 to
// 100). False with the reason in plain words, and nothing written, when
// `copy` is not such a copy (one written whole says why), was changed
// since, or `output` cannot be written.
bool RestoreOriginal(const QString &copy, const QString &output, QString &reason,
                     const std::function<void(int percent)> &progress = {});

}  // namespace crop

#endif
