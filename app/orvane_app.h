#ifndef APP_ORVANE_APP_H
#define APP_ORVANE_APP_H

#include "app/main_frame.h"
#include "app/recent_files.h"
#include "crop/model/document.h"

#include <QApplication>
#include <QString>

#include <memory>

namespace app {

// Owns start-up and exit around the one QApplication.
class COrvaneApp {
public:
    COrvaneApp(int &argc, char **argv);
    ~COrvaneApp();
    COrvaneApp(const COrvaneApp &) = delete;
    COrvaneApp &operator=(const COrvaneApp &) = delete;

    // The start-up sequence; false ends the program.
    bool InitInstance();
    // Runs the event loop; returns its exit code.
    int Run();
    // Closes the main window, writes the recent-file list back and deletes
    // every temporary file the program named.
    void ExitInstance();

    CMainFrame *MainFrame() const { return m_mainFrame.get(); }
    crop::COrvaneDoc &Document() { return m_document; }

    // The open path of File Open, the recent files and the command line.
    // A failure says so in a message and changes nothing that is shown.
    bool OpenDocumentFile(const QString &path);
    // Opens `path` (as a drop when `dropped`), asking for the password of
    // a locked file until the right one is given or the user cancels.
    // `cancelled` is set when the user gave up at the password prompt.
    bool OpenAskingPassword(const QString &path, bool dropped, bool *cancelled = nullptr);
    // The recent-file entry `index`: a file that cannot be opened leaves
    // the list.
    bool OpenRecentFile(int index);
    // A dropped file: opened whatever is shown, even the same file.
    bool OpenDroppedFile(const QString &path);
    // Ctrl+N: untitled, with nothing shown.
    void NewDocument();
    RecentFileList &RecentFiles() { return m_recentFiles; }
    // The file named on the command line, empty when none.
    const QString &CommandLineFile() const { return m_commandLineFile; }

private:
    void ConnectFrame();
    // The program is told to end from outside (SIGTERM, a session that
    // ends): the rectangles not yet saved are kept aside, and the window
    // closes without a question.
    void EndedFromOutside();
    // Rectangles kept aside by a run that was ended: offered back, the
    // document opened with them when the user wants.
    void OfferKeptRectangles();
    void ShowOpenFailure(const QString &path, const QString &reason);

    // Gives the application its organisation and name, which the settings
    // and the user's data folder are found by; true.
    static bool NameApplication();

    QApplication m_application;
    // Named before the document is made: it finds its crop file by them.
    bool m_named = NameApplication();
    crop::COrvaneDoc m_document;
    RecentFileList m_recentFiles{4};
    std::unique_ptr<CMainFrame> m_mainFrame;
    QString m_commandLineFile;
    bool m_exited = false;
};

}  // namespace app

#endif
