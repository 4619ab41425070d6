#ifndef CROP_MODEL_CROP_SAVE_H
#define CROP_MODEL_CROP_SAVE_H

#include "crop/model/crop_run.h"
#include "crop/model/document_state.h"
#include "crop/model/regions/page_editing.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace crop {

// Saving a cropped copy of the open document: the save's options, the
// crop list, the crop tool's job, the report of what a save will change,
// and the run in the background with its end.
class CropSave : public QObject {
    Q_OBJECT
public:
    // What the save asks of the document that owns it.
    struct Host {
        std::function<QString()> path;  // the open document's, empty for none
        std::function<QString()> title;
        std::function<bool()> pdf;
        std::function<std::shared_ptr<const platform::Secret>()> password;
        std::function<bool()> fileChanged;  // since it was opened
        std::function<crop::Busy()> busy;   // the document's work
        // The copy at `output` was written: the document is opened afresh
        // when it is its own file; false, with the reason, when it cannot be.
        std::function<bool(const QString &output, QString &reason)> written;
    };

    CropSave(PageEditing &editing, Host host, QObject *parent = nullptr);
    ~CropSave() override;

    // The order of a page's regions in the copy within a row: right to left
    // for books read so.
    void SetRightToLeft(bool on);
    bool RightToLeft() const { return m_rightToLeft; }
    // The saved copy keeps nothing outside the crops (written whole).
    void SetRemoveHidden(bool on);
    bool RemoveHidden() const { return m_removeHidden; }
    // A region reaching past its page's edges grows the page in the copy,
    // the part outside a blank margin; otherwise it is cut at the edges.
    void SetAddMargins(bool on);
    bool AddMargins() const { return m_addMargins; }
    // Each page cropped gets its crop as its trim box too.
    void SetTrimBox(bool on);
    bool TrimBox() const { return m_trimBox; }
    // What a save will change is shown before the copy is written.
    void SetReportBeforeSaving(bool on);
    bool ReportBeforeSaving() const { return m_reportBeforeSaving; }

    // The crop list, one line "Page <n>, [l,t,r,b]" per region of a page in
    // the copy's order (one for a page without any). It reaches the crop
    // tool on its standard input: no other user can read or change it on
    // the way.
    std::string ExportCropList() const;
    // Why no copy can be saved now: no PDF open, no region, or the file
    // changed on disk (unless `changedFileAccepted`: its pages may not be
    // the ones the regions were drawn on). Each check is made here only.
    enum class Refused { No, NotOpen, NotPdf, ChangedOnDisk, NoRegion };
    Refused Check(bool changedFileAccepted) const;
    // The reason in plain words; empty for No.
    QString Reason(Refused refused) const;
    // What saving to `output` would change, as the crop tool reports it in
    // a dry run (JSON); false with the reason when it cannot tell. Stopped
    // when `stopped` says so, or by Stop.
    bool Report(const QString &output, QByteArray &json, QString &reason, const std::function<bool()> &stopped = {},
                bool replaceReadOnly = false);
    // Writes the copy to `output` with the crop tool, in the background;
    // false, with the reason, when that cannot be begun. A copy over the
    // open document opens it afresh when it is done. A read-only output is
    // replaced only with `replaceReadOnly`.
    bool Run(const QString &output, QString &reason, bool changedFileAccepted = false, bool replaceReadOnly = false);
    // Whether `path` names the open document's file.
    bool IsDocumentFile(const QString &path) const;
    // CropRun, Report, or None.
    crop::Busy Running() const;
    // Stops the run (the tool removes what it had begun to write) or the
    // report.
    void Stop();

signals:
    void Changed(crop::Changes changes);
    void StatusMessage(const QString &text);
    // The run ended; `message` says where the copy was written, or why not.
    void Finished(bool ok, const QString &message);

private:
    // The crop tool's job for a copy at `output`, and the list it reads,
    // ending with its line "End".
    bool Job(const QString &output, CropRun::Job &job, QByteArray &list, QString &reason, bool replaceReadOnly);
    void Ended(bool ok, const QString &message);

    PageEditing &m_editing;
    Host m_host;
    CropRun m_run;
    bool m_rightToLeft = false;
    bool m_removeHidden = false;
    bool m_addMargins = false;
    bool m_trimBox = false;
    bool m_reportBeforeSaving = false;  // the window turns it on from its settings
    bool m_reporting = false;
    bool m_stopReport = false;
    qint64 m_sizeBefore = 0;  // of the input, when the crop tool started
    // The list the last report was made for, for the run that follows it.
    QString m_reportedOutput;
    QByteArray m_reportedList;
    uint64_t m_reportedVersion = 0;  // of the regions it was made of
};

}  // namespace crop

#endif
