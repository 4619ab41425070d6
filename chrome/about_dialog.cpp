#include "chrome/about_dialog.h"

#include "platform/dialogs.h"
#include "platform/link_opener.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QStyle>
#include <QVBoxLayout>

namespace chrome {

CAboutDialog::CAboutDialog(const AboutTexts &texts, QWidget *parent) : QDialog(parent), m_texts(texts) {
    setWindowTitle(texts.nameWithVersion);
    auto *icon = new QLabel(this);
    const QIcon appIcon = QApplication::windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon)
                                                              : QApplication::windowIcon();
    icon->setPixmap(appIcon.pixmap(32, 32));
    icon->setAlignment(Qt::AlignCenter);

    m_name = new QLabel(texts.nameWithVersion, this);
    m_name->setTextFormat(Qt::PlainText);
    m_copyright = new QLabel(texts.copyright, this);
    m_copyright->setTextFormat(Qt::PlainText);
    m_homePage = new CLinkStatic(texts.homePage, this);
    m_homePage->SetLinkTarget(texts.homePage);
    m_homePage->SetUnderlined(false);
    const QString mailto = QStringLiteral("mailto:") + texts.supportAddress;
    m_mail = new CLinkStatic(mailto, this);
    m_mail->SetLinkTarget(mailto);
    m_mail->SetUnderlined(false);

    auto *ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);

    m_banner = new QPushButton(texts.homePage, this);
    m_banner->setMinimumHeight(48);
    m_banner->setAutoDefault(false);
    connect(m_banner, &QPushButton::clicked, this, [this] { OpenHomePage(); });
    auto *group = new QGroupBox(this);
    auto *groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_banner);

    auto *grid = new QGridLayout;
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(m_name, 0, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->addWidget(m_copyright, 1, 1);
    grid->addWidget(m_homePage, 2, 1, Qt::AlignLeft);
    grid->addWidget(m_mail, 3, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(group);
    setLayout(layout);
}

bool CAboutDialog::OpenHomePage() {
    if (platform::OpenUrl(m_texts.homePage.toStdString()))
        return true;
    const int code = platform::OpenInBrowser(m_texts.homePage);
    if (code == platform::kLinkNoBrowser)
        return false;  // nothing to fall back on: nothing is said
    if (code > 32)
        return true;
    platform::ShowMessage("Orvane", platform::UnableToOpenText(code).toStdString(), platform::MessageIcon::Warning);
    return false;
}

}  // namespace chrome
