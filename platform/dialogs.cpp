#include "platform/dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QString>

#include <algorithm>
#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex g_mutex;
MessageHandler g_handler;
OpenFileHandler g_openHandler;
SaveFileHandler g_saveHandler;
QuestionHandler g_questionHandler;
ChoiceHandler g_choiceHandler;
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
    MakeMessageBox(title, text, icon, QMessageBox::Ok)->exec();
}

}  // namespace

std::string FitMessage(const std::string &text, std::string &whole, std::size_t longest) {
    const QString original = QString::fromStdString(text);
    QString fitted;
    const qsizetype keep = qsizetype(std::max<std::size_t>(longest, 8)) / 2 - 1;
    bool shortened = false;
    for (qsizetype i = 0; i < original.size();) {
        qsizetype end = i;
        while (end < original.size() && !original[end].isSpace())
            ++end;
        if (end == i) {
            fitted += original[i++];
            continue;
        }
        const QString run = original.mid(i, end - i);
        if (run.size() > qsizetype(longest)) {
            // Never half a character made of two UTF-16 units.
            const qsizetype head = run.at(keep - 1).isHighSurrogate() ? keep - 1 : keep;
            const qsizetype tail = run.at(run.size() - keep).isLowSurrogate() ? keep - 1 : keep;
            fitted += run.left(head) + QStringLiteral("…") + run.right(tail);
            shortened = true;
        } else {
            fitted += run;
        }
        i = end;
    }
    whole = shortened ? text : std::string();
    return fitted.toStdString();
}

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string &title, const std::string &text, MessageIcon icon,
                                            int buttons) {
    const QMessageBox::Icon qicon = icon == MessageIcon::Error     ? QMessageBox::Critical
                                    : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                                   : QMessageBox::Information;
    std::string whole;
    const std::string shown = FitMessage(text, whole);
    // No parent: the box is its owner's alone, whatever becomes of the
    // window that was active.
    // A long path wraps after a separator, never inside a name: a break
    // of no width is offered after each '/'.
    QString wrapped = QString::fromStdString(shown);
    wrapped.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
    auto box = std::make_unique<QMessageBox>(qicon, QString::fromStdString(title), wrapped,
                                             QMessageBox::StandardButtons(buttons));
    box->setTextFormat(Qt::PlainText);
    if (!whole.empty())
        box->setDetailedText(QString::fromStdString(whole));
    return box;
}

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
    // The question before a file is replaced is asked in a box of the
    // program's own, which fits a long path on the screen.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QString chosen = dialog.selectedFiles().first();
        if (!QFileInfo::exists(chosen))
            return chosen.toStdString();
        const std::unique_ptr<QMessageBox> box =
            MakeMessageBox("Save As", (chosen + " already exists.\nDo you want to replace it?").toStdString(),
                           MessageIcon::Warning, QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        if (box->exec() == QMessageBox::Yes)
            return chosen.toStdString();
    }
    return {};
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
    const std::unique_ptr<QMessageBox> box =
        MakeMessageBox(title, text, MessageIcon::Information, QMessageBox::Yes | QMessageBox::No);
    box->setIcon(QMessageBox::Question);
    box->setDefaultButton(QMessageBox::No);
    return box->exec() == QMessageBox::Yes;
}

Answer AskYesNoCancel(const std::string &title, const std::string &text) {
    const ChoiceHandler handler = Current(g_choiceHandler);
    if (handler)
        return handler(title, text);
    if (!WidgetsRun())
        return Answer::Cancel;
    const std::unique_ptr<QMessageBox> box =
        MakeMessageBox(title, text, MessageIcon::Information, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box->setIcon(QMessageBox::Question);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::Cancel);
    const int chosen = box->exec();
    return chosen == QMessageBox::Yes ? Answer::Yes : chosen == QMessageBox::No ? Answer::No : Answer::Cancel;
}

ChoiceHandler SetChoiceHandler(ChoiceHandler handler) {
    std::lock_guard<std::mutex> guard(g_mutex);
    return std::exchange(g_choiceHandler, std::move(handler));
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
