#ifndef PLATFORM_DIALOGS_H
#define PLATFORM_DIALOGS_H

#include <functional>
#include <memory>
#include <string>

class QMessageBox;
class QPrinter;

namespace platform {

enum class MessageIcon { Information, Warning, Error };

// Every message box of the program goes through here, so tests can answer
// them. The default shows a modal box when a widget application runs and
// does nothing otherwise.
using MessageHandler = std::function<void(const std::string &title, const std::string &text, MessageIcon icon)>;

void ShowMessage(const std::string &title, const std::string &text, MessageIcon icon);

// Replaces the handler; an empty one restores the default. Returns the
// previous handler.
MessageHandler SetMessageHandler(MessageHandler handler);

// A message as a box shows it: each run of more than `longest` characters
// with no space in it (a long path, most often) shortened in its middle,
// so that the box fits on the screen. `whole` gets the text as it was when
// anything was shortened, for the box's details, and is emptied otherwise.
std::string FitMessage(const std::string &text, std::string &whole, std::size_t longest = 64);

// The box every message and question of the program is shown in: the
// text fitted, the whole text in its details when it had to be shortened.
// `buttons` are QMessageBox::StandardButtons.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string &title, const std::string &text, MessageIcon icon,
                                            int buttons);

// The file dialog for opening: the chosen path, or empty when cancelled.
// `filter` is in Qt's form ("PDF File (*.pdf);;All File (*)").
using OpenFileHandler = std::function<std::string(const std::string &filter)>;
std::string AskOpenFileName(const std::string &filter);
OpenFileHandler SetOpenFileHandler(OpenFileHandler handler);

// The file dialog for saving, opening in `folder` (or in the folder of a
// file named there, that name offered): the chosen path, or
// empty when cancelled. A name typed without a suffix gets `defaultSuffix`;
// choosing a file that exists asks before it is replaced.
using SaveFileHandler = std::function<std::string(const std::string &filter, const std::string &defaultSuffix)>;
std::string AskSaveFileName(const std::string &filter, const std::string &defaultSuffix,
                            const std::string &folder = std::string());
SaveFileHandler SetSaveFileHandler(SaveFileHandler handler);

// A question the user answers with Yes or No; true for Yes. Without a
// widget application, No.
using QuestionHandler = std::function<bool(const std::string &title, const std::string &text)>;
bool AskYesNo(const std::string &title, const std::string &text);
QuestionHandler SetQuestionHandler(QuestionHandler handler);

// A question the user answers with Yes, No or Cancel. Without a widget
// application, Cancel.
enum class Answer { Yes, No, Cancel };
using ChoiceHandler = std::function<Answer(const std::string &title, const std::string &text)>;
Answer AskYesNoCancel(const std::string &title, const std::string &text);
ChoiceHandler SetChoiceHandler(ChoiceHandler handler);

// Opens a web or mail address with the desktop's handler; false when
// nothing could open it.
using OpenUrlHandler = std::function<bool(const std::string &url)>;
bool OpenUrl(const std::string &url);
OpenUrlHandler SetOpenUrlHandler(OpenUrlHandler handler);

// The print dialog and the page setup dialog on `printer`: true when the
// user confirmed (the printer then holds the choices made).
enum class PrinterDialog { Print, PageSetup };
using PrinterDialogHandler = std::function<bool(QPrinter &printer, PrinterDialog which)>;
bool AskPrinter(QPrinter &printer, PrinterDialog which);
PrinterDialogHandler SetPrinterDialogHandler(PrinterDialogHandler handler);

// The print preview window over `printer`; `paint` prints onto the printer
// it is given whenever the preview needs its sheets.
using PrintPainter = std::function<void(QPrinter *printer)>;
using PrintPreviewHandler = std::function<void(QPrinter &printer, const PrintPainter &paint)>;
void ShowPrintPreview(QPrinter &printer, const PrintPainter &paint);
PrintPreviewHandler SetPrintPreviewHandler(PrintPreviewHandler handler);

}  // namespace platform

#endif
