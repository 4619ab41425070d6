#ifndef APP_MAIN_FRAME_H
#define APP_MAIN_FRAME_H

#include "crop/detect/margins.h"
#include "crop/model/document_state.h"

#include <QDialog>
#include <QHash>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QSplitter>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;
class QToolBar;

namespace crop {
class COrvaneDoc;
class COrvaneView;
}  // namespace crop
namespace panes {
class CLeftView;
class COutlierList;
}  // namespace panes

namespace app {

// The main window: menu, accelerators, toolbar, status bar and a splitter
// with the left pane and the page view, both observing `document`. It
// restores its stored placement when it is made and saves it when it goes,
// forwards the page commands to the page view, and enables them only while
// a page is shown.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // The pane that last had the keyboard focus; the left pane at start.
    enum class Pane { Left, PageView };

    explicit CMainFrame(crop::COrvaneDoc &document, QWidget *parent = nullptr);
    ~CMainFrame() override;

    // "<document title> - <product name with version>".
    void SetDocumentTitle(const QString &title);
    // Closes the window without a question: the program is being ended
    // from outside, and what must not be lost has been kept.
    void CloseWithoutAsking();

    panes::CLeftView *LeftView() const { return m_leftView; }
    crop::COrvaneView *PageView() const { return m_pageView; }
    QSplitter *Splitter() const { return m_splitter; }
    QToolBar *ToolBar() const { return m_toolBar; }
    panes::COutlierList *OutlierList() const { return m_outliers; }

    // The action of a command id (menu, toolbar or accelerator); null for
    // ids the window does not know.
    QAction *Action(int id) const { return m_actions.value(id); }
    // The status bar's page pane ("Page No" until a page is shown).
    QLabel *PagePane() const { return m_pagePane; }
    void SetPageText(const QString &text);
    // The status bar's zoom pane ("100%").
    QLabel *ZoomPane() const { return m_zoomPane; }
    // The selected region's size in the Crop Box unit, "210.0 × 297.0 mm".
    QLabel *SizePane() const { return m_sizePane; }
    Pane ActivePane() const { return m_activePane; }

    // The recent-file entries shown in the File menu, most recent first.
    void SetRecentFiles(const QStringList &paths);

    // Runs a command as if chosen from the menu, toolbar or keyboard.
    void OnCommand(int id);
    // The About box, modal; tests take it instead of running it.
    void ShowAbout();
    void SetAboutHandler(std::function<void(QDialog &)> handler) { m_aboutHandler = std::move(handler); }
    // Preview Copy's note in the status bar: how many pages the copy will have.
    void ShowCopyPageCount();
    void UpdateSizePane();
    // Copy and Paste of a region, and what they did, in the status bar.
    void CopyRegion();
    void PasteRegion();
    // What the document told changed, shown.
    void DocumentChanged(crop::Changes changes);
    // Re-evaluates which commands are enabled.
    void UpdateCommandUI();

signals:
    // File Open (dropped = false) or a dropped file (dropped = true) names
    // a file to open.
    void OpenFileRequested(const QString &path, bool dropped);
    // The recent-file entry `index` (from 0) was chosen.
    void OpenRecentRequested(int index);
    // Ctrl+N: back to an untitled, empty document.
    void NewDocumentRequested();
    // About (the framework's About command).
    void AboutRequested();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    // Asks before a crop run is stopped by closing the window.
    void closeEvent(QCloseEvent *event) override;

private:
    QAction *MakeAction(int id, const QString &text);
    // The document's signals shown in the panes and the status bar.
    void ObserveDocument();
    // What becomes of a rectangle drawn on the overlay and not yet given
    // to its pages, asked when the overlay is left or the document saved.
    void AskAboutTheOverlaysRectangle();
    // What each command does: m_handlers filled.
    void AddFileHandlers();
    // File > Restore Original: asks for a copy and where its original goes.
    void RestoreOriginal();
    // Crop to Trim Box and Crop to Bleed Box, on every page.
    void CropToBox(crop::PageBox kind);
    // Rotate Left, Right and 180 (`degrees` clockwise): the shown page, or
    // the pages of a range asked for.
    void RotatePages(int degrees, bool range);
    void AddEditHandlers();
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void RebuildRecentMenu();
    void FocusChanged(QWidget *old, QWidget *now);
    // Asks before rectangles not yet saved in a cropped copy are given up;
    // true when there are none or the user lets them go.
    bool MayDiscardRectangles();

    QMap<int, QAction *> m_actions;
    QHash<int, std::function<void()>> m_handlers;
    QMenu *m_fileMenu = nullptr;
    QAction *m_recentPlace = nullptr;  // the separator after the recent files
    QList<QAction *> m_recentActions;
    QStringList m_recentFiles;
    QToolBar *m_toolBar = nullptr;
    crop::COrvaneDoc &m_document;
    QLabel *m_pagePane = nullptr;
    QLabel *m_zoomPane = nullptr;
    QLabel *m_sizePane = nullptr;
    QLabel *m_capsPane = nullptr;
    QLabel *m_numPane = nullptr;
    std::function<void(QDialog &)> m_aboutHandler;
    QSplitter *m_splitter = nullptr;
    panes::CLeftView *m_leftView = nullptr;
    crop::COrvaneView *m_pageView = nullptr;
    panes::COutlierList *m_outliers = nullptr;
    Pane m_activePane = Pane::Left;
    bool m_redirectingWheel = false;
    bool m_closingAnyway = false;
};

}  // namespace app

#endif
