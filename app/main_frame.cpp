#include "app/main_frame.h"

#include "app/command_state.h"
#include "app/product_info.h"
#include "app/window_placement.h"
#include "chrome/about_dialog.h"
#include "chrome/toolbar_xp.h"
#include "crop/detect/page_range.h"
#include "crop/model/document.h"
#include "crop/model/restore_job.h"
#include "crop/view/orvane_view.h"
#include "crop/view/crop_box_dialog.h"
#include "crop/view/page_range_dialog.h"
#include "crop/view/shrink_all_dialog.h"
#include "crop/view/straighten_dialog.h"
#include "crop/view/work_texts.h"
#include "panes/left_view.h"
#include "panes/outlier_list.h"
#include "platform/link_opener.h"
#include "platform/dialogs.h"
#include "res/command_ids.h"
#include "res/resources.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QSettings>
#include <QLocale>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStyle>
#include <QScreen>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>

#include <numeric>
#include <tuple>

namespace app {
namespace {

// Whether the regions of a row go into the copy from the right.
const QString kRightToLeftSetting = QStringLiteral("Cut/RightToLeft");
const QString kRemoveHiddenSetting = QStringLiteral("Cut/RemoveHiddenContent");
const QString kReportSetting = QStringLiteral("Cut/ReportBeforeSaving");
// The last page range typed in Page Range Selection.
const QString kPageRangeSetting = QStringLiteral("Cut/PageRange");
// The unit of Crop Box and of the region's size in the status bar.
const QString kUnitSetting = QStringLiteral("Cut/Unit");

// A message of at most a screenful: what the crop tool says can run to a
// line per page. Its first lines and its last (where the tool sums up what
// it did) are kept, the middle left out.
std::string Shortened(const QString &message) {
    constexpr qsizetype kHead = 6, kTail = 10;
    QStringList lines = message.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        // What the crop tool said, in the window's words: no tool name, a
        // capital first, thousands grouped.
        if (!line.startsWith(QLatin1String("quorrel: ")))
            continue;
        line = line.mid(9);
        if (!line.isEmpty())
            line[0] = line[0].toUpper();
        static const QRegularExpression count(QStringLiteral("(?<![\\w/.-])(\\d{4,})(?= [a-z])"));
        QString grouped;
        qsizetype from = 0;
        for (QRegularExpressionMatchIterator it = count.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            grouped += line.mid(from, m.capturedStart() - from) +
                       QLocale(QLocale::English).toString(m.captured(1).toLongLong());
            from = m.capturedEnd();
        }
        line = grouped + line.mid(from);
    }
    if (lines.size() > kHead + kTail + 1) {
        const qsizetype left = lines.size() - kHead - kTail;
        lines = lines.mid(0, kHead) + QStringList{QStringLiteral("… %1 more lines …").arg(left)} +
                lines.mid(lines.size() - kTail);
    }
    return lines.join(QLatin1Char('\n')).toStdString();
}

// The pictures of the toolbar buttons, from the program's button strip.
QIcon IconFor(int id) {
    using namespace res;
    static const int kOrder[] = {ID_FILE_OPEN,      ID_FIRST_PAGE,     ID_PREVIOUS_PAGE,  ID_NEXT_PAGE,
                                 ID_LAST_PAGE,      ID_ZOOM_IN,        ID_ZOOM_OUT,       ID_ACTUAL_SIZE,
                                 ID_ZOOM_FIT,       ID_ZOOM_FIT_WIDTH, ID_REMOVE_CROPBOX, ID_SHRINK_CURRENT_PAGE,
                                 ID_CROP_ALL_PAGES, ID_SAVE_FILE,      ID_ABOUT_US,       ID_OVERLAY_PAGES,
                                 ID_PREVIEW_COPY,   ID_SPLIT_PAGES};
    for (int i = 0; i < int(std::size(kOrder)); ++i)
        if (kOrder[i] == id)
            return QIcon(res::ButtonPicture(i));
    return {};
}

QString ZoomText(double zoom) { return QStringLiteral("%1%").arg(qRound(zoom)); }

}  // namespace

