#include "platform/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QString>

#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex g_mutex;
MessageHandler g_handler;
OpenFileHandler g_openHandler;
SaveFileHandler g_saveHandler;
QuestionHandler g_questionHandler;
OpenUrlHandler g_urlHandler;
PrinterDialogHandler g_printerHandler;
PrintPreviewHandler g_previewHandler;

// A copy of the handler in `slot`, taken under the lock: a handler may be
// replaced from another thread while it runs.
template <typename Handler>
Handler Current(const Handler &slot) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return slot;
}

bool WidgetsRun() { return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr; }

void DefaultHandler(const std::string &title, const std::string &text, MessageIcon icon) {
    if (!WidgetsRun())
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
    const MessageHandler handler = Current(g_handler);
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
    const OpenFileHandler handler = Current(g_openHandler);
    if (handler)
        return handler(filter);
    if (!WidgetsRun())
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

std::string AskSaveFileName(const std::string &filter, const std::string &defaultSuffix, const std::string &folder) {
    const SaveFileHandler handler = Current(g_saveHandler);
    if (handler)
        return handler(filter, defaultSuffix);
    if (!WidgetsRun())
        return {};
    QFileDialog dialog(nullptr, QString(), QString::fromStdString(folder), QString::fromStdString(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(defaultSuffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first().toStdString();
}

SaveFileHandler SetSaveFileHandler(SaveFileHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_saveHandler, std::move(handler));
}

bool AskYesNo(const std::string &title, const std::string &text) {
    const QuestionHandler handler = Current(g_questionHandler);
    if (handler)
        return handler(title, text);
    if (!WidgetsRun())
        return false;
    return QMessageBox::question(nullptr, QString::fromStdString(title), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

QuestionHandler SetQuestionHandler(QuestionHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_questionHandler, std::move(handler));
}

bool OpenUrl(const std::string &url) {
    const OpenUrlHandler handler = Current(g_urlHandler);
    if (handler)
        return handler(url);
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

OpenUrlHandler SetOpenUrlHandler(OpenUrlHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_urlHandler, std::move(handler));
}

bool AskPrinter(QPrinter &printer, PrinterDialog which) {
    const PrinterDialogHandler handler = Current(g_printerHandler);
    if (handler)
        return handler(printer, which);
    if (!WidgetsRun())
        return false;
    if (which == PrinterDialog::PageSetup) {
        QPageSetupDialog dialog(&printer, QApplication::activeWindow());
        return dialog.exec() == QDialog::Accepted;
    }
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dialog.exec() == QDialog::Accepted;
}

PrinterDialogHandler SetPrinterDialogHandler(PrinterDialogHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_printerHandler, std::move(handler));
}

void ShowPrintPreview(QPrinter &printer, const PrintPainter &paint) {
    const PrintPreviewHandler handler = Current(g_previewHandler);
    if (handler) {
        handler(printer, paint);
        return;
    }
    if (!WidgetsRun())
        return;
    QPrintPreviewDialog dialog(&printer, QApplication::activeWindow());
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&paint](QPrinter *p) { paint(p); });
    dialog.exec();
}

PrintPreviewHandler SetPrintPreviewHandler(PrintPreviewHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_previewHandler, std::move(handler));
}

}  // namespace platform
