#ifndef PLATFORM_LINK_OPENER_H
#define PLATFORM_LINK_OPENER_H

#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

// Opening a web address or a "mailto:" address: the desktop's own open
// first; failing that, the browser command in $BROWSER. The result is a
// code as the program's link texts know them: above 32 is success.
int OpenLink(const QString &target);
// The fallback alone: the browser command in $BROWSER with the target;
// kLinkNoBrowser when none is named.
int OpenInBrowser(const QString &target);

// Success, and the failures this platform has, as link codes.
inline constexpr int kLinkOpened = 33;
inline constexpr int kLinkNoBrowser = 31;  // nothing to open links with at all

// The browser command for `target` from the command template `command`:
// cut before the first "\"%1\"" (quotes included), else before the first
// "%1", else kept whole; then a blank and the target.
QString BrowserCommandLine(const QString &command, const QString &target);
// The same as a program and its arguments, for starting without a shell:
// the cut template split as a shell would split it, and the target whole
// as the last argument.
QStringList BrowserArguments(const QString &command, const QString &target);

// The code of a browser that could not be started, from its errno: the
// nearest text's code, or the errno negated for one without a text.
int LinkCodeFromErrno(int error);

// What a failure code means; the link control's copy of the table ends
// code 26's text with a blank.
QString LinkErrorText(int code, bool linkControlTable = false);
// "Unable to open hyperlink:\n\n" and the meaning.
QString UnableToOpenText(int code, bool linkControlTable = false);

// Tests replace the desktop's open (by default platform::OpenUrl) and the
// starting of a browser.
using DesktopOpener = std::function<bool(const QString &target)>;
using ProgramStarter = std::function<int(const QStringList &arguments)>;  // errno, 0 on success
void SetLinkHandlers(DesktopOpener opener, ProgramStarter starter);

}  // namespace platform

#endif
