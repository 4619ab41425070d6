#include "quorrel/input_file.h"

#include <qpdf/QPDFExc.hh>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrel {

std::shared_ptr<InputFile> InputFile::Open(const std::string &path, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    return Adopt(fd, path, error);
}

std::shared_ptr<InputFile> InputFile::Adopt(int fd, std::string name, std::string &error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<InputFile>(new InputFile(fd, std::move(name), qpdf_offset_t(st.st_size)));
}

InputFile::InputFile(int fd, std::string name, qpdf_offset_t size)
    : m_fd(fd), m_name(std::move(name)), m_size(size), m_window(kWindow) {}

InputFile::~InputFile() { ::close(m_fd); }

size_t InputFile::ReadAt(qpdf_offset_t pos, char *into, size_t length) {
    size_t done = 0;
    while (done < length) {
        ++m_reads;
        const ssize_t n = ::pread(m_fd, into + done, length - done, off_t(pos) + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw QPDFExc(qpdf_e_system, m_name, "", pos,
                          "read " + std::to_string(length) + " bytes: " + std::strerror(errno));
        if (n == 0)
            break;  // the file has become shorter
        done += size_t(n);
    }
    return done;
}

bool InputFile::InWindow(qpdf_offset_t pos) const {
    return pos >= m_windowStart && pos < m_windowStart + qpdf_offset_t(m_windowLength);
}

bool InputFile::Load(qpdf_offset_t pos) {
    if (InWindow(pos))
        return true;
    if (pos < 0 || pos >= m_size)
        return false;
    // Windows start on a page boundary, so stepping back a little (the
    // parser often does) stays inside.
    const qpdf_offset_t start = pos & ~qpdf_offset_t(4095);
    const size_t length = size_t(std::min<qpdf_offset_t>(qpdf_offset_t(kWindow), m_size - start));
    m_windowStart = start;
    m_windowLength = 0;  // a read that throws leaves no stale window
    m_windowLength = ReadAt(start, m_window.data(), length);
    return InWindow(pos);
}

size_t InputFile::read(char *into, size_t length) {
    last_offset = m_pos;
    size_t copied = 0;
    while (copied < length && m_pos < m_size) {
        const size_t wanted = size_t(std::min<qpdf_offset_t>(qpdf_offset_t(length - copied), m_size - m_pos));
        if (!InWindow(m_pos) && wanted >= kWindow) {
            const size_t n = ReadAt(m_pos, into + copied, wanted);
            if (n == 0)
                break;
            copied += n;
            m_pos += qpdf_offset_t(n);
        } else if (Load(m_pos)) {
            const size_t at = size_t(m_pos - m_windowStart);
            const size_t n = std::min(wanted, m_windowLength - at);
            std::memcpy(into + copied, m_window.data() + at, n);
            copied += n;
            m_pos += qpdf_offset_t(n);
        } else {
            break;
        }
    }
    if (copied == 0 && length > 0) {
        // Nothing left: the position goes to the end, as with a stream.
        m_pos = m_size;
        last_offset = m_pos;
    }
    return copied;
}

void InputFile::seek(qpdf_offset_t offset, int whence) {
    qpdf_offset_t base = 0;
    switch (whence) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = m_pos;
        break;
    case SEEK_END:
        base = m_size;
        break;
    default:
        throw std::logic_error("seek with an unknown origin");
    }
    constexpr qpdf_offset_t kMax = std::numeric_limits<qpdf_offset_t>::max();
    if ((offset > 0 && base > kMax - offset) || base + offset < 0)
        throw std::runtime_error("seek to " + m_name + ", offset " + std::to_string(offset) + " (" +
                                 std::to_string(whence) + "): outside the file");
    m_pos = base + offset;
}

void InputFile::unreadCh(char) {
    if (m_pos > 0)
        --m_pos;
}

qpdf_offset_t InputFile::findAndSkipNextEOL() {
    auto isEol = [](char c) { return c == '\r' || c == '\n'; };
    while (Load(m_pos)) {
        const char *window = m_window.data();
        const char *from = window + (m_pos - m_windowStart), *end = window + m_windowLength;
        const char *eol = std::find_if(from, end, isEol);
        if (eol == end) {
            m_pos = m_windowStart + qpdf_offset_t(m_windowLength);
            continue;
        }
        const qpdf_offset_t found = m_windowStart + (eol - window);
        m_pos = found + 1;
        while (Load(m_pos) && isEol(m_window[size_t(m_pos - m_windowStart)]))
            ++m_pos;
        last_offset = m_pos;
        return found;
    }
    // No line end before the end of the file.
    m_pos = m_size;
    last_offset = m_pos;
    return m_pos;
}

}  // namespace quorrel
