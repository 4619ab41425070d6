#ifndef PLATFORM_DIALOGS_H
#define PLATFORM_DIALOGS_H

#include <functional>
#include <string>

namespace platform {

enum class MessageIcon { Information, Warning, Error };

// Every message box of the program goes through here, so tests can answer
// them. The default shows a modal box when a widget application runs and
// does nothing otherwise.
using MessageHandler =
    std::function<void(const std::string &title, const std::string &text, MessageIcon icon)>;

void ShowMessage(const std::string &title, const std::string &text, MessageIcon icon);

// Replaces the handler; an empty one restores the default. Returns the
// previous handler.
MessageHandler SetMessageHandler(MessageHandler handler);

// The file dialog for opening: the chosen path, or empty when cancelled.
// `filter` is in Qt's form ("PDF File (*.pdf);;All File (*)").
using OpenFileHandler = std::function<std::string(const std::string &filter)>;
std::string AskOpenFileName(const std::string &filter);
OpenFileHandler SetOpenFileHandler(OpenFileHandler handler);

// Opens a web or mail address with the desktop's handler; false when
// nothing could open it.
using OpenUrlHandler = std::function<bool(const std::string &url)>;
bool OpenUrl(const std::string &url);
OpenUrlHandler SetOpenUrlHandler(OpenUrlHandler handler);

}  // namespace platform

#endif