CMainFrame::CMainFrame(crop::COrvaneDoc &document, QWidget *parent) : QMainWindow(parent), m_document(document) {
    resize(1024, 768);
    SetDocumentTitle(m_document.Title());
    setAcceptDrops(true);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_leftView = new panes::CLeftView(m_document, m_splitter);
    m_pageView = new crop::COrvaneView(m_document, m_splitter);
    m_splitter->addWidget(m_leftView);
    m_splitter->addWidget(m_pageView);
    // Delete on the strip's selected page (the shown one) leaves it out.
    connect(m_leftView->Strip(), &panes::CThumbnailListCtrl::LeaveOutAsked, this,
            [this] { OnCommand(res::ID_LEAVE_OUT); });
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({150, 874});
    setCentralWidget(m_splitter);

    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    // A first start is wide enough for the whole toolbar, where the screen is.
    if (const QScreen *screen = this->screen()) {
        const int wanted = m_toolBar->sizeHint().width() + 16;
        resize(std::clamp(wanted, width(), std::max(width(), screen->availableGeometry().width())), height());
    }
    m_outliers = new panes::COutlierList(m_document, this);
    addDockWidget(Qt::RightDockWidgetArea, m_outliers);
    m_outliers->hide();

    ObserveDocument();
    connect(m_pageView, &crop::COrvaneView::ZoomChanged, this,
            [this](double zoom) { m_zoomPane->setText(ZoomText(zoom)); });
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::FocusChanged);
    AskAboutTheOverlaysRectangle();
    AddFileHandlers();
    AddEditHandlers();

    // The wheel goes to the pane under the pointer.
    qApp->installEventFilter(this);
    m_leftView->setFocus();

    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    RestoreWindowPlacement(*this, settings, QString::fromStdString(Product().nameWithVersion));
    m_document.Save().SetRightToLeft(settings.value(kRightToLeftSetting, false).toBool());
    m_document.Save().SetRemoveHidden(settings.value(kRemoveHiddenSetting, false).toBool());
    m_document.Save().SetReportBeforeSaving(settings.value(kReportSetting, true).toBool());
    crop::CPageRangeDialog::SetLastRange(settings.value(kPageRangeSetting).toString());
    crop::Unit unit = crop::Unit::Pt;
    if (crop::ParseUnit(settings.value(kUnitSetting).toString().toStdString(), unit))
        crop::CCropBoxDialog::SetLastUnit(unit);
    UpdateCommandUI();
}

void CMainFrame::ObserveDocument() {
    using crop::COrvaneDoc;
    connect(&m_document, &COrvaneDoc::Changed, this, &CMainFrame::DocumentChanged);
    connect(&m_document, &COrvaneDoc::PageNumberShown, this,
            [this](int page) { SetPageText(QStringLiteral("Page No: %1").arg(page)); });
    connect(&m_document, &COrvaneDoc::StatusMessage, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    // A crop file too large to be one the program wrote was left unread.
    if (!m_document.Pages().File().Problem().empty())
        statusBar()->showMessage(QString::fromStdString(m_document.Pages().File().Problem()));
    // A menu's or the toolbar's prompt takes the message pane for a while;
    // the count comes back when it goes.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
        // A message longer than its pane is read whole by pointing at it.
        statusBar()->setToolTip(message);
        if (message.isEmpty() && m_pageView->Preview() && m_document.HasPicture())
            ShowCopyPageCount();
    });
    connect(&m_document, &COrvaneDoc::WorkProgress, this, [this](crop::Busy work, int done, int total) {
        statusBar()->showMessage(crop::WorkProgressText(work, done, total));
    });
    // A page shown or gone: the notes of the last one go with it; the
    // preview's count stays.
    const auto pageChanged = [this] {
        statusBar()->clearMessage();
        if (m_pageView->Preview())
            ShowCopyPageCount();
        UpdateCommandUI();
    };
    connect(&m_document, &COrvaneDoc::DocumentOpened, this, pageChanged);
    connect(&m_document, &COrvaneDoc::PageShown, this, pageChanged);
    connect(&m_document, &COrvaneDoc::DocumentClosed, this, pageChanged);
    connect(&m_document, &COrvaneDoc::CropRunFinished, this, [](bool ok, const QString &message) {
        // A success is told in the status bar; a failure needs to be seen,
        // and so does what the crop tool warned of on the way.
        if (!ok)
            platform::ShowMessage("Save", Shortened(message), platform::MessageIcon::Warning);
        else if (message.contains(QLatin1Char('\n')))
            platform::ShowMessage("Save", Shortened(message), platform::MessageIcon::Information);
    });
}

void CMainFrame::AskAboutTheOverlaysRectangle() {
    // Leaving the overlay, or saving from it, with a rectangle drawn on it.
    m_document.Overlay().SetQuestion([](int pages) {
        const platform::Answer answer = platform::AskYesNoCancel(
            "Overlay of All Pages",
            QStringLiteral("The rectangle drawn on the overlay has not been given to its pages yet. Give it to the "
                           "%1 pages of the overlay, each at the same place from its top-left corner?\n\n"
                           "No leaves the pages as they are; Cancel stays on the overlay.")
                .arg(pages)
                .toStdString());
        return answer == platform::Answer::Yes  ? crop::Overlay::Exit::Give
               : answer == platform::Answer::No ? crop::Overlay::Exit::Drop
                                                : crop::Overlay::Exit::Stay;
    });
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    // The panes lose the focus as they go; this window no longer listens.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(&m_document, nullptr, this, nullptr);
    m_document.Overlay().SetQuestion(nullptr);
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    SaveWindowPlacement(*this, settings, QString::fromStdString(Product().nameWithVersion));
    settings.setValue(kPageRangeSetting, crop::CPageRangeDialog::LastRange());
    settings.setValue(kReportSetting, m_document.Save().ReportBeforeSaving());  // "Don't show this again" turns it off
    settings.setValue(kUnitSetting, QString::fromLatin1(crop::UnitName(crop::CCropBoxDialog::LastUnit())));
}

