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

}  // namespace platform

#endif
