#include "app/orvane_app.h"

#include "app/product_info.h"
#include "crop/orvane_view.h"
#include "panes/left_view.h"
#include "platform/dialogs.h"
#include "platform/temp_files.h"
#include "platform/termination.h"
#include "render/rendering_library.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace app {

COrvaneApp::COrvaneApp(int &argc, char **argv) : m_application(argc, argv) {}

COrvaneApp::~COrvaneApp() { ExitInstance(); }

bool COrvaneApp::InitInstance() {
    SetUpProductInfo();
    QCoreApplication::setOrganizationName(kSettingsOrganisation);
    QCoreApplication::setApplicationName(kSettingsApplication);

    {
        QSettings settings(kSettingsOrganisation, kSettingsApplication);
        m_recentFiles.Load(settings);
    }

    // An optional path of a file to open; QApplication has already taken
    // its own options out of the arguments.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        m_commandLineFile = args.at(1);

    m_mainFrame = std::make_unique<CMainFrame>();
    m_mainFrame->SetRecentFiles(m_recentFiles.Entries());
    ConnectFrame();
    if (!m_commandLineFile.isEmpty() && !OpenDocumentFile(m_commandLineFile))
        return false;  // a file named on the command line that cannot be opened ends the program
    m_mainFrame->show();

    render::EnsureRenderingLibrary();
    platform::QuitOnTerminationSignals();
    return true;
}

void COrvaneApp::ConnectFrame() {
    CMainFrame *frame = m_mainFrame.get();
    crop::COrvaneDoc::Hooks hooks;
    hooks.resetCropFile = [this] { ResetCropFile(); };
    hooks.openInLeftPane = [frame](const QString &path, QString &reason) {
        if (frame->LeftView()->OpenDocument(path))
            return true;
        reason = frame->LeftView()->Error();
        return false;
    };
    hooks.addToRecentFiles = [this, frame](const QString &path) {
        m_recentFiles.Add(path);
        frame->SetRecentFiles(m_recentFiles.Entries());
    };
    hooks.updateAllViews = [frame] {
        if (frame->PageView()->HasPicture())
            frame->PageView()->UpdateScrollSizes();
    };
    m_document.SetHooks(hooks);
    QObject::connect(&m_document, &crop::COrvaneDoc::TitleChanged, frame, &CMainFrame::SetDocumentTitle);
    QObject::connect(frame, &CMainFrame::OpenFileRequested, frame, [this](const QString &path, bool dropped) {
        if (dropped)
            OpenDroppedFile(path);
        else
            OpenDocumentFile(path);
    });
    QObject::connect(frame, &CMainFrame::NewDocumentRequested, frame, [this] { NewDocument(); });
    QObject::connect(frame->PageView(), &crop::COrvaneView::DocumentClosed, frame, [this] {
        ResetCropFile();
        m_document.SetTitle(QStringLiteral("Untitled"));
        m_mainFrame->SetPageText(QStringLiteral("Page No"));
    });
}

bool COrvaneApp::OpenDocumentFile(const QString &path) {
    QString reason;
    if (m_document.OpenDocumentFile(path, reason))
        return true;
    ShowOpenFailure(path, reason);
    return false;
}

bool COrvaneApp::OpenDroppedFile(const QString &path) {
    ResetCropFile();
    if (!m_mainFrame->LeftView()->OpenDocument(path)) {
        ShowOpenFailure(path, m_mainFrame->LeftView()->Error());
        return false;
    }
    m_recentFiles.Add(path);
    m_mainFrame->SetRecentFiles(m_recentFiles.Entries());
    m_document.SetTitle(QFileInfo(path).fileName());
    m_mainFrame->PageView()->UpdateScrollSizes();
    return true;
}

void COrvaneApp::NewDocument() {
    EmptyState();
    m_document.Reset();
}

void COrvaneApp::EmptyState() {
    m_mainFrame->LeftView()->CloseSource();
    m_mainFrame->PageView()->ClearPicture();
    m_mainFrame->SetPageText(QStringLiteral("Page No"));
    ResetCropFile();
}

void COrvaneApp::ShowOpenFailure(const QString &path, const QString &reason) {
    EmptyState();
    m_document.Reset();
    platform::ShowMessage(Product().nameWithVersion,
                          ("Cannot open " + path + "\n" + reason).toStdString(), platform::MessageIcon::Warning);
}

int COrvaneApp::Run() { return QApplication::exec(); }

void COrvaneApp::ExitInstance() {
    if (m_exited)
        return;
    m_exited = true;
    m_mainFrame.reset();
    {
        QSettings settings(kSettingsOrganisation, kSettingsApplication);
        m_recentFiles.Save(settings);
    }
    platform::TempFileRegistry::Instance().DeleteAll();
}

}  // namespace app