void CMainFrame::SetDocumentTitle(const QString &title) {
    setWindowTitle(title + QStringLiteral(" - ") + QString::fromStdString(Product().nameWithVersion));
}

QAction *CMainFrame::MakeAction(int id, const QString &text) {
    if (QAction *existing = m_actions.value(id)) {
        if (existing->text().isEmpty())
            existing->setText(text);
        return existing;
    }
    auto *action = new QAction(text, this);
    action->setData(id);
    const std::string prompt = res::Prompt(id);
    if (!prompt.empty())
        action->setStatusTip(QString::fromStdString(prompt));
    const std::string tip = res::Tooltip(id);
    if (!tip.empty())
        action->setToolTip(QString::fromStdString(tip));
    if (id == res::ID_AUTO_SHRINK || id == res::ID_OVERLAY_PAGES || id == res::ID_RIGHT_TO_LEFT ||
        id == res::ID_PREVIEW_COPY || id == res::ID_REMOVE_HIDDEN || id == res::ID_REPORT_BEFORE_SAVING ||
        id == res::ID_LEAVE_OUT || id == res::ID_ADD_MARGINS)
        action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    addAction(action);  // shortcuts work wherever the focus is in the window
    m_actions.insert(id, action);
    return action;
}

void CMainFrame::BuildMenus() {
    for (const res::Popup &popup : res::MainMenu()) {
        QMenu *menu = menuBar()->addMenu(QString::fromStdString(popup.title));
        if (popup.title == "&File")
            m_fileMenu = menu;
        bool recentPlaceNext = false;
        for (const res::MenuItem &item : popup.items) {
            if (item.id == 0 && item.items.empty()) {
                QAction *separator = menu->addSeparator();
                if (recentPlaceNext)
                    m_recentPlace = separator;
                recentPlaceNext = false;
                continue;
            }
            if (item.id == res::ID_FILE_MRU_FIRST) {
                // The recent files take this place; the separator after it
                // marks where they end.
                recentPlaceNext = true;
                continue;
            }
            if (!item.items.empty()) {
                // A submenu: its keys are the page view's own, not shortcuts.
                QMenu *sub = menu->addMenu(QString::fromStdString(item.text));
                for (const res::MenuItem &subItem : item.items) {
                    if (subItem.id == 0)
                        sub->addSeparator();
                    else
                        sub->addAction(MakeAction(subItem.id, QString::fromStdString(subItem.text)));
                }
                continue;
            }
            menu->addAction(MakeAction(item.id, QString::fromStdString(item.text)));
        }
        connect(menu, &QMenu::aboutToShow, this, [this] {
            // Another running instance may have changed Auto Shrink.
            m_document.RefreshAutoShrink();
            UpdateCommandUI();
        });
    }
    // Shortcuts, several per command where the table has them.
    QMap<int, QList<QKeySequence>> keys;
    for (const res::Accelerator &a : res::Accelerators())
        keys[a.id].append(QKeySequence(QString::fromStdString(a.keys)));
    for (auto it = keys.begin(); it != keys.end(); ++it)
        MakeAction(it.key(), QString())->setShortcuts(it.value());
    RebuildRecentMenu();
}

void CMainFrame::BuildToolBar() {
    m_toolBar = new chrome::CToolBarXP(QStringLiteral("Standard"), this);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    // It can be moved and docked at any side, or float.
    m_toolBar->setMovable(true);
    m_toolBar->setFloatable(true);
    for (int id : res::ToolbarButtons()) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction *action = MakeAction(id, QString::fromStdString(res::Tooltip(id)));
        if (action->icon().isNull())
            action->setIcon(IconFor(id));
        m_toolBar->addAction(action);
    }
}

void CMainFrame::BuildStatusBar() {
    // The message pane is the status bar's own; then the page pane, an
    // empty pane, and the keyboard's lock state.
    m_pagePane = new QLabel(QStringLiteral("Page No"), this);
    m_pagePane->setFixedWidth(500);
    m_pagePane->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_zoomPane = new QLabel(ZoomText(m_pageView->Zoom()), this);
    m_zoomPane->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_zoomPane->setMinimumWidth(m_zoomPane->fontMetrics().horizontalAdvance(QStringLiteral("100000%")));
    m_sizePane = new QLabel(this);
    m_sizePane->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_capsPane = new QLabel(QStringLiteral("CAP"), this);
    m_numPane = new QLabel(QStringLiteral("NUM"), this);
    statusBar()->addPermanentWidget(m_pagePane);
    statusBar()->addPermanentWidget(m_sizePane);
    statusBar()->addPermanentWidget(m_zoomPane);
    statusBar()->addPermanentWidget(m_capsPane);
    statusBar()->addPermanentWidget(m_numPane);
    // Qt does not tell the lock state on every platform; the panes stay
    // blank until it does.
    m_capsPane->setEnabled(false);
    m_numPane->setEnabled(false);
}

