#include "app/orvane_app.h"

#include "app/product_info.h"
#include "crop/view/orvane_view.h"
#include "crop/view/save_dialogs.h"
#include "platform/dialogs.h"
#include "platform/file_names.h"
#include "platform/temp_files.h"
#include "platform/termination.h"
#include "render/rendering_library.h"
#include "res/resources.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QSettings>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <optional>

namespace app {

COrvaneApp::COrvaneApp(int &argc, char **argv) : m_application(argc, argv) {}

COrvaneApp::~COrvaneApp() { ExitInstance(); }

bool COrvaneApp::NameApplication() {
    QCoreApplication::setOrganizationName(kSettingsOrganisation);
    QCoreApplication::setApplicationName(kSettingsApplication);
    // The desktop finds the icon by the desktop entry's name.
    QGuiApplication::setDesktopFileName(QStringLiteral("orvane"));
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        QGuiApplication::setWindowIcon(res::ApplicationIcon());
    return true;
}

bool COrvaneApp::InitInstance() {
    SetUpProductInfo();
    // The one check of the rendering library: a program without it ends
    // here, before anything is shown or opened.
    render::EnsureRenderingLibrary();
    // Crop lists and thumbnails of runs killed before their exit.
    platform::RemoveStaleTempFiles();

    {
        QSettings settings(kSettingsOrganisation, kSettingsApplication);
        m_recentFiles.Load(settings);
    }

    // An optional path of a file to open; QApplication has already taken
    // its own options out of the arguments.
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        m_commandLineFile = args.at(1);

    m_mainFrame = std::make_unique<CMainFrame>(m_document);
    m_mainFrame->SetRecentFiles(m_recentFiles.Entries());
    ConnectFrame();
    // A file named on the command line that cannot be opened ends the
    // program; one whose password the user did not give leaves the empty
    // window, as Cancel does from File Open.
    bool cancelled = false;
    if (!m_commandLineFile.isEmpty() && !OpenAskingPassword(m_commandLineFile, false, &cancelled) && !cancelled)
        return false;
    m_mainFrame->show();
    platform::QuitOnTerminationSignals([this] { EndedFromOutside(); });
    if (m_commandLineFile.isEmpty())
        OfferKeptRectangles();
    return true;
}

void COrvaneApp::EndedFromOutside() {
    QString reason;
    if (m_document.HasUnsavedRectangles() && !m_document.KeepUnsavedAside(reason))
        std::fprintf(stderr, "orvane: the crop rectangles not yet saved cannot be kept: %s\n",
                     reason.toLocal8Bit().constData());
    if (m_mainFrame)
        m_mainFrame->CloseWithoutAsking();
}

void COrvaneApp::OfferKeptRectangles() {
    if (!m_document.Pages().File().OwnsSharedFile())
        return;  // another instance runs, and offers them
    const std::string folder = std::filesystem::path(m_document.Pages().File().Path()).parent_path().string();
    // Each kept until it is given back or given up: one whose document
    // cannot be opened now is offered again at the next start.
    for (const std::string &path : crop::CropFile::KeptAsideIn(folder)) {
        const std::optional<crop::CropFile::KeptAside> kept = crop::CropFile::ReadKeptAside(path);
        if (!kept || kept->pages.empty()) {
            crop::CropFile::ForgetKeptAside(path);
            continue;
        }
        // Asked as every question that may lose rectangles is: the answer
        // that keeps them is the one given by default.
        const QString document = platform::PathFromNative(kept->document);
        if (platform::AskYesNo(Product().nameWithVersion,
                               QStringLiteral("Sorrel Orvane was ended before the crop rectangles drawn on %1 were "
                                              "saved in a cropped copy. %1 is opened with them again unless you give "
                                              "them up.\n\nGive them up?")
                                   .arg(document)
                                   .toStdString())) {
            crop::CropFile::ForgetKeptAside(path);
            continue;
        }
        if (OpenDocumentFile(document)) {
            m_document.RestoreKeptAside(*kept);
            m_mainFrame->PageView()->ShowRectangles();
            crop::CropFile::ForgetKeptAside(path);
            return;
        }
    }
}

void COrvaneApp::ConnectFrame() {
    CMainFrame *frame = m_mainFrame.get();
    // Every document opened, by any route, heads the recent files.
    QObject::connect(&m_document, &crop::COrvaneDoc::DocumentOpened, frame, [this] {
        m_recentFiles.Add(m_document.PathName());
        m_mainFrame->SetRecentFiles(m_recentFiles.Entries());
    });
    QObject::connect(frame, &CMainFrame::OpenFileRequested, frame, [this](const QString &path, bool dropped) {
        if (dropped)
            OpenDroppedFile(path);
        else
            OpenDocumentFile(path);
    });
    QObject::connect(frame, &CMainFrame::OpenRecentRequested, frame, [this](int index) { OpenRecentFile(index); });
    QObject::connect(frame, &CMainFrame::NewDocumentRequested, frame, [this] { NewDocument(); });
}

bool COrvaneApp::OpenDocumentFile(const QString &path) { return OpenAskingPassword(path, false); }

bool COrvaneApp::OpenAskingPassword(const QString &path, bool dropped, bool *cancelled) {
    platform::Secret password;
    for (;;) {
        QString reason;
        render::OpenFailure why = render::OpenFailure::None;
        const bool opened = dropped ? m_document.OpenDocument(path, reason, &password, &why)
                                    : m_document.OpenDocumentFile(path, reason, &password, &why);
        if (opened)
            return true;
        if (why != render::OpenFailure::NeedsPassword && why != render::OpenFailure::WrongPassword) {
            ShowOpenFailure(path, reason);
            return false;
        }
        // Asked until the right one is given; Cancel leaves the document
        // that was shown as it was.
        QWidget *parent = m_mainFrame && m_mainFrame->isVisible() ? m_mainFrame.get() : nullptr;
        if (!crop::CPasswordDialog::Ask(parent, QFileInfo(path).fileName(), why == render::OpenFailure::WrongPassword,
                                        password)) {
            if (cancelled)
                *cancelled = true;
            return false;
        }
    }
}

bool COrvaneApp::OpenRecentFile(int index) {
    const QStringList entries = m_recentFiles.Entries();
    if (index < 0 || index >= entries.size())
        return false;
    if (OpenDocumentFile(entries[index]))
        return true;
    m_recentFiles.Remove(index);
    m_mainFrame->SetRecentFiles(m_recentFiles.Entries());
    return false;
}

bool COrvaneApp::OpenDroppedFile(const QString &path) { return OpenAskingPassword(path, true); }

void COrvaneApp::NewDocument() { m_document.CloseDocument(); }

void COrvaneApp::ShowOpenFailure(const QString &path, const QString &reason) {
    QString why = reason;
    if (!why.isEmpty())
        why[0] = why[0].toUpper();
    platform::ShowMessage(Product().nameWithVersion, ("Cannot open " + path + "\n" + why + ".").toStdString(),
                          platform::MessageIcon::Warning);
}

int COrvaneApp::Run() { return QApplication::exec(); }

void COrvaneApp::ExitInstance() {
    if (m_exited)
        return;
    m_exited = true;
    m_mainFrame.reset();
    // A crop run still going (the program was told to end) stops before
    // its crop list is deleted.
    m_document.StopWork();
    {
        QSettings settings(kSettingsOrganisation, kSettingsApplication);
        m_recentFiles.Save(settings);
    }
    platform::TempFileRegistry::Instance().DeleteAll();
}

}  // namespace app
