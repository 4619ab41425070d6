#ifndef CROP_CROP_RUN_H
#define CROP_CROP_RUN_H

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

namespace crop {

// One run of the crop tool, "quorrel" beside the program, as a separate
// process while the event loop goes on. The tool is started with an
// argument vector, never through a shell, so every path reaches it whole
// whatever characters it holds:
//
//   quorrel -s setcropfile=LIST -i INPUT -o OUTPUT --progress
//
// Everything the tool writes is captured; its progress lines become
// Progress signals. The run succeeds when the tool ends normally with exit
// code 0 and the output exists.
class CropRun : public QObject {
    Q_OBJECT
public:
    struct Job {
        QString tool;
        QString cropList;
        QString input;
        QString output;
    };

    explicit CropRun(QObject *parent = nullptr);
    ~CropRun() override;

    // The crop tool beside the running program.
    static QString ToolPath();
    // Uses `path` as the crop tool instead (tests, and a tool installed
    // elsewhere); empty goes back to the one beside the program.
    static void SetToolPath(const QString &path);

    // Starts the tool; false, with the reason in plain words, when it is
    // missing or a run is going on.
    bool Start(const Job &job, QString &reason);
    bool IsRunning() const;
    // Stops the tool (it removes its temporary file as it goes) and waits
    // for it; Finished is not sent for a stopped run.
    void Stop();
    const Job &CurrentJob() const { return m_job; }
    // What the tool wrote, its progress lines left out.
    const QString &Output() const { return m_output; }

signals:
    void Progress(int done, int total);
    // `message` says where the file was written, or why it was not (with
    // what the tool said).
    void Finished(bool ok, const QString &message);

private:
    void ReadOutput();
    void Ended(int exitCode, QProcess::ExitStatus status);

    std::unique_ptr<QProcess> m_process;
    Job m_job;
    QString m_output;
    QByteArray m_pending;  // a line not yet complete
    bool m_stopping = false;
};

}  // namespace crop

#endif