void CMainFrame::SetPageText(const QString &text) { m_pagePane->setText(text); }

void CMainFrame::SetRecentFiles(const QStringList &paths) {
    m_recentFiles = paths;
    RebuildRecentMenu();
}

void CMainFrame::RebuildRecentMenu() {
    if (!m_fileMenu || !m_recentPlace)
        return;
    for (QAction *a : m_recentActions) {
        m_fileMenu->removeAction(a);
        m_actions.remove(a->data().toInt());
        a->deleteLater();
    }
    m_recentActions.clear();
    for (int i = 0; i < m_recentFiles.size(); ++i) {
        const int id = res::ID_FILE_MRU_FIRST + i;
        auto *action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(m_recentFiles[i]), this);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, i] {
            if (MayDiscardRectangles())
                emit OpenRecentRequested(i);
        });
        m_fileMenu->insertAction(m_recentPlace, action);
        m_recentActions.append(action);
        m_actions.insert(id, action);
    }
    if (m_recentActions.isEmpty()) {
        // Without recent files the place shows the greyed "Recent File".
        auto *placeholder = new QAction(QStringLiteral("Recent File"), this);
        placeholder->setEnabled(false);
        placeholder->setData(-1);
        m_fileMenu->insertAction(m_recentPlace, placeholder);
        m_recentActions.append(placeholder);
    }
}

void CMainFrame::FocusChanged(QWidget *, QWidget *now) {
    if (!now)
        return;
    Pane pane = m_activePane;
    if (m_leftView->isAncestorOf(now) || now == m_leftView)
        pane = Pane::Left;
    else if (m_pageView->isAncestorOf(now) || now == m_pageView)
        pane = Pane::PageView;
    if (pane == m_activePane)
        return;
    m_activePane = pane;
    UpdateCommandUI();
}

void CMainFrame::CopyRegion() {
    if (!m_document.Pages().CopySelectedRegion()) {
        statusBar()->showMessage(QStringLiteral("Nothing was copied: the shown page has no region selected."));
        return;
    }
    const crop::CropRect r = *m_document.Pages().Copied();
    statusBar()->showMessage(
        QStringLiteral("Copied the selected region (%1 \u00d7 %2 pt); Paste (Ctrl+V) puts it on the shown page.")
            .arg(r.right - r.left, 0, 'f', 1)
            .arg(r.bottom - r.top, 0, 'f', 1));
}

void CMainFrame::PasteRegion() {
    using Pasted = crop::PageEditing::Pasted;
    switch (m_document.Pages().PasteRegion()) {
    case Pasted::Done:
        statusBar()->showMessage(QStringLiteral("Pasted the region onto page %1.").arg(m_document.CurrentPage()));
        break;
    case Pasted::NothingCopied:
        statusBar()->showMessage(QStringLiteral("Nothing to paste: copy a region first (Ctrl+C)."));
        break;
    case Pasted::Outside:
        statusBar()->showMessage(QStringLiteral("The copied region lies outside this page; nothing was pasted."));
        break;
    case Pasted::Refused:
        break;  // said by the document, if anything is to be said
    }
}

void CMainFrame::DocumentChanged(crop::Changes changes) {
    using crop::Change;
    if (changes & Change::Title)
        SetDocumentTitle(m_document.Title());
    if (changes & Change::Regions)
        UpdateSizePane();
    // The preview's count follows the regions.
    if ((changes & Change::History) && m_pageView->Preview())
        ShowCopyPageCount();
    if (changes & ~crop::Changes(Change::Title | Change::Regions))
        UpdateCommandUI();
}

