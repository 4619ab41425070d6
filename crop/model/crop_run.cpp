#include "crop/model/crop_run.h"

#include "platform/file_identity.h"

#include "platform/exe_folder.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "platform/file_names.h"

#include <atomic>
#include <csignal>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace crop {
namespace {

const QRegularExpression kProgress(QStringLiteral("^quorrel: progress (\\d+)/(\\d+)$"));
QString g_toolPath;

// The tools running, for a stop by a signal; 0 marks a free place.
constexpr int kMostTools = 8;
std::atomic<pid_t> g_tools[kMostTools];

void Track(pid_t pid) {
    for (std::atomic<pid_t> &slot : g_tools) {
        pid_t free = 0;
        if (slot.compare_exchange_strong(free, pid))
            return;
    }
}

void Untrack(pid_t pid) {
    for (std::atomic<pid_t> &slot : g_tools) {
        pid_t was = pid;
        slot.compare_exchange_strong(was, 0);
    }
}

// Takes the tool whose process is `pid` off the list when it goes, and
// forgets the number.
class UntrackAtEnd {
public:
    explicit UntrackAtEnd(qint64 &pid) : m_pid(pid) {}
    ~UntrackAtEnd() { Untrack(pid_t(std::exchange(m_pid, 0))); }
    UntrackAtEnd(const UntrackAtEnd &) = delete;
    UntrackAtEnd &operator=(const UntrackAtEnd &) = delete;

private:
    qint64 &m_pid;
};

extern "C" void StopToolsAndEnd(int signal) {
    // Only async-signal-safe calls: each tool is told to stop (it removes
    // its temporary file), and is waited for, left for its parent to reap.
    for (std::atomic<pid_t> &slot : g_tools)
        if (const pid_t pid = slot.load(); pid > 0 && ::kill(pid, SIGTERM) == 0) {
            siginfo_t info;
            while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
            }
        }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Starts `process` on the tool with `arguments`, each given to it byte for
// byte as the file system spells it (QProcess would pass a name that is
// not UTF-8 changed), the tool told to stop (SIGTERM) when this process
// ends, however it ends.
void StartTool(QProcess &process, const QString &tool, const QStringList &arguments) {
    std::vector<std::string> bytes{platform::NativePath(tool)};
    for (const QString &argument : arguments)
        bytes.push_back(platform::NativePath(argument));
    std::vector<char *> argv;
    for (std::string &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    // Run in the child, between its fork and its exec: only
    // async-signal-safe calls. Should the exec fail, QProcess's own tries
    // and reports why.
    process.setChildProcessModifier([&argv, parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);  // the program ended already
        ::execv(argv[0], argv.data());
    });
    process.start(tool, arguments);
    process.setChildProcessModifier({});
}

bool Locked(const CropRun::Job &job) { return job.password && !job.password->Empty(); }

// The tool's arguments for `job`, with `extra` after the list, input and
// output; never the password.
QStringList ArgumentsOf(const CropRun::Job &job, const QStringList &extra) {
    if (job.restore) {
        QStringList arguments{QStringLiteral("--restore"), QStringLiteral("-i"), job.input,
                              QStringLiteral("-o"),        job.output,           QStringLiteral("--progress")};
        if (job.overwrite)
            arguments << QStringLiteral("--overwrite");
        return arguments;
    }
    QStringList arguments{QStringLiteral("-s"), QStringLiteral("setcropfile=") + job.cropList,
                          QStringLiteral("-i"), job.input,
                          QStringLiteral("-o"), job.output};
    arguments << extra;
    if (Locked(job))
        arguments << QStringLiteral("--password-fd") << QStringLiteral("0");
    if (job.removeHidden)
        arguments << QStringLiteral("--remove-hidden");
    if (job.addMargins)
        arguments << QStringLiteral("--add-margins");
    if (job.trimBox)
        arguments << QStringLiteral("--trim-box");
    if (job.overwrite)
        arguments << QStringLiteral("--overwrite");
    return arguments;
}

// The password's line, first on the tool's input (a list "-" follows it).
void WritePassword(QProcess &process, const CropRun::Job &job) {
    if (!Locked(job))
        return;
    const std::string_view secret = job.password->View();
    process.write(secret.data(), qint64(secret.size()));
    process.write("\n", 1);
}

}  // namespace

