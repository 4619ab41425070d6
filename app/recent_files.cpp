#include "app/recent_files.h"

#include <QFileInfo>

namespace app {
namespace {
const char *kSection = "Recent File List";

QString Key(int i) { return QStringLiteral("File%1").arg(i + 1); }

bool SameFile(const QString &a, const QString &b) {
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}
}  // namespace

void RecentFileList::Load(QSettings &settings) {
    m_entries.clear();
    settings.beginGroup(kSection);
    for (int i = 0; i < m_capacity; ++i) {
        QString path = settings.value(Key(i)).toString();
        if (!path.isEmpty())
            m_entries.append(path);
    }
    settings.endGroup();
}

void RecentFileList::Save(QSettings &settings) const {
    settings.beginGroup(kSection);
    for (int i = 0; i < m_capacity; ++i) {
        if (i < m_entries.size())
            settings.setValue(Key(i), m_entries[i]);
        else
            settings.remove(Key(i));
    }
    settings.endGroup();
}

void RecentFileList::Add(const QString &path) {
    if (path.isEmpty())
        return;
    for (int i = 0; i < m_entries.size(); ++i)
        if (SameFile(m_entries[i], path)) {
            m_entries.removeAt(i);
            break;
        }
    m_entries.prepend(QFileInfo(path).absoluteFilePath());
    while (m_entries.size() > m_capacity)
        m_entries.removeLast();
}

void RecentFileList::Remove(int index) {
    if (index >= 0 && index < m_entries.size())
        m_entries.removeAt(index);
}

}  // namespace app
