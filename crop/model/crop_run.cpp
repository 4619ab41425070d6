#include "crop/model/crop_run.h"

#include "platform/exe_folder.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

namespace crop {
namespace {

const QRegularExpression kProgress(QStringLiteral("^quorrel: progress (\\d+)/(\\d+)$"));
QString g_toolPath;

bool Locked(const CropRun::Job &job) { return job.password && !job.password->Empty(); }

// The tool's arguments for `job`, with `extra` after the list, input and
// output; never the password.
QStringList ArgumentsOf(const CropRun::Job &job, const QStringList &extra) {
    QStringList arguments{QStringLiteral("-s"), QStringLiteral("setcropfile=") + job.cropList,
                          QStringLiteral("-i"), job.input, QStringLiteral("-o"), job.output};
    arguments << extra;
    if (Locked(job))
        arguments << QStringLiteral("--password-fd") << QStringLiteral("0");
    if (job.removeHidden)
        arguments << QStringLiteral("--remove-hidden");
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
    return QDir(QString::fromStdString(platform::ExecutableFolder())).filePath(QStringLiteral("quorrel"));
}

bool CropRun::IsRunning() const { return m_process && m_process->state() != QProcess::NotRunning; }

bool CropRun::Start(const Job &job, QString &reason) {
    if (IsRunning()) {
        reason = QStringLiteral("a cropped copy is being written already");
        return false;
    }
    const QFileInfo tool(job.tool);
    if (!tool.exists() || !tool.isExecutable()) {
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
        const QString why = QStringLiteral("the crop tool %1 could not be started (%2)").arg(m_job.tool, m_process->errorString());
        if (m_starting)
            m_startFailure = why;  // told by Start itself
        else
            emit Finished(false, why.left(1).toUpper() + why.mid(1) + QLatin1Char('.'));
    });
    m_before = StampOf(job.output);
    m_startFailure.clear();
    m_starting = true;
    m_process->start(job.tool, ArgumentsOf(job, {QStringLiteral("--progress"), QStringLiteral("--require-crop")}));
    m_starting = false;
    if (!m_startFailure.isEmpty()) {
        reason = m_startFailure;
        return false;
    }
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
    const QFileInfo tool(job.tool);
    if (!tool.exists() || !tool.isExecutable()) {
        reason = QStringLiteral("the crop tool %1 is missing; it belongs beside the program").arg(job.tool);
        return false;
    }
    QProcess process;
    const bool listOnInput = job.cropList == QLatin1String("-");
    if (!Locked(job) && !listOnInput)
        process.setStandardInputFile(QProcess::nullDevice());
    process.start(job.tool, ArgumentsOf(job, {QStringLiteral("--report")}));
    if (!process.waitForStarted(30000)) {
        reason = QStringLiteral("the crop tool %1 could not be started (%2)").arg(job.tool, process.errorString());
        return false;
    }
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

CropRun::Stamp CropRun::StampOf(const QString &path) {
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, static_cast<unsigned long long>(st.st_ino),
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void CropRun::ReadOutput() {
    m_pending += m_process->readAllStandardOutput();
    for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0;) {
        const QString line = QString::fromLocal8Bit(m_pending.left(end)).trimmed();
        m_pending.remove(0, end + 1);
        const QRegularExpressionMatch match = kProgress.match(line);
        if (match.hasMatch())
            emit Progress(match.captured(1).toInt(), match.captured(2).toInt());
        else
            m_output += line + QLatin1Char('\n');
    }
}

void CropRun::Ended(int exitCode, QProcess::ExitStatus status) {
    ReadOutput();
    if (!m_pending.isEmpty())
        m_output += QString::fromLocal8Bit(m_pending);
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
    const Stamp after = StampOf(m_job.output);
    if (exitCode != 0 || !after.exists || after == m_before) {
        emit Finished(false, QStringLiteral("The crop tool could not write %1.%2")
                                 .arg(m_job.output, said.isEmpty() ? QStringLiteral(" It said nothing.")
                                                                   : QStringLiteral("\n\n") + said));
        return;
    }
    // What the tool said on the way (a file repaired, a certification the
    // crop breaks) follows the news, for the user to see.
    emit Finished(true, QStringLiteral("The cropped document was written to %1.%2")
                            .arg(m_job.output, said.isEmpty() ? QString() : QStringLiteral("\n\n") + said));
}

bool CropRun::Stop() {
    if (!IsRunning())
        return false;
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