CropRun::CropRun(QObject *parent) : QObject(parent) {}

CropRun::~CropRun() { Stop(); }

void CropRun::SetToolPath(const QString &path) { g_toolPath = path; }

QString CropRun::ToolPath() {
    if (!g_toolPath.isEmpty())
        return g_toolPath;
    return platform::PathFromNative(platform::ExecutableFolder() + "/quorrel");
}

bool CropRun::IsRunning() const { return m_process && m_process->state() != QProcess::NotRunning; }

bool CropRun::Start(const Job &job, QString &reason) {
    if (IsRunning()) {
        reason = QStringLiteral("a cropped copy is being written already");
        return false;
    }
    if (!Executable(job.tool)) {
        reason = QStringLiteral("the crop tool %1 is missing; it belongs beside the program").arg(job.tool);
        return false;
    }
    m_job = job;
    m_output.clear();
    m_pending.clear();
    m_stopping = false;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    const bool locked = Locked(job);
    if (job.cropList != QLatin1String("-") && !locked)
        m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &CropRun::ReadOutput);
    connect(m_process.get(), &QProcess::finished, this, &CropRun::Ended);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || m_stopping)
            return;
        const QString why =
            QStringLiteral("the crop tool %1 could not be started (%2)").arg(m_job.tool, m_process->errorString());
        if (m_starting)
            m_startFailure = why;  // told by Start itself
        else
            emit Finished(false, why.left(1).toUpper() + why.mid(1) + QLatin1Char('.'));
    });
    m_before = platform::IdentityOf(platform::NativePath(job.output));
    m_startFailure.clear();
    m_starting = true;
    StartTool(*m_process, job.tool, ArgumentsOf(job, {QStringLiteral("--progress"), QStringLiteral("--require-crop")}));
    const bool started = m_process->waitForStarted(30000);
    m_starting = false;
    if (!m_startFailure.isEmpty() || !started) {
        reason = m_startFailure.isEmpty() ? QStringLiteral("the crop tool %1 could not be started").arg(job.tool)
                                          : m_startFailure;
        m_process.reset();
        return false;
    }
    m_pid = m_process->processId();
    Track(pid_t(m_pid));
    if (locked) {
        WritePassword(*m_process, job);
        if (job.cropList != QLatin1String("-"))
            m_process->closeWriteChannel();
    }
    return true;
}

void CropRun::SendList(const QByteArray &text) {
    if (!m_process || m_job.cropList != QLatin1String("-"))
        return;
    m_process->write(text);
    m_process->closeWriteChannel();
}

bool CropRun::Report(const Job &job, QByteArray &json, QString &reason, const QByteArray &list,
                     const std::function<bool()> &stopped) {
    if (!Executable(job.tool)) {
        reason = QStringLiteral("the crop tool %1 is missing; it belongs beside the program").arg(job.tool);
        return false;
    }
    QProcess process;
    const bool listOnInput = job.cropList == QLatin1String("-");
    if (!Locked(job) && !listOnInput)
        process.setStandardInputFile(QProcess::nullDevice());
    StartTool(process, job.tool, ArgumentsOf(job, {QStringLiteral("--report")}));
    if (!process.waitForStarted(30000)) {
        reason = QStringLiteral("the crop tool %1 could not be started (%2)").arg(job.tool, process.errorString());
        return false;
    }
    qint64 pid = process.processId();
    Track(pid_t(pid));
    const UntrackAtEnd untrack(pid);
    WritePassword(process, job);
    if (listOnInput)
        process.write(list);
    process.closeWriteChannel();
    // A report reads the file and plans the crop: seconds at most, even
    // for long documents. The window goes on being drawn meanwhile.
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stopped && stopped())
            loop.quit();
    });
    poll.start(50);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        reason = QStringLiteral("the report was stopped");
        return false;
    }
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        QString why = said.section(QLatin1Char('\n'), -1);
        if (why.startsWith(QLatin1String("quorrel: ")))
            why = why.mid(9);
        reason = why.isEmpty() ? QStringLiteral("the crop tool could not tell what the crop would change") : why;
        return false;
    }
    json = process.readAllStandardOutput();
    return true;
}

