#include "platform/link_opener.h"

#include "platform/dialogs.h"

#include <QProcess>

#include <cerrno>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char **environ;

namespace platform {
namespace {

std::mutex g_mutex;
DesktopOpener g_opener;
ProgramStarter g_starter;

// The desktop's own open, through the program's one seam for it.
bool DesktopOpen(const QString &target) { return OpenUrl(target.toStdString()); }

// Starts the program detached from the caller (no shell); the errno of a
// failed start, 0 when it runs.
int StartProgram(const QStringList &arguments) {
    if (arguments.isEmpty())
        return ENOENT;
    std::vector<QByteArray> bytes;
    for (const QString &a : arguments)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0)
        return error;
    // The browser lives on; it is reaped by whoever waits for it (the
    // program's children that end are collected so none stays a zombie).
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return 0;
}

}  // namespace

void SetLinkHandlers(DesktopOpener opener, ProgramStarter starter) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_opener = std::move(opener);
    g_starter = std::move(starter);
}

QString BrowserCommandLine(const QString &command, const QString &target) {
    QString cut = command;
    qsizetype at = cut.indexOf(QStringLiteral("\"%1\""));
    if (at < 0)
        at = cut.indexOf(QStringLiteral("%1"));
    if (at >= 0)
        cut.truncate(at);
    return cut + QLatin1Char(' ') + target;
}

QStringList BrowserArguments(const QString &command, const QString &target) {
    const QString line = BrowserCommandLine(command, target);
    QStringList arguments = QProcess::splitCommand(line.left(line.size() - target.size() - 1));
    arguments.append(target);
    return arguments;
}

int LinkCodeFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return 2;
    case EACCES:
    case EPERM:
        return 5;
    case ENOMEM:
    case E2BIG:
        return 8;
    case ENOEXEC:
    case ELIBBAD:
        return 11;
    default:
        return -error;  // no text of its own: told as an unknown error
    }
}

QString LinkErrorText(int code, bool linkControlTable) {
    switch (code) {
    case 0:
        return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2:
        return QStringLiteral("The specified file was not found.");
    case 3:
        return QStringLiteral("The specified path was not found.");
    case 5:
        return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8:
        return QStringLiteral("There was not enough memory to complete the operation.");
    case 11:
        return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26:
        return linkControlTable ? QStringLiteral("A sharing violation occurred. ")
                                : QStringLiteral("A sharing violation occurred.");
    case 27:
        return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28:
        return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
    case 29:
        return QStringLiteral("The DDE transaction failed.");
    case 30:
        return QStringLiteral("The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
                              "processed.");
    case 31:
        return QStringLiteral("There is no application associated\nwith the given filename extension.");
    case 32:
        return QStringLiteral("The specified dynamic-link library was not found.");
    default:
        return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}

QString UnableToOpenText(int code, bool linkControlTable) {
    return QStringLiteral("Unable to open hyperlink:\n\n") + LinkErrorText(code, linkControlTable);
}

int OpenLink(const QString &target) {
    DesktopOpener opener;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        opener = g_opener ? g_opener : DesktopOpener(DesktopOpen);
    }
    if (opener(target))
        return kLinkOpened;
    // The desktop could not open it: the browser the user named, if any.
    return OpenInBrowser(target);
}

int OpenInBrowser(const QString &target) {
    ProgramStarter starter;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        starter = g_starter ? g_starter : ProgramStarter(StartProgram);
    }
    const QString browser = qEnvironmentVariable("BROWSER").trimmed();
    if (browser.isEmpty())
        return kLinkNoBrowser;
    const int error = starter(BrowserArguments(browser, target));
    return error == 0 ? kLinkOpened : LinkCodeFromErrno(error);
}

}  // namespace platform
