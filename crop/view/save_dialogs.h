#ifndef CROP_VIEW_SAVE_DIALOGS_H
#define CROP_VIEW_SAVE_DIALOGS_H

// The dialogs round opening a locked document and saving a copy: the
// password prompt, and the report of what a save will change.

#include "platform/secret.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace crop {

// "Password": asks for the password of the document called `name`; after
// a wrong one (`wrongBefore`) it says so. False on Cancel.
class CPasswordDialog : public QDialog {
    Q_OBJECT
public:
    CPasswordDialog(const QString &name, bool wrongBefore, QWidget *parent = nullptr);
    // The password typed; the field is emptied as it is taken.
    platform::Secret TakePassword();

    static bool Ask(QWidget *parent, const QString &name, bool wrongBefore, platform::Secret &password);

private:
    QLineEdit *m_field;
};

// What the crop tool's dry run says a save will change (its JSON report),
// in plain words: pages cropped, split and left, what lies outside the
// crops, signatures, and whether the cropped-away content stays.
QString DescribeSaveReport(const QByteArray &json, bool removeHidden);

// The report before saving, with Save, Cancel and "Don't show this again".
class CSaveReportDialog : public QDialog {
    Q_OBJECT
public:
    CSaveReportDialog(const QString &text, QWidget *parent = nullptr);
    bool DontShowAgain() const;

private:
    QCheckBox *m_dontShow;
};

}  // namespace crop

#endif
