#ifndef APP_RECENT_FILES_H
#define APP_RECENT_FILES_H

#include <QSettings>
#include <QString>
#include <QStringList>

namespace app {

// The recent-file list, most recent first, kept in the settings as
// "Recent File List"/"File1".."FileN".
class RecentFileList {
public:
    explicit RecentFileList(int capacity = 4) : m_capacity(capacity) {}

    void Load(QSettings &settings);
    void Save(QSettings &settings) const;
    // Puts `path` first; an entry for the same path moves up instead of
    // appearing twice; the oldest falls off past the capacity.
    void Add(const QString &path);
    void Remove(int index);

    const QStringList &Entries() const { return m_entries; }
    int Capacity() const { return m_capacity; }

private:
    int m_capacity;
    QStringList m_entries;
};

}  // namespace app

#endif
