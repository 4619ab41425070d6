#include "app/orvane_app.h"

#include "app/product_info.h"
#include "platform/temp_files.h"
#include "platform/termination.h"
#include "render/rendering_library.h"

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
    m_mainFrame->show();

    render::EnsureRenderingLibrary();
    platform::QuitOnTerminationSignals();
    return true;
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
