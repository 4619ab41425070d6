#ifndef CROP_MODEL_CROP_RUN_H
#define CROP_MODEL_CROP_RUN_H

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>

#include "platform/file_identity.h"
#include "platform/secret.h"

#include <functional>
#include <memory>

namespace crop {

// One run of the crop tool, "quorrel" beside the program, as a separate
// process while the event loop goes on. The tool is started with an
// argument vector, never through a shell, so every path reaches it whole
// whatever characters it holds (byte for byte, a name that is not UTF-8
// too: see platform/file_names.h):
//
//   quorrel -s setcropfile=LIST -i INPUT -o OUTPUT --progress --require-crop
//           [--password-fd 0] [--remove-hidden] [--overwrite]
//
// or, to give back the original a copy holds (`restore`; INPUT the copy):
//
//   quorrel --restore -i INPUT -o OUTPUT --progress [--overwrite]
//
// The tool never outlives the program: it is told to stop when the program
// ends, however it ends.
//
// (a copy in which no page is cropped is not written, and is no success).
// Everything the tool writes is captured; its progress lines become
// Progress signals. The run succeeds when the tool ends normally with exit
// code 0 and the output exists.
class CropRun : public QObject {
    Q_OBJECT
public:
    struct Job {
        Job(QString tool_ = {}, QString cropList_ = {}, QString input_ = {}, QString output_ = {})
            : tool(std::move(tool_)),
              cropList(std::move(cropList_)),
              input(std::move(input_)),
              output(std::move(output_)) {}
        QString tool;
        QString cropList;
        QString input;
        QString output;
        // The input's password, for a locked document: the tool reads it
        // from its standard input (--password-fd 0), never from its
        // arguments, which any user of the machine can read.
        std::shared_ptr<const platform::Secret> password;
        // Nothing outside each page's crop box is kept (--remove-hidden).
        bool removeHidden = false;
        // The user has agreed to replace the output, read-only or not
        // (--overwrite).
        bool overwrite = false;
        // The original that the input, a copy, holds is written; no crop
        // list (--restore).
        bool restore = false;
        // A rectangle past what its page shows grows the page (--add-margins).
        bool addMargins = false;
        // Each page cropped gets its crop as its trim box too (--trim-box).
        bool trimBox = false;
    };

    explicit CropRun(QObject *parent = nullptr);
    ~CropRun() override;

    // The crop tool beside the running program.
    static QString ToolPath();
    // Uses `path` as the crop tool instead (tests, and a tool installed
    // elsewhere); empty goes back to the one beside the program.
    static void SetToolPath(const QString &path);

    // What the job would change, as the tool reports it in a dry run
    // (--report: JSON, nothing written), waiting for it; `list` is given on
    // the tool's input when the job's list is "-". False with the reason.
    // Events go on while it waits; `stopped`, asked now and then, ends the
    // wait (the tool is stopped) when it returns true.
    static bool Report(const Job &job, QByteArray &json, QString &reason, const QByteArray &list = {},
                       const std::function<bool()> &stopped = {});

    // Starts the tool; false, with the reason in plain words, when it is
    // missing or a run is going on.
    bool Start(const Job &job, QString &reason);
    // A job whose crop list is "-" reads it from the tool's standard input
    // once the tool has read the input: the tool may be started while the
    // list is still being made, and is given it with SendList, its last
    // line "End" (a list cut short crops nothing).
    void SendList(const QByteArray &text);
    bool IsRunning() const;
    // Stops the tool (it removes its temporary file as it goes) and waits
    // for it. True when it was stopped, and then Finished is not sent; false
    // when it had finished on its own, and Finished has been sent.
    bool Stop();
    // From now on SIGTERM, SIGINT and SIGHUP stop every tool running and
    // wait for it to end before the process ends by the signal, so that no
    // copy is written after the program was told to stop. For programs
    // without an event loop to end (the command line).
    static void StopToolsOnTermination();
    const Job &CurrentJob() const { return m_job; }
    // Why a run failed, from the message Finished gave: the tool's last
    // word (what it said before, how it was going to write, is no news of
    // a file that was not written).
    static QString Reason(const QString &message);
    // What the tool wrote, its progress lines left out.
    const QString &Output() const { return m_output; }

signals:
    void Progress(int done, int total);
    // `message` says where the file was written, or why it was not; what
    // the tool said follows after a blank line.
    void Finished(bool ok, const QString &message);

private:
    void ReadOutput();
    void Ended(int exitCode, QProcess::ExitStatus status);

    std::unique_ptr<QProcess> m_process;
    qint64 m_pid = 0;  // the tool's, while it runs (QProcess forgets it as it ends)
    Job m_job;
    QString m_output;
    QByteArray m_pending;  // a line not yet complete
    bool m_stopping = false;
    bool m_starting = false;
    QString m_startFailure;
    // The output as it was before the run: a file only counts as written
    // when it is new or another file than before.
    // Whether `tool` is a program this user may run.
    static bool Executable(const QString &tool);
    platform::FileIdentity m_before;
};

}  // namespace crop

#endif
