#include "platform/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex g_mutex;
MessageHandler g_handler;

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

}  // namespace platform
