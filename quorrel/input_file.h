#ifndef QUORREL_INPUT_FILE_H
#define QUORREL_INPUT_FILE_H

#include <qpdf/InputSource.hh>

#include <memory>
#include <string>
#include <vector>

namespace quorrel {

// The input PDF as qpdf reads it. The parser seeks before nearly every
// token; a stdio stream turns each of those seeks into a system call
// (tens of thousands for a long document). This source keeps its own
// position and reads through a window with pread, so a seek costs nothing
// and the system is asked only when the window has to move. Large reads
// go straight into the caller's buffer.
class InputFile : public InputSource {
public:
    // Opens `path`; nothing, with `error` set, when it cannot be read.
    static std::shared_ptr<InputFile> Open(const std::string &path, std::string &error);
    // Reads the open file `fd` (from its start), which it then owns and
    // closes; `name` is what messages call it. Nothing, with `error` set,
    // when it is not a regular file.
    static std::shared_ptr<InputFile> Adopt(int fd, std::string name, std::string &error);
    ~InputFile() override;
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    qpdf_offset_t findAndSkipNextEOL() override;
    std::string const &getName() const override { return m_name; }
    qpdf_offset_t tell() override { return m_pos; }
    void seek(qpdf_offset_t offset, int whence) override;
    void rewind() override { m_pos = 0; }
    size_t read(char *into, size_t length) override;
    void unreadCh(char ch) override;

    // The open file and its length when it was opened, for copying it.
    int Descriptor() const { return m_fd; }
    qpdf_offset_t Size() const { return m_size; }

    // How often the file itself was read (for tests).
    long long Reads() const { return m_reads; }

    static constexpr size_t kWindow = 128 * 1024;

private:
    InputFile(int fd, std::string name, qpdf_offset_t size);

    bool InWindow(qpdf_offset_t pos) const;
    // Makes the window hold the byte at `pos`; false at the end of the file.
    bool Load(qpdf_offset_t pos);
    size_t ReadAt(qpdf_offset_t pos, char *into, size_t length);

    int m_fd;
    std::string m_name;
    qpdf_offset_t m_size;  // as the file was when opened
    qpdf_offset_t m_pos = 0;
    std::vector<char> m_window;
    qpdf_offset_t m_windowStart = 0;
    size_t m_windowLength = 0;
    long long m_reads = 0;
};

}  // namespace quorrel

#endif
