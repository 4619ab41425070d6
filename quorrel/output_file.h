#ifndef QUORREL_OUTPUT_FILE_H
#define QUORREL_OUTPUT_FILE_H

#include <qpdf/Pipeline.hh>

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorrel {

// A file written beside its final path and put in place only when it is
// complete, so a failure leaves no half-written file and an existing file
// at that path intact. It is written without a name (O_TMPFILE) and named
// when complete, so nothing is left behind whatever ends the process;
// where the file system cannot do that, it is written under a short
// temporary name, ".quorrel.<pid>.XXXXXX", and renamed. Dropping it
// without Commit removes what was written.
//
// An output that is a character device or a pipe (such as /dev/null or a
// FIFO) is written into as it is, never replaced; any other file that is
// not a regular file is refused. A read-only file is replaced only when
// asked to (`replaceReadOnly`). Links to the output are followed, but not
// one another user may have planted in a shared folder.
class OutputFile {
public:
    explicit OutputFile(std::string path, bool replaceReadOnly = false);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the temporary file; false with `error` set when the folder
    // cannot take it.
    bool Open(std::string &error);
    // Where the writer puts the bytes; a failed write throws
    // std::runtime_error. Valid after Open.
    Pipeline *Sink() { return m_sink.get(); }
    // Appends the first `length` bytes of the file open as `fd`, telling
    // `copied` the bytes done as it goes; throws std::runtime_error when
    // they cannot all be read or written. Valid after Open.
    void CopyFrom(int fd, long long length, const std::function<void(long long copied)> &copied);
    // Writes what is buffered, syncs and renames into place.
    bool Commit(std::string &error);

    // From now on a stop by SIGTERM, SIGINT or SIGHUP removes the temporary
    // file of the output being written before the process ends, so a stopped
    // run leaves nothing beside the output's place.
    static void RemoveTemporaryOnStop();

    // Removes from `folder` the temporary files of runs that ended before
    // they could remove them: a day old or more, their process gone.
    static void RemoveStaleTemporaries(const std::string &folder);
    // The name of a temporary file of this process.
    static std::string TemporaryName(const std::string &unique);

private:
    // Gathers the writer's many small pieces into large writes. The writer
    // finishes its pipeline after every stream; that must not cost a
    // system call, so finishing does nothing and Commit writes the rest.
    class Buffered : public Pipeline {
    public:
        explicit Buffered(int fd);
        void write(unsigned char const *data, size_t length) override;
        void finish() override {}
        void Flush();

    private:
        void WriteOut(unsigned char const *data, size_t length);

        int m_fd;
        // Not cleared first: only the part written to is ever touched.
        std::unique_ptr<unsigned char[]> m_buffer;
        size_t m_used = 0;
    };

    // Gives the unnamed file the output's name when none is there yet, or
    // else a temporary name beside it (m_temp) to be renamed from.
    bool LinkIntoPlace(std::string &error);

    // Follows the links that lead to the output; false, with `error` set,
    // at one that must not be followed.
    bool FollowLinks(std::string &error);
    // Opens the device or pipe `existing` at m_path to write into.
    bool OpenDirect(const struct stat &existing, std::string &error);

    std::string m_path;
    bool m_replaceReadOnly = false;
    bool m_direct = false;  // written into the output itself (a device or a pipe)
    std::string m_folder;
    std::string m_temp;     // the file's temporary name, while it has one
    bool m_linked = false;  // the file has the output's name
    int m_fd = -1;
    std::unique_ptr<Buffered> m_sink;
};

}  // namespace quorrel

#endif
