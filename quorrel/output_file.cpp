#include "quorrel/output_file.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrel {

namespace {
constexpr size_t kBuffer = 1 << 20;

// The temporary file being written, for the signal handler; null when none.
std::atomic<const char *> g_temporary{nullptr};

// The folder `path` lies in.
std::filesystem::path FolderOf(const std::filesystem::path &path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Whether `item` (as lstat or stat saw it) was made by another user than
// this one and the folder's owner, in `folder`, a folder where everyone may
// make files but remove only their own (such as /tmp): the one place
// another user may have put it for this user to write into.
bool AnotherUsersInSharedFolder(const struct stat &item, const std::filesystem::path &folder) {
    struct stat dir {};
    return ::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH) &&
           item.st_uid != ::geteuid() && item.st_uid != dir.st_uid;
}

extern "C" void RemoveTemporaryAndStop(int signal) {
    if (const char *path = g_temporary.load())
        ::unlink(path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
}  // namespace

void OutputFile::RemoveTemporaryOnStop() {
    // A reader of the progress that goes away must not end the tool
    // halfway: a write to it fails instead.
    std::signal(SIGPIPE, SIG_IGN);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction action = {};
        action.sa_handler = RemoveTemporaryAndStop;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

OutputFile::Buffered::Buffered(int fd) : Pipeline("output", nullptr), m_fd(fd), m_buffer(new unsigned char[kBuffer]) {}

void OutputFile::Buffered::write(unsigned char const *data, size_t length) {
    if (length >= kBuffer) {
        Flush();
        WriteOut(data, length);
        return;
    }
    if (m_used + length > kBuffer)
        Flush();
    std::memcpy(m_buffer.get() + m_used, data, length);
    m_used += length;
}

void OutputFile::Buffered::Flush() {
    WriteOut(m_buffer.get(), m_used);
    m_used = 0;
}

void OutputFile::Buffered::WriteOut(unsigned char const *data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(m_fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("cannot write the output: ") + std::strerror(n < 0 ? errno : EIO));
        data += n;
        length -= size_t(n);
    }
}

OutputFile::OutputFile(std::string path, bool replaceReadOnly)
    : m_path(std::move(path)), m_replaceReadOnly(replaceReadOnly) {}

OutputFile::~OutputFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
    g_temporary.store(nullptr);
}

bool OutputFile::FollowLinks(std::string &error) {
    // An output named through a symbolic link replaces the file the link
    // names; the link stays. A link to a file yet to be made makes that
    // file.
    std::filesystem::path named(m_path);
    for (int hops = 0;; ++hops) {
        struct stat link {};
        if (::lstat(named.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
            break;
        if (hops == 40) {
            error = m_path + " leads through more than 40 links; it is not written";
            return false;
        }
        // In a folder where everyone may make files but only remove their
        // own (such as /tmp), a link made by someone who is neither this
        // user nor the folder's owner is not followed: another user may
        // have planted it there to have a file of this user's replaced.
        // (The rule the kernel keeps with fs.protected_symlinks.)
        const std::filesystem::path parent = FolderOf(named);
        if (AnotherUsersInSharedFolder(link, parent)) {
            error = named.string() + " is a link that another user made in the shared folder " + parent.string() +
                    "; it is not followed, and nothing is written";
            return false;
        }
        std::error_code failed;
        const std::filesystem::path target = std::filesystem::read_symlink(named, failed);
        if (failed)
            break;
        const std::filesystem::path next = target.is_absolute() ? target : parent / target;
        // A link only the kernel can follow (/dev/stdout, /proc/self/fd/1,
        // leading to a pipe) is left to it.
        struct stat followed {
        }, there{};
        if (::lstat(next.c_str(), &there) != 0 && ::stat(named.c_str(), &followed) == 0)
            break;
        named = next;
    }
    m_path = named.string();
    return true;
}

bool OutputFile::OpenDirect(const struct stat &existing, std::string &error) {
    const char *kind = S_ISFIFO(existing.st_mode) ? "a pipe" : "a device";
    // One that another user made in a folder where everyone may make files
    // (as /tmp) is not written into: it would hand that user the copy.
    const std::filesystem::path parent = FolderOf(m_path);
    if (AnotherUsersInSharedFolder(existing, parent)) {
        error = m_path + " is " + kind + " that another user made in the shared folder " + parent.string() +
                "; nothing is written into it";
        return false;
    }
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        error = "cannot write to " + m_path + ": " + std::strerror(errno);
        return false;
    }
    // What was opened is what was looked at, not something put in its
    // place since.
    struct stat opened {};
    if (::fstat(m_fd, &opened) != 0 || opened.st_dev != existing.st_dev || opened.st_ino != existing.st_ino ||
        (opened.st_mode & S_IFMT) != (existing.st_mode & S_IFMT)) {
        ::close(m_fd);
        m_fd = -1;
        error = m_path + " changed while it was opened; nothing is written";
        return false;
    }
    m_direct = true;
    m_sink = std::make_unique<Buffered>(m_fd);
    return true;
}

bool OutputFile::Open(std::string &error) {
    if (!FollowLinks(error))
        return false;
    struct stat existing {};
    const bool exists = ::stat(m_path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a pipe receives the bytes, as with cp; nothing is
        // ever put in its place.
        if (!S_ISCHR(existing.st_mode) && !S_ISFIFO(existing.st_mode)) {
            error = m_path + (S_ISDIR(existing.st_mode) ? " is a folder" : " is not a regular file") +
                    "; nothing is written";
            return false;
        }
        return OpenDirect(existing, error);
    }
    // A file nobody may write is one its owner meant to keep.
    if (exists && !m_replaceReadOnly && ((existing.st_mode & 0222) == 0 || ::access(m_path.c_str(), W_OK) != 0)) {
        error = m_path + " is read-only; it is not replaced (--overwrite replaces it)";
        return false;
    }
    std::filesystem::path target(m_path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    m_folder = folder.string();
    RemoveStaleTemporaries(m_folder);
    // A file without a name until it is complete: whatever ends the
    // process, nothing is left. Where the file system cannot make one, or
    // there is no /proc to name it through when it is complete, a named
    // file takes its place.
    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (m_fd >= 0 && ::access(("/proc/self/fd/" + std::to_string(m_fd)).c_str(), F_OK) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_fd < 0) {
        std::string pattern = (folder / TemporaryName("XXXXXX")).string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        m_fd = ::mkostemp(buffer.data(), O_CLOEXEC);
        if (m_fd < 0) {
            error = "cannot write in the folder " + folder.string() + ": " + std::strerror(errno);
            return false;
        }
        m_temp = buffer.data();
        g_temporary.store(m_temp.c_str());
    }
    // A file replaced keeps its permissions (a private file stays private);
    // a new one gets those a newly created file would.
    if (exists) {
        ::fchmod(m_fd, existing.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(m_fd, 0666 & ~mask);
    }
    m_sink = std::make_unique<Buffered>(m_fd);
    return true;
}

std::string OutputFile::TemporaryName(const std::string &unique) {
    return ".quorrel." + std::to_string(::getpid()) + "." + unique;
}

void OutputFile::RemoveStaleTemporaries(const std::string &folder) {
    std::error_code failed;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (std::filesystem::directory_iterator it(folder, failed), end; !failed && it != end; it.increment(failed)) {
        const std::string name = it->path().filename().string();
        long long pid = 0;
        char unique[8] = {};
        int used = 0;
        if (std::sscanf(name.c_str(), ".quorrel.%lld.%7[A-Za-z0-9]%n", &pid, unique, &used) != 2 ||
            size_t(used) != name.size() || std::strlen(unique) != 6 || pid <= 0 || pid > INT32_MAX)
            continue;
        std::error_code ignored;
        const auto written = std::filesystem::last_write_time(it->path(), ignored);
        if (ignored || now - written < std::chrono::hours(24))
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH && it->is_regular_file(ignored))
            std::filesystem::remove(it->path(), ignored);
    }
}

void OutputFile::CopyFrom(int fd, long long length, const std::function<void(long long)> &copied) {
    m_sink->Flush();
    // The kernel copies without bringing the bytes up here; where it
    // cannot (some file systems, older kernels), they come through a buffer.
    constexpr size_t kStep = 16 << 20;
    off_t from = 0;
    bool inKernel = true;
    std::vector<char> buffer;
    while (from < length) {
        const size_t step = size_t(std::min<long long>(kStep, length - from));
        ssize_t n = -1;
        if (inKernel) {
            n = ::copy_file_range(fd, &from, m_fd, nullptr, step, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                          errno == EBADF || errno == EPERM)) {
                inKernel = false;
                continue;
            }
            if (n < 0)
                throw std::runtime_error(std::string("cannot copy the input: ") + std::strerror(errno));
            if (n == 0) {
                // Some file systems copy nothing rather than say they
                // cannot; reading tells whether the input really ended.
                inKernel = false;
                continue;
            }
        } else {
            buffer.resize(kBuffer);
            n = ::pread(fd, buffer.data(), std::min(step, kBuffer), from);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw std::runtime_error(std::string("cannot read the input: ") + std::strerror(errno));
            if (n > 0) {
                m_sink->write(reinterpret_cast<const unsigned char *>(buffer.data()), size_t(n));
                m_sink->Flush();
                from += n;
            }
        }
        if (n == 0)
            throw std::runtime_error("the input became shorter while it was copied");
        copied(from);
    }
}

bool OutputFile::Commit(std::string &error) {
    if (m_fd < 0) {
        error = "the output was never opened";
        return false;
    }
    try {
        m_sink->Flush();
    } catch (const std::runtime_error &e) {
        error = e.what();
        return false;
    }
    // A file system that cannot sync says EINVAL; that is no failure.
    if (::fsync(m_fd) != 0 && errno != EINVAL && !(m_direct && errno == EROFS)) {
        error = std::string("cannot write the output: ") + std::strerror(errno);
        return false;
    }
    if (m_direct) {
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0) {
            error = std::string("cannot write the output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    // The unnamed file gets its name: the output's own, or a temporary one.
    if (m_temp.empty() && !LinkIntoPlace(error))
        return false;
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0 && !m_linked) {
        error = std::string("cannot write the output: ") + std::strerror(errno);
        return false;
    }
    if (m_linked)
        return true;  // complete and synced in its place
    // Renamed, the temporary name is gone: a stop just after it removes
    // nothing.
    if (::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        error = "cannot put the output at " + m_path + ": " + std::strerror(errno);
        return false;
    }
    g_temporary.store(nullptr);
    m_temp.clear();
    return true;
}

bool OutputFile::LinkIntoPlace(std::string &error) {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    // A new file is given its name at once; one that replaces another gets
    // a short name beside it first, then takes the other's place.
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        m_linked = true;
        return true;
    }
    if (errno != EEXIST) {
        error = "cannot put the output at " + m_path + ": " + std::strerror(errno);
        return false;
    }
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string unique(6, 'A');
        for (char &c : unique)
            c = kLetters[random() % (sizeof kLetters - 1)];
        std::string temp = (std::filesystem::path(m_folder) / TemporaryName(unique)).string();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_temp = std::move(temp);
            g_temporary.store(m_temp.c_str());
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    error = "cannot write in the folder " + m_folder + ": " +
            (errno == EEXIST ? std::string("no temporary name is free") : std::string(std::strerror(errno)));
    return false;
}

}  // namespace quorrel
