#include "platform/file_identity.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {
namespace {

constexpr off_t kCompared = 64 * 1024;

// `length` bytes of the open file from `offset`; false when they cannot
// all be read.
bool ReadAt(int fd, off_t offset, size_t length, std::vector<char> &into) {
    into.resize(length);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, into.data() + done, length - done, offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

class Descriptor {
public:
    explicit Descriptor(const std::string &path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return true;
    if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size ||
        sa.st_mtim.tv_sec != sb.st_mtim.tv_sec || sa.st_mtim.tv_nsec != sb.st_mtim.tv_nsec)
        return false;
    const Descriptor fa(a), fb(b);
    if (fa.Get() < 0 || fb.Get() < 0)
        return false;
    std::vector<char> ba, bb;
    const off_t head = std::min<off_t>(sa.st_size, kCompared);
    const off_t tailAt = std::max<off_t>(head, sa.st_size - kCompared);
    for (const auto &[at, length] :
         {std::pair{off_t(0), size_t(head)}, std::pair{tailAt, size_t(sa.st_size - tailAt)}}) {
        if (!ReadAt(fa.Get(), at, length, ba) || !ReadAt(fb.Get(), at, length, bb) || ba != bb)
            return false;
    }
    return true;
}

bool IsReadOnly(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

FileIdentity IdentityOf(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    FileIdentity id;
    id.exists = true;
    id.regular = S_ISREG(st.st_mode);
    id.folder = S_ISDIR(st.st_mode);
    id.device = S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode);
    id.stamp = std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' + std::to_string(st.st_size) + ':' +
               std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) + ':' +
               std::to_string(st.st_ctim.tv_sec) + '.' + std::to_string(st.st_ctim.tv_nsec);
    return id;
}

InputProblem CheckReadable(const std::string &path, std::string &error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return InputProblem::Missing;
    if (S_ISDIR(st.st_mode))
        return InputProblem::Folder;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return InputProblem::Unreadable;
    }
    ::close(fd);
    return InputProblem::None;
}

}  // namespace platform