void CMainFrame::UpdateSizePane() {
    // The region as the copy will have it: within the page, unless margins
    // past it are allowed.
    crop::CropRect r = m_document.Editing().CropRectangle().Normalized();
    if (const auto size = m_document.HasPicture() ? m_document.ShownPageSize(m_document.CurrentPage()) : std::nullopt)
        if (!r.IsEmpty() && !m_document.Save().AddMargins())
            r = {std::max(0.0, r.left), std::max(0.0, r.top), std::max(0.0, std::min(size->first, r.right)),
                 std::max(0.0, std::min(size->second, r.bottom))};
    if (r.IsEmpty()) {
        m_sizePane->clear();
        return;
    }
    const crop::Unit unit = crop::CCropBoxDialog::LastUnit();
    // A page of one region drawn smaller: the size the copy's page has.
    const crop::CropSet &set = m_document.Pages().Set();
    const int page = m_document.CurrentPage();
    const double scale = set.RegionCount(page) == 1 ? set.Scale(page) : 1;
    const double per = crop::PointsPer(unit) / scale;
    m_sizePane->setText(QStringLiteral("%1 \u00d7 %2 %3%4")
                            .arg((r.right - r.left) / per, 0, 'f', unit == crop::Unit::In ? 2 : 1)
                            .arg((r.bottom - r.top) / per, 0, 'f', unit == crop::Unit::In ? 2 : 1)
                            .arg(QString::fromLatin1(crop::UnitName(unit)),
                                 scale == 1 ? QString() : QStringLiteral(", drawn at %1 %").arg(int(scale * 100))));
}

void CMainFrame::ShowCopyPageCount() {
    const long long pages = m_document.Pages().Set().OutputPageCount();
    statusBar()->showMessage(pages == 1 ? QStringLiteral("The copy will have 1 page.")
                                        : QStringLiteral("The copy will have %1 pages.").arg(pages));
}

void CMainFrame::UpdateCommandUI() {
    CommandContext context;
    context.hasPicture = m_document.HasPicture();
    context.documentOpen = m_document.IsOpen();
    context.autoShrink = m_document.AutoShrink();
    context.rightToLeft = m_document.Save().RightToLeft();
    context.removeHidden = m_document.Save().RemoveHidden();
    context.addMargins = m_document.Save().AddMargins();
    context.reportBeforeSaving = m_document.Save().ReportBeforeSaving();
    context.preview = m_pageView->Preview();
    context.leftOut = m_document.Pages().Set().LeftOut(m_document.CurrentPage());
    context.pageViewActive = m_activePane == Pane::PageView;
    context.canUndo = m_document.Pages().History().CanUndo();
    context.canRedo = m_document.Pages().History().CanRedo();
    context.pdf = m_document.IsOpen() && m_document.PageSource()->Kind() == render::SourceKind::Pdf;
    context.overlayShown = m_document.Overlay().Shown();
    context.busy = m_document.Busy();
    context.hasOutliers = !m_document.Whole().Outliers().empty();
    for (auto it = m_actions.begin(); it != m_actions.end(); ++it) {
        const CommandState state = CommandStateFor(it.key(), context);
        it.value()->setEnabled(state.enabled);
        if (it.value()->isCheckable())
            it.value()->setChecked(state.checked);
    }
    // Undo and Redo name the step they would take.
    const crop::RegionHistory &history = m_document.Pages().History();
    const auto name = [](QAction *action, const QString &verb, const QString &step) {
        const QString text = action->text();
        const qsizetype tab = text.indexOf(QLatin1Char('\t'));
        action->setText((step.isEmpty() ? verb : verb + QLatin1Char(' ') + step) +
                        (tab < 0 ? QString() : text.mid(tab)));
    };
    if (QAction *undo = m_actions.value(res::ID_EDIT_UNDO))
        name(undo, QStringLiteral("&Undo"), history.CanUndo() ? history.UndoText() : QString());
    if (QAction *redo = m_actions.value(res::ID_EDIT_REDO))
        name(redo, QStringLiteral("&Redo"), history.CanRedo() ? history.RedoText() : QString());
}

void CMainFrame::OnCommand(int id) {
    using namespace res;
    UpdateCommandUI();
    if (QAction *action = m_actions.value(id); action && !action->isEnabled())
        return;
    if (const auto handler = m_handlers.constFind(id); handler != m_handlers.constEnd()) {
        (*handler)();
    } else if (id >= ID_MOVE_LEFT && id <= ID_SHRINK_DOWN) {  // Nudge
        m_pageView->Nudge(id, 1);
    } else if (id >= ID_FILE_MRU_FIRST && id < ID_FILE_MRU_FIRST + m_recentFiles.size()) {
        if (MayDiscardRectangles())
            emit OpenRecentRequested(id - ID_FILE_MRU_FIRST);
    } else if (id >= ID_FORWARD_FIRST && id <= ID_FORWARD_LAST) {
        m_pageView->OnCommand(id);
    }
    // Anything else has no handler and does nothing.
}

