#include "crop/model/restore_job.h"

#include "crop/model/crop_run.h"

#include <QEventLoop>

namespace crop {

bool RestoreOriginal(const QString &copy, const QString &output, QString &reason,
                     const std::function<void(int percent)> &progress) {
    CropRun run;
    CropRun::Job job{CropRun::ToolPath(), QString(), copy, output};
    job.restore = true;
    QEventLoop loop;
    bool ok = false;
    QString message;
    QObject::connect(&run, &CropRun::Progress, &loop, [&progress](int done, int total) {
        if (progress && total > 0)
            progress(done * 100 / total);
    });
    QObject::connect(&run, &CropRun::Finished, &loop, [&](bool success, const QString &said) {
        ok = success;
        message = said;
        loop.quit();
    });
    if (!run.Start(job, reason))
        return false;
    loop.exec();
    if (!ok)
        reason = CropRun::Reason(message);
    return ok;
}

}  // namespace crop
