#include "crop/model/crop_save.h"

#include "crop/model/crop_list.h"
#include "crop/model/regions/region_edits.h"

#include <QFileInfo>
#include <QLocale>

namespace crop {

CropSave::CropSave(PageEditing &editing, Host host, QObject *parent)
    : QObject(parent), m_editing(editing), m_host(std::move(host)) {
    connect(&m_run, &CropRun::Progress, this, [this](int done, int total) {
        emit StatusMessage(
            QStringLiteral("Writing %1: page %2 of %3").arg(m_run.CurrentJob().output).arg(done).arg(total));
    });
    connect(&m_run, &CropRun::Finished, this, &CropSave::Ended);
}

CropSave::~CropSave() {
    // A run still going ends here, telling nobody.
    disconnect(&m_run, nullptr, this, nullptr);
    m_run.Stop();
}

void CropSave::SetRightToLeft(bool on) {
    m_rightToLeft = on;
    m_reportedList.clear();  // the order of the regions in the copy changed
    emit Changed(Change::SaveOptions);
}

void CropSave::SetRemoveHidden(bool on) {
    m_removeHidden = on;
    emit Changed(Change::SaveOptions);
}

void CropSave::SetAddMargins(bool on) {
    m_addMargins = on;
    m_reportedList.clear();  // the report told of pages cut, not grown
    emit Changed(Change::SaveOptions);
}

void CropSave::SetTrimBox(bool on) {
    m_trimBox = on;
    emit Changed(Change::SaveOptions);
}

void CropSave::SetReportBeforeSaving(bool on) {
    m_reportBeforeSaving = on;
    emit Changed(Change::SaveOptions);
}

bool CropSave::IsDocumentFile(const QString &path) const {
    if (m_host.path().isEmpty())
        return false;
    const QFileInfo a(path), b(m_host.path());
    return a.exists() && b.exists() ? a.canonicalFilePath() == b.canonicalFilePath()
                                    : a.absoluteFilePath() == b.absoluteFilePath();
}

crop::Busy CropSave::Running() const {
    return m_run.IsRunning() ? crop::Busy::CropRun : m_reporting ? crop::Busy::Report : crop::Busy::None;
}

std::string CropSave::ExportCropList() const {
    const CropSet &set = m_editing.Set();
    const std::function<std::vector<std::string>(int)> valuesOf = [this, &set](int page) {
        if (set.LeftOut(page))
            return std::vector<std::string>{kLeftOut};
        std::vector<std::string> values;
        std::vector<CropRect> regions = set.Regions(page);
        // A page turned has its regions as shown turned; the crop tool
        // takes them on the page as the file shows it, and turns it after.
        if (const int rotation = set.Rotation(page); rotation != 0 && !regions.empty()) {
            const std::optional<PageEditing::Size> size = m_editing.ShownSize(page);
            if (!size)
                throw std::runtime_error("the size of page " + std::to_string(page) + " cannot be told");
            regions = RotatedRegions(regions, size->first, size->second, 360 - rotation);
        }
        for (int i : set.OutputOrder(page, m_rightToLeft))
            values.push_back(WithTurn(StoredRectValue(regions[size_t(i)]), set.Turn(page)));
        // A page straightened without a region: its line has no rectangle.
        if (values.empty() && set.Turn(page) != 0)
            values.push_back(WithTurn("0,0,0,0", set.Turn(page)));
        return values;
    };
    std::string text = CropListText(set.PageCount(), valuesOf);
    // Drawn smaller: a page whose one region holds its paper's shape.
    for (int page = 1; page <= set.PageCount(); ++page)
        if (set.Scale(page) != 1 && !set.LeftOut(page) && set.RegionCount(page) == 1) {
            text += "Page " + std::to_string(page) + ", scale " + ScaleText(set.Scale(page)) + "\n";
        }
    for (int page = 1; page <= set.PageCount(); ++page)
        if (set.Rotation(page) != 0 && !set.LeftOut(page))
            text += "Page " + std::to_string(page) + ", rotate " + std::to_string(set.Rotation(page)) + "\n";
    return text;
}

CropSave::Refused CropSave::Check(bool changedFileAccepted) const {
    if (m_host.path().isEmpty())
        return Refused::NotOpen;
    if (!m_host.pdf())
        return Refused::NotPdf;
    // The regions belong to the pages the file held when it was opened;
    // changed since, it may hold others.
    if (!changedFileAccepted && m_host.fileChanged())
        return Refused::ChangedOnDisk;
    if (!ChangesSomePage(m_editing.Set()))
        return Refused::NoRegion;
    return Refused::No;
}

QString CropSave::Reason(Refused refused) const {
    switch (refused) {
    case Refused::NotOpen:
        return QStringLiteral("no document is open");
    case Refused::NotPdf:
        return QStringLiteral("only PDF documents can be saved cropped, and %1 is not one").arg(m_host.title());
    case Refused::ChangedOnDisk:
        return QStringLiteral("%1 has changed on disk since it was opened; open it again to crop what it holds now")
            .arg(m_host.path());
    case Refused::NoRegion:
        return QStringLiteral("no page has a crop rectangle; nothing was cropped");
    case Refused::No:
        break;
    }
    return {};
}

bool CropSave::Job(const QString &output, CropRun::Job &job, QByteArray &list, QString &reason, bool replaceReadOnly) {
    try {
        // The report made for this copy just before has the list already.
        if (output != m_reportedOutput || m_reportedList.isEmpty() || m_reportedVersion != m_editing.Version())
            list = QByteArray::fromStdString(ExportCropList()) + "End\n";
        else
            list = m_reportedList;
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("there is not enough memory for the crop list");
        return false;
    } catch (const std::runtime_error &e) {
        reason = QString::fromStdString(e.what());
        return false;
    }
    job = CropRun::Job(CropRun::ToolPath(), QStringLiteral("-"), m_host.path(), QFileInfo(output).absoluteFilePath());
    job.password = m_host.password();
    job.removeHidden = m_removeHidden;
    job.addMargins = m_addMargins && m_editing.ReachesPastPage();
    job.trimBox = m_trimBox;
    job.overwrite = replaceReadOnly;
    return true;
}

bool CropSave::Report(const QString &output, QByteArray &json, QString &reason, const std::function<bool()> &stopped,
                      bool replaceReadOnly) {
    if (m_host.path().isEmpty()) {
        reason = QStringLiteral("no document is open");
        return false;
    }
    m_reportedList.clear();
    CropRun::Job job;
    QByteArray list;
    if (!Job(output, job, list, reason, replaceReadOnly))
        return false;
    m_reporting = true;
    m_stopReport = false;
    emit Changed(Change::Busy);
    const bool told =
        CropRun::Report(job, json, reason, list, [this, &stopped] { return m_stopReport || (stopped && stopped()); });
    m_reporting = false;
    emit Changed(Change::Busy);
    // The run that follows takes the same list, not made again.
    m_reportedOutput = told ? output : QString();
    m_reportedList = told ? list : QByteArray();
    m_reportedVersion = m_editing.Version();
    return told;
}

bool CropSave::Run(const QString &output, QString &reason, bool changedFileAccepted, bool replaceReadOnly) {
    if (m_host.busy() != crop::Busy::None) {
        reason = BusyReason(m_host.busy());
        return false;
    }
    reason = Reason(Check(changedFileAccepted));
    if (!reason.isEmpty())
        return false;
    CropRun::Job job;
    QByteArray list;
    if (!Job(output, job, list, reason, replaceReadOnly))
        return false;
    m_sizeBefore = QFileInfo(m_host.path()).size();
    if (!m_run.Start(job, reason))
        return false;
    m_run.SendList(list);
    m_reportedOutput.clear();
    m_reportedList.clear();
    emit StatusMessage(QStringLiteral("Writing %1").arg(job.output));
    emit Changed(Change::Busy);
    return true;
}

void CropSave::Stop() {
    if (m_reporting)
        m_stopReport = true;
    if (!m_run.IsRunning() || !m_run.Stop())
        return;  // a run that had finished is told as any finish
    emit StatusMessage(QStringLiteral("Writing %1 was stopped.").arg(m_run.CurrentJob().output));
    emit Changed(Change::Busy);
}

void CropSave::Ended(bool ok, const QString &message) {
    emit Changed(Change::Busy);
    const QString output = m_run.CurrentJob().output;
    QString reason;
    if (ok && !m_host.written(output, reason)) {
        emit Finished(false, QStringLiteral("%1 was written, but cannot be opened again: %2.").arg(output, reason));
        return;
    }
    if (ok) {
        QString status = message.section(QLatin1Char('\n'), 0, 0);
        if (m_run.CurrentJob().removeHidden) {
            // What removing the hidden content saved; first, where a long
            // path cannot push it out of sight.
            const QLocale locale;
            status =
                QStringLiteral("Hidden content removed: %1 before, %2 after. ")
                    .arg(locale.formattedDataSize(m_sizeBefore), locale.formattedDataSize(QFileInfo(output).size())) +
                status;
        }
        emit StatusMessage(status);
    } else {
        emit StatusMessage(QStringLiteral("%1 was not written.").arg(output));
    }
    emit Finished(ok, message);
}

}  // namespace crop