void CMainFrame::AddFileHandlers() {
    using namespace res;
    m_handlers[ID_FILE_OPEN] = [this] {
        const std::string path = platform::AskOpenFileName("PDF File (*.pdf);;All File (*)");
        if (!path.empty() && MayDiscardRectangles())
            emit OpenFileRequested(QString::fromStdString(path), false);
    };
    m_handlers[ID_FILE_NEW] = [this] {
        if (MayDiscardRectangles())
            emit NewDocumentRequested();
    };
    m_handlers[ID_CLOSE] = [this] {
        if (MayDiscardRectangles())
            m_pageView->OnCommand(ID_CLOSE);
    };
    // Nothing is said when the product page cannot be opened.
    m_handlers[ID_HELP] =
        m_handlers[ID_CONTACT_US] = [] { platform::OpenLink(QString::fromStdString(Product().productPage)); };
    m_handlers[ID_APP_ABOUT] = m_handlers[ID_ABOUT_US] = [this] {
        emit AboutRequested();
        ShowAbout();
    };
    m_handlers[ID_APP_EXIT] = [this] { close(); };
    m_handlers[ID_RESTORE_ORIGINAL] = [this] { RestoreOriginal(); };
    m_handlers[ID_SAVE_AS_MENU] = [this] { m_pageView->OnCommand(ID_FILE_SAVE_AS); };
    m_handlers[ID_EDIT_CUT] = [this] { m_pageView->OnCommand(ID_SAVE_FILE); };  // Save file
    for (int id : {ID_FILE_PRINT, ID_FILE_PRINT_DIRECT, ID_FILE_PRINT_PREVIEW, ID_FILE_PRINT_SETUP, ID_SPLIT_PAGES})
        m_handlers[id] = [this, id] { m_pageView->OnCommand(id); };
    m_handlers[ID_LEAVE_OUT] = [this] {
        const int page = m_document.CurrentPage();
        const bool out = !m_document.Pages().Set().LeftOut(page);
        if (!m_document.Pages().SetLeftOut({page}, out))
            statusBar()->showMessage(
                QStringLiteral("Page %1 is the only page left in the copy; it cannot be left out.").arg(page));
        else
            ShowCopyPageCount();
        UpdateCommandUI();
    };
    for (const auto &[id, degrees, range] : {std::tuple{ID_ROTATE_LEFT, 270, false},
                                             {ID_ROTATE_RIGHT, 90, false},
                                             {ID_ROTATE_180, 180, false},
                                             {ID_ROTATE_RANGE_LEFT, 270, true},
                                             {ID_ROTATE_RANGE_RIGHT, 90, true},
                                             {ID_ROTATE_RANGE_180, 180, true}})
        m_handlers[id] = [this, degrees = degrees, range = range] { RotatePages(degrees, range); };
    m_handlers[ID_PAGE_SIZE] = [this] {
        m_pageView->OnCommand(ID_PAGE_SIZE);
        UpdateSizePane();
        UpdateCommandUI();
    };
    m_handlers[ID_CROP_TO_TRIM_BOX] = [this] { CropToBox(crop::PageBox::Trim); };
    m_handlers[ID_CROP_TO_BLEED_BOX] = [this] { CropToBox(crop::PageBox::Bleed); };
    m_handlers[ID_CROP_BOX] = [this] {
        m_pageView->OnCommand(ID_CROP_BOX);
        UpdateSizePane();  // in the unit chosen
    };
    m_handlers[ID_NEXT_PANE] = m_handlers[ID_PREV_PANE] = [this] {
        (m_activePane == Pane::Left ? static_cast<QWidget *>(m_pageView) : m_leftView)->setFocus();
    };
    m_handlers[ID_PAGES_TO_CHECK] = [this] {
        m_outliers->show();
        m_outliers->raise();
    };
}

void CMainFrame::RotatePages(int degrees, bool range) {
    std::vector<int> pages{m_document.CurrentPage()};
    if (range) {
        std::optional<std::vector<int>> chosen = crop::CPageRangeDialog::AskPages(this, m_document.PageCount());
        if (!chosen || chosen->empty())
            return;
        pages = std::move(*chosen);
    }
    if (!m_document.Pages().Rotate(pages, degrees))
        statusBar()->showMessage(QStringLiteral("No page was turned: the pages' sizes cannot be told."));
    UpdateSizePane();
    UpdateCommandUI();
}

void CMainFrame::CropToBox(crop::PageBox kind) {
    std::vector<int> pages(size_t(std::max(0, m_document.PageCount())));
    std::iota(pages.begin(), pages.end(), 1);
    const std::vector<int> without = m_document.Pages().CropToBox(kind, pages);
    const QString name = QString::fromLatin1(crop::PageBoxName(kind));
    const QString title =
        kind == crop::PageBox::Trim ? QStringLiteral("Crop to Trim Box") : QStringLiteral("Crop to Bleed Box");
    if (without.size() == pages.size()) {
        platform::ShowMessage(
            title.toStdString(),
            QStringLiteral("No page of this document has a %1 box; nothing was changed.").arg(name).toStdString(),
            platform::MessageIcon::Information);
        return;
    }
    const int cropped = int(pages.size() - without.size());
    QString text = QStringLiteral("%1: %2 of %3 pages cropped to their %4 box")
                       .arg(title)
                       .arg(cropped)
                       .arg(pages.size())
                       .arg(name);
    if (!without.empty())
        text += QStringLiteral("; %1 %2 no %3 box and %4 what %5 had")
                    .arg(QStringLiteral("page%1 %2")
                             .arg(without.size() == 1 ? "" : "s", QString::fromStdString(crop::PageRangeText(without))),
                         without.size() == 1 ? QStringLiteral("has") : QStringLiteral("have"), name,
                         without.size() == 1 ? QStringLiteral("keeps") : QStringLiteral("keep"),
                         without.size() == 1 ? QStringLiteral("it") : QStringLiteral("they"));
    statusBar()->showMessage(text + QLatin1Char('.'));
}

