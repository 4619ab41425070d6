#include "app/main_frame.h"

#include "app/product_info.h"
#include "app/window_placement.h"

#include <QSettings>

namespace app {

CMainFrame::CMainFrame(QWidget *parent) : QMainWindow(parent) {
    resize(1024, 768);
    SetDocumentTitle(QStringLiteral("Untitled"));
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    RestoreWindowPlacement(*this, settings, QString::fromStdString(Product().nameWithVersion));
}

CMainFrame::~CMainFrame() {
    QSettings settings(kSettingsOrganisation, kSettingsApplication);
    SaveWindowPlacement(*this, settings, QString::fromStdString(Product().nameWithVersion));
}

void CMainFrame::SetDocumentTitle(const QString &title) {
    setWindowTitle(title + QStringLiteral(" - ") + QString::fromStdString(Product().nameWithVersion));
}

}  // namespace app
