#include "platform/temp_files.h"

#include <algorithm>

#include <QDir>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

TempFileRegistry &TempFileRegistry::Instance() {
    static TempFileRegistry registry;
    return registry;
}

void TempFileRegistry::Add(std::string path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_paths.push_back(std::move(path));
}

void TempFileRegistry::Forget(const std::string &path) {
    std::lock_guard<std::mutex> guard(m_mutex);
    // The latest entry of that name goes: names are mostly forgotten soon
    // after they were made.
    for (auto it = m_paths.rbegin(); it != m_paths.rend(); ++it)
        if (*it == path) {
            m_paths.erase(std::next(it).base());
            return;
        }
}

std::vector<std::string> TempFileRegistry::Paths() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_paths;
}

namespace {

std::string TempFolder() {
    std::string folder = QFile::encodeName(QDir::tempPath()).toStdString();
    return folder.empty() ? std::string("/tmp") : folder;
}

// This process's own folder inside the temporary folder, made on first
// use (mode 0700: no other user may look inside or make files there).
std::mutex g_folderMutex;
std::string g_folder;
pid_t g_folderOwner = 0;

std::string PrivateFolder() {
    const std::string base = TempFolder();
    std::lock_guard<std::mutex> guard(g_folderMutex);
    // Made again when the temporary folder has changed, or the folder has
    // gone (a cleaner of the temporary folder may remove it).
    struct stat st {};
    // Used again only while it is still this user's own, private folder:
    // one made again under its name by someone else is never written in.
    if (!g_folder.empty() && g_folderOwner == ::getpid() && g_folder.compare(0, base.size() + 1, base + "/") == 0 &&
        ::lstat(g_folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & 077) == 0)
        return g_folder;
    const std::string pattern = base + "/orvane-" + std::to_string(::getpid()) + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        return {};
    g_folder = buffer.data();
    g_folderOwner = ::getpid();
    // Gone at any ordinary exit once empty, whoever deletes the files.
    static const bool tidied = std::atexit([] {
                                   if (g_folderOwner == ::getpid() && !g_folder.empty())
                                       ::rmdir(g_folder.c_str());
                               }) == 0;
    (void)tidied;
    return g_folder;
}

}  // namespace

void TempFileRegistry::DeleteAll() {
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        paths.swap(m_paths);
    }
    for (const std::string &p : paths)
        ::unlink(p.c_str());  // a file never created or already gone is fine
    std::lock_guard<std::mutex> guard(g_folderMutex);
    if (!g_folder.empty() && g_folderOwner == ::getpid() && ::rmdir(g_folder.c_str()) == 0)
        g_folder.clear();
}

std::string PrivateTempFolder() {
    std::lock_guard<std::mutex> guard(g_folderMutex);
    return g_folderOwner == ::getpid() ? g_folder : std::string();
}

std::size_t MakeTempFileName(std::size_t capacity, std::string &path, std::string_view suffix) {
    if (capacity == 0)
        return 0;
    const std::string folder = PrivateFolder();
    if (folder.empty())
        return 0;
    // Made under the name handed out, exclusively: nothing there before is
    // ever taken for it, a link no more than a file.
    const std::string tail = ".tmp" + std::string(suffix);
    const std::string pattern = folder + "/pdf" + std::to_string(::getpid()) + "-XXXXXX" + tail;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkostemps(buffer.data(), int(tail.size()), O_CLOEXEC);
    if (fd < 0)
        return 0;
    ::close(fd);
    path = buffer.data();
    TempFileRegistry::Instance().Add(path);
    return path.size();
}

int OpenTempFile(const std::string &path) {
    return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
}

}  // namespace platform

namespace platform {

namespace {

// The process a name "<prefix><pid>-XXXXXX..." was made by; 0 when the
// name is not of that form.
long long MakerOf(const std::string &name, const char *format, const char *prefix) {
    long long pid = 0;
    char unique[8] = {};
    int used = 0;
    if (std::sscanf(name.c_str(), format, &pid, unique, &used) != 2 || used == 0 || std::strlen(unique) != 6 ||
        pid <= 0 || pid > INT32_MAX || name.compare(0, std::strlen(prefix), prefix) != 0)
        return 0;
    return pid;
}

// Whether what a process left at `path` may go: a day old or more, its
// process gone.
bool Stale(const std::filesystem::path &path, long long pid) {
    std::error_code ignored;
    const auto written = std::filesystem::last_write_time(path, ignored);
    if (ignored || std::filesystem::file_time_type::clock::now() - written < std::chrono::hours(24))
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

int RemoveStaleIn(const std::filesystem::path &where, bool privateFolders) {
    int removed = 0;
    std::error_code failed;
    for (std::filesystem::directory_iterator it(where, failed), end; !failed && it != end; it.increment(failed)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        // "pdf<pid>-XXXXXX.tmp", then any suffix.
        if (const long long pid = MakerOf(name, "pdf%lld-%6[A-Za-z0-9].tmp%n", "pdf")) {
            if (it->is_regular_file(ignored) && !it->is_symlink(ignored) && Stale(it->path(), pid) &&
                std::filesystem::remove(it->path(), ignored))
                ++removed;
            continue;
        }
        // A private folder "orvane-<pid>-XXXXXX" of this user's: what it
        // holds of the program's, then the folder, which goes at once when
        // empty and its process gone.
        const long long pid = privateFolders ? MakerOf(name, "orvane-%lld-%6[A-Za-z0-9]%n", "orvane-") : 0;
        struct stat st {};
        if (pid == 0 || ::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (Stale(it->path(), pid))
            removed += RemoveStaleIn(it->path(), false);
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            ::rmdir(it->path().c_str());
    }
    return removed;
}

}  // namespace

int RemoveStaleTempFiles(const std::string &folder) {
    return RemoveStaleIn(folder.empty() ? std::filesystem::path(TempFolder()) : std::filesystem::path(folder), true);
}

}  // namespace platform
