#ifndef QUORREL_OUTPUT_FILE_H
#define QUORREL_OUTPUT_FILE_H

#include <qpdf/Pipeline.hh>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorrel {

// A file written beside its final path and renamed into place only when
// it is complete, so a failure leaves no half-written file and an existing
// file at that path intact. Dropping it without Commit removes the
// temporary file.
class OutputFile {
public:
    explicit OutputFile(std::string path);
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

    std::string m_path;
    std::string m_temp;
    int m_fd = -1;
    std::unique_ptr<Buffered> m_sink;
};

}  // namespace quorrel

#endif
