#ifndef CROP_DOCUMENT_H
#define CROP_DOCUMENT_H

#include <QObject>
#include <QString>

#include <functional>

namespace crop {

// The document: the target of the open path (File Open, recent files, the
// command line) and the title of the window. Its pages live in the left
// pane, its shown page in the page view, its rectangles in the crop file;
// it has nothing to save.
class COrvaneDoc : public QObject {
    Q_OBJECT
public:
    // What the open sequence asks of the rest of the program.
    struct Hooks {
        std::function<void()> resetCropFile;
        // Opens the file in the left pane and shows page 1; on failure
        // fills in the reason.
        std::function<bool(const QString &path, QString &reason)> openInLeftPane;
        std::function<void(const QString &path)> addToRecentFiles;
        std::function<void()> updateAllViews;
    };

    explicit COrvaneDoc(QObject *parent = nullptr) : QObject(parent) {}
    void SetHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    const QString &PathName() const { return m_pathName; }
    const QString &Title() const { return m_title; }
    void SetTitle(const QString &title);
    // Back to "Untitled" with no path.
    void Reset();

    // The open path: a path equal to the recorded one is already open and
    // nothing happens. On success the path is recorded and the title
    // becomes the file's name; on failure `reason` says why.
    bool OpenDocumentFile(const QString &path, QString &reason);

signals:
    void TitleChanged(const QString &title);

private:
    bool OnOpenDocument(const QString &path, QString &reason);

    Hooks m_hooks;
    QString m_pathName;
    QString m_title = QStringLiteral("Untitled");
};

}  // namespace crop

#endif
