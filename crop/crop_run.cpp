#include "crop/crop_run.h"

#include "platform/exe_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace crop {
namespace {

const QRegularExpression kProgress(QStringLiteral("^quorrel: progress (\\d+)/(\\d+)$"));
QString g_toolPath;

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
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process.get(), &QProcess::readyReadStandardOutput, this, &CropRun::ReadOutput);
    connect(m_process.get(), &QProcess::finished, this, &CropRun::Ended);
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && !m_stopping)
            emit Finished(false, QStringLiteral("The crop tool %1 could not be started: %2.")
                                     .arg(m_job.tool, m_process->errorString()));
    });
    m_process->start(job.tool, {QStringLiteral("-s"), QStringLiteral("setcropfile=") + job.cropList,
                                QStringLiteral("-i"), job.input, QStringLiteral("-o"), job.output,
                                QStringLiteral("--progress")});
    return true;
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
    if (m_stopping)
        return;
    const QString said = m_output.trimmed();
    if (status != QProcess::NormalExit) {
        emit Finished(false, QStringLiteral("The crop tool stopped before it had written %1.%2")
                                 .arg(m_job.output, said.isEmpty() ? QString() : QStringLiteral("\n\n") + said));
        return;
    }
    if (exitCode != 0 || !QFileInfo::exists(m_job.output)) {
        emit Finished(false, QStringLiteral("The crop tool could not write %1.%2")
                                 .arg(m_job.output, said.isEmpty() ? QStringLiteral(" It said nothing.")
                                                                   : QStringLiteral("\n\n") + said));
        return;
    }
    emit Finished(true, QStringLiteral("The cropped document was written to %1.").arg(m_job.output));
}

void CropRun::Stop() {
    if (!IsRunning())
        return;
    m_stopping = true;
    m_process->terminate();  // SIGTERM: the tool removes its temporary file
    if (!m_process->waitForFinished(5000)) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

}  // namespace crop
