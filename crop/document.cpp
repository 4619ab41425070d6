#include "crop/document.h"

#include <QFile>
#include <QFileInfo>

namespace crop {

void COrvaneDoc::SetTitle(const QString &title) {
    m_title = title;
    emit TitleChanged(title);
}

void COrvaneDoc::Reset() {
    m_pathName.clear();
    SetTitle(QStringLiteral("Untitled"));
}

bool COrvaneDoc::OpenDocumentFile(const QString &path, QString &reason) {
    const QString full = QFileInfo(path).absoluteFilePath();
    if (!m_pathName.isEmpty() && full == m_pathName)
        return true;  // already open
    if (!OnOpenDocument(full, reason))
        return false;
    m_pathName = full;
    SetTitle(QFileInfo(full).fileName());
    return true;
}

bool COrvaneDoc::OnOpenDocument(const QString &path, QString &reason) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    file.close();
    if (m_hooks.resetCropFile)
        m_hooks.resetCropFile();
    if (!m_hooks.openInLeftPane || !m_hooks.openInLeftPane(path, reason))
        return false;
    if (m_hooks.addToRecentFiles)
        m_hooks.addToRecentFiles(path);
    if (m_hooks.updateAllViews)
        m_hooks.updateAllViews();
    return true;
}

}  // namespace crop