void CMainFrame::RestoreOriginal() {
    const std::string copy = platform::AskOpenFileName("PDF File (*.pdf);;All File (*)");
    if (copy.empty())
        return;
    // The dialog opens beside the copy, with a name of its own offered.
    const QFileInfo copied(QString::fromStdString(copy));
    const std::string out = platform::AskSaveFileName(
        "PDF File (*.pdf)", "pdf",
        QStringLiteral("%1/%2 (original).pdf").arg(copied.absolutePath(), copied.completeBaseName()).toStdString());
    if (out.empty())
        return;
    QProgressDialog waiting(QStringLiteral("Writing the original..."), QString(), 0, 100, this);
    waiting.setWindowTitle(QStringLiteral("Restore Original"));
    waiting.setWindowModality(Qt::WindowModal);
    waiting.setMinimumDuration(400);
    QString reason;
    const bool ok = crop::RestoreOriginal(QString::fromStdString(copy), QString::fromStdString(out), reason,
                                          [&waiting](int percent) { waiting.setValue(percent); });
    waiting.reset();
    if (!ok) {
        platform::ShowMessage("Restore Original",
                              QStringLiteral("The original cannot be written: %1.").arg(reason).toStdString(),
                              platform::MessageIcon::Warning);
        return;
    }
    statusBar()->showMessage(QStringLiteral("The original of %1 was written to %2.")
                                 .arg(QString::fromStdString(copy), QString::fromStdString(out)));
}

void CMainFrame::AddEditHandlers() {
    using namespace res;
    m_handlers[ID_EDIT_COPY] = [this] { CopyRegion(); };    // Ctrl+C and Ctrl+Insert
    m_handlers[ID_EDIT_PASTE] = [this] { PasteRegion(); };  // Ctrl+V and Shift+Insert
    m_handlers[ID_EDIT_UNDO] = [this] { m_document.Undo(); };
    m_handlers[ID_EDIT_REDO] = [this] { m_document.Redo(); };
    m_handlers[ID_STOP_WORK] = [this] { m_document.StopWork(); };
    // The save's options are kept for the next start.
    const auto option = [this](const QString &key, auto get, auto set) {
        return [this, key, get, set] {
            crop::CropSave &save = m_document.Save();
            (save.*set)(!(save.*get)());
            QSettings(kSettingsOrganisation, kSettingsApplication).setValue(key, (save.*get)());
        };
    };
    m_handlers[ID_REMOVE_HIDDEN] =
        option(kRemoveHiddenSetting, &crop::CropSave::RemoveHidden, &crop::CropSave::SetRemoveHidden);
    // Not kept for the next start: a region drawn past the edge there is
    // cut at it, as ever, until this is chosen again.
    m_handlers[ID_ADD_MARGINS] = [this] {
        const bool allowed = !m_document.Save().AddMargins();
        m_document.Save().SetAddMargins(allowed);
        statusBar()->showMessage(allowed ? QStringLiteral("Margins past the page: the copy's pages grow by them.")
                                         : QStringLiteral("No margins past the page: regions are cut at the page's "
                                                          "edges in the copy."));
        m_pageView->ShowRectangles();
        UpdateSizePane();
        UpdateCommandUI();
    };
    m_handlers[ID_REPORT_BEFORE_SAVING] =
        option(kReportSetting, &crop::CropSave::ReportBeforeSaving, &crop::CropSave::SetReportBeforeSaving);
    m_handlers[ID_RIGHT_TO_LEFT] =
        [this, toggle = option(kRightToLeftSetting, &crop::CropSave::RightToLeft, &crop::CropSave::SetRightToLeft)] {
            toggle();
            m_pageView->SetPreview(m_pageView->Preview());  // the copy's numbers in the new order
        };
    m_handlers[ID_SHRINK_ALL_PAGES] = [this] {
        crop::AutoCropOptions options;
        QString reason;
        const bool asked = crop::CShrinkAllDialog::Ask(this, m_document.PageCount(), options);
        if (asked && options.sides)  // read right to left, the spine is right of odd pages
            options.sides->spineRight = m_document.Save().RightToLeft();
        // What the user left out of the pages before stays left out.
        options.areas = m_document.Whole().LastOptions().areas;
        options.specks = m_document.Whole().LastOptions().specks;
        if (asked && !m_document.Whole().ShrinkAllPages(options, reason))
            platform::ShowMessage("Shrink All Pages", reason.toStdString(), platform::MessageIcon::Warning);
    };
    m_handlers[ID_STRAIGHTEN_PAGES] = [this] {
        crop::CStraightenDialog dialog(m_document.PageCount(), this);
        QString reason;
        if (dialog.exec() == QDialog::Accepted &&
            !m_document.Whole().StraightenPages(dialog.Pages(), dialog.OnlyScans()->isChecked(), reason))
            platform::ShowMessage("Straighten Pages", reason.toStdString(), platform::MessageIcon::Warning);
    };
    m_handlers[ID_PREVIEW_COPY] = [this] {
        m_pageView->SetPreview(!m_pageView->Preview());
        if (m_pageView->Preview())
            ShowCopyPageCount();
        else
            statusBar()->clearMessage();
        UpdateCommandUI();
    };
    m_handlers[ID_OVERLAY_PAGES] = [this] {
        // The checked state follows the document, not the click, also when
        // the user stays on the overlay or chooses no pages.
        const bool hide = m_document.Overlay().Wanted();
        if (!hide || !m_document.Overlay().Hide())
            UpdateCommandUI();
        const std::optional<std::vector<int>> pages =
            hide ? std::nullopt : crop::CPageRangeDialog::AskPages(this, m_document.PageCount());
        QString reason;
        if (pages && !m_document.ShowOverlay(*pages, reason))
            platform::ShowMessage("Overlay of All Pages", reason.toStdString(), platform::MessageIcon::Warning);
    };
}