QString CropRun::Reason(const QString &message) {
    const QStringList said = message.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString last = said.size() > 1 ? said.last().trimmed() : QString();
    if (last.startsWith(QLatin1String("quorrel: ")))
        last = last.mid(9);
    return last.isEmpty() ? message.simplified() : last;
}

bool CropRun::Executable(const QString &tool) {
    struct stat st = {};
    const std::string path = platform::NativePath(tool);
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void CropRun::StopToolsOnTermination() {
    struct sigaction action {};
    action.sa_handler = StopToolsAndEnd;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

void CropRun::ReadOutput() {
    m_pending += m_process->readAllStandardOutput();
    for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0;) {
        const QString line = platform::PathFromNative(std::string_view(m_pending.constData(), size_t(end))).trimmed();
        m_pending.remove(0, end + 1);
        const QRegularExpressionMatch match = kProgress.match(line);
        if (match.hasMatch())
            emit Progress(match.captured(1).toInt(), match.captured(2).toInt());
        else
            m_output += line + QLatin1Char('\n');
    }
}

void CropRun::Ended(int exitCode, QProcess::ExitStatus status) {
    Untrack(pid_t(std::exchange(m_pid, 0)));
    ReadOutput();
    if (!m_pending.isEmpty())
        m_output += platform::PathFromNative(std::string_view(m_pending.constData(), size_t(m_pending.size())));
    m_pending.clear();
    // A stopped tool ends by its signal; one that ended normally had
    // finished before the stop reached it, and is told as finished.
    if (m_stopping && status != QProcess::NormalExit)
        return;
    m_stopping = false;
    const QString said = m_output.trimmed();
    if (status != QProcess::NormalExit) {
        emit Finished(false, QStringLiteral("The crop tool stopped before it had written %1.%2")
                                 .arg(m_job.output, said.isEmpty() ? QString() : QStringLiteral("\n\n") + said));
        return;
    }
    // A file only counts as written when it is new or another file than
    // before; a device or a pipe is written into, and its end tells.
    const platform::FileIdentity after = platform::IdentityOf(platform::NativePath(m_job.output));
    if (exitCode != 0 || !after.exists || (after.regular && after.stamp == m_before.stamp)) {
        emit Finished(false, QStringLiteral("The crop tool could not write %1.%2")
                                 .arg(m_job.output, said.isEmpty() ? QStringLiteral(" It said nothing.")
                                                                   : QStringLiteral("\n\n") + said));
        return;
    }
    // What the tool said on the way (a file repaired, a certification the
    // crop breaks) follows the news, for the user to see.
    emit Finished(true, (m_job.restore ? QStringLiteral("The original was written to %1.%2")
                                       : QStringLiteral("The cropped document was written to %1.%2"))
                            .arg(m_job.output, said.isEmpty() ? QString() : QStringLiteral("\n\n") + said));
}

bool CropRun::Stop() {
    if (!IsRunning())
        return false;
    const UntrackAtEnd untrack(m_pid);
    m_stopping = true;
    m_process->terminate();  // SIGTERM: the tool removes its temporary file
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
    // Ended has run: it cleared the flag when the tool had finished anyway.
    const bool stopped = m_stopping;
    m_stopping = false;
    return stopped;
}

}  // namespace crop
