#include "quorrel/output_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorrel {

OutputFile::OutputFile(std::string path) : m_path(std::move(path)) {}

OutputFile::~OutputFile() {
    if (m_stream)
        std::fclose(m_stream);
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
}

bool OutputFile::Open(std::string &error) {
    std::filesystem::path target(m_path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        error = "cannot write in the folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    m_temp = buffer.data();
    // The permissions a newly created file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
        error = std::string("cannot write the output: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string &error) {
    if (!m_stream) {
        error = "the output was never opened";
        return false;
    }
    bool ok = std::fflush(m_stream) == 0 && ::fsync(::fileno(m_stream)) == 0;
    const int saved = errno;
    ok = std::fclose(m_stream) == 0 && ok;
    m_stream = nullptr;
    if (!ok) {
        error = std::string("cannot write the output: ") + std::strerror(saved ? saved : errno);
        return false;
    }
    if (::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        error = "cannot put the output at " + m_path + ": " + std::strerror(errno);
        return false;
    }
    m_temp.clear();
    return true;
}

}  // namespace quorrel
