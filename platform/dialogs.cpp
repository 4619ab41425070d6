#include "platform/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>
#include <QMessageBox>
#include <QString>

#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex g_mutex;
MessageHandler g_handler;
OpenFileHandler g_openHandler;
OpenUrlHandler g_urlHandler;

void DefaultHandler(const std::string &title, const std::string &text, MessageIcon icon) {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    QMessageBox::Icon qicon = icon == MessageIcon::Error     ? QMessageBox::Critical
                              : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
    QMessageBox box(qicon, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

void ShowMessage(const std::string &title, const std::string &text, MessageIcon icon) {
    MessageHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        handler = g_handler;
    }
    if (handler)
        handler(title, text, icon);
    else
        DefaultHandler(title, text, icon);
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_handler, std::move(handler));
}

std::string AskOpenFileName(const std::string &filter) {
    OpenFileHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        handler = g_openHandler;
    }
    if (handler)
        return handler(filter);
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return {};
    QFileDialog dialog(nullptr, QString(), QString(), QString::fromStdString(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first().toStdString();
}

OpenFileHandler SetOpenFileHandler(OpenFileHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_openHandler, std::move(handler));
}

bool OpenUrl(const std::string &url) {
    OpenUrlHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_mutex);
        handler = g_urlHandler;
    }
    if (handler)
        return handler(url);
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

OpenUrlHandler SetOpenUrlHandler(OpenUrlHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_urlHandler, std::move(handler));
}

}  // namespace platform
