#ifndef CHROME_ABOUT_DIALOG_H
#define CHROME_ABOUT_DIALOG_H

#include "chrome/link_static.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace chrome {

// What the About box shows.
struct AboutTexts {
    QString nameWithVersion;
    QString copyright;
    QString homePage;
    QString supportAddress;
};

// The About box: the program's name and version, its copyright line, a
// link to the home page, a mail link to support, and a large button that
// opens the home page.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(const AboutTexts &texts, QWidget *parent = nullptr);

    CLinkStatic *HomePageLink() const { return m_homePage; }
    CLinkStatic *MailLink() const { return m_mail; }
    QPushButton *Banner() const { return m_banner; }
    QLabel *NameLabel() const { return m_name; }
    QLabel *CopyrightLabel() const { return m_copyright; }

    // The banner's click: the desktop's open, else the browser in
    // $BROWSER. Only a browser that cannot be started is reported; with
    // none named the click does nothing more. True when it opened.
    bool OpenHomePage();

private:
    AboutTexts m_texts;
    QLabel *m_name = nullptr;
    QLabel *m_copyright = nullptr;
    CLinkStatic *m_homePage = nullptr;
    CLinkStatic *m_mail = nullptr;
    QPushButton *m_banner = nullptr;
};

}  // namespace chrome

#endif