void CMainFrame::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasUrls())
        for (const QUrl &url : event->mimeData()->urls())
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
}

void CMainFrame::dropEvent(QDropEvent *event) {
    // Only the first file of a drop is opened, its path whole.
    for (const QUrl &url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        event->acceptProposedAction();
        if (MayDiscardRectangles())
            emit OpenFileRequested(url.toLocalFile(), true);
        return;
    }
}

void CMainFrame::CloseWithoutAsking() {
    m_closingAnyway = true;
    close();
}

void CMainFrame::closeEvent(QCloseEvent *event) {
    if (m_closingAnyway) {
        m_document.StopWork();
        QMainWindow::closeEvent(event);
        return;
    }
    if (m_document.Busy() == crop::Busy::CropRun) {
        if (!platform::AskYesNo("Sorrel Orvane", "A cropped copy is still being written. Stop writing it and close? "
                                                 "Nothing of it is kept.")) {
            event->ignore();
            return;
        }
        m_document.StopWork();
    } else if (!MayDiscardRectangles()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool CMainFrame::MayDiscardRectangles() {
    if (!m_document.HasUnsavedRectangles())
        return true;
    return platform::AskYesNo("Sorrel Orvane",
                              QStringLiteral("The crop rectangles drawn on %1 have not been saved in a cropped copy, "
                                             "and are lost when another document is opened or the program ends.\n\n"
                                             "Give them up?")
                                  .arg(m_document.Title())
                                  .toStdString());
}

void CMainFrame::changeEvent(QEvent *event) {
    // Back from another window, perhaps another instance that changed
    // Auto Shrink.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_document.RefreshAutoShrink();
    QMainWindow::changeEvent(event);
}

bool CMainFrame::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::Wheel || m_redirectingWheel || QWidget::mouseGrabber())
        return QMainWindow::eventFilter(watched, event);
    auto *wheel = static_cast<QWheelEvent *>(event);
    auto *target = qobject_cast<QWidget *>(watched);
    if (!target || target->window() != this)
        return QMainWindow::eventFilter(watched, event);
    QWidget *under = QApplication::widgetAt(wheel->globalPosition().toPoint());
    if (!under || under->window() != this || under == target || target->isAncestorOf(under))
        return QMainWindow::eventFilter(watched, event);
    // The pane under the pointer gets the wheel, not the one with the focus.
    QWheelEvent redirected(under->mapFromGlobal(wheel->globalPosition()), wheel->globalPosition(), wheel->pixelDelta(),
                           wheel->angleDelta(), wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(),
                           wheel->source());
    m_redirectingWheel = true;
    QApplication::sendEvent(under, &redirected);
    m_redirectingWheel = false;
    return true;
}

void CMainFrame::ShowAbout() {
    const ProductInfo &p = Product();
    chrome::CAboutDialog about({QString::fromStdString(p.nameWithVersion), QString::fromStdString(p.copyright),
                                QString::fromStdString(p.homePage), QString::fromStdString(p.supportAddress)},
                               this);
    if (m_aboutHandler)
        m_aboutHandler(about);
    else
        about.exec();
}

}  // namespace app
