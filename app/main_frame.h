#ifndef APP_MAIN_FRAME_H
#define APP_MAIN_FRAME_H

#include <QMainWindow>
#include <QString>

namespace app {

// The main window. It restores its stored placement when it is made and
// saves it when it goes.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget *parent = nullptr);
    ~CMainFrame() override;

    // "<document title> - <product name with version>".
    void SetDocumentTitle(const QString &title);
};

}  // namespace app

#endif
